#include "export/save_names.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

bool HasBmpExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot - 1 != 3) return false;
    // ASCII upper-casing: no other character of any code page upper-cases to B, M or P.
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return upper(path[dot + 1]) == 'B' && upper(path[dot + 2]) == 'M' &&
           upper(path[dot + 3]) == 'P';
}

std::string WithBmpExtension(const std::string& path) {
    return HasBmpExtension(path) ? path : path + ".BMP";
}

int ApplyBmpExtension(char* name, size_t capacity) {
    const void* end = std::memchr(name, 0, capacity);
    if (!end) return 0; // not even terminated: leave it alone
    size_t length = static_cast<size_t>(static_cast<const char*>(end) - name);
    std::string named = WithBmpExtension(std::string(name, length));
    if (named.size() + 1 > capacity) return 0;
    std::memcpy(name, named.c_str(), named.size() + 1);
    return 1;
}

std::string SaveAllFileName(const std::string& folder, int index, char separator) {
    return folder + separator + std::to_string(index) + ".jpg";
}

namespace {

SaveAllFailure FromEncoder(JpegEncodeError error) {
    switch (error) {
    case JpegEncodeError::kOutputFull: return SaveAllFailure::kDoesNotFit;
    case JpegEncodeError::kBadPicture: return SaveAllFailure::kBadPicture;
    case JpegEncodeError::kOutOfMemory: return SaveAllFailure::kOutOfMemory;
    case JpegEncodeError::kNone: break;
    }
    return SaveAllFailure::kNone;
}

// Writes the stream; a short write or a failed close counts as a failure and
// the incomplete file is removed, so the frame never gets half a picture.
SaveAllFailure WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return SaveAllFailure::kCannotCreate;
    bool ok = std::fwrite(bytes, 1, length, f) == length;
    ok = std::fclose(f) == 0 && ok;
    if (ok) return SaveAllFailure::kNone;
    std::remove(path.c_str());
    return SaveAllFailure::kWriteFailed;
}

} // namespace

SaveAllResult SaveAllPicturesTo(const std::string& folder, const FrameImage* const* pictures,
                                int count, char separator) {
    SaveAllResult result;
    if (count <= 0) return result;
    std::unique_ptr<uint8_t[]> output(new (std::nothrow) uint8_t[kJpegOutputBlockSize]);
    if (!output) {
        result.failure = SaveAllFailure::kOutOfMemory;
        result.failedFile = SaveAllFileName(folder, 0, separator);
        return result;
    }
    for (int i = 0; i < count; ++i) {
        std::string path = SaveAllFileName(folder, i, separator);
        std::memset(output.get(), 0, kJpegOutputBlockSize);
        size_t length = 0;
        JpegEncodeError error = JpegEncodeError::kNone;
        if (!EncodeJpeg(*pictures[i], output.get(), kJpegOutputBlockSize, length, &error)) {
            result.failure = FromEncoder(error);
            result.failedFile = path;
            return result;
        }
        SaveAllFailure failure = WriteWholeFile(path, output.get(), length);
        if (failure != SaveAllFailure::kNone) {
            result.failure = failure;
            result.failedFile = path;
            return result;
        }
        ++result.written;
    }
    return result;
}

SaveAllResult SaveAllPicturesTo(const std::string& folder, const AlbumStore& album,
                                char separator) {
    return SaveAllPicturesTo(folder, album.block, AlbumCount(album), separator);
}

const char* SaveAllFailureText(SaveAllFailure failure) {
    switch (failure) {
    case SaveAllFailure::kNone: return "no error";
    case SaveAllFailure::kCannotCreate: return "cannot create the file";
    case SaveAllFailure::kWriteFailed: return "writing the file failed";
    case SaveAllFailure::kDoesNotFit: return "the encoded picture is too large";
    case SaveAllFailure::kBadPicture: return "the picture is damaged";
    case SaveAllFailure::kOutOfMemory: return "not enough memory";
    }
    return "unknown error";
}

std::string SaveAllMessage(const SaveAllResult& result) {
    if (result.ok())
        return std::to_string(result.written) +
               (result.written == 1 ? " picture was saved." : " pictures were saved.");
    return "Could not save " + result.failedFile + ": " + SaveAllFailureText(result.failure) +
           ". " + std::to_string(result.written) +
           (result.written == 1 ? " picture was" : " pictures were") + " saved before it.";
}
