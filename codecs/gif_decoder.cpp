#include "codecs/gif_decoder.h"

#include <cstring>
#include <new>
#include <type_traits>

#include "codecs/decode_failure.h"

const size_t kGifStateBytes = sizeof(GifState);
// The program allocates the record as a raw zero-filled block: it must stay
// plain data, with all-zero bytes a valid idle state.
static_assert(std::is_trivially_default_constructible<GifState>::value &&
                  std::is_trivially_copyable<GifState>::value &&
                  std::is_standard_layout<GifState>::value,
              "GifState is a plain record");

namespace {

constexpr int kHeaderBytes = 13; // "GIF8?a" + logical screen descriptor
constexpr int kDescriptorBytes = 9;
constexpr int kApplicationIdBytes = 11;
constexpr int kGraphicControlBytes = 4;

constexpr int kExtensionIntroducer = 0x21;
constexpr int kImageSeparator = 0x2C;
constexpr int kTrailer = 0x3B;
constexpr int kGraphicControlLabel = 0xF9;
constexpr int kCommentLabel = 0xFE;
constexpr int kApplicationLabel = 0xFF;

constexpr int kColourTableFlag = 0x80;
constexpr int kInterlaceFlag = 0x40;

// Bytes after a row that an eight-byte string store may touch.
constexpr int kRowSlack = 8;
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "string heads are stored first byte lowest");

// The sink's answer when the loader asks us to stop.
constexpr int kRowsStopped = -2;

bool NoByteLeft(const LoadBuffers& lb) {
    return lb.readPosition >= lb.dataLength;
}

int Le16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}

// ---------------------------------------------------------------------------
// Extension blocks

// Skips data sub-blocks up to their terminator or the end of the data. A
// sub-block that would run past the end is not skipped: the seek is refused
// and leaves the position after its length byte, so the next byte is read
// as the next length (often the terminator that a damaged length hid).
void SkipSubBlocks(LoadBuffers& lb) {
    while (!StopRequested(lb) && !NoByteLeft(lb)) {
        int size = ReadByte(lb);
        if (size == 0) return;
        SeekInput(lb, size, 1);
    }
}

bool ReadGraphicControl(LoadBuffers& lb) {
    int size = ReadByte(lb);
    uint8_t fields[kGraphicControlBytes]; // flags, delay, transparent index: unused
    if (ReadBytes(lb, fields, kGraphicControlBytes) != size)
        return DecodeFail("graphic control block of the wrong size");
    SkipSubBlocks(lb);
    return true;
}

bool ReadComment(LoadBuffers& lb, GifState& gif) {
    if (NoByteLeft(lb)) return DecodeFail("comment cut short");
    int size = ReadByte(lb);
    // 21 FE 00 is a legal empty comment: the 0 was its terminator, and the
    // next byte already belongs to the next block.
    if (size == 0) return true;
    if (ReadBytes(lb, gif.subBlock, size) != size) return DecodeFail("comment cut short");
    SkipSubBlocks(lb);
    return true;
}

bool ReadApplication(LoadBuffers& lb, GifState& gif) {
    if (ReadByte(lb) != kApplicationIdBytes)
        return DecodeFail("application block of the wrong size");
    uint8_t id[kApplicationIdBytes];
    if (ReadBytes(lb, id, kApplicationIdBytes) != kApplicationIdBytes || NoByteLeft(lb))
        return DecodeFail("application block cut short");
    int size = ReadByte(lb);
    // Decided: an empty first sub-block ends the extension. The 0 is read
    // as the terminator, and whatever follows is the next block, as for an
    // empty comment; an application with no data has nothing else to say.
    if (size == 0) return true;
    if (ReadBytes(lb, gif.subBlock, size) != size) return DecodeFail("application block cut short");
    SkipSubBlocks(lb);
    return true;
}

// Called after the 0x21 introducer.
bool ReadExtension(LoadBuffers& lb, GifState& gif) {
    if (NoByteLeft(lb)) return DecodeFail("extension label missing");
    switch (ReadByte(lb)) {
    case kGraphicControlLabel: return ReadGraphicControl(lb);
    case kCommentLabel: return ReadComment(lb, gif);
    case kApplicationLabel: return ReadApplication(lb, gif);
    default: SkipSubBlocks(lb); return true; // plain text and unknown labels
    }
}

