// pixmora-cli: the picture codecs and editing tools of Pixmora from the
// command line, for single pictures and for whole picture sets.
//
// Exit codes: 0 done, 1 a picture could not be decoded or the output not
// written (reason on stderr), 2 usage error.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_decoders.h"
#include "cli/cli_edits.h"
#include "cli/cli_options.h"
#include "cli/export_commands.h"
#include "export/bmp_writer.h"
#include "picture/frame_image.h"

namespace {

int Written(int ok, const std::string& out) {
    if (ok) return kExitOk;
    Complain("cannot write " + out);
    return kExitFailed;
}

int CmdDecode(const CliArgs& a) {
    CliDecoders d;
    if (!DecodeInput(d, a.operands[0].c_str())) return kExitFailed;
    return Written(WriteRasterBmp(a.operands[1].c_str(), d.buffers()), a.operands[1]);
}

// frame and edit: one picture fitted (and edited), written as a 24-bit BMP.
int CmdEdit(const CliArgs& a) {
    CliDecoders d;
    EditPictures pictures;
    if (!LoadEditPictures(d, a, pictures)) return kExitFailed;
    std::unique_ptr<FrameImage> picture(new FrameImage{});
    std::unique_ptr<EditScratch> scratch(new EditScratch{});
    FitReport report;
    if (const char* reason = LoadFramed(d, a.fit, a.operands[0].c_str(), *picture, &report)) {
        if (report.regionOutside) {
            Complain(CropOutsideMessage(a, a.operands[0].c_str(), report));
            return kExitUsage;
        }
        Complain("cannot decode " + a.operands[0] + ": " + reason);
        return kExitFailed;
    }
    if (a.verbose) std::printf("%s\n", PartMessage(a.operands[0].c_str(), report).c_str());
    if (!ApplyEdits(a.edits, pictures, *scratch, *picture)) {
        Complain("not enough memory");
        return kExitFailed;
    }
    return Written(WriteBmpFile(a.operands[1].c_str(), *picture), a.operands[1]);
}

} // namespace

int main(int argc, char** argv) {
    CliArgs args;
    std::string error;
    if (!ParseCommandLine(argc, argv, args, error)) {
        if (argc < 2)
            std::fputs(kUsageText, stderr);
        else
            Complain(error + " (pixmora-cli --help lists the commands and options)");
        return kExitUsage;
    }
    if (args.help) {
        std::fputs(kUsageText, stdout);
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
