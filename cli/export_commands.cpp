// pixmora-cli export: the album export from the command line, for batch work.
// Every input is read and encoded before anything is written; what cannot be
// read is named with its reason, all of it at once.
#include "cli/export_commands.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
#include <sys/resource.h>
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "cli/cli_decoders.h"
#include "cli/cli_edits.h"
#include "cli/cli_inputs.h"
#include "export/album.h"
#include "export/export_lock.h"
#include "export/folder_files.h"
#include "export/older_pictures.h"
#include "export/save_all.h"
#include "export/save_journal.h"
#include "picture/frame_image.h"
#include "picture/limits.h"

namespace fs = std::filesystem;

namespace {

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What became of one input; only the worker that took it writes it.
struct PictureResult {
    std::vector<uint8_t> jpeg;
    std::string problem;     // why it is not in the set
    std::string damage;      // what a damaged picture lacks
    std::string description; // -v
    bool usage = false;      // the problem is --crop outside the picture: never left out
};

// Says what became of each picture in input order, as soon as it and every
// picture before it are done: -v's description, a damage warning, a picture
// that cannot be read; and on a terminal "[12/300] IMG_0012.JPG", rewritten in
// place.
class Report {
  public:
    Report(const CliArgs& a, const std::vector<Input>& inputs, std::vector<PictureResult>& results)
        : args_(a), inputs_(inputs), results_(results), done_(inputs.size(), false),
          progress_(!a.quiet && IsTerminal(stderr)) {}

    void Done(size_t i) {
        std::lock_guard<std::mutex> hold(lock_);
        done_[i] = true;
        const size_t before = next_;
        while (next_ < done_.size() && done_[next_]) {
            Say(results_[next_], inputs_[next_].name);
            ++next_;
        }
        if (progress_ && next_ != before) {
            std::string line = "[" + std::to_string(next_) + "/" + std::to_string(done_.size()) +
                               "] " + BaseName(inputs_[next_ - 1].name);
            const size_t width = line.size();
            if (line.size() < shown_) line.append(shown_ - line.size(), ' ');
            shown_ = width;
            std::fprintf(stderr, "\r%s", line.c_str());
            std::fflush(stderr);
        }
    }
    void End() {
        if (shown_ > 0) std::fputc('\n', stderr);
        shown_ = 0;
    }

  private:
    void Say(const PictureResult& r, const std::string& name) {
        if (r.description.empty() && r.damage.empty() && r.problem.empty()) return;
        if (shown_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown_), "");
        shown_ = 0;
        if (!r.description.empty())
            std::fprintf(stderr, "pixmora-cli: %s\n", r.description.c_str());
        if (!r.damage.empty()) Warn(name + ": " + r.damage);
        if (!r.problem.empty()) {
            if (args_.skipBad && !r.usage)
                Warn(r.problem + "; left out");
            else
                Complain(r.problem);
        }
    }

    const CliArgs& args_;
    const std::vector<Input>& inputs_;
    std::vector<PictureResult>& results_;
    std::vector<bool> done_;
    size_t next_ = 0;
    bool progress_;
    size_t shown_ = 0;
    std::mutex lock_;
};

// Everything the workers share: read-only inputs, one result per picture.
struct Batch {
    const CliArgs& args;
    const EditPictures& pictures;
    const std::vector<Input>& inputs;
    std::vector<PictureResult>& results;
    Report& report;
    std::atomic<size_t> next{0}; // the next picture to take, in input order
};

// One picture decoded, fitted, edited and encoded into its result.
void MakePicture(Batch& b, CliDecoders& d, EditScratch& scratch, const Input& in,
                 FrameImage& picture, PictureResult& r) {
    LoadedPicture loaded = LoadFramed(d, b.args, in.path, in.name, picture);
    ApplyStrict(b.args, in.name, loaded);
    if (loaded.ok && b.args.verbose) r.description = DescribeLoad(in.name, loaded, b.args.fit);
    r.damage = loaded.damage;
    r.usage = loaded.usage;
    if (!loaded.ok)
        r.problem = loaded.problem;
    else if (!ApplyEdits(b.args.edits, b.pictures, scratch, picture))
        r.problem = "not enough memory to edit " + in.name;
    else if (SaveAllFailure f = EncodeSaveAllPicture(picture, r.jpeg); f != SaveAllFailure::kNone)
        r.problem = "cannot encode " + in.name + ": " + SaveAllFailureText(f);
}

