// JPEG decoder work record and the decoder's internal operations.
//
// The decoder is split along its seams:
//   jpeg_markers.cpp      stream, marker search, segment parsers, layout check
//   jpeg_scan_setup.cpp   scan geometry, table checks, Huffman lookups, scan sequence
//   jpeg_entropy.cpp      bit reader, Huffman and sequential decoding, restarts
//   jpeg_progressive.cpp  the progressive procedures
//                         (jpeg_bit_reader.h: the reader both keep in locals)
//   jpeg_reconstruct.cpp  progressive assembly, vector code level, sampled decodes
//   jpeg_idct.cpp         inverse DCT
//   jpeg_colour.cpp       colour tables, MCU rows into the raster
//                         (jpeg_reconstruct_internal.h: what these three share)
//   jpeg_decoder.cpp      the entries DecodeJpegFile / DecodeJpegLoaded
//
// JpegDecoder is a plain record: a zero-filled block of kJpegDecoderBytes is a
// valid idle decoder (the program allocates it with GlobalAlloc, zero-filled).
// Every decode zeroes it again, so nothing carries over between files.
#pragma once

#include <cstdint>
#include <type_traits>

#include "codecs/load_buffers.h"
#include "codecs/picture_decoders.h"

// Frames are at most 8192 x 8192: every per-row quantity below stays small.
constexpr int32_t kJpegMaxDimension = 8192;
// A frame MCU row never holds more blocks than this (8192 / 16 * 6 = 3072 in
// practice; the record keeps room for twice that).
constexpr int32_t kJpegMaxBlocksPerMcuRow = 6144;
// The most work memory one decode takes. The largest part is a progressive
// picture's coefficients, 130 bytes a block (DC and AC): at most 122,317,698
// bytes, for 2465 x 8113 pixels at 4:4:4 (20 million pixels, the raster's
// limit, in the most blocks); the MCU-row buffers, tables and sampling lists
// add less than 2 MB. WorkAlloc refuses anything beyond it, so a program can
// count on it when it decides how many decoders fit into its address space.
constexpr int64_t kJpegMostWorkBytes = int64_t{128} << 20;
// T.81 allows at most 10 blocks in one interleaved MCU.
constexpr int32_t kJpegMaxBlocksPerMcu = 10;
constexpr int32_t kJpegWorkSlots = 100;
// A Huffman lookup: 256 first-level entries, 256 code-length bytes (64
// entries), and a tree of up to 256 nodes (512 entries) for longer codes.
constexpr int32_t kHuffLookupEntries = 832;
constexpr int32_t kHuffTreeBase = 320;
constexpr int32_t kHuffMaxNodes = 256;
// Fast decode tables built beside each lookup (same results, fewer steps):
// indexed by the next kHuffFastBits bits of the stream.
constexpr int32_t kHuffFastBits = 10;
// The table of AC symbols passed over is one bit wider: fewer of them take
// the slow path, which costs most where nothing else is done.
constexpr int32_t kHuffSkipBits = 11;

// Component layouts the decoder accepts (first component's sampling, chroma 1 x 1).
//   0 grey          MCU 8 x 8    blocks: Y
//   1 4:4:4 (1x1)   MCU 8 x 8    blocks: Y, Cb, Cr
//   2 4:2:2 (2x1)   MCU 16 x 8   blocks: Y left, Y right, Cb, Cr
//   3 4:4:0 (1x2)   MCU 8 x 16   blocks: Y top, Y bottom, Cb, Cr
//   4 4:2:0 (2x2)   MCU 16 x 16  blocks: Y top left, top right, bottom left, bottom right, Cb, Cr
// Example: a 36 x 28 picture of kind 4 has ceil(36/16) = 3 MCUs per row and
// ceil(28/16) = 2 MCU rows; one MCU row holds 3 x 6 = 18 blocks, block store
// 18 x 128 bytes, sample buffer 18 x 64 bytes; each raster row takes 36 of
// the 48 pixels an MCU row spans.
enum LayoutKind : int32_t {
    kLayoutGray = 0,
    kLayoutH1V1 = 1,
    kLayoutH2V1 = 2,
    kLayoutH1V2 = 3,
    kLayoutH2V2 = 4,
};

