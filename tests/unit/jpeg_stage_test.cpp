// JPEG decoder, stage by stage: inverse DCT, colour, Huffman lookups, the bit
// reader, sequential blocks with their end-position repair and restarts, and
// the progressive procedures. Streams are built in code (jpeg_builder.h).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"
#include "tests/unit/jpeg_builder.h"

namespace {

OwnedLoadBuffers& SharedBuffers() {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers;
    return *owned;
}

class JpegStage : public ::testing::Test {
  protected:
    LoadBuffers& lb = SharedBuffers().buffers;
    JpegDecoder* d = static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes));
    ~JpegStage() override {
        FreeAllWork(*d);
        std::free(d);
    }
    // The entry's steps up to the first scan's start: SOI, header, layout.
    bool StartFrame(const std::vector<uint8_t>& bytes) {
        if (!LoadMemory(lb, bytes.data(), bytes.size())) return false;
        ResetDecoder(*d, lb);
        if (!PadInput(*d) || !FindSoi(*d)) return false;
        int frame = ReadHeaderMarkers(*d);
        if (frame == 0xC2)
            d->progressive = 1;
        else if (frame != 0xC0 && frame != 0xC1)
            return false;
        return ParseFrameHeader(*d) && ClassifyLayout(*d);
    }
    bool StartSequential(const std::vector<uint8_t>& bytes) {
        return StartFrame(bytes) && StartScan(*d) == kScanReady;
    }
    bool RunProgressive(const std::vector<uint8_t>& bytes) {
        return StartFrame(bytes) && DecodeAllScans(*d);
    }
    const int16_t* Block(int i) const { return d->blockStore + 64 * i; }
    // Line `line` of one MCU of `samples` (a layout `kind`, `width` pixels
    // wide, of `blocks` blocks) through the raster writer: its raster row.
    const uint8_t* WriteLine(int kind, int width, int blocks, uint8_t* samples, int line) {
        d->buffers = &lb;
        d->layoutKind = kind;
        d->width = width;
        d->height = line + 1;
        d->frameMcusPerRow = 1;
        d->frameBlocksPerMcu = blocks;
        d->sampleBuffer = samples;
        BuildColourTables(*d);
        EXPECT_NE(SetUpRaster(lb, width, line + 1, 24), nullptr);
        EXPECT_TRUE(WriteMcuRowToRaster(*d, 0, line + 1));
        return RasterRow(lb, 0);
    }
    // Coefficient at zig-zag position k of a block.
    int Zz(const int16_t* block, int k) const { return block[kZag[k]]; }
    // Points the byte readers at raw bytes (already padded by the caller when needed).
    void LoadRaw(const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(LoadMemory(lb, bytes.data(), bytes.size()));
        ResetDecoder(*d, lb);
    }
};

// ---- inverse DCT ----

TEST_F(JpegStage, IdctDcOnlyBlocksAreFlat) {
    struct Case {
        int dc, sample;
    } cases[] = {{0, 128}, {8, 129}, {-1024, 0}, {1016, 255}, {-8, 127}, {4, 129}, {3, 128}};
    for (const Case& c : cases) {
        int16_t work[64] = {};
        work[0] = static_cast<int16_t>(c.dc);
        uint8_t out[64];
        InverseDct(work, out);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(out[i], c.sample) << "DC " << c.dc << " sample " << i;
    }
}

TEST_F(JpegStage, IdctOfARealBlockGivesItsExactSamples) {
    // Dequantised coefficients of a photo block (natural order) and the
    // samples of the 13-bit integer transform, rows first; a float IDCT
    // rounds to the same values for this block.
    const int16_t coefficients[64] = {-416, -33, -60, 32,  48,  -40, 0, 0, //
                                      0,    -24, -56, 19,  26,  0,   0, 0, //
                                      -42,  13,  80,  -24, -40, 0,   0, 0, //
                                      -42,  17,  44,  -29, 0,   0,   0, 0, //
                                      18,   0,   0,   0,   0,   0,   0, 0};
    const uint8_t expected[64] = {62, 65, 57, 60,  72,  63,  60, 82, //
                                  57, 55, 56, 82,  108, 87,  62, 71, //
                                  58, 50, 60, 111, 148, 114, 67, 65, //
                                  65, 55, 66, 120, 155, 114, 68, 70, //
                                  70, 63, 67, 101, 122, 88,  60, 78, //
                                  71, 71, 64, 70,  80,  62,  56, 81, //
                                  75, 82, 67, 54,  63,  65,  66, 83, //
                                  81, 94, 75, 54,  68,  81,  81, 87};
    int16_t work[64];
    std::memcpy(work, coefficients, sizeof work);
    uint8_t out[64];
    InverseDct(work, out);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(out[i], expected[i]) << "sample " << i;
}

