// JPEG decoder work record.
#pragma once

#include <cstdint>

#include "codecs/picture_decoders.h"

struct JpegDecoder {
    uint8_t placeholder[16];
};