struct JpegComponent {
    int32_t h, v, tq, id;
    int32_t widthInBlocks, heightInBlocks; // set per scan
};

// Progressive coefficients of one component: a DC buffer (one coefficient
// per block) or an AC buffer (64 per block, natural order, entry 0 unused).
struct CoefBuffer {
    int16_t* data;
    int32_t widthInBlocks, heightInBlocks;
    int32_t blockWidth, blockHeight;
    int32_t bytesPerBlock;
};

// One entry of a fast decode table. len = 0 means "take the slow path".
// In fastAc a short code whose extra bits also fit in the index is decoded
// whole: `value` is the extended coefficient (a DC table's: the extended
// difference) and len counts both.
struct HuffFast {
    int16_t value;  // extended value (full) or symbol
    uint8_t symbol; // the decoded symbol
    uint8_t len;    // bits consumed; 0 = slow path
};
static_assert(sizeof(HuffFast) == 4, "HuffFast packs into 4 bytes");

// An AC symbol read only to be passed over (a block nothing is
// reconstructed from): its code's length, the code and extra bits together,
// and how far it moves the position in the block (run + 1, 16 for a run of
// 16 zeros, 0 for the end of the block).
struct HuffSkip {
    uint8_t codeLength; // 0 = slow path
    uint8_t totalLength;
    uint8_t advance;
    uint8_t unused;
};

// AC symbols passed over in one step: the next kHuffPairBits bits hold
// every one's code and extra bits, but for the last one's extra bits, which
// may lie beyond. `advance` is the sum of their moves of the position, with
// kHuffPairEnd added when an end of block (its code) follows them in the
// window; a code too long for the window or no code at all first give
// kHuffPairStop, which sends the symbol to HuffSkip's rule.
constexpr int32_t kHuffPairBits = 13;
constexpr uint8_t kHuffPairEnd = 128;
constexpr uint8_t kHuffPairStop = 255;
struct HuffSkipPair {
    uint8_t totalLength; // codes and extra bits of them all
    uint8_t advance;
};

// Everything a Huffman lookup block holds (one work block per slot; the
// skip tables only in the AC slots, built by EnsureSkipTables when a decode
// first passes blocks over).
struct HuffLookupBlock {
    int32_t lookup[kHuffLookupEntries];
    HuffFast fast[1 << kHuffFastBits];   // symbol and code length only
    HuffFast fastAc[1 << kHuffFastBits]; // code and extra bits together
    HuffSkip skip[1 << kHuffSkipBits];
    HuffSkipPair skipPair[1 << kHuffPairBits];
    int32_t skipReady; // skip and skipPair hold this table's entries
};

