// JPEG decoder as a whole: segments and layouts that catch real faults,
// truncation, the public corpus against its reference decodes, the golden
// checksum manifest, and progressive copies that must decode identically.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "fit/stretch.h"
#include "codecs/decode_failure.h"
#include "codecs/exif_orientation.h"
#include "fit/fit_options.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/load_picture.h"
#include "tests/unit/jpeg_builder.h"
#include "tests/unit/test_support.h"

namespace {

OwnedLoadBuffers& SharedBuffers() {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers;
    return *owned;
}

class JpegDecode : public ::testing::Test {
  protected:
    LoadBuffers& lb = SharedBuffers().buffers;
    JpegDecoder* d = static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes));
    ~JpegDecode() override { std::free(d); }

    int Decode(const std::vector<uint8_t>& bytes) {
        lb.raster.header = BitmapInfoHeader{};
        if (!LoadMemory(lb, bytes.data(), bytes.size())) return 0;
        return DecodeJpegLoaded(lb, *d);
    }
    int DecodePath(const std::string& path) {
        lb.raster.header = BitmapInfoHeader{};
        return DecodeJpegFile(lb, *d, path.c_str());
    }
    int Width() const { return lb.raster.header.biWidth; }
    int Height() const { return lb.raster.header.biHeight; }
    // Picture row y (0 = top), pixel x, channel 0..2 as red, green, blue.
    int Rgb(int x, int y, int channel) {
        return RasterRow(lb, Height() - 1 - y)[3 * x + 2 - channel];
    }
    // FNV-1a over the pixel bytes (row padding excluded: it is never written).
    uint64_t PixelHash() {
        uint64_t h = kFnv1a64Basis;
        for (int r = 0; r < Height(); ++r)
            h = Fnv1a64(RasterRow(lb, r), 3 * static_cast<size_t>(Width()), h);
        return h;
    }
};

// A valid grey baseline picture whose blocks are all flat (DC only).
JpegBuilder& FlatGrey(JpegBuilder& b, int width, int height, int dcDiff = 0) {
    b.Soi().Dqt(0, 1).Sof(0xC0, width, height, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 0, 0}});
    int blocks = ((width + 7) / 8) * ((height + 7) / 8);
    for (int i = 0; i < blocks; ++i)
        b.Dc(i == 0 ? dcDiff : 0).Eob();
    return b.Flush().Eoi();
}

// A colour picture of the given first-component sampling with flat blocks.
JpegBuilder& FlatColour(JpegBuilder& b, int width, int height, int h, int v, int marker = 0xC0) {
    b.Soi().Dqt(0, 1).Sof(marker, width, height, {{1, h, v, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
    b.EasyTables().Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    int mcus = ((width + 8 * h - 1) / (8 * h)) * ((height + 8 * v - 1) / (8 * v));
    for (int i = 0; i < mcus * (h * v + 2); ++i)
        b.Dc(0).Eob();
    return b.Flush().Eoi();
}

// ---- stream and markers ----

TEST_F(JpegDecode, SoiSearchAcceptsUpTo511BytesOfJunk) {
    JpegBuilder good;
    FlatGrey(good, 8, 8);
    for (int junk : {0, 1, 300, 511}) {
        std::vector<uint8_t> bytes(junk, 0x20);
        bytes.insert(bytes.end(), good.bytes.begin(), good.bytes.end());
        EXPECT_TRUE(Decode(bytes)) << junk << " bytes of junk: " << LastDecodeFailure();
    }
    for (int junk : {512, 600}) {
        std::vector<uint8_t> bytes(junk, 0x20);
        bytes.insert(bytes.end(), good.bytes.begin(), good.bytes.end());
        EXPECT_FALSE(Decode(bytes)) << junk;
        EXPECT_STREQ(LastDecodeFailure(), "no SOI marker in the first 513 bytes");
    }
    // Found by searching, an SOI must be followed by FF.
    std::vector<uint8_t> bytes = {0x00, 0xFF, 0xD8, 0x00};
    bytes.insert(bytes.end(), good.bytes.begin() + 2, good.bytes.end());
    EXPECT_FALSE(Decode(bytes));
}

TEST_F(JpegDecode, FillBytesAndStrayZerosBetweenSegmentsArePassedOver) {
    JpegBuilder b;
    b.Soi().Raw({0xFF, 0x00, 0x12}).Dqt(0, 1).Raw({0xFF, 0xFF}); // FF FF FF DB ...
    b.Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 0, 0}}).Dc(0).Eob().Flush().Eoi();
    ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    EXPECT_EQ(Rgb(0, 0, 0), 128);
}

TEST_F(JpegDecode, ApplicationCommentAndDnlSegmentsAreSkippedByLength) {
    JpegBuilder b;
    b.Soi().Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0});
    b.Segment(0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 1});
    b.Segment(0xFE, {'h', 'i', 0xFF, 0xD9}); // an EOI inside a comment is just text
    b.Segment(0xDC, {0, 8});
    b.Dqt(0, 1)
        .Sof(0xC0, 8, 8, {{1, 1, 1, 0}})
        .EasyTables()
        .Sos({{1, 0, 0}})
        .Dc(1)
        .Eob()
        .Flush()
        .Eoi();
    ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    EXPECT_EQ(Rgb(0, 0, 0), 128); // DC 1 rounds to 128
}

TEST_F(JpegDecode, SegmentsThatLieAboutTheirLengthsAreRefused) {
    struct Case {
        std::vector<uint8_t> segment;
        const char* reason;
    } cases[] = {
        {{0xFF, 0xFE, 0x00, 0x00}, "segment length below 2"},
        {{0xFF, 0xE1, 0x7F, 0xFF, 0x00}, "segment runs past the data"},
        {{0xFF, 0xDD, 0x00, 0x05, 0x00, 0x01, 0x00}, "DRI length is not 4"},
        {{0xFF, 0xDB, 0x00, 0x01}, "DQT length below 2"},
        {{0xFF, 0xDB, 0x00, 0x10, 0x04}, "quantisation table number above 3"},
        {{0xFF, 0xC4, 0x00, 0x01}, "DHT length below 2"},
        {{0xFF, 0x01}, "TEM marker in the header"},
        {{0xFF, 0xD3}, "restart marker in the header"},
        {{0xFF, 0xCC, 0x00, 0x02}, "arithmetic coding tables (DAC)"},
        {{0xFF, 0xC8, 0x00, 0x02}, "JPG marker in the header"},
        {{0xFF, 0xD9}, "no frame header before the scan data"},
        {{0xFF, 0xDA, 0x00, 0x02}, "no frame header before the scan data"},
        {{0xFF, 0xD8}, "no frame header before the scan data"},
    };
    for (const Case& c : cases) {
        JpegBuilder b;
        b.Soi();
        b.bytes.insert(b.bytes.end(), c.segment.begin(), c.segment.end());
        JpegBuilder rest;
        FlatGrey(rest, 8, 8);
        b.bytes.insert(b.bytes.end(), rest.bytes.begin() + 2, rest.bytes.end());
        EXPECT_FALSE(Decode(b.bytes)) << c.reason;
        EXPECT_STREQ(LastDecodeFailure(), c.reason);
    }
}

