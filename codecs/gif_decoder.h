// GIF decoder: the first image of a GIF file that fits its logical screen,
// decoded into a 1-, 4- or 8-bit palette SourceRaster.
//
// The work record is a plain block of fixed-size fields and tables: the
// program allocates it once, zero-filled, and a zero-filled record is idle and
// valid. Nothing in it points anywhere, so it may be copied or cleared freely.
#pragma once

#include <cstdint>

#include "codecs/picture_decoders.h"

// GIF codes are at most 12 bits wide, so the string table has 4,096 slots.
constexpr int kLzwMaxCodeBits = 12;
constexpr int kLzwTableSize = 1 << kLzwMaxCodeBits;
// The decode stack: a string never has more bytes than the table has slots,
// so a prefix chain that needs more than this loops or is corrupt.
constexpr int kGifStackBytes = 4096;
// A data sub-block's length is one byte.
constexpr int kGifSubBlockBytes = 255;
// At most 256 colours of three bytes (red, green, blue).
constexpr int kGifColourTableBytes = 256 * 3;

struct GifState {
    // LZW code state
    uint16_t codeSize;      // current code width, at most 12
    uint16_t clearCode;     // 2^minimum code size
    uint16_t endCode;       // clear code + 1
    uint16_t firstFreeCode; // clear code + 2
    uint16_t codeLimit;     // 2^code size: the slot at which the width grows
    uint16_t nextSlot;      // next free string-table entry

    // Interlace
    uint8_t interlaced;    // bit 0x40 of the image descriptor's flags
    int32_t interlaceRow;  // image row (top = 0) of the next output row
    int32_t interlaceStep; // row distance of the current pass: 8, 8, 4, 2
    int32_t imageHeight;
    int32_t passCount; // pass changes made so far

    // Code reader. The bits not yet consumed sit in a small accumulator
    // rather than one byte at a time, which is what keeps decoding fast.
    int16_t bytesLeft;   // unread bytes of the sub-block; -1 after the terminator
    uint16_t bitsLeft;   // bits held in bitBuffer
    uint64_t bitBuffer;  // low bits are consumed first
    uint8_t subBlockPos; // read pointer into subBlock
    uint8_t subBlock[kGifSubBlockBytes];

    // Outcome of the last LZW decoding
    int32_t badCodes; // codes above the next free slot

    // Colour table of the image being decoded (global, or local over it)
    int32_t colourCount;
    uint8_t colourTableRead;
    uint8_t colourTable[kGifColourTableBytes];

    // LZW tables
    uint8_t stack[kGifStackBytes];
    uint8_t suffix[kLzwTableSize];
    uint16_t prefix[kLzwTableSize];
    uint16_t length[kLzwTableSize]; // bytes in each code's string
    // The first (up to) eight bytes of each code's string, first byte lowest:
    // most strings come out with one eight-byte store instead of a walk.
    uint64_t head[kLzwTableSize];
};

// Results of DecodeLzw besides 0 (the end code or the end of the data).
// A negative result from the row sink is passed on as it is.
constexpr int kLzwRowsComplete = -1;  // the sink wants no more rows
constexpr int kLzwNoLineBuffer = -10; // no memory for one row
constexpr int kLzwBadMinimumCodeSize = -20;
constexpr int kLzwChainTooLong = -30; // a prefix chain loops or outgrows the stack

// Receives each decoded row: `row` holds `count` palette indices, one byte
// each (count is the width except for a row cut short by the end code). The
// buffer has width + 1 bytes and may be rewritten in place. A negative result
// ends the decoding with that result.
using GifRowSink = int (*)(void* context, uint8_t* row, int32_t count);

// Decodes one image's LZW data at the read position: the minimum code size
// byte, then the data sub-blocks up to their terminator. Rows of `width`
// pixels go to `sink`. The count of codes above the next free slot is left in
// gif.badCodes; such codes do not stop the decoding.
int DecodeLzw(LoadBuffers& lb, GifState& gif, int32_t width, GifRowSink sink, void* context);

// Decodes what is already in the FileBuffer (from offset 0) into the
// SourceRaster: DecodeGifFile without the file.
int DecodeGifLoaded(LoadBuffers& lb, GifState& gif);