// ---------------------------------------------------------------------------
// Block scan

struct ImageDescriptor {
    int left, top, width, height, flags;
};

// Scans the blocks after the screen descriptor for the first image that fits
// the screen. Stray bytes between blocks are tolerated: anything unexpected
// disarms the scan until a 0 byte (a block terminator) comes by.
bool FindFittingImage(LoadBuffers& lb, GifState& gif, int screenWidth, int screenHeight,
                      ImageDescriptor& image) {
    bool armed = true;
    for (;;) {
        if (StopRequested(lb)) return DecodeFail("loading stopped");
        if (NoByteLeft(lb)) return DecodeFail("no image before the end of the data");
        int b = ReadByte(lb);
        if (!armed) {
            armed = b == 0;
            continue;
        }
        if (b == kExtensionIntroducer) {
            if (!ReadExtension(lb, gif)) return false;
        } else if (b == kImageSeparator) {
            uint8_t d[kDescriptorBytes] = {};
            ReadBytes(lb, d, kDescriptorBytes);
            image = {Le16(d), Le16(d + 2), Le16(d + 4), Le16(d + 6), d[8]};
            if (image.left + image.width <= screenWidth && image.top + image.height <= screenHeight)
                return true;
        } else if (b == kTrailer) {
            return DecodeFail("no image before the trailer");
        } else {
            armed = b == 0;
        }
    }
}

// ---------------------------------------------------------------------------
// Colour tables

void ReadColourTable(LoadBuffers& lb, GifState& gif) {
    int bytes = gif.colourCount * 3;
    int32_t got = ReadBytes(lb, gif.colourTable, bytes);
    if (got < 0) got = 0;
    // A table cut off by the end of the data: keep the rest black, not stale.
    if (got < bytes) std::memset(gif.colourTable + got, 0, static_cast<size_t>(bytes - got));
    gif.colourTableRead = 1;
}

int DepthFor(int colourCount) {
    if (colourCount <= 2) return 1;
    if (colourCount <= 16) return 4;
    return 8;
}

// Entries the table does not have are white, so stray indices stand out.
void FillPalette(LoadBuffers& lb, const GifState& gif) {
    uint8_t* palette = RasterPalette(lb);
    if (!palette || !gif.colourTableRead) return;
    uint32_t count = RasterPaletteCount(lb);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* entry = palette + 4 * i;
        if (static_cast<int>(i) < gif.colourCount) {
            const uint8_t* rgb = gif.colourTable + 3 * i;
            entry[0] = rgb[2];
            entry[1] = rgb[1];
            entry[2] = rgb[0];
        } else {
            entry[0] = entry[1] = entry[2] = 255;
        }
        entry[3] = 0;
    }
}

// ---------------------------------------------------------------------------
// Row output

// Packs one byte per pixel into 1 or 4 bits per pixel, in place: byte j is
// made from pixels 2j and 2j + 1 (or 8j .. 8j + 7), which lie at or after j.
void PackRow(uint8_t* row, int32_t width, int depth) {
    if (depth == 4) {
        int32_t i = 0;
        for (; i + 1 < width; i += 2)
            row[i / 2] = static_cast<uint8_t>((row[i] << 4) | (row[i + 1] & 15));
        if (i < width) row[i / 2] = static_cast<uint8_t>(row[i] << 4);
    } else if (depth == 1) {
        for (int32_t i = 0; i < width; i += 8) {
            int bits = 0;
            for (int b = 0; b < 8 && i + b < width; ++b)
                bits |= (row[i + b] & 1) << (7 - b);
            row[i / 8] = static_cast<uint8_t>(bits);
        }
    }
}

// Interlaced images come in four passes starting at rows 0, 4, 2, 1 with
// steps 8, 8, 4, 2; passes that start below the image are skipped. After the
// fourth pass the row is parked at the image height, so that stray rows from
// a stream that runs on are dropped instead of overwriting real ones.
void NextInterlacePass(GifState& gif) {
    while (gif.interlaceRow >= gif.imageHeight) {
        if (gif.passCount >= 3) {
            gif.interlaceRow = gif.imageHeight;
            return;
        }
        if (gif.passCount > 0) gif.interlaceStep /= 2;
        gif.passCount += 1;
        gif.interlaceRow = gif.interlaceStep / 2;
    }
}

