// pixmora-cli export and encode: the album export and the JPEG encoder from
// the command line, for batch work and for checking the encoder from outside.
#include "cli/export_commands.h"

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "cli/cli_decoders.h"
#include "cli/cli_edits.h"
#include "cli/cli_inputs.h"
#include "codecs/load_picture.h"
#include "fit/fit_options.h"
#include "export/album.h"
#include "export/export_lock.h"
#include "export/folder_files.h"
#include "export/jpeg_encoder.h"
#include "export/older_pictures.h"
#include "export/save_all.h"
#include "export/save_journal.h"
#include "picture/frame_image.h"

namespace fs = std::filesystem;

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "[12/300] IMG_0012.JPG" on one line of the terminal, rewritten in place.
class Progress {
  public:
    Progress(bool on, size_t total) : on_(on), total_(total) {}
    void Done(const std::string& path) {
        if (!on_) return;
        std::lock_guard<std::mutex> hold(lock_);
        ++done_;
        std::string line =
            "[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " + BaseName(path);
        const size_t width = line.size();
        if (line.size() < shown_) line.append(shown_ - line.size(), ' ');
        shown_ = width;
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
    }
    void End() {
        if (on_ && done_ > 0) std::fputc('\n', stderr);
    }

  private:
    bool on_;
    size_t total_;
    size_t done_ = 0;
    size_t shown_ = 0;
    std::mutex lock_;
};

// Everything the workers share: read-only inputs, and one result slot per
// picture that only the worker holding that picture writes.
struct Batch {
    const CliArgs& args;
    const EditPictures& pictures;
    const std::vector<std::string>& inputs;
    std::vector<std::vector<uint8_t>> jpegs;   // the encoded pictures, in input order
    std::vector<std::string> failures;         // what went wrong per picture, "" when fine
    std::vector<size_t> order;                 // the order the pictures are taken in
    std::atomic<size_t> next{0};               // position in `order` of the next picture
    std::atomic<size_t> firstFailed{SIZE_MAX}; // lowest input index that failed
    Progress& progress;
};

// Larger files first (a fair guess at the decoding time): the workers then
// end on small pictures and finish at about the same time.
std::vector<size_t> LargestFirst(const std::vector<std::string>& inputs) {
    std::vector<std::pair<uintmax_t, size_t>> sized;
    for (size_t i = 0; i < inputs.size(); ++i) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(fs::path(inputs[i]), ec);
        sized.emplace_back(ec ? 0 : size, i);
    }
    std::stable_sort(sized.begin(), sized.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first; });
    std::vector<size_t> order;
    for (const auto& s : sized)
        order.push_back(s.second);
    return order;
}

// Takes pictures until none is left. After a failure only the pictures
// before the failed one in input order are still done, so that the first
// failure in input order is found, the one --jobs 1 meets.
void Work(Batch& b, CliDecoders& d, EditScratch& scratch) {
    for (;;) {
        const size_t k = b.next.fetch_add(1);
        if (k >= b.order.size()) return;
        const size_t i = b.order[k];
        if (i > b.firstFailed.load()) continue;
        std::unique_ptr<FrameImage> picture(new (std::nothrow) FrameImage{});
        std::string failure;
        if (!picture)
            failure = "not enough memory for " + b.inputs[i];
        else if (const char* reason = LoadFramed(d, b.args, b.inputs[i].c_str(), *picture))
            failure = "cannot decode " + b.inputs[i] + ": " + reason;
        else if (!ApplyEdits(b.args.edits, b.pictures, scratch, *picture))
            failure = "not enough memory to edit " + b.inputs[i];
        else if (SaveAllFailure f = EncodeSaveAllPicture(*picture, b.jpegs[i]);
                 f != SaveAllFailure::kNone)
            failure = "cannot encode " + b.inputs[i] + ": " + SaveAllFailureText(f);
        if (!failure.empty()) {
            b.failures[i] = failure;
            size_t seen = b.firstFailed.load();
            while (i < seen && !b.firstFailed.compare_exchange_weak(seen, i)) {
            }
            continue;
        }
        b.progress.Done(b.inputs[i]);
    }
}

struct Worker {
    CliDecoders decoders;
    EditScratch scratch;
};