void Work(Batch& b, CliDecoders& d, EditScratch& scratch) {
    for (;;) {
        const size_t i = b.next.fetch_add(1);
        if (i >= b.inputs.size()) return;
        const Input& in = b.inputs[i];
        PictureResult& r = b.results[i];
        std::unique_ptr<FrameImage> picture(new (std::nothrow) FrameImage{});
        if (!in.problem.empty()) {
            r.problem = in.problem;
        } else if (!picture) {
            r.problem = "not enough memory for " + in.name;
        } else {
            // Memory that runs out inside the fits and tools fails this
            // picture, not the process.
            try {
                MakePicture(b, d, scratch, in, *picture, r);
            } catch (const std::bad_alloc&) {
                r = PictureResult{};
                r.problem = "not enough memory for " + in.name; // freed by now
            }
        }
        b.report.Done(i);
    }
}

struct Worker {
    CliDecoders decoders;
    EditScratch scratch;
};

// What a worker holds besides its decoders: its thread's stack (8 MiB at
// most), its tool pictures, the smooth fit's row tables (75 MB for the
// tallest raster) and, on 64-bit systems, an allocator arena of 64 MiB.
constexpr uint64_t kWorkerOwnBytes = (uint64_t{80} + (sizeof(void*) == 8 ? 64 : 0)) << 20;

// The address space the workers may share: 2 GiB for a 32-bit program (what
// 32-bit Windows gives it; a 64-bit Windows gives 4), within the process's
// address-space limit where the system has one.
uint64_t AddressSpace() {
    uint64_t space = sizeof(void*) == 4 ? uint64_t{2} << 30 : uint64_t{1} << 47;
#ifndef _WIN32
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        space = std::min<uint64_t>(space, limit.rlim_cur);
#endif
    return space;
}