struct JpegDecoder {
    // frame
    int32_t width, height;
    int32_t progressive;
    // tables
    uint8_t* huffCounts[8]; // 17 bytes: [0] = 0, [1..16] codes per length
    uint8_t* huffValues[8]; // 256 bytes: symbols in code order
    uint16_t* quant[4];     // 64 entries, zig-zag order
    // frame
    int32_t layoutKind;
    int32_t componentCount;
    JpegComponent comp[4];
    // scan
    int32_t scanCount;
    int32_t scanComp[4];
    int32_t dcSlot[4], acSlot[4];
    int32_t ss, se, al, ah;
    // geometry
    int32_t mcuWidth, mcuHeight;
    int32_t blocksPerMcu;
    int32_t blocksPerMcuRow;
    int32_t mcusPerRow, mcuRows;
    int32_t mcuBlockList[kJpegMaxBlocksPerMcu];
    // memory
    void* workSlots[kJpegWorkSlots];
    int64_t workBytes; // taken by this decode so far (at most kJpegMostWorkBytes)
    // tables
    HuffLookupBlock* huffLookup[8];
    // progressive
    CoefBuffer dcCoef[4], acCoef[4];
    int32_t eobRun;
    int32_t blockRowCounter[4];
    // bit reader: the stream's bits, most significant first, fetched a byte
    // at a time (a stuffed FF 00 is one fetched byte)
    uint64_t bitBuffer; // valid bits left-aligned
    int32_t bitCount;   // number of valid bits
    // where each of the last 16 fetched bytes began in the file: a rewind
    // returns to the first fetched byte none of whose bits was used
    uint32_t fetchCount;
    int32_t fetchStart[16];
    // After a rewind the reader holds 32 zero bits, counted as 4 fetched
    // bytes that sit just before wherever the next real fetch happens.
    int32_t virtualPending;
    // restart
    int32_t restartInterval, restartsLeft, expectedRestart;
    // geometry from the layout check
    int32_t frameMcusPerRow, frameBlocksPerMcu, frameMcuRows;
    // scan
    int32_t dcPred[4];
    // blocks: block i of an MCU row is blockStore + 64 i
    int16_t* blockStore;
    int32_t blockEnd[kJpegMaxBlocksPerMcuRow];
    uint8_t* sampleBuffer; // 64 bytes per block
    // colour
    int32_t crToRed[256], cbToBlue[256], crToGreen[256], cbToGreen[256];
    // output
    int16_t idctWork[64];
    // the buffers of the decode in progress (input, raster, stop flag)
    LoadBuffers* buffers;
    // A sampled decode (all null in a full one): the needed picture columns
    // and rows (rows top first), their count and list, whether each 8-column
    // group holds a needed column, and the current MCU row's needed blocks.
    uint8_t* needColumn;
    uint8_t* needRow;
    int32_t neededColumnCount;
    int32_t* neededColumns;
    uint8_t* needColumnGroup;
    uint8_t* needBlock;
    // A packed raster (SampleMasks::packed): where each needed column (in
    // the order of neededColumns) lies in a packed row; null: unpacked.
    int32_t* packedOffset;
    // A sampled sequential decode entropy-decodes the blocks no needed pixel
    // lies in without storing them (null when it stores every block). Such a
    // slot of the block store no longer holds what a full decode would have
    // there; that matters only when a damaged row leaves a needed block
    // undecoded or cut short, its old coefficients showing through. Then
    // skipMismatch is set and the file is decoded again storing every block.
    uint8_t* blockStale;
    int32_t skipMismatch;
    // The eighth-size picture (SampleMasks::eighth): each block's DC alone,
    // one raster pixel per 8 x 8 block; a progressive file's AC scans are
    // passed over unread.
    int32_t dcOnly;
    // the vector code level of this decode (JpegSimdLevelInUse at its start)
    int32_t simd;
    // What the data was like, for the damage note at the end of a decode:
    // the file's own bytes end at dataEnd (the padding follows); cutScan is
    // 1 + the number of the scan (from 0) that ran out of data, 0 while none
    // did; restartMissing: a restart marker was not found inside the data.
    int32_t dataEnd;
    int32_t scansStarted;
    int32_t cutScan;
    int32_t restartMissing;
};
static_assert(std::is_trivial<JpegDecoder>::value, "JpegDecoder is a plain record");

// ---- results of the header marker loop and scan start ----
enum ScanStart { kScanFailed = 0, kScanReady = 1, kNoMoreScans = 2 };

// ---- entry (jpeg_decoder.cpp) ----
// Decodes the file already in the FileBuffer (data length bytes from 0);
// with masks, only the pixels they name (DecodeJpegSampled).
int DecodeJpegLoaded(LoadBuffers& lb, JpegDecoder& d, const SampleMasks* masks = nullptr);