TEST_F(JpegStage, IdctClampsAndSurvivesExtremeCoefficients) {
    // Corrupt data can dequantise to any 16-bit value: the transform must
    // wrap like 32-bit arithmetic and still clamp every sample.
    int16_t work[64];
    for (int i = 0; i < 64; ++i)
        work[i] = static_cast<int16_t>(i & 1 ? -32768 : 32767);
    uint8_t out[64];
    InverseDct(work, out);
    SUCCEED();
}

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
TEST_F(JpegStage, SimdIdctMatchesThePlainTransformOnAnyBlock) {
    // Random blocks from sparse to dense, small to full 16-bit range, where
    // intermediate sums overflow and wrap.
    uint32_t seed = 2463534242u;
    auto next = [&seed]() {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };
    int16_t previous[64] = {};
    uint8_t previousSamples[64];
    std::memset(previousSamples, 128, 64); // the empty block's samples
    for (int round = 0; round < 20000; ++round) {
        int16_t block[64] = {};
        int density = 1 + round % 64;
        int range = round % 3 == 0 ? 65536 : (round % 3 == 1 ? 2048 : 256);
        for (int i = 0; i < density; ++i)
            block[next() % 64] =
                static_cast<int16_t>(static_cast<int32_t>(next() % range) - range / 2);
        int16_t work[64];
        std::memcpy(work, block, sizeof work);
        uint8_t plain[64], simd[64];
        InverseDctScalar(work, plain);
        InverseDctSimd(block, simd);
        ASSERT_EQ(std::memcmp(plain, simd, 64), 0) << "round " << round;
        if (JpegSimdLevelInUse() >= kJpegSimdAvx2) {
            // Two blocks at once: this one beside the previous round's.
            uint8_t pair[2][64];
            InverseDctPairAvx2(previous, pair[0], block, pair[1]);
            ASSERT_EQ(std::memcmp(pair[0], previousSamples, 64), 0) << "round " << round;
            ASSERT_EQ(std::memcmp(pair[1], plain, 64), 0) << "round " << round;
            std::memcpy(previous, block, sizeof previous);
            std::memcpy(previousSamples, plain, 64);
        }
    }
}
#endif

// ---- colour ----

TEST_F(JpegStage, ColourTablesAreCentredAtHalfSteps) {
    BuildColourTables(*d);
    EXPECT_EQ(d->crToRed[0], -179);
    EXPECT_EQ(d->cbToBlue[0], -226);
    EXPECT_EQ(d->crToGreen[0], 5967255);
    EXPECT_EQ(d->cbToGreen[0], 2908403);
    EXPECT_EQ(d->crToRed[127], -1);
    EXPECT_EQ(d->crToRed[128], 1);
    EXPECT_EQ(d->cbToBlue[128], 1);
    EXPECT_EQ(d->crToGreen[128], -23401);
    EXPECT_EQ(d->cbToGreen[128], 21491);
    EXPECT_EQ(d->crToRed[255], 179);
    EXPECT_EQ(d->cbToBlue[255], 226);
    EXPECT_EQ(d->cbToGreen[255], -2842867);
    EXPECT_EQ(d->crToRed[64], -89);
}

TEST_F(JpegStage, RasterWriterTurnsYCbCrIntoBgr) {
    uint8_t samples[192] = {};
    struct Case {
        int y, cb, cr, r, g, b;
    } cases[] = {{128, 128, 128, 129, 127, 129},
                 {128, 127, 127, 127, 129, 127},
                 {0, 128, 128, 1, 0, 1},
                 {100, 255, 0, 0, 147, 255},
                 {200, 30, 220, 255, 167, 27}};
    for (int x = 0; x < 5; ++x) {
        samples[8 * 3 + x] = static_cast<uint8_t>(cases[x].y); // block row 3
        samples[64 + 8 * 3 + x] = static_cast<uint8_t>(cases[x].cb);
        samples[128 + 8 * 3 + x] = static_cast<uint8_t>(cases[x].cr);
    }
    const uint8_t* row = WriteLine(kLayoutH1V1, 8, 3, samples, 3);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(row[3 * x + 0], cases[x].b) << "pixel " << x;
        EXPECT_EQ(row[3 * x + 1], cases[x].g) << "pixel " << x;
        EXPECT_EQ(row[3 * x + 2], cases[x].r) << "pixel " << x;
    }
}

TEST_F(JpegStage, RasterWriterReplicatesH2V2ChromaAndPicksTheRightYBlock) {
    uint8_t samples[384];
    for (int i = 0; i < 384; ++i)
        samples[i] = static_cast<uint8_t>(i < 256 ? i : 128);
    // Lines 10 and 11: bottom blocks, block rows 2 and 3. Neutral chroma
    // adds +1 to red: red = Y + 1 where Y < 255.
    for (int line : {10, 11}) {
        const uint8_t* row = WriteLine(kLayoutH2V2, 16, 6, samples, line);
        for (int x = 0; x < 16; ++x) {
            int block = x < 8 ? 128 : 192;
            EXPECT_EQ(row[3 * x + 2], samples[block + 8 * (line - 8) + (x & 7)] + 1) << x;
        }
    }
}

// ---- Huffman lookups ----

TEST_F(JpegStage, LookupOfTheStandardLuminanceDcTable) {
    const uint8_t counts[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    uint8_t values[256] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    std::vector<int32_t> t(kHuffLookupEntries, 12345);
    ASSERT_TRUE(BuildHuffLookupTable(counts, values, t.data()));
    // code 00 -> 0, 010 -> 1, ..., 110 -> 5, 1110 -> 6, ..., 11111110 -> 10, 111111110 -> 11
    const int firstOf[] = {0, 64, 96, 128, 160, 192, 224, 240, 248, 252, 254};
    for (int sym = 0; sym <= 10; ++sym) {
        int end = sym == 10 ? 255 : firstOf[sym + 1];
        for (int i = firstOf[sym]; i < end; ++i)
            ASSERT_EQ(t[i], sym) << "entry " << i;
    }
    EXPECT_EQ(t[255], -1);                   // the 9-bit code goes through the tree's first node
    EXPECT_EQ(t[kHuffTreeBase + 1 - 0], 11); // node -1, bit 0
    EXPECT_EQ(t[kHuffTreeBase + 1 + 1], 0);  // bit 1: no code
    const uint8_t* lengths = reinterpret_cast<const uint8_t*>(t.data() + 256);
    const int expectLen[12] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9};
    for (int s = 0; s < 12; ++s)
        EXPECT_EQ(lengths[s], expectLen[s]) << "symbol " << s;
    EXPECT_EQ(lengths[12], 0);
    for (int i = kHuffTreeBase + 3; i < kHuffLookupEntries; ++i)
        ASSERT_EQ(t[i], 0);
}