// Runs the batch on up to `jobs` workers, each with its own decoders and
// tool pictures. Fewer when the buffers of more cannot be had; false when
// not even one worker can be set up.
bool RunWorkers(Batch& b, int jobs) {
    std::vector<std::unique_ptr<Worker>> workers;
    for (int k = 0; k < jobs; ++k) {
        std::unique_ptr<Worker> w(new (std::nothrow) Worker);
        if (!w || !w->decoders.ok()) break;
        workers.push_back(std::move(w));
    }
    if (workers.empty()) return false;
    std::vector<std::thread> threads;
    for (size_t k = 1; k < workers.size(); ++k) {
        try {
            Worker& w = *workers[k];
            threads.emplace_back([&b, &w] { Work(b, w.decoders, w.scratch); });
        } catch (const std::system_error&) {
            break; // go on with the threads we have
        }
    }
    Work(b, workers[0]->decoders, workers[0]->scratch);
    for (std::thread& t : threads)
        t.join();
    return true;
}

// Older numbered pictures beyond the new set would be shown after it on the
// frame: deleted with --clean (those still what they were when found),
// otherwise named on standard error.
int TellStalePictures(const std::string& folder, const StalePictures& stale, bool clean) {
    if (clean) {
        const StalePictures left = DeleteStalePictures(folder, stale);
        if (left.count == 0) return kExitOk;
        Complain("cannot delete all older pictures: " + StalePicturesText(folder, left));
        return kExitFailed;
    }
    if (stale.count > 0)
        Complain("warning: " + StalePicturesText(folder, stale) +
                 " that the frame would show after the new ones; --clean deletes them");
    return kExitOk;
}

void TellWaiting(void* folder) {
    Complain(WaitingForExportText(*static_cast<const std::string*>(folder)));
}

// An OUTDIR that is also an IN folder would be read as it is replaced.
bool OutdirIsAnInput(const CliArgs& a) {
    const std::string& outdir = a.operands[0];
    for (size_t i = 1; i < a.operands.size(); ++i) {
        std::error_code ec;
        if (fs::is_directory(fs::path(a.operands[i]), ec) &&
            fs::equivalent(fs::path(a.operands[i]), fs::path(outdir), ec))
            return true;
    }
    return false;
}

// The JPEG decoder takes its work blocks from the free store for every
// picture. glibc maps blocks that large afresh on each request and unmaps
// them on release, so every picture pays the page faults of megabytes of new
// memory, and each unmapping holds the process's memory map, stalling the
// other workers' faults. Kept in the heap instead, a worker reuses the same
// pages picture after picture.
void KeepWorkBlocksInTheHeap() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 << 20); // glibc's largest
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

int DefaultJobs() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

} // namespace