// ---- stream, markers and tables (jpeg_markers.cpp) ----
void* WorkAlloc(JpegDecoder& d, int64_t n);
void FreeAllWork(JpegDecoder& d);
void ResetDecoder(JpegDecoder& d, LoadBuffers& lb);
bool PadInput(JpegDecoder& d);
bool FindSoi(JpegDecoder& d);
int NextMarker(JpegDecoder& d);        // marker code, or 0 when none
int ReadHeaderMarkers(JpegDecoder& d); // frame/SOI/EOI/SOS code, or 0 on failure
bool ParseFrameHeader(JpegDecoder& d);
bool ParseHuffmanTables(JpegDecoder& d);
bool ParseQuantTables(JpegDecoder& d);
bool ParseRestartInterval(JpegDecoder& d);
bool SkipSegment(JpegDecoder& d);
// Moves past a scan's entropy-coded data unread (its restart markers and
// stuffed zeros are part of it), to the marker that follows.
void SkipScanData(JpegDecoder& d);
bool ParseScanHeader(JpegDecoder& d);
bool ClassifyLayout(JpegDecoder& d);

// ---- scan set-up and Huffman lookups (jpeg_scan_setup.cpp) ----
// Builds the 832-entry lookup of one code; false (nothing beyond the table
// written) when the counts over-subscribe the code space or the tree would
// need more than 256 nodes.
bool BuildHuffLookupTable(const uint8_t* counts, const uint8_t* values, int32_t* lookup);
bool BuildHuffLookup(JpegDecoder& d, int slot);
void EnsureSkipTables(HuffLookupBlock& t);
bool ComputeScanGeometry(JpegDecoder& d);
bool PrepareScanTables(JpegDecoder& d);
ScanStart StartScan(JpegDecoder& d);
bool DecodeAllScans(JpegDecoder& d);

// ---- entropy decoding (jpeg_entropy.cpp, jpeg_progressive.cpp) ----
extern const uint8_t kZag[64 + 16]; // zig-zag -> natural; 16 guard entries of 63
void StartBitReader(JpegDecoder& d);
int FetchByte(JpegDecoder& d);
uint32_t GetBits(JpegDecoder& d, int n);
void RewindBitReader(JpegDecoder& d);
int DecodeHuffman(JpegDecoder& d, const int32_t* lookup);
int32_t Extend(JpegDecoder& d, int s);
void DecodeMcuRowSequential(JpegDecoder& d);
bool ProcessRestart(JpegDecoder& d);

// ---- damage (jpeg_decoder.cpp): what the data was like, for the note ----
// Called where a scan's data ends: remembers the scan when its reader used
// bits from past the file's own bytes (the data ended early).
void NoteScanEnd(JpegDecoder& d);
// A restart that cannot be made: where the search ended in the padding, the
// data ran out; anywhere else a marker is missing inside the data. False.
bool NoteRestartMissing(JpegDecoder& d);
int16_t* CoefAt(CoefBuffer& b, int32_t x, int32_t y);
bool MakeCoefBuffer(JpegDecoder& d, CoefBuffer& b, int32_t widthInBlocks, int32_t heightInBlocks,
                    int32_t blockSide);
enum ProgressiveProcedure { kDcFirst, kDcRefine, kAcFirst, kAcRefine };
void DecodeScanProgressive(JpegDecoder& d, ProgressiveProcedure procedure);
void DecodeDcFirst(JpegDecoder& d, int c, int32_t x, int32_t y);
void DecodeDcRefine(JpegDecoder& d, int c, int32_t x, int32_t y);
void DecodeAcFirst(JpegDecoder& d, int c, int32_t x, int32_t y);
void DecodeAcRefine(JpegDecoder& d, int c, int32_t x, int32_t y);

// ---- where the blocks of an MCU row lie ----
// An interleaved MCU holds h x v blocks of each component it names, left to
// right, then down; a one-component scan has one block per MCU. The walk
// visits the blocks in scan order (mcuBlockList) and gives each one's
// column and row in its component's block grid; `top` holds each
// component's first block row of the current MCU row.
struct McuBlockWalk {
    int32_t x[4] = {0, 0, 0, 0};
    int32_t dx = 0, dy = 0;
    int32_t Column(int c) const { return x[c] + dx; }
    int32_t Row(const int32_t* top, int c) const { return top[c] + dy; }
    // Past component c's block just visited.
    void Step(const JpegDecoder& d, int c) {
        if (d.scanCount == 1) {
            x[c] += 1;
        } else if (++dx >= d.comp[c].h) {
            dx = 0;
            if (++dy >= d.comp[c].v) {
                dy = 0;
                x[c] += d.comp[c].h;
            }
        }
    }
};
// Moves `top` down to the next MCU row of the current scan.
inline void NextBlockRow(const JpegDecoder& d, int32_t* top) {
    if (d.scanCount == 1) {
        top[d.scanComp[0]] += 1;
    } else {
        for (int i = 0; i < d.scanCount; ++i)
            top[d.scanComp[i]] += d.comp[d.scanComp[i]].v;
    }
}

