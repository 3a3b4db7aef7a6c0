#include "cli/cli_decoders.h"

#include <cstdio>
#include <cstdlib>

#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"

CliDecoders::CliDecoders()
    : gif_(std::calloc(1, kGifStateBytes)), jpeg_(std::calloc(1, kJpegDecoderBytes)) {
    set.buffers = &owned_.buffers;
    set.gif = static_cast<GifState*>(gif_);
    set.jpeg = static_cast<JpegDecoder*>(jpeg_);
}

CliDecoders::~CliDecoders() {
    std::free(gif_);
    std::free(jpeg_);
}

bool CliDecoders::ok() const {
    return owned_.ok() && gif_ && jpeg_;
}

bool DecodeInput(CliDecoders& d, const char* path, DecodeFor use) {
    if (!d.ok()) {
        std::fprintf(stderr, "pixmora-cli: out of memory\n");
        return false;
    }
    ClearDecodeFailure();
    const int result = DecodeByExtension(d.set, path, use);
    if (result == 1) return true;
    const char* reason = result < 0 ? "unknown picture type" : LastDecodeFailure();
    if (!reason || !*reason) reason = "decoding failed";
    std::fprintf(stderr, "pixmora-cli: cannot decode %s: %s\n", path, reason);
    return false;
}

void FrameDecoded(CliDecoders& d, FrameImage& picture) {
    LoadBuffers& lb = d.buffers();
    lb.raster.cursor.address = RasterRow(lb, 0);
    FitToFrame(lb, kFrameSide, kFrameSide, picture);
}
