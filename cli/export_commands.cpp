// pixmora-cli export and encode: the album export and the JPEG encoder from
// the command line, for batch work and for checking the encoder from outside.
#include "cli/export_commands.h"
#include "cli/cli_decoders.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "picture/frame_image.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"
#include "export/jpeg_encoder.h"
#include "export/save_names.h"

const char kExportUsage[] =
    "       pixmora-cli export OUTDIR IN...   frame each picture, write OUTDIR/0.jpg, 1.jpg, ...\n"
    "       pixmora-cli encode IN.bmp OUT.jpg encode a 128 x 128 24-bit BMP as a JPEG file\n";

int CmdExport(int argc, char** argv) {
    if (argc < 2) return kExitUsage;
    CliDecoders d;
    if (!d.ok()) {
        std::fprintf(stderr, "pixmora-cli: out of memory\n");
        return kExitFailed;
    }
    // Pictures that fail to decode are reported and left out; the numbering
    // counts only the pictures that are written.
    int code = kExitOk;
    std::vector<std::unique_ptr<FrameImage>> pictures;
    for (int i = 1; i < argc; ++i) {
        if (!DecodeInput(d, argv[i], DecodeFor::kFrame)) {
            code = kExitFailed;
            continue;
        }
        pictures.emplace_back(new FrameImage{});
        FrameDecoded(d, *pictures.back());
    }
    std::vector<const FrameImage*> list;
    for (const auto& p : pictures)
        list.push_back(p.get());
    SaveAllResult r = SaveAllPicturesTo(argv[0], list.data(), static_cast<int>(list.size()));
    if (!r.ok()) {
        std::fprintf(stderr, "pixmora-cli: %s\n", SaveAllMessage(r).c_str());
        return kExitFailed;
    }
    return code;
}

int CmdEncode(int argc, char** argv) {
    if (argc != 2) return kExitUsage;
    CliDecoders d;
    if (!d.ok()) {
        std::fprintf(stderr, "pixmora-cli: out of memory\n");
        return kExitFailed;
    }
    if (PictureKindOf(argv[0]) != PictureKind::kBmp) {
        std::fprintf(stderr, "pixmora-cli: %s: expected a .bmp file\n", argv[0]);
        return kExitFailed;
    }
    if (!DecodeInput(d, argv[0])) return kExitFailed;
    const LoadBuffers& lb = d.buffers();
    if (RasterWidth(lb) != kFrameSide || RasterHeight(lb) != kFrameSide || RasterBits(lb) != 24) {
        std::fprintf(stderr, "pixmora-cli: %s is not a 128 x 128 24-bit BMP (%d x %d, %d bits)\n",
                     argv[0], RasterWidth(lb), RasterHeight(lb), RasterBits(lb));
        return kExitFailed;
    }
    // Same size and depth: the fit copies the pixels unchanged.
    std::unique_ptr<FrameImage> picture(new FrameImage{});
    FrameDecoded(d, *picture);

    std::vector<uint8_t> out(kJpegOutputBlockSize);
    size_t length = 0;
    JpegEncodeError error = JpegEncodeError::kNone;
    if (!EncodeJpeg(*picture, out.data(), out.size(), length, &error)) {
        std::fprintf(stderr, "pixmora-cli: cannot encode %s: %s\n", argv[0],
                     JpegEncodeErrorText(error));
        return kExitFailed;
    }
    FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::fprintf(stderr, "pixmora-cli: cannot write %s\n", argv[1]);
        return kExitFailed;
    }
    bool ok = std::fwrite(out.data(), 1, length, f) == length;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(argv[1]);
        std::fprintf(stderr, "pixmora-cli: cannot write %s\n", argv[1]);
        return kExitFailed;
    }
    return kExitOk;
}