// The standard luminance AC table (162 codes up to 16 bits).
const uint8_t kLumAcCounts[17] = {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t kLumAcValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

TEST_F(JpegStage, LookupOfTheStandardLuminanceAcTableDecodesLongCodesThroughTheTree) {
    // A stream of codes: 00 (0x01), 1010 (EOB), 11111111001 (ZRL, 11 bits),
    // 1111111111111110 (0xFA, 16 bits), 1111000 (0x06, the first 7-bit code).
    JpegBuilder b;
    b.Bits(0b00, 2).Bits(0b1010, 4).Bits(0b11111111001, 11).Bits(0b1111111111111110, 16);
    b.Bits(0b1111000, 7).Flush();
    LoadRaw(b.bytes);
    ASSERT_TRUE(PadInput(*d));
    uint8_t counts[17], values[256] = {};
    std::memcpy(counts, kLumAcCounts, 17);
    std::memcpy(values, kLumAcValues, sizeof kLumAcValues);
    std::vector<int32_t> t(kHuffLookupEntries);
    ASSERT_TRUE(BuildHuffLookupTable(counts, values, t.data()));
    EXPECT_LT(t[255], 0); // every code longer than 8 bits starts with 11111111
    StartBitReader(*d);
    EXPECT_EQ(DecodeHuffman(*d, t.data()), 0x01);
    EXPECT_EQ(DecodeHuffman(*d, t.data()), 0x00);
    EXPECT_EQ(DecodeHuffman(*d, t.data()), 0xF0);
    EXPECT_EQ(DecodeHuffman(*d, t.data()), 0xFA);
    EXPECT_EQ(DecodeHuffman(*d, t.data()), 0x06);
}

TEST_F(JpegStage, LookupOfASingleOneBitCode) {
    uint8_t counts[17] = {0, 1};
    uint8_t values[256] = {7};
    std::vector<int32_t> t(kHuffLookupEntries, 99);
    ASSERT_TRUE(BuildHuffLookupTable(counts, values, t.data()));
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(t[i], 7);
    for (int i = 128; i < 256; ++i)
        ASSERT_EQ(t[i], 0);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(t.data() + 256)[7], 1);
}

TEST_F(JpegStage, LookupRefusesCountsThatOverSubscribeTheCodeSpace) {
    uint8_t values[256] = {};
    uint8_t threeOneBit[17] = {0, 3};
    uint8_t fullThenMore[17] = {0, 2, 0, 0, 0, 0, 0, 0, 0, 1}; // 2 one-bit codes fill the space
    uint8_t nineBitOverflow[17] = {0, 0, 0, 0, 0, 0, 0, 0, 255, 255};
    std::vector<int32_t> t(kHuffLookupEntries);
    EXPECT_FALSE(BuildHuffLookupTable(threeOneBit, values, t.data()));
    EXPECT_FALSE(BuildHuffLookupTable(fullThenMore, values, t.data()));
    EXPECT_FALSE(BuildHuffLookupTable(nineBitOverflow, values, t.data()));
    uint8_t exactlyFull[17] = {0, 2};
    EXPECT_TRUE(BuildHuffLookupTable(exactlyFull, values, t.data()));
}

TEST_F(JpegStage, BitPatternWithoutACodeDecodesAsSymbolZero) {
    // Table: one code "0" for symbol 5 and "10" for symbol 0; "11" is no code.
    uint8_t counts[17] = {0, 1, 1};
    uint8_t values[256] = {5, 0};
    std::vector<int32_t> t(kHuffLookupEntries);
    ASSERT_TRUE(BuildHuffLookupTable(counts, values, t.data()));
    LoadRaw({0xC3, 0x00, 0x00, 0x00}); // 11 0 00011 ...
    ASSERT_TRUE(PadInput(*d));
    StartBitReader(*d);
    EXPECT_EQ(DecodeHuffman(*d, t.data()), 0); // consumes symbol 0's length: 2 bits
    EXPECT_EQ(DecodeHuffman(*d, t.data()), 5); // the next bit is 0
    EXPECT_EQ(GetBits(*d, 5), 3u);             // and nothing more was taken
}

// ---- bit reader ----

TEST_F(JpegStage, FetchByteSkipsStuffedZeroButDeliversOtherMarkersAsData) {
    LoadRaw({0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD9, 0x56});
    EXPECT_EQ(FetchByte(*d), 0x12);
    EXPECT_EQ(FetchByte(*d), 0xFF);
    EXPECT_EQ(lb.readPosition, 3); // the 00 went with it
    EXPECT_EQ(FetchByte(*d), 0x34);
    EXPECT_EQ(FetchByte(*d), 0xFF);
    EXPECT_EQ(FetchByte(*d), 0xD9);
    EXPECT_EQ(FetchByte(*d), 0x56);
    EXPECT_EQ(FetchByte(*d), 0); // past the data: 0, no move
    EXPECT_EQ(lb.readPosition, 7);
}