TEST_F(JpegDecode, QuantisationTablesOfBothPrecisionsAndSeveralPerSegment) {
    JpegBuilder b;
    std::vector<uint8_t> two{0x10}; // table 0, 16-bit: all 2
    for (int k = 0; k < 64; ++k) {
        two.push_back(0);
        two.push_back(2);
    }
    two.push_back(0x01); // table 1, 8-bit: all 40
    for (int k = 0; k < 64; ++k)
        two.push_back(40);
    b.Soi().Segment(0xDB, two).Sof(0xC1, 16, 8, {{1, 1, 1, 1}}).EasyTables().Sos({{1, 0, 0}});
    b.Dc(8).Eob().Dc(0).Eob().Flush().Eoi();
    ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    // DC 8 x 40 = 320 -> ((4 * 320 + 16) >> 5) + 128 = 168
    EXPECT_EQ(Rgb(0, 0, 0), 168);
    EXPECT_EQ(Rgb(8, 0, 0), 168);
    // One byte short of the second table.
    two.pop_back();
    JpegBuilder c;
    c.Soi().Segment(0xDB, two).Sof(0xC1, 8, 8, {{1, 1, 1, 1}}).EasyTables().Sos({{1, 0, 0}}).Eoi();
    EXPECT_FALSE(Decode(c.bytes));
    EXPECT_STREQ(LastDecodeFailure(), "DQT segment too short for its tables");
}

TEST_F(JpegDecode, HuffmanTableLimits) {
    std::vector<int> values(256, 1);
    { // 255 codes are accepted (the easy AC table has them)
        JpegBuilder b;
        FlatGrey(b, 8, 8);
        EXPECT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    }
    { // 256 codes are not
        JpegBuilder b;
        b.Soi().Dht(0x10, {0, 0, 0, 0, 0, 0, 0, 0, 256 - 255, 255}, values).Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "Huffman table with more than 255 codes");
    }
    { // over-subscribed code lengths
        JpegBuilder b;
        b.Soi().Dht(0x00, {3}, {0, 1, 2}).Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "invalid Huffman code lengths");
    }
    { // class/id byte 0x0C names slot 12
        JpegBuilder b;
        b.Soi().Dht(0x0C, {1}, {0}).Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "Huffman table slot above 7");
    }
    { // a segment shorter than the tables it announces
        JpegBuilder b;
        b.Soi().Raw({0xFF, 0xC4, 0x00, 0x05, 0x00});
        for (int i = 0; i < 16; ++i)
            b.Raw({0x00});
        b.Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "DHT segment too short for its tables");
    }
}

TEST_F(JpegDecode, DcTableWithIdFiveFillsTheSlotOfAcTableOne) {
    // Only bit 4 of the class/id byte gives the class: 0x05 is "DC table 5",
    // kept in slot 5, which an AC selector of 1 names.
    std::vector<int> dcValues, acValues;
    for (int i = 0; i < 16; ++i)
        dcValues.push_back(i);
    for (int i = 0; i < 255; ++i)
        acValues.push_back(i);
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 0}});
    b.Dht(0x00, {0, 0, 0, 16}, dcValues).Dht(0x05, {0, 0, 0, 0, 0, 0, 0, 255}, acValues);
    b.Sos({{1, 0, 1}}).Dc(0).Ac(0, 50).Eob().Flush().Eoi();
    ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    EXPECT_NE(Rgb(0, 0, 0), Rgb(7, 0, 0)); // the AC coefficient arrived
}

TEST_F(JpegDecode, FrameHeaderLimits) {
    struct Case {
        int width, height;
        const char* reason;
    } cases[] = {{8193, 8, "width outside 1..8192"}, {8, 8193, "height outside 1..8192"},
                 {0, 8, "width outside 1..8192"},    {8, 0, "height outside 1..8192"},
                 {8192, 8192, "picture too large"}, // header fine, raster refused
                 {5001, 4000, "picture too large"}};
    for (const Case& c : cases) {
        JpegBuilder b;
        b.Soi()
            .Dqt(0, 1)
            .Sof(0xC0, c.width, c.height, {{1, 1, 1, 0}})
            .EasyTables()
            .Sos({{1, 0, 0}})
            .Eoi();
        EXPECT_FALSE(Decode(b.bytes)) << c.width << "x" << c.height;
        EXPECT_STREQ(LastDecodeFailure(), c.reason);
    }
    JpegBuilder p; // precision 12
    p.Soi().Segment(0xC0, {12, 0, 8, 0, 8, 1, 1, 0x11, 0}).Eoi();
    EXPECT_FALSE(Decode(p.bytes));
    EXPECT_STREQ(LastDecodeFailure(), "sample precision is not 8 bits");
    JpegBuilder n; // length that does not match Nf
    n.Soi().Segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0}).Eoi();
    EXPECT_FALSE(Decode(n.bytes));
    JpegBuilder five;
    five.Soi()
        .Sof(0xC0, 8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}, {5, 1, 1, 0}})
        .Eoi();
    EXPECT_FALSE(Decode(five.bytes));
    EXPECT_STREQ(LastDecodeFailure(), "more than 4 components");
    for (int marker : {0xC3, 0xC5, 0xC9, 0xCA, 0xCF}) {
        JpegBuilder f;
        f.Soi().Sof(marker, 8, 8, {{1, 1, 1, 0}}).Eoi();
        EXPECT_FALSE(Decode(f.bytes)) << std::hex << marker;
        EXPECT_STREQ(LastDecodeFailure(), "frame type not supported");
    }
}

