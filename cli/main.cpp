// pixmora-cli: the picture codecs of Pixmora from the command line.
//
// Exit codes: 0 done, 1 the input could not be decoded or the output not
// written (reason on stderr), 2 usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "picture/frame_image.h"
#include "cli/cli_decoders.h"
#include "cli/export_commands.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"
#include "export/bmp_writer.h"

namespace {

void PrintUsage(FILE* to) {
    std::fprintf(
        to,
        "usage: pixmora-cli decode IN OUT.bmp   decode a BMP/GIF/JPG picture, write it at its own "
        "size\n"
        "       pixmora-cli frame IN OUT.bmp    decode and fit into the 128 x 128 frame picture\n"
        "       pixmora-cli --version\n"
        "       pixmora-cli --help\n");
    std::fputs(kExportUsage, to);
}

int Written(int ok, const char* out) {
    if (ok) return kExitOk;
    std::fprintf(stderr, "pixmora-cli: cannot write %s\n", out);
    return kExitFailed;
}

int CmdDecode(int argc, char** argv) {
    if (argc != 2) return kExitUsage;
    CliDecoders d;
    if (!DecodeInput(d, argv[0])) return kExitFailed;
    return Written(WriteRasterBmp(argv[1], d.buffers()), argv[1]);
}

int CmdFrame(int argc, char** argv) {
    if (argc != 2) return kExitUsage;
    CliDecoders d;
    if (!DecodeInput(d, argv[0], DecodeFor::kFrame)) return kExitFailed;
    static FrameImage block; // 50 KiB: not on the stack
    FrameDecoded(d, block);
    return Written(WriteBmpFile(argv[1], block), argv[1]);
}

int CmdVersion(int argc, char**) {
    if (argc != 0) return kExitUsage;
    std::printf("pixmora-cli %s\n", PIXMORA_VERSION);
    return kExitOk;
}

int CmdHelp(int argc, char**) {
    if (argc != 0) return kExitUsage;
    PrintUsage(stdout);
    return kExitOk;
}

struct Command {
    const char* name;
    int (*run)(int argc, char** argv); // arguments after the command name
};

// One line per subcommand.
const Command kCommands[] = {
    {"decode", CmdDecode}, {"frame", CmdFrame},       {"export", CmdExport},
    {"encode", CmdEncode}, {"--version", CmdVersion}, {"--help", CmdHelp},
};

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2) {
        for (const Command& c : kCommands) {
            if (std::strcmp(argv[1], c.name) != 0) continue;
            const int code = c.run(argc - 2, argv + 2);
            if (code == kExitUsage) PrintUsage(stderr);
            return code;
        }
    }
    PrintUsage(stderr);
    return kExitUsage;
}