TEST_F(JpegStage, GetBitsTakesBitsMsbFirstThenThePaddingsMarkers) {
    LoadRaw({0xA5, 0x0F, 0xFF, 0x00, 0x81, 0x7E, 0x3C});
    ASSERT_TRUE(PadInput(*d));
    StartBitReader(*d);
    EXPECT_EQ(GetBits(*d, 4), 0xAu);
    EXPECT_EQ(GetBits(*d, 12), 0x50Fu);
    EXPECT_EQ(GetBits(*d, 16), 0xFF81u); // FF 00 is one byte FF
    EXPECT_EQ(GetBits(*d, 8), 0x7Eu);
    EXPECT_EQ(GetBits(*d, 1), 0u);
    EXPECT_EQ(GetBits(*d, 7), 0x3Cu);
    EXPECT_EQ(GetBits(*d, 16), 0xFFD9u); // then the padding's EOI markers
    for (int i = 0; i < 40; ++i)
        GetBits(*d, 16);
    EXPECT_EQ(GetBits(*d, 16), 0u); // and past them, zero bits
}

TEST_F(JpegStage, RewindReturnsToTheFirstByteNoBitWasTakenFrom) {
    LoadRaw({0xA5, 0x0F, 0xFF, 0x00, 0x81, 0x7E, 0x3C});
    ASSERT_TRUE(PadInput(*d));
    StartBitReader(*d);
    GetBits(*d, 12); // bytes 0 and 1 touched
    RewindBitReader(*d);
    EXPECT_EQ(lb.readPosition, 2);
    StartBitReader(*d);
    GetBits(*d, 1); // byte 2 (FF, stuffed) touched: it goes back whole
    RewindBitReader(*d);
    EXPECT_EQ(lb.readPosition, 4);
    StartBitReader(*d); // nothing taken: back to where the reader started
    RewindBitReader(*d);
    EXPECT_EQ(lb.readPosition, 4);
    RewindBitReader(*d); // a second rewind without fetching steps back 4 bytes
    EXPECT_EQ(lb.readPosition, 0);
}

TEST_F(JpegStage, ExtendGivesSignedValuesOfEachCategory) {
    struct Case {
        int s;
        uint32_t bits;
        int value;
    } cases[] = {{1, 0, -1},     {1, 1, 1},        {2, 0, -3},      {2, 1, -2},
                 {2, 2, 2},      {2, 3, 3},        {3, 2, -5},      {3, 5, 5},
                 {11, 0, -2047}, {11, 1024, 1024}, {15, 0, -32767}, {15, 0x7FFF, 32767}};
    for (const Case& c : cases) {
        JpegBuilder b;
        b.Bits(c.bits, c.s).Bits(5, 3).Flush();
        LoadRaw(b.bytes);
        ASSERT_TRUE(PadInput(*d));
        StartBitReader(*d);
        EXPECT_EQ(Extend(*d, c.s), c.value) << "s " << c.s << " bits " << c.bits;
        EXPECT_EQ(GetBits(*d, 3), 5u) << "s " << c.s; // exactly s bits were taken
    }
    LoadRaw({0xB7});
    StartBitReader(*d);
    EXPECT_EQ(Extend(*d, 0), 0);
    EXPECT_EQ(GetBits(*d, 8), 0xB7u); // nothing read
}

// ---- sequential blocks ----

std::vector<uint8_t> GreyHeader(JpegBuilder& b, int width, int height, int restart = 0) {
    b.Soi().Dqt(0, 1).Sof(0xC0, width, height, {{1, 1, 1, 0}}).EasyTables();
    if (restart) b.Dri(restart);
    b.Sos({{1, 0, 0}});
    return b.bytes;
}

TEST_F(JpegStage, DcPredictorsAccumulatePerComponent) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC0, 16, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}).EasyTables();
    b.Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    b.Dc(10).Eob().Dc(3).Eob().Dc(-4).Eob(); // MCU 0: Y, Cb, Cr
    b.Dc(1).Eob().Dc(1).Eob().Dc(1).Eob();   // MCU 1: each +1 on its own predictor
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    const int expected[6] = {10, 3, -4, 11, 4, -3};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Block(i)[0], expected[i]) << "block " << i;
}

TEST_F(JpegStage, EndPositionRepairClearsOnlyWhatTheOldBlockLeft) {
    JpegBuilder b;
    GreyHeader(b, 8, 24);
    b.Dc(0); // row 0: zig-zag positions 1..39 = 1, end 40
    for (int k = 1; k < 40; ++k)
        b.Ac(0, 1);
    b.Eob();
    b.Dc(0); // row 1: positions 1..4 = 2, end 5: positions 5..39 must be cleared
    for (int k = 1; k < 5; ++k)
        b.Ac(0, 2);
    b.Eob();
    b.Dc(0); // row 2: 1..9 = 3, a run of 3 zeros (10..12) then 13 = 5
    for (int k = 1; k < 10; ++k)
        b.Ac(0, 3);
    b.Ac(3, 5).Eob();
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(d->blockEnd[0], 40);
    for (int k = 1; k < 40; ++k)
        ASSERT_EQ(Zz(Block(0), k), 1) << k;
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(d->blockEnd[0], 5);
    for (int k = 1; k < 5; ++k)
        EXPECT_EQ(Zz(Block(0), k), 2) << k;
    for (int k = 5; k < 64; ++k)
        ASSERT_EQ(Zz(Block(0), k), 0) << k;
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(d->blockEnd[0], 14);
    for (int k = 1; k < 10; ++k)
        EXPECT_EQ(Zz(Block(0), k), 3) << k;
    for (int k = 10; k < 13; ++k)
        EXPECT_EQ(Zz(Block(0), k), 0) << k;
    EXPECT_EQ(Zz(Block(0), 13), 5);
    for (int k = 14; k < 64; ++k)
        ASSERT_EQ(Zz(Block(0), k), 0) << k;
}