TEST_F(JpegDecode, AcceptedLayoutsAndTheirMcuGeometry) {
    struct Case {
        int h, v, kind, mcuW, mcuH;
    } cases[] = {{1, 1, kLayoutH1V1, 8, 8},
                 {2, 1, kLayoutH2V1, 16, 8},
                 {1, 2, kLayoutH1V2, 8, 16},
                 {2, 2, kLayoutH2V2, 16, 16}};
    for (const Case& c : cases) {
        JpegBuilder b;
        FlatColour(b, 17, 9, c.h, c.v);
        ASSERT_TRUE(Decode(b.bytes)) << c.h << "x" << c.v << ": " << LastDecodeFailure();
        EXPECT_EQ(d->layoutKind, c.kind);
        EXPECT_EQ(d->mcuWidth, c.mcuW);
        EXPECT_EQ(d->mcuHeight, c.mcuH);
        EXPECT_EQ(Width(), 17);
        EXPECT_EQ(Height(), 9);
        // flat neutral picture: Y = Cb = Cr = 128 everywhere
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 17; ++x) {
                ASSERT_EQ(Rgb(x, y, 0), 129);
                ASSERT_EQ(Rgb(x, y, 1), 127);
                ASSERT_EQ(Rgb(x, y, 2), 129);
            }
    }
    // 4:2:0 at width 17: 2 MCUs of 6 blocks per row.
    JpegBuilder b;
    FlatColour(b, 17, 9, 2, 2);
    ASSERT_TRUE(Decode(b.bytes));
    EXPECT_EQ(d->frameMcusPerRow, 2);
    EXPECT_EQ(d->blocksPerMcu, 6);
    EXPECT_EQ(d->comp[0].widthInBlocks, 3);
    EXPECT_EQ(d->comp[1].widthInBlocks, 2);
}

TEST_F(JpegDecode, RefusedLayouts) {
    struct Case {
        std::vector<JpegBuilder::Comp> comps;
    };
    std::vector<std::vector<JpegBuilder::Comp>> refused = {
        {{1, 4, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}},               // 4:1:1
        {{1, 2, 2, 0}, {2, 2, 1, 0}, {3, 2, 1, 0}},               // chroma 2 x 1
        {{1, 1, 3, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}},               // 1 x 3
        {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}}, // CMYK
        {{1, 1, 1, 0}, {2, 1, 1, 0}},                             // two components
        {{1, 0, 1, 0}},                                           // grey, H = 0
        {{1, 3, 0, 0}},                                           // grey, V = 0
    };
    for (const auto& comps : refused) {
        JpegBuilder b;
        b.Soi().Dqt(0, 1);
        std::vector<uint8_t> p{8, 0, 16, 0, 16, static_cast<uint8_t>(comps.size())};
        for (const auto& c : comps) {
            p.push_back(static_cast<uint8_t>(c.id));
            p.push_back(static_cast<uint8_t>((c.h << 4) | c.v));
            p.push_back(0);
        }
        b.Segment(0xC0, p).EasyTables().Sos({{1, 0, 0}}).Eoi();
        EXPECT_FALSE(Decode(b.bytes))
            << comps.size() << " components, first " << comps[0].h << "x" << comps[0].v;
        EXPECT_STREQ(LastDecodeFailure(), "component layout not supported");
    }
}

TEST_F(JpegDecode, GreyComponentWithSamplingTwoByTwoUsesPlainBlocks) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC0, 16, 24, {{1, 2, 2, 0}}).EasyTables().Sos({{1, 0, 0}});
    for (int i = 0; i < 6; ++i)
        b.Dc(i == 3 ? 64 : 0).Eob(); // 2 x 3 blocks in raster order
    b.Flush().Eoi();
    ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    EXPECT_EQ(d->layoutKind, kLayoutGray);
    EXPECT_EQ(d->mcuWidth, 8);
    EXPECT_EQ(d->comp[0].widthInBlocks, 2);
    EXPECT_EQ(d->comp[0].heightInBlocks, 3);
    EXPECT_EQ(Rgb(0, 8, 0), 128);
    EXPECT_EQ(Rgb(8, 8, 0), 136);  // block (1, 1): DC 64 -> 128 + 8
    EXPECT_EQ(Rgb(8, 16, 0), 136); // predictor carries on
}

TEST_F(JpegDecode, ScanHeaderChecks) {
    { // component id 9 is not in the frame
        JpegBuilder b;
        b.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).EasyTables().Sos({{9, 0, 0}}).Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "scan names a component the frame lacks");
    }
    { // a length that does not match Ns
        JpegBuilder b;
        b.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).EasyTables();
        b.Raw({0xFF, 0xDA, 0x00, 0x09, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x00}).Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "bad scan header");
    }
    { // undefined tables
        JpegBuilder b;
        b.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 1, 0}}).Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "scan uses an undefined DC table");
        JpegBuilder c;
        c.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 0, 12}}).Eoi();
        EXPECT_FALSE(Decode(c.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "scan uses an undefined AC table");
        JpegBuilder q;
        q.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 2}}).EasyTables().Sos({{1, 0, 0}}).Eoi();
        EXPECT_FALSE(Decode(q.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "scan uses an undefined quantisation table");
    }
    { // a sequential file's Ss and Se are ignored
        JpegBuilder b;
        b.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).EasyTables();
        b.Sos({{1, 0, 0}}, 5, 2, 3, 3).Dc(0).Ac(0, 40).Eob().Flush().Eoi();
        ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
        EXPECT_EQ(d->ss, 0);
        EXPECT_EQ(d->se, 63);
    }
    { // no scan at all
        JpegBuilder b;
        b.Soi().Dqt(0, 1).Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).EasyTables().Eoi();
        EXPECT_FALSE(Decode(b.bytes));
        EXPECT_STREQ(LastDecodeFailure(), "no scan in the file");
    }
}

TEST_F(JpegDecode, SequentialFirstScanMustCarryEveryComponentInOrder) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC0, 16, 16, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}).EasyTables();
    b.Sos({{1, 0, 0}}).Eoi();
    EXPECT_FALSE(Decode(b.bytes));
    EXPECT_STREQ(LastDecodeFailure(),
                 "sequential first scan does not carry all components interleaved");
    JpegBuilder c; // all three, but not in frame order
    c.Soi().Dqt(0, 1).Sof(0xC0, 16, 16, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}).EasyTables();
    c.Sos({{2, 0, 0}, {1, 0, 0}, {3, 0, 0}}).Eoi();
    EXPECT_FALSE(Decode(c.bytes));
    JpegBuilder e; // one component named three times: 12 blocks in an MCU
    e.Soi().Dqt(0, 1).Sof(0xC0, 16, 16, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}).EasyTables();
    e.Sos({{1, 0, 0}, {1, 0, 0}, {1, 0, 0}}).Eoi();
    EXPECT_FALSE(Decode(e.bytes));
    EXPECT_STREQ(LastDecodeFailure(), "more than 10 blocks in an MCU");
}

