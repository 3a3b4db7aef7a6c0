// Save All of a full album against the first export of the program (each
// picture encoded and written over its file in place), alternating in one
// folder so both meet the same machine: `save_all_timing [FOLDER] [ROUNDS]`.
// Every run replaces all 384 files with different pictures (two albums take
// turns). Save All is timed as the user waits for it, to the moment the
// program shows its message; the older files' deletion after that is shown
// apart. Prints each run's wall times and the medians. Built for every
// target; under Wine it measures the Windows build with the program's own
// file operations.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "export/folder_files.h"
#include "export/jpeg_encoder.h"
#include "export/save_names.h"
#include "bench/photo_like_picture.h"
#ifdef _WIN32
#include "export/save_files_win.h"
#endif

namespace {

constexpr int kPictures = 384;

// The first export: encode, open "wb" over the older file, write, close.
bool InPlace(const std::string& folder, const std::vector<const FrameImage*>& album) {
    std::vector<uint8_t> block(kJpegOutputBlockSize);
    for (int i = 0; i < kPictures; ++i) {
        std::fill(block.begin(), block.end(), 0);
        size_t length = 0;
        if (!EncodeJpeg(*album[i], block.data(), block.size(), length)) return false;
        FILE* f = std::fopen(SaveAllFileName(folder, i).c_str(), "wb");
        if (!f) return false;
        bool ok = std::fwrite(block.data(), 1, length, f) == length;
        if (std::fclose(f) != 0 || !ok) return false;
    }
    return true;
}

// Save All as the program does it, timed to the moment its message would
// show; the older files' deletion (done while the message is read) is timed
// apart in `cleanupMs`.
bool AllOrNothing(const std::string& folder, const std::vector<const FrameImage*>& album,
                  double& cleanupMs) {
#ifdef _WIN32
    std::unique_ptr<SaveAllFiles> files = MakeWindowsSaveAllFiles();
#else
    std::unique_ptr<SaveAllFiles> files(new SaveAllFiles);
#endif
    SaveAllWay way;
    way.files = files.get();
    way.keepLeftovers = true;
    SaveAllResult r =
        SaveAllPicturesTo(folder, album.data(), kPictures, kPathSeparator, nullptr, nullptr, way);
    auto start = std::chrono::steady_clock::now();
    bool cleaned = RemoveSaveAllLeftovers(r, files.get());
    cleanupMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return r.ok() && cleaned;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const char* temp = std::getenv("TEMP");
    std::string folder =
        argc > 1 ? argv[1]
                 : std::string(temp ? temp : "/tmp") + kPathSeparator + "pixmora_save_all_timing";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (!MakeFolder(folder)) {
        std::fprintf(stderr, "cannot make %s\n", folder.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<FrameImage>> pictures;
    for (int i = 0; i < 8; ++i)
        pictures.push_back(PhotoLikePicture(static_cast<uint32_t>(i + 1)));
    std::vector<const FrameImage*> albums[2];
    for (int i = 0; i < kPictures; ++i) {
        albums[0].push_back(pictures[i % 8].get());
        albums[1].push_back(pictures[(i + 1) % 8].get());
    }
    std::vector<double> inPlace, allOrNothing, cleanups;
    int turn = 0;
    // Round 0 fills the folder and is not counted.
    for (int round = 0; round <= rounds; ++round) {
        for (int way = 0; way < 2; ++way) {
            auto start = std::chrono::steady_clock::now();
            double cleanupMs = 0;
            bool ok = way == 0 ? InPlace(folder, albums[turn])
                               : AllOrNothing(folder, albums[turn], cleanupMs);
            double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count() -
                cleanupMs;
            turn ^= 1;
            if (!ok) {
                std::fprintf(stderr, "export failed\n");
                return 1;
            }
            if (round == 0) continue;
            (way == 0 ? inPlace : allOrNothing).push_back(ms);
            if (way == 1) cleanups.push_back(cleanupMs);
            std::printf("round %d %-14s %8.0f ms", round, way == 0 ? "in place" : "all or nothing",
                        ms);
            if (way == 1) std::printf("  (then %.0f ms deleting the older files)", cleanupMs);
            std::printf("\n");
        }
    }
    double a = Median(inPlace), b = Median(allOrNothing);
    std::printf("median: in place %.0f ms, all or nothing %.0f ms (to the message), ratio %.2f; "
                "deleting the older files afterwards %.0f ms\n",
                a, b, b / a, Median(cleanups));
    for (int i = 0; i < kPictures; ++i)
        std::remove(SaveAllFileName(folder, i).c_str());
    return 0;
}