int CmdExport(const CliArgs& a) {
    const std::string& outdir = a.operands[0];
    if (OutdirIsAnInput(a)) {
        Complain(outdir + " is also an input folder; export into another folder");
        return kExitUsage;
    }
    std::vector<std::string> inputs;
    if (!ExpandInputs(std::vector<std::string>(a.operands.begin() + 1, a.operands.end()), inputs))
        return kExitFailed;
    if (inputs.empty()) {
        Complain("no BMP, GIF or JPG pictures to export");
        return kExitFailed;
    }
    if (inputs.size() > static_cast<size_t>(kAlbumCapacity) && !a.noLimit) {
        Complain(std::to_string(inputs.size()) + " pictures, but the frame's album holds " +
                 std::to_string(kAlbumCapacity) + " (--no-limit exports them all)");
        return kExitUsage;
    }
    std::error_code ec;
    const bool outdirExists = PathExists(outdir);
    if (outdirExists && !fs::is_directory(fs::path(outdir), ec)) {
        Complain(outdir + " is not a folder");
        return kExitFailed;
    }

    EditPictures pictures;
    {
        CliDecoders d;
        if (!LoadEditPictures(d, a, pictures)) return kExitFailed;
    }

    KeepWorkBlocksInTheHeap();
    Progress progress(!a.quiet && StderrIsTerminal(), inputs.size());
    Batch b{a, pictures, inputs, {}, {}, {}, {}, {SIZE_MAX}, progress};
    b.jpegs.resize(inputs.size());
    b.failures.resize(inputs.size());
    b.order = LargestFirst(inputs);
    const int jobs = std::min<int>(a.jobs > 0 ? a.jobs : DefaultJobs(),
                                   static_cast<int>(std::min<size_t>(inputs.size(), 64)));
    const bool ran = RunWorkers(b, jobs);
    progress.End();
    if (!ran) {
        Complain("not enough memory");
        return kExitFailed;
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (b.failures[i].empty()) continue;
        Complain(b.failures[i] + "; nothing was written");
        return kExitFailed;
    }

    // OUTDIR is made only for a set that is ready, and goes again when the
    // set cannot be written into it.
    if (!outdirExists && !MakeFolder(outdir)) {
        Complain("cannot create the folder " + outdir);
        return kExitFailed;
    }
    // One export into OUTDIR at a time: the lock is held until the older
    // pictures are dealt with, so that no other export's are taken for them.
    ExportLock lock;
    if (lock.Take(outdir, kPathSeparator, kExportLockWaitMs, TellWaiting,
                  const_cast<std::string*>(&outdir)) == ExportLockOutcome::kBusy) {
        Complain(ExportBusyText(outdir));
        return kExitFailed;
    }
    const std::string repaired =
        SaveAllRepairMessage(outdir, RepairInterruptedSaveAll(outdir, kPathSeparator));
    if (!repaired.empty()) Complain(repaired);
    const int count = static_cast<int>(b.jpegs.size());
    const StalePictures stale = FindStalePictures(outdir, count);
    if (a.clean && !a.force && !stale.notPictures.empty()) {
        Complain(OwnFilesText(outdir, stale.notPictures) +
                 "; --clean deletes them only with --force; nothing was written");
        return kExitFailed;
    }
    SaveAllWay way;
    way.lock = &lock;
    way.replaceOwnFiles = a.force;
    const SaveAllResult r =
        CommitSaveAllSet(outdir, b.jpegs.data(), count, kPathSeparator, nullptr, nullptr, way);
    if (r.failure == SaveAllFailure::kOwnFiles) {
        Complain(OwnFilesText(outdir, r.ownFiles) + "; --force replaces them; nothing was written");
        return kExitFailed;
    }
    if (!r.ok()) {
        Complain(SaveAllMessage(r));
        if (!outdirExists) {
            lock.Release();
            fs::remove(fs::path(outdir), ec);
        }
        return kExitFailed;
    }
    return TellStalePictures(outdir, stale, a.clean);
}

int CmdEncode(const CliArgs& a) {
    const char* in = a.operands[0].c_str();
    const char* outPath = a.operands[1].c_str();
    CliDecoders d;
    if (!d.ok()) {
        Complain("not enough memory");
        return kExitFailed;
    }
    if (PictureKindOf(in) != PictureKind::kBmp) {
        Complain(std::string(in) + ": expected a .bmp file");
        return kExitFailed;
    }
    if (!DecodeInput(d, in)) return kExitFailed;
    const LoadBuffers& lb = d.buffers();
    if (RasterWidth(lb) != kFrameSide || RasterHeight(lb) != kFrameSide || RasterBits(lb) != 24) {
        Complain(std::string(in) + " is not a 128 x 128 24-bit BMP (" +
                 std::to_string(RasterWidth(lb)) + " x " + std::to_string(RasterHeight(lb)) + ", " +
                 std::to_string(RasterBits(lb)) + " bits)");
        return kExitFailed;
    }
    // Same size and depth: the plain fit copies the pixels unchanged.
    std::unique_ptr<FrameImage> picture(new FrameImage{});
    FitWithOptions(d.buffers(), FitOptions{}, 1, *picture);

    std::vector<uint8_t> out(kJpegOutputBlockSize);
    size_t length = 0;
    JpegEncodeError error = JpegEncodeError::kNone;
    if (!EncodeJpeg(*picture, out.data(), out.size(), length, &error)) {
        Complain(std::string("cannot encode ") + in + ": " + JpegEncodeErrorText(error));
        return kExitFailed;
    }
    FILE* f = std::fopen(outPath, "wb");
    if (!f) {
        Complain(std::string("cannot write ") + outPath);
        return kExitFailed;
    }
    bool ok = std::fwrite(out.data(), 1, length, f) == length;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(outPath);
        Complain(std::string("cannot write ") + outPath);
        return kExitFailed;
    }
    return kExitOk;
}