TEST_F(JpegDecode, OnePixelPictureAndRowCropping) {
    JpegBuilder b;
    FlatGrey(b, 1, 1, 80);
    ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    EXPECT_EQ(Width(), 1);
    EXPECT_EQ(Height(), 1);
    EXPECT_EQ(lb.raster.stride, 4);
    EXPECT_EQ(Rgb(0, 0, 0), 138); // ((320 + 16) >> 5) + 128
    EXPECT_EQ(Rgb(0, 0, 1), 138);
    EXPECT_EQ(Rgb(0, 0, 2), 138);
    // 9 rows of a 4:4:0 picture come from one 16-row MCU row.
    JpegBuilder c;
    FlatColour(c, 8, 9, 1, 2);
    ASSERT_TRUE(Decode(c.bytes));
    EXPECT_EQ(Height(), 9);
}

TEST_F(JpegDecode, FirstRowGoesToTheRastersTopRow) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC0, 8, 16, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 0, 0}});
    b.Dc(-256).Eob().Dc(512).Eob().Flush().Eoi(); // top block dark, bottom bright
    ASSERT_TRUE(Decode(b.bytes));
    EXPECT_EQ(RasterRow(lb, 15)[0], 96); // picture row 0
    EXPECT_EQ(RasterRow(lb, 0)[0], 160); // picture row 15
}

TEST_F(JpegDecode, ProgressiveFileWithoutScansIsFlatGrey) {
    JpegBuilder b;
    b.Soi()
        .Dqt(0, 1)
        .Sof(0xC2, 16, 16, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}})
        .EasyTables()
        .Eoi();
    ASSERT_TRUE(Decode(b.bytes)) << LastDecodeFailure();
    EXPECT_EQ(Rgb(5, 5, 0), 129);
    EXPECT_EQ(Rgb(5, 5, 1), 127);
}

// The work memory limit holds for the largest progressive pictures (the
// CLI counts on it for the number of workers that fit), and a lone
// component's sampling factors do not multiply its coefficient memory.
TEST_F(JpegDecode, LargestProgressivePicturesDecodeWithinTheWorkLimit) {
    struct Case {
        int width, height;
        std::vector<JpegBuilder::Comp> comps;
        int64_t most; // work bytes at most
    } cases[] = {
        {2465, 8113, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, kJpegMostWorkBytes},
        {8113, 2465, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, kJpegMostWorkBytes},
        {2465, 8113, {{1, 1, 1, 0}}, 42000000},
        {2465, 8113, {{1, 4, 4, 0}}, 42000000},
        {8113, 2465, {{1, 15, 2, 0}}, 42000000},
    };
    for (const Case& c : cases) {
        JpegBuilder b;
        b.Soi().Dqt(0, 1);
        std::vector<uint8_t> sof{8,
                                 static_cast<uint8_t>(c.height >> 8),
                                 static_cast<uint8_t>(c.height),
                                 static_cast<uint8_t>(c.width >> 8),
                                 static_cast<uint8_t>(c.width),
                                 static_cast<uint8_t>(c.comps.size())};
        for (const JpegBuilder::Comp& k : c.comps)
            sof.insert(sof.end(), {static_cast<uint8_t>(k.id), static_cast<uint8_t>(k.h << 4 | k.v),
                                   static_cast<uint8_t>(k.tq)});
        b.Segment(0xC2, sof).EasyTables().Eoi();
        ASSERT_TRUE(Decode(b.bytes)) << c.width << " x " << c.height << ": "
                                     << LastDecodeFailure();
        EXPECT_EQ(Width(), c.width);
        EXPECT_LE(d->workBytes, c.most) << c.width << " x " << c.height;
    }
}

TEST_F(JpegDecode, TableSegmentFailingBetweenProgressiveScansEndsTheSequence) {
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC2, 8, 8, {{1, 1, 1, 0}}).EasyTables();
    b.Sos({{1, 0, 0}}, 0, 0).Dc(64).Flush();
    b.Raw({0xFF, 0xDB, 0x00, 0x03, 0x09}); // table number 9
    b.Sos({{1, 0, 0}}, 0, 0).Dc(-64).Flush().Eoi();
    ASSERT_TRUE(Decode(b.bytes));
    EXPECT_EQ(Rgb(0, 0, 0), 136); // the first scan's DC only
    EXPECT_STREQ(LastDecodeFailure(), "");
}

TEST_F(JpegDecode, EveryTruncationDecodesOrFailsCleanly) {
    // Cut a small colour file (sequential and progressive, with restarts)
    // at every length: no crash, no hang, no read past the padding.
    JpegBuilder seq;
    seq.Soi()
        .Dqt(0, 1)
        .Sof(0xC0, 32, 16, {{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}})
        .EasyTables()
        .Dri(1);
    seq.Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    for (int m = 0; m < 4; ++m) {
        if (m) seq.Rst(m - 1);
        for (int j = 0; j < 4; ++j)
            seq.Dc(j + m).Ac(0, 3).Ac(2, -7).Eob();
    }
    seq.Flush().Eoi();
    JpegBuilder prog;
    prog.Soi().Dqt(0, 1).Sof(0xC2, 16, 16, {{1, 1, 1, 0}}).EasyTables();
    prog.Sos({{1, 0, 0}}, 0, 0, 0, 1).Dc(4).Dc(-2).Dc(1).Dc(0).Flush();
    prog.Sos({{1, 0, 0}}, 1, 63, 0, 1).Ac(0, 3).Eob().Bits(0x10, 8).Bits(1, 1).Flush();
    prog.Sos({{1, 0, 0}}, 1, 63, 1, 0)
        .Bits(0x01, 8)
        .Bits(1, 1)
        .Bits(1, 1)
        .Eob()
        .Bits(0x10, 8)
        .Bits(0, 1)
        .Flush();
    prog.Eoi();
    for (const JpegBuilder* b : {&seq, &prog}) {
        ASSERT_TRUE(Decode(b->bytes)) << LastDecodeFailure();
        for (size_t n = 0; n < b->bytes.size(); ++n) {
            std::vector<uint8_t> cut(b->bytes.begin(), b->bytes.begin() + n);
            int ok = Decode(cut);
            if (!ok) {
                EXPECT_STRNE(LastDecodeFailure(), "") << "cut at " << n;
            }
            for (int i = 0; i < kJpegWorkSlots; ++i)
                ASSERT_EQ(d->workSlots[i], nullptr);
        }
    }
}