TEST_F(JpegStage, QuantisationProductsKeepTheirLow16Bits) {
    JpegBuilder b;
    b.Soi().Dqt(0, 300, 1).Sof(0xC1, 8, 8, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 0, 0}});
    b.Dc(200).Ac(0, -200).Eob().Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], -5536); // 60,000 as 16 bits
    EXPECT_EQ(Zz(Block(0), 1), 5536);
}

TEST_F(JpegStage, RunPastPosition63AbandonsTheRestOfTheMcuRow) {
    JpegBuilder b;
    GreyHeader(b, 16, 16);
    b.Dc(1).Zrl().Zrl().Zrl().Zrl(); // 1 -> 17 -> 33 -> 49, then 49 + 15 > 63
    b.Dc(7).Eob();                   // would be block 1: never read in this row
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 1);
    EXPECT_EQ(Block(1)[0], 0);
    // The next row goes on from the current bit position: Dc(7) becomes block 0.
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 8);
}

TEST_F(JpegStage, RunPastPosition63AbandonsTheRowBeforeTheExtraBits) {
    // Row 0: DC 2, three ZRL (k = 49), then a run of 15 with a coefficient.
    // Its extra bits are not read: row 1 begins with them. The DC code is
    // the 4-bit category, the AC code the 8-bit symbol.
    struct Case {
        int symbol;
        uint32_t extra;
        int bits, rowOneDc;
    } cases[] = {
        // 0101 | 0010 11 (Dc(3)) | EOB: category 5, extra 00101 = -26
        {0xF4, 0b0101, 4, 2 - 26},
        // a code short enough to be decoded with its extra bits in one step:
        // 01 | 0010 11 | EOB: category 4, extra 1011 = 11
        {0xF2, 0b01, 2, 2 + 11},
    };
    for (const Case& c : cases) {
        JpegBuilder b;
        GreyHeader(b, 8, 16);
        b.Dc(2).Zrl().Zrl().Zrl().Bits(static_cast<uint32_t>(c.symbol), 8).Bits(c.extra, c.bits);
        b.Dc(3).Eob().Flush().Eoi();
        ASSERT_TRUE(StartSequential(b.bytes));
        DecodeMcuRowSequential(*d);
        EXPECT_EQ(Block(0)[0], 2);
        DecodeMcuRowSequential(*d);
        EXPECT_EQ(Block(0)[0], c.rowOneDc) << "symbol " << c.symbol;
        FreeAllWork(*d);
    }
}

TEST_F(JpegStage, AbandonedBlockKeepsItsWrittenCoefficientsCleanable) {
    // A block abandoned at position k must not leave coefficients above
    // its recorded end, or later rows would keep them for ever.
    JpegBuilder b;
    GreyHeader(b, 8, 16);
    b.Dc(0).Ac(0, 1).Zrl().Zrl().Zrl();
    b.Bits(0xE3, 8); // 1; 2..49 zero; run 14 from 50 passes 63: no extra bits follow
    b.Dc(0).Eob();   // row 1: an empty block
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    d->blockEnd[0] = 1; // as after a DC-only block
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Zz(Block(0), 1), 1);
    EXPECT_GE(d->blockEnd[0], 2);
    DecodeMcuRowSequential(*d);
    for (int k = 1; k < 64; ++k)
        ASSERT_EQ(Zz(Block(0), k), 0) << k;
}