// ---- reconstruction and colour (jpeg_reconstruct.cpp, jpeg_idct.cpp, jpeg_colour.cpp) ----
void AssembleMcuRowProgressive(JpegDecoder& d);
void InverseDctMcuRow(JpegDecoder& d);
void InverseDct(int16_t* work, uint8_t* samples);
// The plain transform (work block changed in place) and the SSE2 one; both
// give the same samples for every input. PIXMORA_JPEG_NO_SIMD builds the
// plain code paths only (to check that they agree).
void InverseDctScalar(int16_t* work, uint8_t* samples);
void InverseDctSimd(const int16_t* coefficients, uint8_t* samples);
// Vector code levels. The AVX2 paths (entropy decoding with BMI2 shifts,
// two blocks per transform, packed rows into the raster) are built for x86
// Linux, where the compiler keeps 32-byte vectors safely on the stack and
// the program is tested, and used when the CPU has AVX2 and BMI2; they give
// the same bytes as the SSE2 and plain ones.
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD) && defined(__GNUC__) && defined(__linux__)
#define PIXMORA_JPEG_AVX2 1
#define PIXMORA_AVX2 __attribute__((target("avx2,bmi2")))
#endif
enum JpegSimdLevel : int32_t { kJpegSimdPlain = 0, kJpegSimdSse2 = 1, kJpegSimdAvx2 = 2 };
// The widest level this build and this CPU can run, at most the limit set
// (tests lower it to compare the paths on the same files).
int32_t JpegSimdLevelInUse();
void SetJpegSimdLimit(int32_t level);
// Two blocks at once with AVX2: only where JpegSimdLevelInUse() says so
// (builds without the AVX2 code transform them one after the other).
void InverseDctPairAvx2(const int16_t* first, uint8_t* firstSamples, const int16_t* second,
                        uint8_t* secondSamples);
void BuildColourTables(JpegDecoder& d);
// Decodes nothing: converts lines 0..rows-1 of the current MCU row (already
// through the inverse DCT) into picture rows firstRow.. (raster rows
// height-1-firstRow..) as blue, green, red. False when the stop flag was seen.
bool WriteMcuRowToRaster(JpegDecoder& d, int32_t firstRow, int32_t rows);
// A sampled decode's set-up, once the raster is there: the masks in the
// decoder's terms. False (the decode then reconstructs everything) when
// work memory runs out.
bool PrepareSampling(JpegDecoder& d, const SampleMasks& masks);
// Marks the blocks of the coming MCU row (picture rows firstRow.., `rows` of
// them) that hold a needed pixel; false when none does. Always true in a
// full decode.
bool MarkNeededBlocks(JpegDecoder& d, int32_t firstRow, int32_t rows);
// WriteMcuRowToRaster for a sampled decode: the needed pixels only.
bool WriteSampledRows(JpegDecoder& d, int32_t firstRow, int32_t rows);
// A DC-only decode's MCU row `mcuRow` (coefficient 0 of each store slot,
// dequantised) into the eighth-size raster: each block the colour of its
// flat transform, chroma replicated as in the full decode. False when the
// stop flag was seen.
bool WriteEighthRow(JpegDecoder& d, int32_t mcuRow);
// The one sample the inverse DCT gives a block whose only coefficient is its
// dequantised DC.
inline uint8_t FlatSample(int16_t dc) {
    const int32_t rowValue =
        static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(dc) << 2));
    const int32_t v = ((rowValue + 16) >> 5) + 128;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}
inline int Clamp255(int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline bool JpegStop(const JpegDecoder& d) {
    return StopRequested(*d.buffers);
}