TEST_F(JpegDecode, GarbageAfterTheDataReadsOnIntoThePaddingAndStops) {
    // Scan data that never ends in a marker: the reader runs into the padding
    // and past it; the decode completes with what the bits give.
    JpegBuilder b;
    b.Soi().Dqt(0, 1).Sof(0xC2, 64, 64, {{1, 1, 1, 0}}).EasyTables().Sos({{1, 0, 0}}, 1, 63);
    for (int i = 0; i < 40; ++i)
        b.Raw({0x13});
    EXPECT_TRUE(Decode(b.bytes));
}

TEST_F(JpegDecode, StopFlagBeforeTheRasterFailsAndAfterItSucceeds) {
    JpegBuilder b;
    FlatGrey(b, 64, 64);
    lb.LoaderStopFlag = 1;
    EXPECT_FALSE(Decode(b.bytes));
    lb.LoaderStopFlag = 0;
    EXPECT_TRUE(Decode(b.bytes));
    for (int i = 0; i < kJpegWorkSlots; ++i)
        EXPECT_EQ(d->workSlots[i], nullptr);
}

TEST_F(JpegDecode, FileTooLargeForThePaddingIsRefused) {
    lb.dataLength = kFileBufferSize - kFilePadding + 1;
    lb.readPosition = 0;
    EXPECT_FALSE(DecodeJpegLoaded(lb, *d));
    EXPECT_STREQ(LastDecodeFailure(), "file too large");
    lb.dataLength = 0;
}

// ---- fixtures made with Debian's cjpeg and jpegtran ----

std::string DataDir() {
    return NativePath(std::string(PIXMORA_SOURCE_DIR) + "/tests/data/jpeg");
}

TEST_F(JpegDecode, LosslessProgressiveCopiesDecodeToIdenticalPixels) {
    // Pairs made by tests/data/jpeg/make_fixtures.sh: a baseline file and
    // `jpegtran -progressive` (and a restart variant) of it. Same coefficients,
    // so the same pixels, bit for bit.
    const char* pairs[][2] = {
        {"synth-420.jpg", "synth-420-prog.jpg"}, {"synth-420.jpg", "synth-420-prog-rst.jpg"},
        {"synth-444.jpg", "synth-444-prog.jpg"}, {"synth-422.jpg", "synth-422-prog.jpg"},
        {"synth-440.jpg", "synth-440-prog.jpg"}, {"synth-gray.jpg", "synth-gray-prog.jpg"}};
    for (auto& p : pairs) {
        ASSERT_TRUE(DecodePath(DataDir() + "/" + p[0])) << p[0] << ": " << LastDecodeFailure();
        uint64_t base = PixelHash();
        int w = Width(), h = Height();
        ASSERT_TRUE(DecodePath(DataDir() + "/" + p[1])) << p[1] << ": " << LastDecodeFailure();
        EXPECT_EQ(Width(), w);
        EXPECT_EQ(Height(), h);
        EXPECT_EQ(PixelHash(), base) << p[1];
    }
}

#ifndef _WIN32
TEST_F(JpegDecode, CorpusBaselineFilesAndTheirProgressiveCopiesAgree) {
    if (CorpusDir().empty()) GTEST_SKIP() << "no corpus beside the project";
    if (std::system("command -v jpegtran >/dev/null 2>&1") != 0) GTEST_SKIP() << "jpegtran missing";
    const char* files[] = {"jpeg/libjpeg-turbo/testorig.jpg", "jpeg/derived/seq-444.jpg",
                           "jpeg/derived/seq-422.jpg",        "jpeg/derived/seq-440.jpg",
                           "jpeg/derived/seq-gray.jpg",       "jpeg/wuffs/peacock.default.jpeg",
                           "jpeg/derived/rst-420-1mcu.jpg",   "jpeg/jpeg-js/fillbytes.jpg"};
    std::string scratch = ScratchDir();
    for (const char* f : files) {
        std::string in = CorpusDir() + "/" + f, out = scratch + "/prog.jpg";
        std::string cmd = "jpegtran -progressive -restart 3B -outfile '" + out + "' '" + in + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        ASSERT_TRUE(DecodePath(in)) << f;
        uint64_t base = PixelHash();
        ASSERT_TRUE(DecodePath(out)) << f;
        EXPECT_EQ(PixelHash(), base) << f;
    }
}
#endif

// ---- public corpus ----

struct ManifestRow {
    std::string file, components, expectation, ref;
};

std::vector<ManifestRow> ReadManifest() {
    std::vector<ManifestRow> rows;
    for (const std::vector<std::string>& f : ReadCorpusManifest("jpeg"))
        rows.push_back({f[0], f[5], f[7], f[8]});
    return rows;
}

// Largest per-channel difference accepted against the reference decoder:
// colour 4 levels (chroma centred at 127.5 instead of 128, rows-first IDCT
// rounding, amplified by the chroma factors); measured maximum 4, mean at
// most 0.94. Grey 1 level (IDCT rounding only); measured maximum 1.
constexpr int kMaxColourDiff = 4;
constexpr double kMaxColourMean = 1.0;
constexpr int kMaxGreyDiff = 1;