struct RowOutput {
    LoadBuffers* lb;
    GifState* gif;
    int32_t width;
    int depth;
};

int OutputRow(void* context, uint8_t* row, int32_t count) {
    RowOutput& out = *static_cast<RowOutput*>(context);
    LoadBuffers& lb = *out.lb;
    GifState& gif = *out.gif;
    if (StopRequested(lb)) return kRowsStopped;
    PackRow(row, out.width, out.depth);
    if (!gif.interlaced) {
        if (!CursorInside(lb)) return kLzwRowsComplete;
        CursorWriteRow(lb, row, count);
        CursorStepDown(lb);
        return 0;
    }
    if (gif.interlaceRow >= gif.imageHeight) return 0;
    CursorToRow(lb, gif.imageHeight - gif.interlaceRow - 1);
    CursorWriteRow(lb, row, count);
    gif.interlaceRow += gif.interlaceStep;
    NextInterlacePass(gif);
    return 0;
}

// Whether image row y (top = 0) was written: every row before the cursor,
// or, interlaced, every row of a finished pass and those of the current
// pass above its next row.
bool RowWritten(const LoadBuffers& lb, const GifState& gif, int32_t y) {
    if (!gif.interlaced) return !CursorInside(lb) || y < gif.imageHeight - 1 - lb.raster.cursor.row;
    if (gif.interlaceRow >= gif.imageHeight) return true;
    const int pass = y % 8 == 0 ? 0 : y % 8 == 4 ? 1 : y % 4 == 2 ? 2 : 3;
    return pass < gif.passCount || (pass == gif.passCount && y < gif.interlaceRow);
}

// A stream that ended before the last row is noted as cut short. The rows
// it did not reach keep what the raster held.
void NoteRowsNotReached(const LoadBuffers& lb, const GifState& gif) {
    for (int32_t y = 0; y < gif.imageHeight; ++y) {
        if (RowWritten(lb, gif, y)) continue;
        NoteDecodeDamage(gif.interlaced ? kDamageRowsEmpty : kDamageLowerPartEmpty);
        return;
    }
}

// ---------------------------------------------------------------------------
// Image

int DecodeImage(LoadBuffers& lb, GifState& gif, const ImageDescriptor& image) {
    if (image.flags & kColourTableFlag) {
        gif.colourCount = 1 << ((image.flags & 7) + 1);
        ReadColourTable(lb, gif);
    }
    int depth = DepthFor(gif.colourCount);
    if (!SetUpRaster(lb, image.width, image.height, depth))
        return DecodeFail("image empty or too large");
    FillPalette(lb, gif);

    CursorToTop(lb);
    gif.interlaced = (image.flags & kInterlaceFlag) ? 1 : 0;
    gif.interlaceRow = 0;
    gif.interlaceStep = 8;
    gif.passCount = 0;
    gif.imageHeight = image.height;

    RowOutput out{&lb, &gif, image.width, depth};
    int result = DecodeLzw(lb, gif, image.width, OutputRow, &out);

    if (StopRequested(lb)) return DecodeFail("loading stopped");
    if (result != kLzwBadMinimumCodeSize && result != kLzwNoLineBuffer)
        NoteRowsNotReached(lb, gif);
    if (result == kLzwBadMinimumCodeSize) return DecodeFail("LZW minimum code size outside 2..9");
    if (result == kLzwNoLineBuffer) return DecodeFail("no memory for a row");
    if (result == kLzwChainTooLong) return DecodeFail("LZW string loops or outgrows the stack");
    if (gif.badCodes > 0) return DecodeFail("LZW code above the next free slot");
    return 1;
}

// ---------------------------------------------------------------------------
// LZW

