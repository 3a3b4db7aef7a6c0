#include "cli/cli_inputs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "browser/scan_rules.h"
#include "codecs/load_buffers.h"
#include "codecs/load_picture.h"

namespace fs = std::filesystem;

bool IsTerminal(FILE* f) {
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

const char kStandardInputName[] = "standard input";

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string InFolder(const std::string& folder, const std::string& name) {
    const char last = folder.empty() ? 0 : folder.back();
    if (last == '/' || last == kSeparator) return folder + name;
    return folder + kSeparator + name;
}

const char* ExtensionFor(PictureKind kind) {
    switch (kind) {
    case PictureKind::kBmp: return "bmp";
    case PictureKind::kGif: return "gif";
    case PictureKind::kJpeg: return "jpg";
    case PictureKind::kPng: return "png";
    default: return nullptr;
    }
}

// A new file of its own in the folder for temporary files; -1 when none.
int CreateTemporary(const char* extension, std::string& path) {
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec);
    if (ec) return -1;
#ifdef _WIN32
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(getpid());
#endif
    for (int k = 0; k < 100; ++k) {
        path = (folder /
                ("pixmora-cli-" + std::to_string(pid) + "-" + std::to_string(k) + "." + extension))
                   .string();
#ifdef _WIN32
        const int fd =
            _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
#endif
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
#ifdef _WIN32
        const int n = _write(fd, data, static_cast<unsigned>(std::min<size_t>(size, 1 << 30)));
#else
        const ssize_t n = write(fd, data, size);
#endif
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string JoinNames(const std::vector<std::string>& names) {
    constexpr size_t kShown = 10;
    std::string text;
    for (size_t i = 0; i < names.size() && i < kShown; ++i)
        text += (i ? ", " : "") + names[i];
    if (names.size() > kShown) text += " and " + std::to_string(names.size() - kShown) + " more";
    return text;
}

std::string Counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

StandardInput::~StandardInput() {
    if (!path_.empty()) std::remove(path_.c_str());
}

std::string StandardInput::Take() {
    if (!path_.empty()) return "";
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    // Read as a file would be: no more than the decoders' buffer takes.
    const size_t limit = static_cast<size_t>(kFileBufferSize - kFilePadding);
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, stdin);
        if (data.size() + n > limit) return "standard input is too large for a picture file";
        data.insert(data.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
    }
    if (std::ferror(stdin))
        return std::string("cannot read standard input: ") + std::strerror(errno);
    const char* extension = ExtensionFor(PictureKindOfData(data.data(), data.size()));
    if (!extension)
        return data.empty() ? "standard input is empty"
                            : "standard input holds no BMP, GIF, JPEG or PNG picture";
    std::string path;
    const int fd = CreateTemporary(extension, path);
    if (fd < 0)
        return "cannot keep standard input in a temporary file: " +
               std::string(std::strerror(errno));
    const bool written = WriteAll(fd, data.data(), data.size());
    const int error = errno;
#ifdef _WIN32
    const bool closed = _close(fd) == 0;
#else
    const bool closed = close(fd) == 0;
#endif
    if (!written || !closed) {
        std::remove(path.c_str());
        return "cannot keep standard input in a temporary file: " +
               std::string(std::strerror(error ? error : errno));
    }
    path_ = path;
    return "";
}

bool NameOrder(const std::string& a, const std::string& b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int x = lower(static_cast<unsigned char>(a[i]));
        const int y = lower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

void ExpandInputs(const std::vector<std::string>& operands, const StandardInput& standardInput,
                  std::vector<Input>& inputs, std::vector<FolderSkips>& skips) {
    for (const std::string& in : operands) {
        if (in == "-") {
            inputs.push_back({standardInput.path(), kStandardInputName, ""});
            continue;
        }
        std::error_code ec;
        if (!fs::is_directory(fs::path(in), ec)) {
            inputs.push_back({in, in, ""});
            continue;
        }
        std::vector<std::string> names;
        FolderSkips skipped;
        skipped.folder = in;
        try {
            for (fs::directory_iterator it(fs::path(in), ec), end; !ec && it != end;
                 it.increment(ec)) {
                std::string name = it->path().filename().string();
                // The entry as the readers would see it (a link: what it names).
                std::error_code kind;
                const fs::file_status status = it->status(kind);
                if (fs::is_directory(status))
                    skipped.folders.push_back(name);
                else if (!fs::is_regular_file(status))
                    skipped.notFiles.push_back(name);
                else if (IsScannedPictureName(name.c_str()))
                    names.push_back(name);
                else
                    skipped.notPictures.push_back(name);
            }
        } catch (const std::exception&) {
            ec = std::make_error_code(std::errc::invalid_argument);
        }
        if (ec) {
            inputs.push_back({in, in, "cannot read the folder " + in + ": " + ec.message()});
            continue;
        }
        std::sort(names.begin(), names.end(), NameOrder);
        for (const std::string& name : names)
            inputs.push_back({InFolder(in, name), InFolder(in, name), ""});
        for (auto* list : {&skipped.notPictures, &skipped.folders, &skipped.notFiles})
            std::sort(list->begin(), list->end(), NameOrder);
        if (skipped.Count() > 0) skips.push_back(skipped);
    }
}

std::vector<std::string> FolderSkipLines(const FolderSkips& s) {
    std::vector<std::string> lines;
    const std::string at = s.folder + ": skipped ";
    if (!s.notPictures.empty())
        lines.push_back(at +
                        Counted(s.notPictures.size(),
                                "file that is not a picture: ", "files that are not pictures: ") +
                        JoinNames(s.notPictures));
    if (!s.folders.empty())
        lines.push_back(at +
                        Counted(s.folders.size(), "folder (folders inside are not read): ",
                                "folders (folders inside are not read): ") +
                        JoinNames(s.folders));
    if (!s.notFiles.empty())
        lines.push_back(at +
                        Counted(s.notFiles.size(), "entry that is not a regular file: ",
                                "entries that are not regular files: ") +
                        JoinNames(s.notFiles));
    return lines;
}