TEST_F(JpegDecode, CorpusFilesMatchTheirReferencesOrAreRefusedWithAReason) {
    if (CorpusDir().empty()) GTEST_SKIP() << "no corpus beside the project";
    std::vector<ManifestRow> rows = ReadManifest();
    ASSERT_GT(rows.size(), 100u);
    int compared = 0, refused = 0;
    for (const ManifestRow& row : rows) {
        std::string path = CorpusDir() + "/" + row.file;
        int ok = DecodePath(path);
        bool mustFail = row.expectation.rfind("false", 0) == 0 ||
                        row.expectation.find("non-interleaved") != std::string::npos;
        if (mustFail) {
            EXPECT_FALSE(ok) << row.file;
            EXPECT_STRNE(LastDecodeFailure(), "") << row.file;
            ++refused;
            continue;
        }
        ASSERT_TRUE(ok) << row.file << ": " << LastDecodeFailure();
        if (row.ref != "ok" && row.ref != "same") continue; // damaged files: no fair reference
        Ppm ppm;
        ASSERT_TRUE(ReadPpm(path + ".ref.ppm", ppm)) << row.file;
        const int w = ppm.width, h = ppm.height;
        const std::vector<uint8_t>& ref = ppm.rgb;
        ASSERT_EQ(w, Width()) << row.file;
        ASSERT_EQ(h, Height()) << row.file;
        int maxDiff = 0;
        double sum = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    int diff =
                        std::abs(Rgb(x, y, c) - ref[(static_cast<size_t>(y) * w + x) * 3 + c]);
                    maxDiff = std::max(maxDiff, diff);
                    sum += diff;
                }
        bool grey = row.components == "1";
        EXPECT_LE(maxDiff, grey ? kMaxGreyDiff : kMaxColourDiff) << row.file;
        EXPECT_LE(sum / (3.0 * w * h), kMaxColourMean) << row.file;
        ++compared;
    }
    EXPECT_GE(compared, 60);
    EXPECT_GE(refused, 50);
}

// The golden manifest: one line per corpus JPEG, "OK <hash> <file>" or
// "FAIL - <file>". It pins the exact output, so work on speed cannot change
// a pixel unnoticed; it is checked with the widest vector code the machine
// runs and again without AVX2. PIXMORA_UPDATE_GOLDEN=1 rewrites it.
TEST_F(JpegDecode, CorpusDecodesMatchTheGoldenManifest) {
    if (CorpusDir().empty()) GTEST_SKIP() << "no corpus beside the project";
    std::string manifest = DataDir() + "/golden.tsv";
    std::vector<ManifestRow> rows = ReadManifest();
    std::map<std::string, std::string> expected;
    {
        std::ifstream in(manifest);
        std::string status, hash, file;
        while (in >> status >> hash >> file)
            expected[file] = status + " " + hash;
    }
    bool update = std::getenv("PIXMORA_UPDATE_GOLDEN") != nullptr;
    std::string out;
    const int32_t widest = JpegSimdLevelInUse();
    for (int32_t limit : {widest, std::min<int32_t>(widest, kJpegSimdSse2)}) {
        if (limit != widest && (update || widest == limit)) break;
        SetJpegSimdLimit(limit);
        for (const ManifestRow& row : rows) {
            char line[64];
            if (DecodePath(CorpusDir() + "/" + row.file))
                std::snprintf(line, sizeof line, "OK %016llx",
                              static_cast<unsigned long long>(PixelHash()));
            else
                std::snprintf(line, sizeof line, "FAIL -");
            if (limit == widest) out += std::string(line) + " " + row.file + "\n";
            if (!update) {
                EXPECT_EQ(expected[row.file], line) << row.file << " at vector level " << limit;
            }
        }
    }
    SetJpegSimdLimit(kJpegSimdAvx2);
    if (update) {
        std::ofstream o(manifest, std::ios::binary);
        o << out;
    }
}

// Inputs that once broke the decoder (found by fuzz/jpeg_fuzzer.cpp).
TEST_F(JpegDecode, FuzzerFindingsDecodeOrFailCleanly) {
    int seen = 0;
    for (const std::string& path : RegressionFiles("jpeg")) {
        std::vector<uint8_t> bytes = ReadFile(path);
        ASSERT_FALSE(bytes.empty()) << path;
        int ok = Decode(bytes);
        if (ok) {
            EXPECT_EQ(Width(), d->width);
            (void)PixelHash(); // every raster byte is readable
        }
        for (int i = 0; i < kJpegWorkSlots; ++i)
            ASSERT_EQ(d->workSlots[i], nullptr);
        ++seen;
    }
    EXPECT_GE(seen, 1);
}

} // namespace

// ---- sampled decodes ----

void FillEverything(const void*, int32_t width, int32_t height, uint8_t* columns, uint8_t* rows) {
    std::memset(columns, 1, static_cast<size_t>(width));
    std::memset(rows, 1, static_cast<size_t>(height));
}

// ---- the eighth-size picture (a thumbnail's) ----

bool TakeEighth(const void*, int32_t, int32_t) {
    return true;
}
void NoMasks(const void*, int32_t, int32_t, uint8_t*, uint8_t*) {
    ADD_FAILURE() << "masks asked for by a decode that took the eighth-size picture";
}

class JpegEighth : public JpegDecode {
  protected:
    // The picture as red, green, blue per pixel, top row first.
    std::vector<uint8_t> Pixels() {
        std::vector<uint8_t> out;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                for (int c = 0; c < 3; ++c)
                    out.push_back(static_cast<uint8_t>(Rgb(x, y, c)));
        return out;
    }
    int DecodeEighth(const std::vector<uint8_t>& bytes) {
        static const SampleMasks eighth{NoMasks, nullptr, TakeEighth};
        lb.raster.header = BitmapInfoHeader{};
        if (!LoadMemory(lb, bytes.data(), bytes.size())) return 0;
        return DecodeJpegLoaded(lb, *d, &eighth);
    }
};

TEST_F(JpegEighth, EachPixelIsTheFlatColourOfItsBlock) {
    // Blocks that hold their DC alone decode flat, so pixel (x, y) of the
    // eighth-size picture is the full decode's (8x, 8y): in every layout, at
    // sizes that cut the last MCU across and down, with restarts.
    struct Case {
        int h, v, width, height, restart;
    };
    const Case cases[] = {{0, 0, 45, 37, 0}, {1, 1, 45, 37, 0}, {2, 1, 45, 37, 0},
                          {1, 2, 45, 37, 0}, {2, 2, 45, 37, 0}, {2, 2, 33, 17, 2},
                          {2, 2, 1, 1, 0},   {1, 1, 8, 8, 0}};
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.h) + "x" + std::to_string(c.v) + " " +
                                 std::to_string(c.width) + "x" + std::to_string(c.height);
        const bool grey = c.h == 0;
        const int h = grey ? 1 : c.h, v = grey ? 1 : c.v;
        JpegBuilder b;
        b.Soi().Dqt(0, 5);
        if (grey)
            b.Sof(0xC0, c.width, c.height, {{1, 1, 1, 0}}).EasyTables();
        else
            b.Sof(0xC0, c.width, c.height, {{1, h, v, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}).EasyTables();
        if (c.restart) b.Dri(c.restart);
        if (grey)
            b.Sos({{1, 0, 0}});
        else
            b.Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
        const int mcus = ((c.width + 8 * h - 1) / (8 * h)) * ((c.height + 8 * v - 1) / (8 * v));
        const int blocks = grey ? 1 : h * v + 2;
        for (int m = 0; m < mcus; ++m) {
            if (c.restart && m > 0 && m % c.restart == 0) b.Rst((m / c.restart - 1) & 7);
            for (int k = 0; k < blocks; ++k)
                b.Dc(c.restart && m % c.restart == 0 ? (m * 7 + k * 13) % 41 - 20
                                                     : ((m * 5 + k * 11) % 9) - 4)
                    .Eob();
        }
        const std::vector<uint8_t> bytes = b.Flush().Eoi().bytes;
        ASSERT_EQ(Decode(bytes), 1) << what;
        const std::vector<uint8_t> full = Pixels();
        const int fullWidth = Width();
        ASSERT_EQ(DecodeEighth(bytes), 1) << what;
        ASSERT_EQ(Width(), (c.width + 7) / 8) << what;
        ASSERT_EQ(Height(), (c.height + 7) / 8) << what;
        const std::vector<uint8_t> eighth = Pixels();
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(eighth[(y * Width() + x) * 3 + k],
                              full[((8 * y) * fullWidth + 8 * x) * 3 + k])
                        << what << " pixel " << x << ", " << y;
    }
}

