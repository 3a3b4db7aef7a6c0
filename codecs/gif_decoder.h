// GIF decoder work record.
#pragma once

#include <cstdint>

#include "codecs/picture_decoders.h"

struct GifState {
    uint8_t placeholder[16];
};