// Blocks passed over (those of a sampled decode that hold no needed pixel)
// read exactly what stored blocks read. On random data, through AC tables of
// short codes (two symbols per lookup), of long blocks and patterns that are
// no code, and of 8-bit codes only, every MCU row ends at the same bit with
// the same DC predictor, whether it runs to its end or a run past position
// 63 abandons it; a rewind at the end returns to the same byte.
TEST_F(JpegStage, BlocksPassedOverReadWhatStoredBlocksRead) {
    struct Table {
        std::vector<int> counts, values;
    };
    std::vector<int> every;
    for (int v = 0; v < 255; ++v)
        every.push_back(v);
    const Table tables[] = {
        {{0, 1, 2, 3, 4, 4, 3, 3, 0, 0, 0, 1, 0, 0, 0, 1},
         {0x00, 0x01, 0x02, 0x11, 0x03, 0x21, 0xF0, 0x31, 0x41, 0x12, 0x51,
          0x61, 0x22, 0x04, 0xE1, 0xF1, 0xD2, 0xF2, 0x05, 0x13, 0x0A, 0xFA}},
        {{0, 0, 2, 4, 6, 0, 0, 0, 1},
         {0x01, 0x11, 0x21, 0x31, 0xF0, 0x02, 0x41, 0x51, 0x61, 0x71, 0x12, 0xE1, 0x00}},
        {{0, 0, 0, 0, 0, 0, 0, 255}, every},
        // Short codes for the end of block and for long runs: blocks often
        // reach position 63 or 64 exactly, or pass it, with an end of block
        // in the same few bits.
        {{0, 3, 2}, {0x00, 0xF0, 0xE1, 0x01, 0x11}},
    };
    std::vector<int> dcValues;
    for (int v = 0; v < 16; ++v)
        dcValues.push_back(v);
    for (const Table& t : tables) {
        SCOPED_TRACE(t.values.size());
        JpegBuilder b;
        b.Soi().Dqt(0, 1).Sof(0xC0, 8 * 40, 8 * 30, {{1, 1, 1, 0}});
        b.Dht(0x00, {0, 0, 0, 16}, dcValues).Dht(0x10, t.counts, t.values).Sos({{1, 0, 0}});
        uint32_t seed = 12345;
        for (int i = 0; i < 12000; ++i) {
            seed = seed * 1103515245u + 12345u;
            b.Raw({static_cast<int>(seed >> 24)});
            if ((seed >> 24) == 0xFF) b.Raw({0x00});
        }
        b.Eoi();
        // Where a row ends: the bits taken of those fetched (the reader may
        // have fetched more or fewer bytes ahead) and the DC predictor.
        struct State {
            int64_t bitsTaken;
            int32_t pred;
        };
        std::vector<State> stored, passed;
        for (bool skip : {false, true}) {
            ASSERT_TRUE(StartSequential(b.bytes));
            if (skip) { // every block passed over
                d->blockStale = static_cast<uint8_t*>(WorkAlloc(*d, d->blocksPerMcuRow));
                d->needBlock = static_cast<uint8_t*>(WorkAlloc(*d, d->blocksPerMcuRow));
            }
            std::vector<State>& states = skip ? passed : stored;
            for (int row = 0; row < d->mcuRows; ++row) {
                DecodeMcuRowSequential(*d);
                states.push_back({8 * int64_t{d->fetchCount} - d->bitCount, d->dcPred[0]});
            }
            RewindBitReader(*d);
            states.push_back({lb.readPosition, 0});
            FreeAllWork(*d);
        }
        ASSERT_EQ(stored.size(), passed.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            EXPECT_EQ(stored[i].bitsTaken, passed[i].bitsTaken) << "row " << i;
            EXPECT_EQ(stored[i].pred, passed[i].pred) << "row " << i;
        }
        EXPECT_GT(stored.back().bitsTaken, 500) << "the rows read the data (rewound position)";
    }
}

TEST_F(JpegStage, RestartsAreNumberedModuloEightAndResetPredictors) {
    JpegBuilder b;
    GreyHeader(b, 80, 8, 1);
    for (int m = 0; m < 10; ++m) {
        if (m > 0) b.Rst((m - 1) & 7);
        b.Dc(m + 1).Eob();
    }
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    for (int m = 0; m < 10; ++m)
        EXPECT_EQ(Block(m)[0], m + 1) << "MCU " << m;
    EXPECT_EQ(d->expectedRestart, 1); // RST0..RST7, RST0 consumed
}

TEST_F(JpegStage, RestartIntervalOfTwoWithThreeMcusPerRow) {
    JpegBuilder b;
    GreyHeader(b, 24, 16, 2);
    b.Dc(5).Eob().Dc(1).Eob().Rst(0).Dc(7).Eob(); // row 0
    b.Dc(1).Eob().Rst(1).Dc(2).Eob().Dc(1).Eob(); // row 1
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 5);
    EXPECT_EQ(Block(1)[0], 6);
    EXPECT_EQ(Block(2)[0], 7);
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 8);
    EXPECT_EQ(Block(1)[0], 2);
    EXPECT_EQ(Block(2)[0], 3);
}

TEST_F(JpegStage, WrongRestartNumberFreezesTheFollowingRows) {
    JpegBuilder b;
    GreyHeader(b, 24, 24, 2);
    b.Dc(5).Eob().Dc(1).Eob().Rst(1).Dc(7).Eob(); // RST1 where RST0 is due
    b.Dc(1).Eob().Rst(1).Dc(2).Eob().Dc(1).Eob();
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 5);
    EXPECT_EQ(Block(1)[0], 6);
    EXPECT_EQ(Block(2)[0], 0);  // abandoned at the failed restart
    DecodeMcuRowSequential(*d); // begins with another attempt, which meets RST1 again
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 5);
    EXPECT_EQ(Block(1)[0], 6);
    EXPECT_EQ(Block(2)[0], 0);
    EXPECT_EQ(d->restartsLeft, 0);
}

TEST_F(JpegStage, RestartIsFoundWhenTheNextIntervalStartsWithAStuffedByte) {
    // The interval after RST0 begins with FF 00. The reader has fetched it
    // (as one byte) before the restart; giving it back must return to the
    // marker, not to the middle of it.
    JpegBuilder b;
    GreyHeader(b, 16, 8, 1);
    b.Dc(5).Ac(0, 1).Eob();   // 24 bits: the reader refills once
    b.Rst(0).Dc(32767).Eob(); // first byte FF (category 15, then ones)
    b.Flush().Eoi();
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 5);
    EXPECT_EQ(Zz(Block(0), 1), 1);
    EXPECT_EQ(Block(1)[0], 32767);
    EXPECT_EQ(d->expectedRestart, 1);
}