TEST_F(JpegEighth, ProgressiveCopiesGiveTheSamePictureAndGreyBlocksTheirMeans) {
    // A progressive copy has the same DC coefficients (its AC scans are
    // passed over unread): the same picture. A grey block's pixel is the
    // mean of its samples in the full decode, but for the transform's
    // rounding and clamping.
    const char* pairs[][2] = {
        {"synth-420.jpg", "synth-420-prog.jpg"}, {"synth-420.jpg", "synth-420-prog-rst.jpg"},
        {"synth-444.jpg", "synth-444-prog.jpg"}, {"synth-422.jpg", "synth-422-prog.jpg"},
        {"synth-440.jpg", "synth-440-prog.jpg"}, {"synth-gray.jpg", "synth-gray-prog.jpg"}};
    for (auto& p : pairs) {
        const std::vector<uint8_t> base = ReadFile(DataDir() + "/" + p[0]);
        ASSERT_EQ(Decode(base), 1) << p[0];
        const std::vector<uint8_t> full = Pixels();
        const int w = Width(), h = Height();
        ASSERT_EQ(DecodeEighth(base), 1) << p[0];
        const std::vector<uint8_t> eighth = Pixels();
        ASSERT_EQ(DecodeEighth(ReadFile(DataDir() + "/" + p[1])), 1) << p[1];
        EXPECT_TRUE(Pixels() == eighth) << p[1];
        if (std::string(p[0]) != "synth-gray.jpg") continue;
        double difference = 0;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x) {
                int sum = 0, n = 0;
                for (int j = 8 * y; j < std::min(h, 8 * y + 8); ++j)
                    for (int i = 8 * x; i < std::min(w, 8 * x + 8); ++i, ++n)
                        sum += full[(j * w + i) * 3];
                difference += std::abs(eighth[(y * Width() + x) * 3] - double(sum) / n);
            }
        EXPECT_LT(difference / (Width() * Height()), 1.0);
    }
}

class JpegSampled : public JpegDecode {
  protected:
    // Decodes `bytes` whole, then again sampled by `masks` over a raster
    // whose needed pixels were changed in between: the sampled decode must
    // give back every needed byte, and the stretch into the frame must not
    // change.
    void ExpectSameNeededPixels(const std::vector<uint8_t>& bytes, const SampleMasks& masks,
                                const std::string& what) {
        const int full = Decode(bytes);
        std::unique_ptr<FrameImage> fitFull(new FrameImage{}), fitSampled(new FrameImage{});
        lb.raster.cursor.address = RasterRow(lb, 0);
        FitToFrame(lb, kFrameSide, kFrameSide, *fitFull);
        const int w = Width(), h = Height();
        std::vector<uint8_t> columns(static_cast<size_t>(w)), rows(static_cast<size_t>(h));
        std::vector<uint8_t> before;
        if (full) {
            masks.fill(masks.context, w, h, columns.data(), rows.data());
            for (int y = 0; y < h; ++y) {
                uint8_t* row = RasterRow(lb, y);
                before.insert(before.end(), row, row + 3 * w);
                for (int x = 0; x < w; ++x)
                    if (rows[h - 1 - y] && columns[x])
                        for (int c = 0; c < 3; ++c)
                            row[3 * x + c] = static_cast<uint8_t>(~row[3 * x + c]);
            }
        }
        lb.raster.header = BitmapInfoHeader{};
        ASSERT_TRUE(LoadMemory(lb, bytes.data(), bytes.size()));
        ASSERT_EQ(DecodeJpegLoaded(lb, *d, &masks), full) << what;
        lb.raster.cursor.address = RasterRow(lb, 0);
        FitToFrame(lb, kFrameSide, kFrameSide, *fitSampled);
        ASSERT_EQ(std::memcmp(fitFull->bytes, fitSampled->bytes, sizeof fitFull->bytes), 0) << what;
        if (!full) return;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (!rows[h - 1 - y] || !columns[x]) continue;
                ASSERT_EQ(std::memcmp(RasterRow(lb, y) + 3 * x,
                                      &before[(static_cast<size_t>(y) * w + x) * 3], 3),
                          0)
                    << what << " pixel " << x << ", raster row " << y;
            }
        }
        // Packed, over a changed raster: SampleSource finds the same samples
        // (the others are no longer there to fit).
        SampleMasks packed = masks;
        packed.packed = true;
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < 3 * w; ++i)
                RasterRow(lb, y)[i] = static_cast<uint8_t>(~RasterRow(lb, y)[i]);
        lb.raster.header = BitmapInfoHeader{};
        ASSERT_TRUE(LoadMemory(lb, bytes.data(), bytes.size()));
        ASSERT_EQ(DecodeJpegLoaded(lb, *d, &packed), full) << what;
        packedDecodes += lb.raster.packedColumn ? 1 : 0;
        lb.raster.cursor.address = RasterRow(lb, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (!rows[h - 1 - y] || !columns[x]) continue;
                const uint8_t* b = &before[(static_cast<size_t>(y) * w + x) * 3];
                ASSERT_EQ(SampleSource(lb, x, y),
                          static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16))
                    << what << " packed pixel " << x << ", raster row " << y;
            }
    }
    int packedDecodes = 0; // decodes that packed the raster
};

