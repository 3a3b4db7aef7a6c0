// What every pixmora-cli command shares: exit codes, the decoders' buffers,
// decoding an input with a reason on failure, and fitting it into a frame.
#pragma once

#include "picture/frame_image.h"
#include "codecs/load_buffers.h"
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The buffers and work records of the decoders, zero-filled like the
// program's own.
class CliDecoders {
  public:
    CliDecoders();
    ~CliDecoders();
    CliDecoders(const CliDecoders&) = delete;
    CliDecoders& operator=(const CliDecoders&) = delete;
    bool ok() const;
    LoadBuffers& buffers() { return owned_.buffers; }
    DecoderSet set;

  private:
    OwnedLoadBuffers owned_;
    void* gif_;
    void* jpeg_;
};

// Decodes `path` by its extension (for FrameDecoded only: DecodeFor::kFrame);
// on failure prints "pixmora-cli: cannot decode PATH: REASON" and returns false.
bool DecodeInput(CliDecoders& d, const char* path, DecodeFor use = DecodeFor::kRaster);
// The decoded raster stretched into a frame picture, as the program does on a click.
void FrameDecoded(CliDecoders& d, FrameImage& picture);