TEST_F(JpegStage, RestartIsFoundWhenTheIntervalEndsWithFewBitsLeftInTheReader) {
    // 16-bit AC codes with 15 extra bits take 31 bits after one top-up, so
    // an interval can end with fewer than 8 bits left in the reader; every
    // fetched byte was used then, and the search for the marker must start
    // right after them (the all-ones values put stuffed FF 00 pairs there).
    std::vector<int> dcValues;
    for (int i = 0; i < 16; ++i)
        dcValues.push_back(i);
    std::vector<int> acCounts(16, 0);
    acCounts[15] = 2; // 0000000000000000 = EOB, 0000000000000001 = run 0, size 15
    for (int category = 0; category < 16; ++category) { // shifts where the top-ups fall
        JpegBuilder b;
        b.Soi().Dqt(0, 1).Sof(0xC0, 16, 8, {{1, 1, 1, 0}});
        b.Dht(0x00, {0, 0, 0, 16}, dcValues).Dht(0x10, acCounts, {0x00, 0x0F}).Dri(1);
        b.Sos({{1, 0, 0}});
        b.Dc((1 << category) - 1);
        for (int k = 1; k < 64; ++k) // a full block ends on a coefficient, not on EOB
            b.Bits(1, 16).Bits(0x7FFF, 15);
        b.Rst(0).Dc(5).Bits(0, 16).Flush().Eoi();
        ASSERT_TRUE(StartSequential(b.bytes));
        DecodeMcuRowSequential(*d);
        EXPECT_EQ(Block(1)[0], 5) << "DC category " << category;
        FreeAllWork(*d);
    }
}

TEST_F(JpegStage, DcCategoryAbove15CountsAsZero) {
    // A DC table whose symbols go up to 16: category 16 would ask for 16
    // bits and index past the extension tables.
    JpegBuilder b;
    std::vector<int> dcValues;
    for (int i = 0; i < 17; ++i)
        dcValues.push_back(i);
    std::vector<int> acValues;
    for (int i = 0; i < 255; ++i)
        acValues.push_back(i);
    b.Soi().Dqt(0, 1).Sof(0xC0, 16, 8, {{1, 1, 1, 0}});
    b.Dht(0x00, {0, 0, 0, 0, 17}, dcValues).Dht(0x10, {0, 0, 0, 0, 0, 0, 0, 255}, acValues);
    b.Sos({{1, 0, 0}});
    b.Bits(16, 5).Eob().Bits(1, 5).Bits(1, 1).Eob().Flush().Eoi(); // cat 16, then cat 1 "+1"
    ASSERT_TRUE(StartSequential(b.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 0);
    EXPECT_EQ(Block(1)[0], 1);
    FreeAllWork(*d);
    // The same rule when the scan takes its DC table from an AC table's slot.
    JpegBuilder c;
    c.Soi().Dqt(0, 1).Sof(0xC0, 16, 8, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 4, 0}});
    c.Bits(0x11, 8).Eob().Bits(0x01, 8).Bits(1, 1).Eob().Flush().Eoi(); // cat 17, cat 1 "+1"
    ASSERT_TRUE(StartSequential(c.bytes));
    DecodeMcuRowSequential(*d);
    EXPECT_EQ(Block(0)[0], 0);
    EXPECT_EQ(Block(1)[0], 1);
}

// ---- progressive procedures ----

TEST_F(JpegStage, DcFirstScalesAndDcRefinementSetsOnlyItsBit) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC2, 24, 8, {{1, 1, 1, 0}}).EasyTables();
    b.Sos({{1, 0, 0}}, 0, 0, 0, 2).Dc(1).Dc(2).Dc(-1).Flush(); // Al 2: 4, 12, 8
    b.Sos({{1, 0, 0}}, 0, 0, 2, 1).Bits(0b101, 3).Flush();     // bit 1 in blocks 0 and 2
    b.Eoi();
    ASSERT_TRUE(RunProgressive(b.bytes));
    const int16_t* dc = d->dcCoef[0].data;
    EXPECT_EQ(dc[0], 4 | 2);
    EXPECT_EQ(dc[1], 12); // 0 bit: unchanged
    EXPECT_EQ(dc[2], 8 | 2);
}

TEST_F(JpegStage, EndOfBandRunSkipsTheFollowingBlocks) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC2, 64, 8, {{1, 1, 1, 0}}).EasyTables();
    b.Sos({{1, 0, 0}}, 1, 63);
    b.Ac(0, 5).Bits(0x20, 8).Bits(0b11,
                                  2); // block 0: one coefficient, then EOB run 2^2 + 3 - 1 = 6
    b.Ac(1, -3).Eob();                // block 7
    b.Flush().Eoi();
    ASSERT_TRUE(RunProgressive(b.bytes));
    const CoefBuffer& ac = d->acCoef[0];
    EXPECT_EQ(ac.data[1], 5);
    for (int blk = 1; blk < 7; ++blk)
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(ac.data[64 * blk + i], 0) << blk;
    EXPECT_EQ(ac.data[64 * 7 + kZag[2]], -3);
    EXPECT_EQ(d->eobRun, 0);
}