TEST_F(JpegSampled, NeededPixelsGetTheFullDecodesBytesInEveryFile) {
    // Corpus (damaged and truncated files included), the fixtures with
    // truncated copies, and odd-sized pictures of every layout with AC
    // coefficients; sampled for the frame, and with every pixel needed (the
    // plain pixel code against the row code).
    static const int kFrameFit[2] = {kFrameSide, kFrameSide};
    const SampleMasks frame{FillStretchMasks, kFrameFit}, everything{FillEverything, nullptr};
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const char* f : {"synth-420.jpg", "synth-444.jpg", "synth-422.jpg", "synth-440.jpg",
                          "synth-gray.jpg", "synth-420-prog-rst.jpg", "synth-440-prog.jpg"}) {
        std::vector<uint8_t> bytes = ReadFile(DataDir() + "/" + f);
        ASSERT_FALSE(bytes.empty()) << f;
        files.emplace_back(
            std::string(f) + " cut",
            std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() * 2 / 3));
        files.emplace_back(f, std::move(bytes));
    }
    for (auto hv :
         {std::make_pair(2, 2), std::make_pair(1, 2), std::make_pair(2, 1), std::make_pair(1, 1)}) {
        JpegBuilder b;
        b.Soi().Dqt(0, 3).Sof(0xC0, 19, 11,
                              {{1, hv.first, hv.second, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
        b.EasyTables().Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
        int mcus = ((19 + 8 * hv.first - 1) / (8 * hv.first)) *
                   ((11 + 8 * hv.second - 1) / (8 * hv.second));
        for (int i = 0; i < mcus * (hv.first * hv.second + 2); ++i)
            b.Dc((i * 37) % 200 - 100).Ac(0, (i * 13) % 60 - 30).Ac(1, (i * 7) % 90 - 45).Eob();
        files.emplace_back("synthetic " + std::to_string(hv.first) + "x" +
                               std::to_string(hv.second),
                           b.Flush().Eoi().bytes);
    }
    static const int kSmall[2] = {8, 6}; // a few samples: the packed raster is much smaller
    const SampleMasks small{FillStretchMasks, kSmall};
    for (auto& f : files) {
        ExpectSameNeededPixels(f.second, frame, f.first);
        ExpectSameNeededPixels(f.second, everything, f.first + " (every pixel)");
        ExpectSameNeededPixels(f.second, small, f.first + " (8 x 6)");
    }
    EXPECT_GE(packedDecodes, static_cast<int>(files.size()) - 2); // the cut files may fail
    if (CorpusDir().empty()) GTEST_SKIP() << "no corpus beside the project";
    int compared = 0;
    for (const ManifestRow& row : ReadManifest()) {
        ExpectSameNeededPixels(ReadFile(CorpusDir() + "/" + row.file), frame, row.file);
        ++compared;
    }
    EXPECT_GT(compared, 100);
}

TEST_F(JpegSampled, RowCutShortShowsTheRowBeforeAlsoWhereItsBlocksWereOnlyRead) {
    // Rows 1, 4, 7, ... end after their first block (zero runs past position
    // 63); the rest of each keeps the row before it, whose blocks a decode
    // needing every other block row and column read without storing.
    JpegBuilder b;
    b.Soi().Dqt(0, 3).Sof(0xC0, 128, 128, {{1, 1, 1, 0}});
    b.EasyTables().Sos({{1, 0, 0}});
    for (int row = 0; row < 16; ++row) {
        if (row % 3 == 1) {
            b.Dc(5).Zrl().Zrl().Zrl().Zrl().Zrl();
            continue;
        }
        for (int x = 0; x < 16; ++x)
            b.Dc((row * 16 + x) % 7 - 3).Ac(0, row + x + 1).Ac(2, x % 2 ? 3 : -2).Eob();
    }
    static const int kFit[2] = {8, 8};
    ExpectSameNeededPixels(b.Flush().Eoi().bytes, SampleMasks{FillStretchMasks, kFit},
                           "rows cut short");
}

TEST_F(JpegSampled, EveryFitModeGetsTheFullDecodesPicture) {
    // DecodeAndFit reconstructs only what a sharp fit reads: over a raster
    // whose every byte was changed after the full decode, each mode (Exif
    // orientation applied or not) fits exactly the full decode's picture.
    std::vector<std::string> paths;
    for (const char* f : {"synth-420.jpg", "synth-444.jpg", "synth-422.jpg", "synth-440.jpg",
                          "synth-gray.jpg", "synth-420-prog-rst.jpg"})
        paths.push_back(DataDir() + "/" + f);
    if (!CorpusDir().empty())
        for (const ManifestRow& row : ReadManifest())
            paths.push_back(CorpusDir() + "/" + row.file);
    DecoderSet set;
    set.buffers = &lb;
    set.jpeg = d;
    std::unique_ptr<FrameImage> full(new FrameImage{}), sampled(new FrameImage{});
    int compared = 0;
    for (const std::string& path : paths) {
        if (PictureKindOf(path.c_str()) != PictureKind::kJpeg) continue;
        ++compared;
        for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside}) {
            for (bool upright : {false, true}) {
                FitOptions options;
                options.mode = mode;
                options.upright = upright;
                lb.raster.header = BitmapInfoHeader{};
                const int ok = DecodePath(path);
                lb.raster.cursor.address = RasterRow(lb, 0);
                const int orientation =
                    ok && upright ? ExifOrientation(lb.fileBuffer, lb.dataLength) : 1;
                FitWithOptions(lb, options, orientation, *full);
                for (int y = 0; ok && y < Height(); ++y)
                    for (int i = 0; i < 3 * Width(); ++i)
                        RasterRow(lb, y)[i] = static_cast<uint8_t>(~RasterRow(lb, y)[i]);
                lb.raster.header = BitmapInfoHeader{};
                const DecodeOutcome outcome = LoadForFrame(set, path.c_str(), options, *sampled);
                ASSERT_EQ(outcome == DecodeOutcome::kComplete, ok == 1) << path;
                if (!HasOwnRaster(outcome)) continue; // nothing of the file's own to compare
                ASSERT_EQ(std::memcmp(full->bytes, sampled->bytes, sizeof full->bytes), 0)
                    << path << " mode " << static_cast<int>(mode) << " upright " << upright;
            }
        }
    }
    EXPECT_GE(compared, 6);
}