void InitLzwState(GifState& gif, int minimumCodeSize) {
    gif.clearCode = static_cast<uint16_t>(1 << minimumCodeSize);
    gif.endCode = static_cast<uint16_t>(gif.clearCode + 1);
    gif.firstFreeCode = static_cast<uint16_t>(gif.clearCode + 2);
    gif.nextSlot = gif.firstFreeCode;
    gif.codeSize = static_cast<uint16_t>(minimumCodeSize + 1);
    gif.codeLimit = static_cast<uint16_t>(1 << gif.codeSize);
    gif.bitsLeft = 0;
    gif.bitBuffer = 0;
    gif.bytesLeft = 0;
    gif.subBlockPos = 0;
    std::memset(gif.stack, 0, sizeof gif.stack);
    std::memset(gif.suffix, 0, sizeof gif.suffix);
    std::memset(gif.prefix, 0, sizeof gif.prefix);
    // Lengths and heads above the roots are always written before they are
    // used (and only used while the table is sound), so they are not cleared:
    // at 40 KB that would be a real part of decoding a small picture.
    for (int i = 0; i < gif.firstFreeCode; ++i) {
        gif.length[i] = 1;
        gif.head[i] = static_cast<uint8_t>(i);
    }
}

// Reads the next data sub-block into gif.subBlock. Returns its length, or 0
// at the terminator (which is also what the end of the data reads as).
int32_t NextSubBlock(LoadBuffers& lb, GifState& gif) {
    int size = ReadByte(lb);
    if (size == 0) return 0;
    int32_t got = ReadBytes(lb, gif.subBlock, size);
    return got > 0 ? got : 0;
}

// ---------------------------------------------------------------------------
// LZW steps
//
// DecodeLzw is a loop over the steps below: take the next code, write its
// string into the row, add the table entry it defines, hand a full row to
// the sink. The steps share one LzwRun, a local of DecodeLzw whose address
// never leaves the steps, which are forced inline: the compiler then keeps
// its fields in registers. That matters because the row bytes are uint8_t
// stores, which the compiler must assume may alias anything reached through a
// pointer (GifState included), but not a local that never escapes.

#define LZW_STEP inline __attribute__((always_inline))

struct LzwRun {
    // The tables and the sub-block being read, reached at fixed offsets from
    // one register rather than through six pointers of their own. Only their
    // contents are used through it, never the record's other fields.
    GifState* gif;

    int minimumCodeSize;
    int clearCode;
    int endCode;
    int firstFree;
    int codeSize;
    int codeLimit;
    int nextSlot;

    // Code reader
    uint64_t bitBuffer; // at most 63 bits are ever held
    int bits;
    int32_t blockPos;
    int32_t blockLength;
    bool exhausted; // the terminator (or the end of the data) was read

    int prev;      // the code before this one
    int firstByte; // first byte of prev's string
    // A stream that does not open with a clear code starts as if it had: its
    // first code is a plain pixel and adds no string.
    bool needFirst;
    // No code above the next free slot since the last clear: every entry's
    // prefix is an older entry, and its length and head are known.
    bool trusted;
    int badCodes;

    // Row
    uint8_t* line;
    int32_t width;
    int32_t fill;
    GifRowSink sink;
    void* context;
};

// Codes are packed least significant bit first across sub-blocks. From the
// terminator on, and for a code it cuts short, the answer is the end code.
LZW_STEP int NextCode(LzwRun& s, LoadBuffers& lb) {
    if (s.blockLength - s.blockPos >= 8) {
        // Top the accumulator up to 56..63 bits with one load: no branch
        // that depends on where the code boundaries fall.
        uint64_t next;
        std::memcpy(&next, s.gif->subBlock + s.blockPos, sizeof next);
        s.bitBuffer |= next << s.bits;
        const int whole = (63 - s.bits) >> 3;
        s.blockPos += whole;
        s.bits += 8 * whole;
    } else {
        while (s.bits < s.codeSize && !s.exhausted) {
            if (s.blockPos == s.blockLength) {
                s.blockLength = NextSubBlock(lb, *s.gif);
                s.blockPos = 0;
                if (s.blockLength == 0) {
                    s.exhausted = true;
                    break;
                }
            }
            s.bitBuffer |= static_cast<uint64_t>(s.gif->subBlock[s.blockPos++]) << s.bits;
            s.bits += 8;
        }
    }
    int code = s.endCode;
    if (s.bits >= s.codeSize) {
        code = static_cast<int>(s.bitBuffer & ((1u << s.codeSize) - 1));
        s.bitBuffer >>= s.codeSize;
        s.bits -= s.codeSize;
    }
    return code;
}