// Runs the batch on up to `jobs` workers, each with its own decoders and
// tool pictures: no more than fit into the address space while each decodes
// the largest picture. Fewer when the buffers of more cannot be had; false
// when not even one worker can be set up.
bool RunWorkers(Batch& b, int jobs) {
    std::vector<std::unique_ptr<Worker>> workers;
    jobs = DecoderSetsThatFit(jobs, AddressSpace(), kWorkerOwnBytes);
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

// One worker per processor, as many as memory holds: each keeps its own
// load buffers (the file and decode buffers, some 120 MB, written all
// through by a large photo) and the decoder's work blocks. A 32-bit program
// has about 2 GB of address space for all of them; elsewhere half the
// machine's memory is the bound.
int DefaultJobs() {
    const unsigned processors = std::thread::hardware_concurrency();
    const uint64_t perWorker =
        static_cast<uint64_t>(kFileBufferSize) + kDecodeBufferSize + sizeof(Worker) + (16u << 20);
    uint64_t room = UINT64_MAX;
    if (sizeof(void*) == 4) room = 1536ull << 20;
#if !defined(_WIN32) && defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        room = std::min<uint64_t>(room, static_cast<uint64_t>(pages) * pageSize / 2);
#endif
    const uint64_t fit = std::max<uint64_t>(1, room / perWorker);
    return static_cast<int>(std::min<uint64_t>({processors ? processors : 1, fit, 64}));
}

// "cannot create OUTDIR/3.jpg: No space left on device; ..."
std::string SetFailureText(const SaveAllResult& r) {
    if (r.failure == SaveAllFailure::kFolderBusy || r.failure == SaveAllFailure::kPathTooLong)
        return SaveAllMessage(r);
    const char* doing = r.failure == SaveAllFailure::kCannotCreate    ? "cannot create "
                        : r.failure == SaveAllFailure::kWriteFailed   ? "cannot write "
                        : r.failure == SaveAllFailure::kCannotReplace ? "cannot replace "
                                                                      : "cannot save ";
    return doing + (r.failedFile.empty() ? "into " + r.folder : r.failedFile) + ": " +
           (r.reason.empty() ? SaveAllFailureText(r.failure) : r.reason) +
           (r.folderRestored ? "; nothing was written, the folder is as it was"
                             : "; not every older file could be put back: look for files "
                               "named ~pixmora-* in the folder");
}

std::string Counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

int CmdExport(const CliArgs& a) {
    const std::string& outdir = a.operands[0];
    if (OutdirIsAnInput(a)) {
        Complain(outdir + " is also an input folder; export into another folder");
        return kExitUsage;
    }
    const std::vector<std::string> operands(a.operands.begin() + 1, a.operands.end());
    StandardInput standard;
    std::string standardProblem;
    if (std::find(operands.begin(), operands.end(), "-") != operands.end()) {
        if (IsTerminal(stdin)) {
            Complain("standard input is a terminal; give files, or send the picture through it");
            return kExitUsage;
        }
        standardProblem = standard.Take();
    }
    std::vector<Input> inputs;
    std::vector<FolderSkips> skips;
    ExpandInputs(operands, standard, inputs, skips);
    for (Input& in : inputs)
        if (in.name == kStandardInputName && in.path.empty()) in.problem = standardProblem;
    size_t skipped = 0;
    for (const FolderSkips& s : skips)
        skipped += s.Count();
    auto tellSkips = [&] {
        if (a.quiet) return;
        for (const FolderSkips& s : skips)
            for (const std::string& line : FolderSkipLines(s))
                Complain(line);
    };
    if (inputs.empty()) {
        tellSkips();
        Complain("no BMP, GIF, JPEG or PNG pictures to export");
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
        Complain("cannot export into " + outdir + ": " + std::strerror(ENOTDIR));
        return kExitFailed;
    }

    EditPictures pictures;
    {
        CliDecoders d;
        if (!LoadEditPictures(d, a, pictures)) return kExitFailed;
    }

    KeepWorkBlocksInTheHeap();
    std::vector<PictureResult> results(inputs.size());
    Report report(a, inputs, results);
    Batch b{a, pictures, inputs, results, report};
    const int jobs = std::min<int>(a.jobs > 0 ? a.jobs : DefaultJobs(),
                                   static_cast<int>(std::min<size_t>(inputs.size(), 64)));
    const bool ran = RunWorkers(b, jobs);
    report.End();
    if (!ran) {
        Complain("not enough memory");
        return kExitFailed;
    }

    // A --crop that is not inside every input is the command line's fault:
    // nothing is written, whatever --skip-bad says.
    const size_t outside = static_cast<size_t>(std::count_if(
        results.begin(), results.end(), [](const PictureResult& r) { return r.usage; }));
    if (outside > 0) {
        Complain("--crop " + a.crop + " does not fit " + Counted(outside, "input", "inputs") +
                 " (named above); nothing was written");
        return kExitUsage;
    }

    std::vector<std::vector<uint8_t>> set;
    size_t bad = 0, damaged = 0;
    for (PictureResult& r : results) {
        if (!r.problem.empty()) {
            ++bad;
            continue;
        }
        damaged += r.damage.empty() ? 0 : 1;
        set.push_back(std::move(r.jpeg));
    }
    if (bad > 0 && !a.skipBad) {
        tellSkips();
        Complain(std::to_string(bad) + " of " + Counted(inputs.size(), "input", "inputs") +
                 " cannot be read (reasons above); nothing was written (--skip-bad leaves " +
                 (bad == 1 ? "it" : "them") + " out)");
        return kExitFailed;
    }
    if (set.empty()) {
        tellSkips();
        Complain("no picture could be read; nothing was written");
        return kExitFailed;
    }

    // OUTDIR is made only for a set that is ready, and goes again when the
    // set cannot be written into it.
    errno = 0;
    if (!outdirExists && !MakeFolder(outdir)) {
        Complain("cannot create the folder " + outdir + ": " + std::strerror(errno));
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
    const int count = static_cast<int>(set.size());
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
        CommitSaveAllSet(outdir, set.data(), count, kPathSeparator, nullptr, nullptr, way);
    if (r.failure == SaveAllFailure::kOwnFiles) {
        Complain(OwnFilesText(outdir, r.ownFiles) + "; --force replaces them; nothing was written");
        return kExitFailed;
    }
    if (!r.ok()) {
        Complain(SetFailureText(r));
        if (!outdirExists) {
            lock.Release();
            fs::remove(fs::path(outdir), ec);
        }
        return kExitFailed;
    }

    // Older numbered pictures beyond the new set would be shown after it on
    // the frame: deleted with --clean (those still what they were when
    // found), otherwise counted in the summary.
    std::string older;
    if (a.clean && stale.count > 0) {
        const StalePictures left = DeleteStalePictures(outdir, stale);
        if (left.count > 0) {
            Complain("cannot delete all older pictures: " + StalePicturesText(outdir, left));
            return kExitFailed;
        }
        older = " Deleted " + Counted(stale.count, "older picture", "older pictures") +
                " beyond the new set.";
    } else if (stale.count > 0) {
        older = " " + StalePicturesText(outdir, stale) +
                " that the frame would show after the new ones; --clean deletes them.";
    }
    if (a.quiet) return kExitOk;
    tellSkips();
    std::vector<std::string> parts;
    if (bad > 0) parts.push_back(Counted(bad, "input", "inputs") + " left out that cannot be read");
    if (damaged > 0) parts.push_back(Counted(damaged, "picture", "pictures") + " damaged");
    if (skipped > 0) parts.push_back(Counted(skipped, "entry", "entries") + " of folders skipped");
    std::string summary = "Wrote " + Counted(set.size(), "picture", "pictures") + " to " + outdir;
    for (size_t i = 0; i < parts.size(); ++i)
        summary += (i == 0 ? " (" : ", ") + parts[i] + (i + 1 == parts.size() ? ")" : "");
    std::fprintf(stderr, "%s.%s\n", summary.c_str(), older.c_str());
    return kExitOk;
}