TEST_F(JpegStage, AcRefinementCorrectsOnlyCoefficientsWhoseBitIsClear) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC2, 64, 8, {{1, 1, 1, 0}}).EasyTables();
    // First pass at Al 1: block 0 gets +2 at position 1 and -2 at 2.
    b.Sos({{1, 0, 0}}, 1, 63, 0, 1).Ac(0, 1).Ac(0, -1).Eob().Bits(0x20, 8).Bits(0b11, 2).Flush();
    // Refinement: a new +1 at position 3 after correcting positions 1 and 2.
    b.Sos({{1, 0, 0}}, 1, 63, 1, 0);
    b.Bits(0x01, 8).Bits(1, 1).Bits(1, 1).Bits(1, 1).Eob(); // symbol, sign, two correction bits
    b.Bits(0x20, 8).Bits(0b11, 2);                          // EOB run over blocks 1..7
    b.Flush();
    // Again: every bit is already set, so ones change nothing.
    b.Sos({{1, 0, 0}}, 1, 63, 1, 0);
    b.Eob().Bits(0b111, 3).Bits(0x20, 8).Bits(0b11, 2).Flush();
    b.Eoi();
    ASSERT_TRUE(RunProgressive(b.bytes));
    const int16_t* blk = d->acCoef[0].data;
    EXPECT_EQ(blk[kZag[1]], 3);
    EXPECT_EQ(blk[kZag[2]], -3); // a negative coefficient grows by -2^Al
    EXPECT_EQ(blk[kZag[3]], 1);
    EXPECT_EQ(d->eobRun, 0);
}

TEST_F(JpegStage, AcRefinementWithSizeTwoAbandonsTheBlockOnly) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC2, 16, 8, {{1, 1, 1, 0}}).EasyTables();
    b.Sos({{1, 0, 0}}, 1, 63, 1, 0);
    b.Bits(0x02, 8);                  // block 0: size 2 is no refinement symbol
    b.Bits(0x01, 8).Bits(0, 1).Eob(); // block 1: -1 at position 1
    b.Flush().Eoi();
    ASSERT_TRUE(RunProgressive(b.bytes));
    const int16_t* ac = d->acCoef[0].data;
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(ac[i], 0);
    EXPECT_EQ(ac[64 + kZag[1]], -1);
}

TEST_F(JpegStage, ProgressiveScanParametersAreChecked) {
    struct Case {
        int ns, ss, se, ah, al;
        bool ok;
    } cases[] = {{2, 1, 63, 0, 0, false}, {1, 0, 5, 0, 0, false}, {1, 1, 63, 2, 0, false},
                 {1, 1, 63, 2, 1, true},  {1, 5, 4, 0, 0, false}, {1, 1, 64, 0, 0, false},
                 {2, 0, 0, 0, 13, true}};
    for (const Case& c : cases) {
        JpegBuilder b;
        b.Soi()
            .Dqt(0, 1)
            .Sof(0xC2, 16, 16, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}})
            .EasyTables();
        if (c.ns == 1)
            b.Sos({{1, 0, 0}}, c.ss, c.se, c.ah, c.al);
        else
            b.Sos({{1, 0, 0}, {2, 0, 0}}, c.ss, c.se, c.ah, c.al);
        b.Eob().Flush().Eoi();
        EXPECT_EQ(RunProgressive(b.bytes), c.ok) << "Ns " << c.ns << " Ss " << c.ss << " Se "
                                                 << c.se << " Ah " << c.ah << " Al " << c.al;
        FreeAllWork(*d);
    }
}

TEST_F(JpegStage, DhtBetweenProgressiveScansChangesOnlyTheNextScan) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC2, 16, 8, {{1, 1, 1, 0}}).EasyTables();
    b.Sos({{1, 0, 0}}, 0, 0).Dc(3).Dc(0).Flush();
    // New DC table 0: one-bit code "0" for category 1 (and "10" for 2).
    b.Dht(0x00, {1, 1}, {1, 2});
    b.Sos({{1, 0, 0}}, 0, 0).Bits(0b01, 2).Bits(0b00, 2).Flush(); // +1 then -1 (overwrites)
    b.Eoi();
    ASSERT_TRUE(RunProgressive(b.bytes));
    EXPECT_EQ(d->dcCoef[0].data[0], 1);
    EXPECT_EQ(d->dcCoef[0].data[1], 0);
}

// ---- work memory ----

TEST_F(JpegStage, WorkAllocFailsWhenEverySlotIsTaken) {
    ResetDecoder(*d, lb);
    for (int i = 0; i < kJpegWorkSlots; ++i)
        ASSERT_NE(WorkAlloc(*d, 16), nullptr);
    EXPECT_EQ(WorkAlloc(*d, 16), nullptr);
    void* p = d->workSlots[0];
    EXPECT_NE(p, nullptr);
    FreeAllWork(*d);
    for (int i = 0; i < kJpegWorkSlots; ++i)
        EXPECT_EQ(d->workSlots[i], nullptr);
    void* q = WorkAlloc(*d, 24);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(q) % 8, 0u);
    EXPECT_EQ(static_cast<uint8_t*>(q)[23], 0); // zero-filled
}

TEST_F(JpegStage, DecodeFailsCleanlyWhenWorkMemoryRunsOut) {
    // A DQT segment allocates one block per table; with the slots used up the
    // parser must fail instead of writing through a missing block.
    JpegBuilder b;
    b.Soi().Dqt(0, 1);
    LoadRaw(b.bytes);
    ASSERT_TRUE(PadInput(*d));
    ASSERT_TRUE(FindSoi(*d));
    for (int i = 0; i < kJpegWorkSlots; ++i)
        ASSERT_NE(WorkAlloc(*d, 8), nullptr);
    ASSERT_EQ(NextMarker(*d), 0xDB);
    EXPECT_FALSE(ParseQuantTables(*d));
    EXPECT_STREQ(LastDecodeFailure(), "out of memory");
}

} // namespace