LZW_STEP void ClearTable(LzwRun& s) {
    s.nextSlot = s.firstFree;
    s.codeSize = s.minimumCodeSize + 1;
    s.codeLimit = 1 << s.codeSize;
    s.trusted = true;
    s.needFirst = true;
}

// The first code after a clear: one pixel, no new entry. A code that is not
// yet in the table reads as 0.
LZW_STEP void EmitFirst(LzwRun& s, int code) {
    if (code >= s.nextSlot) code = 0;
    s.needFirst = false;
    s.prev = s.firstByte = code;
    s.line[s.fill++] = static_cast<uint8_t>(code);
}

LZW_STEP int FlushRow(LzwRun& s, int32_t count) {
    s.fill = 0;
    return s.sink(s.context, s.line, count);
}

// The string of `code` (for the code being defined right now: the previous
// string and its own first byte) goes into the row one of two ways.
//
// Direct, while the table is trusted and the string fits the rest of the
// row: the first eight bytes in one store (which may run into the row's
// slack), any bytes after them by walking the prefix chain.
LZW_STEP bool FitsDirect(const LzwRun& s, int code) {
    const int len =
        s.gif->length[code == s.nextSlot ? s.prev : code] + (code == s.nextSlot ? 1 : 0);
    return s.trusted && code <= s.nextSlot && len >= 1 && len <= s.width - s.fill;
}

// Returns the string's first byte.
LZW_STEP int EmitDirect(LzwRun& s, int code) {
    const bool defining = code == s.nextSlot;
    const int source = defining ? s.prev : code;
    const int sourceLength = s.gif->length[source];
    uint8_t* const out = s.line + s.fill;
    const uint64_t head = s.gif->head[source];
    std::memcpy(out, &head, sizeof head);
    if (sourceLength > 8) {
        int k = source;
        for (uint8_t* p = out + sourceLength - 1; p >= out + 8; --p) {
            *p = s.gif->suffix[k];
            k = s.gif->prefix[k];
        }
    }
    if (defining) out[sourceLength] = static_cast<uint8_t>(s.firstByte);
    s.fill += sourceLength + (defining ? 1 : 0);
    return static_cast<uint8_t>(head);
}

// Through the stack: everything else. The walk is bounded by the stack, so a
// prefix chain that loops (possible after bad codes) ends the decoding; the
// string may run over several rows. Returns the string's first byte, or a
// negative result that ends the decoding.
LZW_STEP int EmitThroughStack(LzwRun& s, int code) {
    uint8_t* sp = s.gif->stack + kGifStackBytes;
    int k = code;
    if (code >= s.nextSlot) {
        if (code > s.nextSlot) {
            ++s.badCodes;
            s.trusted = false;
        }
        *--sp = static_cast<uint8_t>(s.firstByte);
        k = s.prev;
    }
    while (k >= s.firstFree && sp != s.gif->stack) {
        *--sp = s.gif->suffix[k];
        k = s.gif->prefix[k];
    }
    if (sp == s.gif->stack) return kLzwChainTooLong;
    *--sp = static_cast<uint8_t>(k);
    int32_t n = static_cast<int32_t>(s.gif->stack + kGifStackBytes - sp);
    for (;;) {
        const int32_t take = n < s.width - s.fill ? n : s.width - s.fill;
        std::memcpy(s.line + s.fill, sp, static_cast<size_t>(take));
        s.fill += take;
        sp += take;
        n -= take;
        if (n == 0) return k;
        const int r = FlushRow(s, s.width);
        if (r < 0) return r;
    }
}

// Enters prev's string plus `root` as the next code, and widens the codes
// when the slots of the current width are used up. A full table stays as it
// is until the next clear code.
LZW_STEP void AddEntry(LzwRun& s, int code, int root) {
    if (s.nextSlot < s.codeLimit) {
        const int slot = s.nextSlot;
        const int prevLength = s.gif->length[s.prev];
        s.gif->suffix[slot] = static_cast<uint8_t>(root);
        s.gif->prefix[slot] = static_cast<uint16_t>(s.prev);
        s.gif->length[slot] = static_cast<uint16_t>(prevLength + 1);
        s.gif->head[slot] = prevLength < 8
                                ? s.gif->head[s.prev] | static_cast<uint64_t>(root & 0xFF)
                                                            << (8 * prevLength)
                                : s.gif->head[s.prev];
        s.nextSlot = slot + 1;
        s.firstByte = root;
        s.prev = code;
    }
    if (s.nextSlot >= s.codeLimit && s.codeSize < kLzwMaxCodeBits) {
        s.codeLimit <<= 1;
        ++s.codeSize;
    }
}

} // namespace

