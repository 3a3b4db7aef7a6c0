// Save All of a full album against the first export of the program (each
// picture encoded and written over its file in place), alternating in one
// folder so both meet the same machine: `save_all_timing [FOLDER] [ROUNDS]`.
// Every run replaces all 384 files with different pictures (two albums take
// turns). Save All is timed as the user waits for it, to the moment the
// program shows its message; the older files' deletion after that is shown
// apart. Each run starts after a pause (`save_all_timing FOLDER ROUNDS
// PAUSE_MS`, 2000 by default): a user's Save All meets a disk at rest, while
// back to back each run would meet the write-back the one before started
// (ext4 writes out a file truncated and rewritten, or renamed over another,
// at once). Prints each run's wall times and the medians. Built for every
// target; under Wine it measures the Windows build with the program's own
// file operations.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "export/folder_files.h"
#include "export/jpeg_encoder.h"
#include "export/path_separator.h"
#include "export/save_all.h"
#include "bench/photo_like_picture.h"
#ifdef _WIN32
#include "app/save_files_win.h"
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

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Save All as the program does it, timed to the moment its message would
// show; of that, `writtenMs` until every new file was written (the renames
// follow). The older files' deletion (done while the message is read) is
// timed apart in `cleanupMs`.
bool AllOrNothing(const std::string& folder, const std::vector<const FrameImage*>& album,
                  double& writtenMs, double& cleanupMs) {
#ifdef _WIN32
    std::unique_ptr<SaveAllFiles> files = MakeWindowsSaveAllFiles();
#else
    std::unique_ptr<SaveAllFiles> files(new SaveAllFiles);
#endif
    SaveAllWay way;
    way.files = files.get();
    way.keepLeftovers = true;
    Clock::time_point times[2] = {Clock::now(), Clock::now()};
    auto written = [](void* context, int done, int total) {
        if (done == total) static_cast<Clock::time_point*>(context)[1] = Clock::now();
    };
    SaveAllResult r =
        SaveAllPicturesTo(folder, album.data(), kPictures, kPathSeparator, written, times, way);
    writtenMs = Ms(times[0], times[1]);
    auto start = Clock::now();
    bool cleaned = RemoveSaveAllLeftovers(r, files.get());
    cleanupMs = Ms(start, Clock::now());
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
    const int pauseMs = argc > 3 ? std::atoi(argv[3]) : 2000;
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
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            auto start = Clock::now();
            double writtenMs = 0, cleanupMs = 0;
            bool ok = way == 0 ? InPlace(folder, albums[turn])
                               : AllOrNothing(folder, albums[turn], writtenMs, cleanupMs);
            double ms = Ms(start, Clock::now()) - cleanupMs;
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
            if (way == 1)
                std::printf("  (all written after %.0f ms; then %.0f ms deleting the older files)",
                            writtenMs, cleanupMs);
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
