// pixmora-cli: the picture codecs and editing tools of Pixmora from the
// command line, for single pictures and for whole picture sets.
//
// Exit codes: 0 done (perhaps with warnings), 1 a picture could not be read
// or the output not written (reasons on stderr), 2 usage error.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cli_decoders.h"
#include "cli/cli_edits.h"
#include "cli/cli_help.h"
#include "cli/cli_inputs.h"
#include "cli/cli_options.h"
#include "cli/export_commands.h"
#include "codecs/load_picture.h"
#include "export/bmp_writer.h"
#include "export/save_all.h"
#include "picture/frame_image.h"

namespace {

// The one input of decode, frame, edit and encode: a file, or standard input.
struct SingleInput {
    StandardInput standard;
    std::string path, name;
};

// Standard input is read only when it is the input, and never from a
// terminal; a picture goes to standard output only when that is no terminal.
int TakeSingleInput(const CliArgs& a, SingleInput& in) {
    in.path = in.name = a.operands[0];
    if (IsStandardStream(a.operands[1]) && IsTerminal(stdout)) {
        Complain("will not write a picture to a terminal; redirect standard output");
        return kExitUsage;
    }
    if (!IsStandardStream(a.operands[0])) return kExitOk;
    if (IsTerminal(stdin)) {
        Complain("standard input is a terminal; give a file, or send the picture through it");
        return kExitUsage;
    }
    const std::string problem = in.standard.Take();
    if (!problem.empty()) {
        Complain(problem);
        return kExitFailed;
    }
    in.path = in.standard.path();
    in.name = kStandardInputName;
    return kExitOk;
}

// Says what a load gave: the problem (false), a damage warning, with -v the
// description.
bool Told(const CliArgs& a, const std::string& name, LoadedPicture& loaded,
          const std::string& description) {
    ApplyStrict(a, name, loaded);
    if (!loaded.ok) {
        Complain(loaded.problem);
        return false;
    }
    if (a.verbose) std::fprintf(stderr, "pixmora-cli: %s\n", description.c_str());
    if (!loaded.damage.empty()) Warn(name + ": " + loaded.damage);
    return true;
}

// The exit code of a write: 0, or 1 with its problem said.
int ExitFor(const std::string& problem) {
    if (problem.empty()) return kExitOk;
    Complain(problem);
    return kExitFailed;
}

int Written(const std::string& out, const std::vector<uint8_t>& bytes) {
    return ExitFor(WriteOutput(out, bytes));
}

// A BMP file written from its headers and the picture behind them.
int Written(const std::string& out, const BmpParts& parts) {
    return ExitFor(
        WriteOutput(out, {{parts.headers, sizeof parts.headers}, {parts.rest, parts.restSize}}));
}

#ifdef __linux__
// A mapped input cut short by someone else while it is read (LoadBuffers::mapFiles).
extern "C" void InputCutShort(int) {
    static const char kMessage[] = "pixmora-cli: an input file was cut short while it was read\n";
    ssize_t ignored = write(2, kMessage, sizeof kMessage - 1);
    (void)ignored;
    _exit(kExitFailed);
}
#endif

// The one-picture commands read their inputs from mappings of the files:
// see LoadBuffers::mapFiles. Nothing has been written when such a read
// fails, so the command ends as for any unreadable input.
void MapInputs(CliDecoders& d) {
#ifdef __linux__
    std::signal(SIGBUS, InputCutShort);
    d.buffers().mapFiles = true;
#else
    (void)d;
#endif
}

int CmdDecode(const CliArgs& a) {
    SingleInput in;
    if (const int code = TakeSingleInput(a, in)) return code;
    CliDecoders d;
    MapInputs(d);
    LoadedPicture loaded = DecodeWhole(d, in.path, in.name);
    const std::string description = in.name + ": read " + std::to_string(loaded.report.width) +
                                    " x " + std::to_string(loaded.report.height) + ", " +
                                    std::to_string(RasterBits(d.buffers())) + " bits a pixel";
    if (!Told(a, in.name, loaded, description)) return kExitFailed;
    BmpParts parts;
    if (!RasterBmpParts(d.buffers(), parts)) {
        Complain("cannot write " + a.operands[1] + ": the picture is too large for a BMP file");
        return kExitFailed;
    }
    return Written(a.operands[1], parts);
}

// frame and edit: one picture fitted (and edited), written as the name asks.
int CmdEdit(const CliArgs& a) {
    SingleInput in;
    if (const int code = TakeSingleInput(a, in)) return code;
    CliDecoders d;
    MapInputs(d);
    std::unique_ptr<FrameImage> picture(new FrameImage{});
    LoadedPicture loaded = LoadFramed(d, a, in.path, in.name, *picture);
    const bool read = Told(a, in.name, loaded, DescribeLoad(in.name, loaded, a.fit));
    if (loaded.usage) return kExitUsage; // --crop outside the picture
    // The pictures of --blend and --frame are read too, so that every
    // problem is named at once.
    EditPictures pictures;
    if (!LoadEditPictures(d, a, pictures) || !read) return kExitFailed;
    // frame has no edits: its scratch pictures would be pages written for nothing
    std::unique_ptr<EditScratch> scratch(a.edits.empty() ? nullptr : new EditScratch{});
    if (scratch && !ApplyEdits(a.edits, pictures, *scratch, *picture)) {
        Complain("not enough memory to edit " + in.name);
        return kExitFailed;
    }
    const std::string& out = a.operands[1];
    if (!IsStandardStream(out) && PictureKindOf(out.c_str()) == PictureKind::kJpeg) {
        std::vector<uint8_t> bytes;
        const SaveAllFailure f = EncodeSaveAllPicture(*picture, bytes);
        if (f != SaveAllFailure::kNone) {
            Complain("cannot encode " + in.name + ": " + SaveAllFailureText(f));
            return kExitFailed;
        }
        return Written(out, bytes);
    }
    BmpParts parts;
    if (!BmpFileParts(*picture, parts)) {
        Complain("cannot write " + out + ": the picture is damaged");
        return kExitFailed;
    }
    return Written(out, parts);
}

// encode: a 128 x 128 24-bit BMP as it is, as the frame's JPEG.
int CmdEncode(const CliArgs& a) {
    SingleInput in;
    if (const int code = TakeSingleInput(a, in)) return code;
    if (PictureKindOf(in.path.c_str()) != PictureKind::kBmp) {
        Complain(in.name + ": expected a BMP picture");
        return kExitFailed;
    }
    CliDecoders d;
    LoadedPicture loaded = DecodeWhole(d, in.path, in.name);
    const LoadBuffers& lb = d.buffers();
    const std::string size = std::to_string(RasterWidth(lb)) + " x " +
                             std::to_string(RasterHeight(lb)) + ", " +
                             std::to_string(RasterBits(lb)) + " bits";
    if (!Told(a, in.name, loaded, in.name + ": read " + size)) return kExitFailed;
    if (RasterWidth(lb) != kFrameSide || RasterHeight(lb) != kFrameSide || RasterBits(lb) != 24) {
        Complain(in.name + " is not a 128 x 128 24-bit BMP (" + size + ")");
        return kExitFailed;
    }
    // Same size and depth: the plain fit copies the pixels unchanged.
    std::unique_ptr<FrameImage> picture(new FrameImage{});
    FitWithOptions(d.buffers(), FitOptions{}, 1, *picture);
    std::vector<uint8_t> bytes;
    const SaveAllFailure f = EncodeSaveAllPicture(*picture, bytes);
    if (f != SaveAllFailure::kNone) {
        Complain("cannot encode " + in.name + ": " + SaveAllFailureText(f));
        return kExitFailed;
    }
    return Written(a.operands[1], bytes);
}

} // namespace

int main(int argc, char** argv) {
    CliArgs args;
    std::string error;
    if (!ParseCommandLine(argc, argv, args, error)) {
        if (argc < 2) {
            std::fputs(HelpText("").c_str(), stderr);
        } else {
            const bool known = !HelpText(args.command).empty();
            Complain(error + " (pixmora-cli help" + (known ? " " + args.command : "") +
                     " lists the " + (known ? "options" : "commands") + ")");
        }
        return kExitUsage;
    }
    if (args.help) {
        std::fputs(HelpText(args.command).c_str(), stdout);
        return kExitOk;
    }
    if (args.version) {
        std::printf("pixmora-cli %s\n", PIXMORA_VERSION);
        return kExitOk;
    }
    if (args.command == "decode") return CmdDecode(args);
    if (args.command == "frame" || args.command == "edit") return CmdEdit(args);
    if (args.command == "export") return CmdExport(args);
    return CmdEncode(args);
}