int DecodeLzw(LoadBuffers& lb, GifState& gif, int32_t width, GifRowSink sink, void* context) {
    gif.badCodes = 0;
    const int minimumCodeSize = ReadByte(lb);
    if (minimumCodeSize < 2 || minimumCodeSize > 9) return kLzwBadMinimumCodeSize;
    InitLzwState(gif, minimumCodeSize);
    if (width <= 0) return 0;
    // One row of indices, one spare byte as ever, and slack for the
    // eight-byte string stores near the end of the row. Decided: without
    // this buffer nothing can be decoded, so the decode fails ("no memory
    // for a row") rather than reporting an unwritten raster as a picture.
    uint8_t* line = new (std::nothrow) uint8_t[static_cast<size_t>(width) + 1 + kRowSlack]();
    if (!line) return kLzwNoLineBuffer;

    LzwRun s{};
    s.gif = &gif;
    s.minimumCodeSize = minimumCodeSize;
    s.clearCode = gif.clearCode;
    s.endCode = gif.endCode;
    s.firstFree = gif.firstFreeCode;
    s.codeSize = gif.codeSize;
    s.codeLimit = gif.codeLimit;
    s.nextSlot = gif.nextSlot;
    s.needFirst = true;
    s.trusted = true;
    s.line = line;
    s.width = width;
    s.sink = sink;
    s.context = context;

    int result = 0;
    for (;;) {
        const int code = NextCode(s, lb);
        if (code == s.endCode) {
            if (s.fill > 0) {
                const int r = FlushRow(s, s.fill);
                if (r < 0) result = r;
            }
            break;
        }
        if (code == s.clearCode) {
            ClearTable(s);
            continue;
        }
        if (s.needFirst) {
            EmitFirst(s, code);
        } else {
            int root;
            if (FitsDirect(s, code)) {
                root = EmitDirect(s, code);
            } else {
                root = EmitThroughStack(s, code);
                if (root < 0) {
                    result = root;
                    break;
                }
            }
            AddEntry(s, code, root);
        }
        if (s.fill == s.width) {
            const int r = FlushRow(s, s.width);
            if (r < 0) {
                result = r;
                break;
            }
        }
    }

    gif.codeSize = static_cast<uint16_t>(s.codeSize);
    gif.codeLimit = static_cast<uint16_t>(s.codeLimit);
    gif.nextSlot = static_cast<uint16_t>(s.nextSlot);
    gif.bitBuffer = s.bitBuffer;
    gif.bitsLeft = static_cast<uint16_t>(s.bits);
    gif.bytesLeft = static_cast<int16_t>(s.exhausted ? -1 : s.blockLength - s.blockPos);
    gif.subBlockPos = static_cast<uint8_t>(s.blockPos);
    gif.badCodes = s.badCodes;
    delete[] line;
    return result;
}

int DecodeGifLoaded(LoadBuffers& lb, GifState& gif) {
    ClearDecodeDamage();
    SeekInput(lb, 0, 0);
    uint8_t header[kHeaderBytes] = {};
    ReadBytes(lb, header, kHeaderBytes);
    if (std::memcmp(header, "GIF8", 4) != 0) return DecodeFail("not a GIF file");
    const int screenWidth = Le16(header + 6);
    const int screenHeight = Le16(header + 8);
    const int flags = header[10];

    gif.colourTableRead = 0;
    gif.colourCount = 1 << ((flags & 7) + 1);
    if (flags & kColourTableFlag) ReadColourTable(lb, gif);

    ImageDescriptor image{};
    if (!FindFittingImage(lb, gif, screenWidth, screenHeight, image)) return 0;
    return DecodeImage(lb, gif, image);
}

int DecodeGifFile(LoadBuffers& lb, GifState& gif, const char* path) {
    if (!LoadWholeFile(lb, path)) return 0;
    return DecodeGifLoaded(lb, gif);
}
