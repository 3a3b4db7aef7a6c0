// The GIF decoder: its LZW stage on its own, then whole files built in
// memory, then the public corpus against its reference decodes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/decode_failure.h"
#include "codecs/gif_decoder.h"
#include "tests/unit/gif_builder.h"
#include "tests/unit/test_support.h"

using giftest::Bytes;
using giftest::GifFile;
using giftest::LzwEncoder;

namespace {

// One set of the big buffers for the whole suite (they are 60 MB each).
LoadBuffers& Buffers() {
    static OwnedLoadBuffers owned;
    return owned.buffers;
}

// Zero-filled like the program's own block.
GifState& State() {
    static GifState* gif = static_cast<GifState*>(std::calloc(1, kGifStateBytes));
    return *gif;
}

int Decode(const Bytes& file) {
    ClearDecodeFailure();
    LoadBuffers& lb = Buffers();
    if (!LoadMemory(lb, file.data(), file.size())) return -1;
    return DecodeGifLoaded(lb, State());
}

std::string Reason() {
    return LastDecodeFailure();
}

// Palette index of picture pixel (x, y), y = 0 at the top.
int IndexAt(LoadBuffers& lb, int x, int y) {
    const uint8_t* row = RasterRow(lb, RasterHeight(lb) - 1 - y);
    switch (RasterBits(lb)) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4: return (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 15;
    default: return row[x];
    }
}

// The raster's palette indices, top row first.
Bytes Indices() {
    LoadBuffers& lb = Buffers();
    Bytes out;
    for (int y = 0; y < RasterHeight(lb); ++y)
        for (int x = 0; x < RasterWidth(lb); ++x)
            out.push_back(static_cast<uint8_t>(IndexAt(lb, x, y)));
    return out;
}

// 0xRRGGBB of a palette entry.
uint32_t PaletteRgb(int index) {
    const uint8_t* e = RasterPalette(Buffers()) + 4 * index;
    return static_cast<uint32_t>(e[2]) << 16 | e[1] << 8 | e[0];
}

uint32_t TableRgb(const Bytes& table, int index) {
    return static_cast<uint32_t>(table[3 * index]) << 16 | table[3 * index + 1] << 8 |
           table[3 * index + 2];
}

// Marks the whole pixel area, so rows the decoder leaves alone can be seen.
void FillPixelArea(uint8_t value) {
    LoadBuffers& lb = Buffers();
    std::memset(lb.decodeBuffer + 40 + 1024, value, 1 << 20);
    std::memset(lb.decodeBuffer + 40, value, 1024);
}

// ---- the LZW stage on its own ----

struct CollectedRows {
    std::vector<Bytes> rows;
    int stopAfter = -1;
};

int CollectRow(void* context, uint8_t* row, int32_t count) {
    auto& c = *static_cast<CollectedRows*>(context);
    c.rows.emplace_back(row, row + count);
    if (c.stopAfter >= 0 && static_cast<int>(c.rows.size()) >= c.stopAfter) return kLzwRowsComplete;
    return 0;
}

struct LzwRun {
    int result;
    int badCodes;
    std::vector<Bytes> rows;
    Bytes pixels; // the rows joined
};

// Runs DecodeLzw over `data` (minimum code size byte and sub-blocks).
LzwRun RunLzw(const Bytes& data, int width, int stopAfter = -1) {
    LoadBuffers& lb = Buffers();
    LoadMemory(lb, data.data(), data.size());
    CollectedRows c;
    c.stopAfter = stopAfter;
    LzwRun run;
    run.result = DecodeLzw(lb, State(), width, CollectRow, &c);
    run.badCodes = State().badCodes;
    run.rows = c.rows;
    for (const Bytes& r : c.rows)
        run.pixels.insert(run.pixels.end(), r.begin(), r.end());
    return run;
}

TEST(Lzw, RoundTripsEveryMinimumCodeSizeThroughAllCodeWidths) {
    for (int s = 2; s <= 8; ++s) {
        SCOPED_TRACE("minimum code size " + std::to_string(s));
        Bytes pixels = giftest::TestPixels(300, 200, 1 << s, s);
        LzwRun run = RunLzw(giftest::ImageData(s, giftest::EncodePixels(pixels, s)), 300);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.badCodes, 0);
        EXPECT_EQ(run.rows.size(), 200u);
        EXPECT_EQ(run.pixels, pixels);
    }
}

TEST(Lzw, MinimumCodeSizeNineUsesTenBitCodesFromTheStart) {
    Bytes pixels = giftest::TestPixels(64, 64, 256, 9);
    LzwRun run = RunLzw(giftest::ImageData(9, giftest::EncodePixels(pixels, 9)), 64);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.pixels, pixels);
}

TEST(Lzw, MinimumCodeSizeOutsideTwoToNineIsRefusedBeforeAnyRow) {
    for (int s : {0, 1, 10, 11, 12, 255}) {
        LzwRun run = RunLzw({static_cast<uint8_t>(s), 2, 0x4C, 0x01, 0}, 4);
        EXPECT_EQ(run.result, kLzwBadMinimumCodeSize) << s;
        EXPECT_TRUE(run.rows.empty()) << s;
    }
}

TEST(Lzw, CodeEqualToTheNextSlotRepeatsThePreviousStringPlusItsFirstByte) {
    // A run of one colour is coded a, [aa], [aaa], ... each code being the
    // slot that is only defined by the code itself.
    LzwEncoder e(2);
    e.Clear();
    e.Code(1); // a
    e.Code(6); // aa   (next slot)
    e.Code(7); // aaa  (next slot)
    e.Code(8); // aaaa (next slot)
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(2, e.Finish()), 10);
    EXPECT_EQ(run.badCodes, 0);
    EXPECT_EQ(run.pixels, Bytes(10, 1));
}

TEST(Lzw, CodesStraddlingSubBlockBoundariesReadTheSame) {
    Bytes pixels = giftest::TestPixels(50, 40, 16, 3);
    Bytes codes = giftest::EncodePixels(pixels, 4);
    for (int blockSize : {1, 2, 3, 7, 254, 255}) {
        LzwRun run = RunLzw(giftest::ImageData(4, codes, blockSize), 50);
        EXPECT_EQ(run.pixels, pixels) << "sub-blocks of " << blockSize;
    }
}

TEST(Lzw, FullTableKeepsItsStringsUntilADeferredClear) {
    // Without a clear when the table fills, codes stay 12 bits wide and keep
    // referring to the full table; a clear much later starts afresh.
    Bytes first = giftest::TestPixels(200, 200, 256, 7);
    Bytes second = giftest::TestPixels(200, 50, 4, 8);
    LzwEncoder e(8, /*clearWhenFull=*/false);
    e.Clear();
    e.Pixels(first);
    ASSERT_EQ(e.EncoderNextCode(), 4096);
    ASSERT_EQ(e.Width(), 12);
    e.Clear();
    e.Pixels(second);
    e.End();
    Bytes all = first;
    all.insert(all.end(), second.begin(), second.end());
    LzwRun run = RunLzw(giftest::ImageData(8, e.Finish()), 200);
    EXPECT_EQ(run.badCodes, 0);
    EXPECT_EQ(run.pixels, all);
}

TEST(Lzw, TableStopsGrowingAtSlot4095) {
    Bytes pixels = giftest::TestPixels(200, 200, 256, 11);
    LzwEncoder e(8, /*clearWhenFull=*/false);
    e.Clear();
    e.Pixels(pixels);
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(8, e.Finish()), 200);
    EXPECT_EQ(run.pixels, pixels);
    EXPECT_EQ(State().nextSlot, 4096);
    EXPECT_EQ(State().codeSize, 12);
    EXPECT_EQ(State().codeLimit, 4096);
}

TEST(Lzw, LastSlotsOfAFullTableStayUsableLongAfterItFilled) {
    Bytes pixels = giftest::TestPixels(200, 200, 256, 13);
    LzwEncoder e(8, /*clearWhenFull=*/false);
    e.Clear();
    e.Pixels(pixels);
    ASSERT_EQ(e.EncoderNextCode(), 4096);
    // Each call starts a new string, so a whole table string goes out as
    // exactly its own code: 4095 (the last slot), 4094, 4095 again, ...
    Bytes all = pixels;
    for (int code : {4095, 4094, 4095, 300, 4095}) {
        Bytes str = e.StringOf(code);
        ASSERT_GE(str.size(), 2u);
        for (int i = 0; i < 3; ++i) {
            e.Pixels(str);
            all.insert(all.end(), str.begin(), str.end());
        }
    }
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(8, e.Finish()), 1);
    EXPECT_EQ(run.badCodes, 0);
    EXPECT_EQ(run.pixels, all);
}

TEST(Lzw, ClearWhenTheTableFillsStartsAgainAtTheMinimumWidth) {
    Bytes pixels = giftest::TestPixels(300, 300, 256, 12);
    LzwRun run = RunLzw(giftest::ImageData(8, giftest::EncodePixels(pixels, 8, true)), 300);
    EXPECT_EQ(run.badCodes, 0);
    EXPECT_EQ(run.pixels, pixels);
}

TEST(Lzw, RepeatedClearCodesAreHarmless) {
    LzwEncoder e(2);
    e.Clear();
    e.Clear();
    e.Pixels({1, 2, 3});
    e.Clear();
    e.Clear();
    e.Pixels({3, 2, 1});
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(2, e.Finish()), 6);
    EXPECT_EQ(run.pixels, (Bytes{1, 2, 3, 3, 2, 1}));
}

TEST(Lzw, StreamWithoutALeadingClearDecodesLikeOneWithIt) {
    // The first code adds no string, so later codes name the same slots as
    // the encoder meant and the width grows on time.
    Bytes pixels = giftest::TestPixels(40, 30, 8, 5);
    LzwEncoder e(3);
    e.Pixels(pixels);
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(3, e.Finish()), 40);
    EXPECT_EQ(run.badCodes, 0);
    EXPECT_EQ(run.pixels, pixels);
}

TEST(Lzw, FirstCodeAfterAClearThatIsNotYetDefinedCountsAsZero) {
    LzwEncoder e(2);
    e.Clear();
    e.Code(7); // nothing is defined above 5 yet
    e.Code(1);
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(2, e.Finish()), 2);
    EXPECT_EQ(run.badCodes, 0);
    EXPECT_EQ(run.pixels, (Bytes{0, 1}));
}

TEST(Lzw, CodeAboveTheNextSlotIsCountedAndDecodingGoesOn) {
    LzwEncoder e(2);
    e.Clear();
    e.Code(2);
    e.Code(7); // next slot is 6: 7 is undefined
    e.Code(3);
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(2, e.Finish()), 1);
    EXPECT_EQ(run.badCodes, 1);
    EXPECT_EQ(run.result, 0);
    // taken as previous string + its first byte, then the next code as usual
    EXPECT_EQ(run.pixels, (Bytes{2, 2, 2, 3}));
}

TEST(Lzw, ClearAfterABadCodeBringsBackExactDecoding) {
    Bytes pixels = giftest::TestPixels(64, 40, 16, 17);
    LzwEncoder e(4);
    e.Clear();
    e.Code(3);
    e.Code(30); // undefined
    e.Code(5);
    e.Clear();
    e.Pixels(pixels);
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(4, e.Finish()), 64);
    EXPECT_EQ(run.badCodes, 1);
    ASSERT_GT(run.pixels.size(), pixels.size());
    Bytes tail(run.pixels.end() - pixels.size(), run.pixels.end());
    EXPECT_EQ(tail, pixels);
}

TEST(Lzw, PrefixChainThatLoopsStopsWithFailureKeepingEarlierRows) {
    // 7 is undefined when it comes, so slot 6 gets 7 as the previous code;
    // then code 6 makes slot 7's prefix 7 itself: a loop.
    LzwEncoder e(2);
    e.Clear();
    e.Code(0);
    e.Code(7);
    e.Code(6);
    e.Code(7);
    e.Code(1);
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(2, e.Finish()), 1);
    EXPECT_EQ(run.result, kLzwChainTooLong);
    EXPECT_EQ(run.badCodes, 1);
    EXPECT_EQ(run.pixels, (Bytes{0, 0, 0, 0, 0})); // rows before the loop stay
}

TEST(Lzw, EndCodeFlushesAPartialRowWithItsLength) {
    LzwEncoder e(2);
    e.Clear();
    e.Pixels({1, 2, 3, 1, 2});
    e.End();
    LzwRun run = RunLzw(giftest::ImageData(2, e.Finish()), 3);
    ASSERT_EQ(run.rows.size(), 2u);
    EXPECT_EQ(run.rows[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(run.rows[1], (Bytes{1, 2}));
}

TEST(Lzw, TerminatorOrEndOfDataActsAsTheEndCode) {
    LzwEncoder e(2);
    e.Clear();
    e.Pixels({1, 2, 3, 1});
    Bytes codes = e.Finish(); // no end code
    LzwRun terminated = RunLzw(giftest::ImageData(2, codes), 2);
    EXPECT_EQ(terminated.result, 0);
    EXPECT_EQ(terminated.pixels, (Bytes{1, 2, 3, 1}));
    Bytes unterminated{2};
    Bytes blocks = giftest::SubBlocks(codes, 255, /*terminate=*/false);
    unterminated.insert(unterminated.end(), blocks.begin(), blocks.end());
    LzwRun cut = RunLzw(unterminated, 2);
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.pixels, (Bytes{1, 2, 3, 1}));
    EXPECT_EQ(State().bytesLeft, -1);
}

TEST(Lzw, SubBlockShorterThanItsSizeEndsTheStream) {
    Bytes pixels = giftest::TestPixels(20, 20, 4, 2);
    Bytes data = giftest::ImageData(2, giftest::EncodePixels(pixels, 2));
    data.resize(data.size() / 2); // the one sub-block claims more than is there
    LzwRun run = RunLzw(data, 20);
    EXPECT_EQ(run.result, 0);
    ASSERT_FALSE(run.pixels.empty());
    EXPECT_LT(run.pixels.size(), pixels.size());
    EXPECT_TRUE(
        std::equal(run.pixels.begin(), run.pixels.end() - run.rows.back().size(), pixels.begin()));
}

TEST(Lzw, NegativeAnswerFromTheRowSinkEndsTheDecoding) {
    Bytes pixels = giftest::TestPixels(10, 10, 4, 1);
    LzwRun run = RunLzw(giftest::ImageData(2, giftest::EncodePixels(pixels, 2)), 10, 3);
    EXPECT_EQ(run.result, kLzwRowsComplete);
    EXPECT_EQ(run.rows.size(), 3u);
}

TEST(Lzw, WorkRecordLeftoversFromAnotherPictureChangeNothing) {
    // The same stream through a record fresh from zero-filled memory and
    // through one that has just decoded a very different picture.
    Bytes other = giftest::TestPixels(300, 300, 256, 41);
    Bytes pixels = giftest::TestPixels(50, 50, 8, 42);
    Bytes data = giftest::ImageData(3, giftest::EncodePixels(pixels, 3));
    std::memset(&State(), 0, kGifStateBytes);
    LzwRun fresh = RunLzw(data, 50);
    RunLzw(giftest::ImageData(8, giftest::EncodePixels(other, 8, false)), 300);
    LzwRun used = RunLzw(data, 50);
    EXPECT_EQ(fresh.pixels, pixels);
    EXPECT_EQ(used.pixels, pixels);
}

// ---- signature and screen ----

Bytes SmallPicture(const char* signature = "GIF89a") {
    return GifFile(4, 3, 4, signature)
        .Image(4, 3, {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2})
        .Trailer()
        .bytes;
}

TEST(GifSignature, Gif87aAndGif89aDecodeAlike) {
    ASSERT_EQ(Decode(SmallPicture("GIF87a")), 1);
    Bytes a = Indices();
    ASSERT_EQ(Decode(SmallPicture("GIF89a")), 1);
    EXPECT_EQ(Indices(), a);
    EXPECT_EQ(a, (Bytes{0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2}));
}

TEST(GifSignature, AnythingButGif8IsRejectedAndTheRasterKept) {
    ASSERT_EQ(Decode(SmallPicture()), 1);
    Bytes before(Buffers().decodeBuffer, Buffers().decodeBuffer + 200);
    for (const char* sig : {"GIF7 a", "gif89a", "JIF89a"}) {
        EXPECT_EQ(Decode(SmallPicture(sig)), 0) << sig;
        EXPECT_EQ(Reason(), "not a GIF file");
    }
    EXPECT_EQ(Decode({}), 0);
    EXPECT_EQ(Decode({'G', 'I', 'F'}), 0);
    EXPECT_EQ(Bytes(Buffers().decodeBuffer, Buffers().decodeBuffer + 200), before);
    EXPECT_EQ(RasterWidth(Buffers()), 4);
}

TEST(GifSignature, HeaderAloneFindsNoImage) {
    Bytes file = SmallPicture();
    file.resize(13);
    EXPECT_EQ(Decode(file), 0);
    EXPECT_EQ(Reason(), "no image before the end of the data");
}

TEST(GifSignature, LoaderStopFlagEndsTheDecodeWithFailure) {
    Buffers().LoaderStopFlag = 1;
    int result = Decode(SmallPicture());
    Buffers().LoaderStopFlag = 0;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Reason(), "loading stopped");
}

TEST(GifSignature, DecodeGifFileReadsTheFileAndFailsForAMissingOne) {
    GifState& gif = State();
    EXPECT_EQ(DecodeGifFile(Buffers(), gif, nullptr), 0);
    std::string path = ScratchDir() + "/small.gif";
    Bytes file = SmallPicture();
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    EXPECT_EQ(DecodeGifFile(Buffers(), gif, path.c_str()), 1);
    EXPECT_EQ(Indices(), (Bytes{0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2}));
    EXPECT_EQ(DecodeGifFile(Buffers(), gif, (path + ".none").c_str()), 0);
}

// ---- extensions ----

const Bytes kPixels2x2{0, 1, 1, 0};

TEST(GifExtensions, ControlCommentAndApplicationBlocksBeforeTheImageChangeNoPixel) {
    Bytes table = giftest::ColourTable(2);
    Bytes file = GifFile(2, 2, 2)
                     .GraphicControl(1) // index 1 transparent: ignored
                     .Comment("made by a test")
                     .Application("NETSCAPE2.0", {1, 0, 0})
                     .Image(2, 2, kPixels2x2)
                     .Trailer()
                     .bytes;
    ASSERT_EQ(Decode(file), 1) << Reason();
    EXPECT_EQ(Indices(), kPixels2x2);
    EXPECT_EQ(PaletteRgb(1), TableRgb(table, 1));
}

TEST(GifExtensions, EmptyCommentOrApplicationDataDoesNotSwallowTheImage) {
    Bytes comment = GifFile(2, 2, 2).Raw({0x21, 0xFE, 0}).Image(2, 2, kPixels2x2).Trailer().bytes;
    ASSERT_EQ(Decode(comment), 1) << Reason();
    EXPECT_EQ(Indices(), kPixels2x2);
    Bytes application =
        GifFile(2, 2, 2).Application("ABCDEFGHIJK", {}).Image(2, 2, kPixels2x2).Trailer().bytes;
    ASSERT_EQ(Decode(application), 1) << Reason();
    EXPECT_EQ(Indices(), kPixels2x2);
}

TEST(GifExtensions, PlainTextAndUnknownLabelsAreSkippedWithAllTheirSubBlocks) {
    Bytes file = GifFile(2, 2, 2)
                     .Raw({0x21, 0x01, 12, 0, 0, 0, 0, 2, 0, 2, 0, 1, 1, 1, 0})
                     .Raw({3, 0x2C, 0x21, 0x3B, 0}) // separator-like bytes inside text
                     .Raw({0x21, 0x2A, 2, 0x2C, 0x2C, 1, 0x3B, 0})
                     .Image(2, 2, kPixels2x2)
                     .Trailer()
                     .bytes;
    ASSERT_EQ(Decode(file), 1) << Reason();
    EXPECT_EQ(Indices(), kPixels2x2);
}

// A sub-block length that points past the end of the data is not followed:
// the position stays after the length byte, so here the 0 behind 0xC8 ends
// the comment and the image after it is found.
TEST(GifExtensions, SubBlockRunningPastTheEndIsNotSkippedTo) {
    Bytes file =
        GifFile(1, 1, 2).Raw({0x21, 0xFE, 1, 'x', 0xC8, 0}).Image(1, 1, {1}).Trailer().bytes;
    ASSERT_LT(file.size(), 0xC8u);
    ASSERT_EQ(Decode(file), 1) << Reason();
    EXPECT_EQ(Indices(), Bytes{1});
}

TEST(GifExtensions, MalformedBlocksEndTheScanWithoutAnImage) {
    struct Case {
        const char* what;
        Bytes block;
        const char* reason;
    } cases[] = {
        {"control size 3",
         {0x21, 0xF9, 3, 0, 0, 0, 0, 0},
         "graphic control block of the wrong size"},
        {"application size 10", {0x21, 0xFF, 10}, "application block of the wrong size"},
        {"label missing", {0x21}, "extension label missing"},
    };
    for (const Case& c : cases) {
        Bytes file = GifFile(2, 2, 2).Append(c.block).bytes;
        if (c.block.size() > 1)
            file = GifFile(2, 2, 2).Append(c.block).Image(2, 2, kPixels2x2).bytes;
        EXPECT_EQ(Decode(file), 0) << c.what;
        EXPECT_EQ(Reason(), c.reason) << c.what;
    }
    Bytes cutComment = GifFile(2, 2, 2).Raw({0x21, 0xFE, 9, 'a', 'b'}).bytes;
    EXPECT_EQ(Decode(cutComment), 0);
    EXPECT_EQ(Reason(), "comment cut short");
}

TEST(GifExtensions, StrayBytesBetweenBlocksWaitForAZeroBeforeTheNextBlock) {
    // 0x07 disarms the scan, so the separator-like 0x2C after it is passed
    // over; the 0 re-arms it for the real image.
    Bytes file =
        GifFile(2, 2, 2).Raw({0, 0, 0x07, 0x2C, 0x3B, 0}).Image(2, 2, kPixels2x2).Trailer().bytes;
    ASSERT_EQ(Decode(file), 1) << Reason();
    EXPECT_EQ(Indices(), kPixels2x2);
}

// ---- image descriptor fit ----

TEST(GifDescriptor, ImageBeyondTheScreenIsPassedOverForTheNextThatFits) {
    Bytes big = giftest::TestPixels(3, 2, 2, 1);
    for (int wide : {0, 1}) {
        GifFile f(4, 4, 2);
        // min code size 2 disarms, the data runs to its 0 terminator, which re-arms
        if (wide)
            f.Image(3, 2, big, false, 0, 2, 0); // 2 + 3 > 4
        else
            f.Image(3, 2, big, false, 0, 0, 3); // 3 + 2 > 4
        f.Image(2, 2, kPixels2x2, false, 0, 2, 2).Trailer();
        ASSERT_EQ(Decode(f.bytes), 1) << Reason();
        EXPECT_EQ(RasterWidth(Buffers()), 2);
        EXPECT_EQ(Indices(), kPixels2x2); // offsets ignored: the image alone
    }
}

TEST(GifDescriptor, TrailerBeforeAnyFittingImageLeavesThePreviousRaster) {
    ASSERT_EQ(Decode(SmallPicture()), 1);
    Bytes file = GifFile(2, 2, 2).Image(3, 1, {1, 0, 1}).Trailer().bytes;
    EXPECT_EQ(Decode(file), 0);
    EXPECT_EQ(Reason(), "no image before the trailer");
    EXPECT_EQ(RasterWidth(Buffers()), 4);
}

TEST(GifDescriptor, ZeroSizedImageIsRefused) {
    Bytes file = GifFile(2, 2, 2).Descriptor(0, 0, 0, 2).Raw({2, 1, 0x4C, 0}).Trailer().bytes;
    EXPECT_EQ(Decode(file), 0);
    EXPECT_EQ(Reason(), "image empty or too large");
}

TEST(GifDescriptor, ImageLargerThanTheRasterLimitIsRefused) {
    // 65535 x 65535 at 8 bits is far beyond 60,000,000 pixel bytes
    Bytes file = GifFile(65535, 65535, 256).Descriptor(0, 0, 65535, 65535).Raw({8, 1, 0, 0}).bytes;
    EXPECT_EQ(Decode(file), 0);
    EXPECT_EQ(Reason(), "image empty or too large");
}

// ---- colour tables and depths ----

TEST(GifColours, DepthFollowsTheColourCountAndMissingEntriesAreWhite) {
    struct Case {
        int colours, bits;
    } cases[] = {{2, 1}, {4, 4}, {8, 4}, {16, 4}, {32, 8}, {128, 8}, {256, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.colours) + " colours");
        Bytes pixels = giftest::TestPixels(9, 3, c.colours, c.colours);
        ASSERT_EQ(Decode(GifFile(9, 3, c.colours).Image(9, 3, pixels).Trailer().bytes), 1);
        EXPECT_EQ(RasterBits(Buffers()), c.bits);
        EXPECT_EQ(Indices(), pixels); // packing, odd width
        Bytes table = giftest::ColourTable(c.colours);
        uint32_t count = RasterPaletteCount(Buffers());
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t expected = static_cast<int>(i) < c.colours ? TableRgb(table, i) : 0xFFFFFF;
            ASSERT_EQ(PaletteRgb(i), expected) << "entry " << i;
            ASSERT_EQ(RasterPalette(Buffers())[4 * i + 3], 0);
        }
    }
}

TEST(GifColours, LocalTableReplacesTheGlobalOneAndSetsTheDepth) {
    Bytes pixels = giftest::TestPixels(5, 5, 16, 4);
    Bytes file = GifFile(5, 5, 2).Image(5, 5, pixels, false, 16).Trailer().bytes;
    ASSERT_EQ(Decode(file), 1);
    EXPECT_EQ(RasterBits(Buffers()), 4);
    Bytes local = giftest::ColourTable(16);
    for (uint8_t& b : local)
        b = static_cast<uint8_t>(255 - b);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(PaletteRgb(i), TableRgb(local, i));
    EXPECT_EQ(Indices(), pixels);
}

TEST(GifColours, NoColourTableLeavesTheWholePaletteBlack) {
    ASSERT_EQ(Decode(SmallPicture()), 1); // a palette from before
    Bytes file = GifFile(4, 3, 0).Image(4, 3, {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2}).Trailer().bytes;
    file[10] = 0x01; // no table, but a colour count of 4 all the same
    ASSERT_EQ(Decode(file), 1);
    EXPECT_EQ(RasterBits(Buffers()), 4);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(PaletteRgb(i), 0u) << i;
}

TEST(GifColours, IndicesBeyondTheTableShowWhite) {
    Bytes file = GifFile(2, 1, 4)
                     .Descriptor(0, 0, 2, 1)
                     .Append(giftest::ImageData(3, giftest::EncodePixels({1, 5}, 3)))
                     .Trailer()
                     .bytes;
    ASSERT_EQ(Decode(file), 1);
    EXPECT_EQ(Indices(), (Bytes{1, 5}));
    EXPECT_EQ(PaletteRgb(5), 0xFFFFFFu);
    EXPECT_EQ(PaletteRgb(1), TableRgb(giftest::ColourTable(4), 1));
}

// ---- whole-file LZW ----

TEST(GifLzw, LargePictureWithGrowthFullTablesAndClearsDecodesExactly) {
    Bytes pixels = giftest::TestPixels(640, 480, 256, 21);
    ASSERT_EQ(Decode(GifFile(640, 480, 256).Image(640, 480, pixels).Trailer().bytes), 1);
    EXPECT_EQ(Indices(), pixels);
}

TEST(GifLzw, DeferredClearFileDecodesExactly) {
    Bytes pixels = giftest::TestPixels(256, 256, 64, 22);
    Bytes file = GifFile(256, 256, 64).Descriptor(0, 0, 256, 256).bytes;
    Bytes data = giftest::ImageData(6, giftest::EncodePixels(pixels, 6, /*clearWhenFull=*/false));
    file.insert(file.end(), data.begin(), data.end());
    file.push_back(0x3B);
    ASSERT_EQ(Decode(file), 1);
    EXPECT_EQ(Indices(), pixels);
}

TEST(GifLzw, BadCodeFailsButThePictureIsCompletedAsFarAsTheDataGoes) {
    LzwEncoder e(2);
    e.Clear();
    e.Code(1);
    e.Code(7); // undefined: counts as bad, decodes as 1 1
    e.Pixels({2, 3, 0, 1, 2});
    e.End();
    Bytes file =
        GifFile(4, 2, 4).Descriptor(0, 0, 4, 2).Append(giftest::ImageData(2, e.Finish())).bytes;
    EXPECT_EQ(Decode(file), 0);
    EXPECT_EQ(Reason(), "LZW code above the next free slot");
    EXPECT_EQ(Indices(), (Bytes{1, 1, 1, 2, 3, 0, 1, 2}));
}

TEST(GifLzw, MinimumCodeSizeOutsideTwoToNineFailsWithTheRasterSetUp) {
    for (int s : {1, 10}) {
        ASSERT_EQ(Decode(SmallPicture()), 1);
        Bytes file =
            GifFile(6, 5, 2).Descriptor(0, 0, 6, 5).Raw({s, 2, 0xFF, 0xFF, 0}).Trailer().bytes;
        EXPECT_EQ(Decode(file), 0) << s;
        EXPECT_EQ(Reason(), "LZW minimum code size outside 2..9");
        EXPECT_EQ(RasterWidth(Buffers()), 6);
        EXPECT_EQ(RasterHeight(Buffers()), 5);
    }
}

TEST(GifLzw, LoopingPrefixChainFailsInsteadOfOverflowingTheStack) {
    LzwEncoder e(2);
    e.Clear();
    for (int code : {0, 7, 6, 7})
        e.Code(code);
    e.End();
    Bytes file =
        GifFile(2, 2, 4).Descriptor(0, 0, 2, 2).Append(giftest::ImageData(2, e.Finish())).bytes;
    EXPECT_EQ(Decode(file), 0);
    EXPECT_EQ(Reason(), "LZW string loops or outgrows the stack");
}

TEST(GifLzw, DataBeyondTheLastRowIsIgnoredAndStillSucceeds) {
    Bytes pixels = giftest::TestPixels(5, 4, 4, 9);
    Bytes more = pixels;
    more.insert(more.end(), pixels.begin(), pixels.end()); // twice as many rows
    Bytes file = GifFile(5, 4, 4)
                     .Descriptor(0, 0, 5, 4)
                     .Append(giftest::ImageData(2, giftest::EncodePixels(more, 2)))
                     .bytes;
    FillPixelArea(0x55);
    ASSERT_EQ(Decode(file), 1) << Reason();
    EXPECT_EQ(Indices(), pixels);
}

// ---- interlace ----

TEST(GifInterlace, EveryHeightFromOneToSeventeenMatchesTheSequentialPicture) {
    for (int height = 1; height <= 17; ++height) {
        for (int width : {1, 3, 8}) {
            SCOPED_TRACE("height " + std::to_string(height) + " width " + std::to_string(width));
            Bytes pixels = giftest::TestPixels(width, height, 16, height * 31 + width);
            ASSERT_EQ(
                Decode(GifFile(width, height, 16).Image(width, height, pixels).Trailer().bytes), 1);
            Bytes sequential = Indices();
            ASSERT_EQ(sequential, pixels);
            FillPixelArea(0xAA);
            ASSERT_EQ(
                Decode(
                    GifFile(width, height, 16).Image(width, height, pixels, true).Trailer().bytes),
                1);
            EXPECT_EQ(Indices(), sequential);
        }
    }
}

TEST(GifInterlace, RowsAfterTheFourthPassAreDropped) {
    // Height 5 takes rows 0, 4 | - | 2 | 1, 3; three more rows follow.
    const int width = 2, height = 5;
    Bytes stored{10, 10, 14, 14, 12, 12, 11, 11, 13, 13, 99, 99, 98, 98, 97, 97};
    Bytes file = GifFile(width, height, 256)
                     .Descriptor(0, 0, width, height, true)
                     .Append(giftest::ImageData(7, giftest::EncodePixels(stored, 7)))
                     .bytes;
    ASSERT_EQ(Decode(file), 1) << Reason();
    EXPECT_EQ(Indices(), (Bytes{10, 10, 11, 11, 12, 12, 13, 13, 14, 14}));
}

TEST(GifInterlace, CutShortKeepsTheRowsOfTheFinishedPasses) {
    Bytes pixels = giftest::TestPixels(4, 16, 4, 77);
    Bytes stored = giftest::InterlaceRows(pixels, 4, 16);
    stored.resize(4 * 3); // pass one only: rows 0 and 8, and row 4 of pass two
    Bytes file = GifFile(4, 16, 4)
                     .Descriptor(0, 0, 4, 16, true)
                     .Append(giftest::ImageData(2, giftest::EncodePixels(stored, 2)))
                     .bytes;
    FillPixelArea(0xEE);
    ASSERT_EQ(Decode(file), 1);
    for (int y = 0; y < 16; ++y) {
        const uint8_t* row = RasterRow(Buffers(), 15 - y);
        if (y == 0 || y == 8 || y == 4) {
            EXPECT_EQ(IndexAt(Buffers(), 1, y), pixels[y * 4 + 1]) << y;
        } else {
            EXPECT_EQ(row[0], 0xEE) << "row " << y << " must be untouched";
        }
    }
}

// ---- truncation ----

TEST(GifTruncation, EveryPrefixOfAFileEndsCleanlyKeepingTheRowsWritten) {
    Bytes pixels = giftest::TestPixels(16, 12, 16, 5);
    Bytes file = GifFile(16, 12, 16).Comment("x").Image(16, 12, pixels).Trailer().bytes;
    for (size_t n = 0; n <= file.size(); ++n) {
        FillPixelArea(0xEE);
        Bytes cut(file.begin(), file.begin() + n);
        int result = Decode(cut);
        if (result == 1) {
            // Rows are written top down: every row above the last one touched
            // is whole and right, every row below it untouched.
            int touched = -1;
            for (int y = 0; y < 12; ++y)
                if (RasterRow(Buffers(), 11 - y)[0] != 0xEE) touched = y;
            for (int y = 0; y < touched; ++y)
                for (int x = 0; x < 16; ++x)
                    ASSERT_EQ(IndexAt(Buffers(), x, y), pixels[y * 16 + x])
                        << "cut at " << n << " row " << y;
            for (int y = touched + 1; y < 12; ++y)
                ASSERT_EQ(RasterRow(Buffers(), 11 - y)[5], 0xEE) << "cut at " << n << " row " << y;
        }
    }
    EXPECT_EQ(Decode(file), 1);
}

} // namespace

// ---- committed regression files (also the fuzzer's seeds) ----

TEST(GifRegressions, EveryCommittedFileHasItsOutcome) {
    struct Regression {
        const char* file;
        int result;
        uint8_t index; // of the top left pixel, when the file decodes
    } const known[] = {
        // A comment sub-block length (200) past the end of the data, then
        // its terminator and a 1 x 1 image of index 1.
        {"comment-sub-block-past-the-end.gif", 1, 1},
    };
    const std::vector<std::string> files = RegressionFiles("gif");
    ASSERT_GE(files.size(), 1u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const Regression* r = nullptr;
        for (const Regression& k : known)
            if (std::filesystem::path(path).filename() == k.file) r = &k;
        ASSERT_NE(r, nullptr) << "no outcome listed";
        ClearDecodeFailure();
        ASSERT_EQ(DecodeGifFile(Buffers(), State(), path.c_str()), r->result) << Reason();
        if (r->result == 1) {
            EXPECT_EQ(IndexAt(Buffers(), 0, 0), r->index);
        }
    }
}

// ---- the public corpus ----

namespace corpus {

struct Row {
    std::string file, expectation, ref;
};

std::vector<Row> Manifest() {
    std::vector<Row> rows;
    for (const std::vector<std::string>& f : ReadCorpusManifest("gif"))
        rows.push_back({f[0], f[7], f[8]});
    return rows;
}

std::string Path(const std::string& dir, const std::string& file) {
    return NativePath(dir + "/" + file);
}

// Counts the pixels whose colour differs from the reference.
int64_t Mismatches(const Ppm& ref) {
    LoadBuffers& lb = Buffers();
    int64_t bad = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const uint8_t* want = &ref.rgb[(static_cast<size_t>(y) * ref.width + x) * 3];
            const uint8_t* e = RasterPalette(lb) + 4 * IndexAt(lb, x, y);
            if (e[2] != want[0] || e[1] != want[1] || e[0] != want[2]) ++bad;
        }
    return bad;
}

} // namespace corpus

TEST(GifCorpus, EveryPictureWithAReferenceDecodesToItExactly) {
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "../shared/corpus is absent";
    int compared = 0;
    for (const corpus::Row& row : corpus::Manifest()) {
        Ppm ref;
        if (!ReadPpm(corpus::Path(dir, row.file + ".ref.ppm"), ref)) continue;
        SCOPED_TRACE(row.file);
        ClearDecodeFailure();
        int result = DecodeGifFile(Buffers(), State(), corpus::Path(dir, row.file).c_str());
        // An undefined code after the last pixel, but before the decoder
        // has asked for the row after the last: the picture is whole, and
        // the bad code still makes the result false.
        if (row.file == "gif/wuffs/artificial-pixel-data-too-much-bad-lzw.gif") {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(Reason(), "LZW code above the next free slot");
        } else {
            EXPECT_EQ(result, 1) << Reason();
            if (result != 1) continue;
        }
        EXPECT_EQ(RasterWidth(Buffers()), ref.width);
        EXPECT_EQ(RasterHeight(Buffers()), ref.height);
        if (RasterWidth(Buffers()) != ref.width || RasterHeight(Buffers()) != ref.height) continue;
        EXPECT_EQ(corpus::Mismatches(ref), 0);
        ++compared;
        if (HasFailure()) std::printf("differs: %s\n", row.file.c_str());
    }
    EXPECT_GE(compared, 70);
    std::printf("compared %d corpus GIFs with their references\n", compared);
}

TEST(GifCorpus, FilesWithoutAReferenceFailCleanlyOrDecodeAsTheManifestSays) {
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "../shared/corpus is absent";
    int checked = 0;
    for (const corpus::Row& row : corpus::Manifest()) {
        if (row.ref == "ok" || row.ref == "warn" || row.ref == "same") continue;
        SCOPED_TRACE(row.file);
        ClearDecodeFailure();
        int result = DecodeGifFile(Buffers(), State(), corpus::Path(dir, row.file).c_str());
        ASSERT_TRUE(result == 0 || result == 1);
        ++checked;
        if (row.file == "gif/pillow/hopper_zero_comment_subblocks.gif") {
            EXPECT_EQ(result, 1) << Reason(); // an empty comment is legal
        } else if (row.expectation.rfind("false", 0) == 0) {
            EXPECT_EQ(result, 0);
        } else if (row.expectation.rfind("true with raster set up but unwritten", 0) == 0) {
            EXPECT_EQ(result, 0); // nothing was decoded: that is a failure
            EXPECT_EQ(Reason(), "LZW minimum code size outside 2..9");
        }
    }
    EXPECT_GE(checked, 25);
}

TEST(GifCorpus, EmptyCommentFileShowsTheSamePictureAsItsTwin) {
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "../shared/corpus is absent";
    Ppm ref;
    ASSERT_TRUE(ReadPpm(corpus::Path(dir, "gif/pillow/hopper.gif.ref.ppm"), ref));
    ASSERT_EQ(
        DecodeGifFile(Buffers(), State(),
                      corpus::Path(dir, "gif/pillow/hopper_zero_comment_subblocks.gif").c_str()),
        1);
    EXPECT_EQ(corpus::Mismatches(ref), 0);
}

TEST(GifCorpus, TruncatedFilesKeepExactRowsUpToWhereTheDataEnds) {
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "../shared/corpus is absent";
    struct Pair {
        const char* cut;
        const char* whole;
        int minimumRows;
    } pairs[] = {
        {"gif/derived/trunc-porsche.gif", "gif/giflib/porsche.gif", 10},
        {"gif/derived/trunc-treescap-interlaced.gif", "gif/giflib/treescap-interlaced.gif", 5},
        {"gif/wuffs/hippopotamus.interlaced.truncated.gif", "gif/wuffs/hippopotamus.interlaced.gif",
         5},
    };
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.cut);
        Ppm ref;
        ASSERT_TRUE(ReadPpm(corpus::Path(dir, std::string(p.whole) + ".ref.ppm"), ref));
        FillPixelArea(0xEE);
        ASSERT_EQ(DecodeGifFile(Buffers(), State(), corpus::Path(dir, p.cut).c_str()), 1)
            << Reason();
        ASSERT_EQ(RasterWidth(Buffers()), ref.width);
        // Each row is untouched, exactly the reference's, or the one row the
        // data ended in.
        int exact = 0, untouched = 0, other = 0;
        LoadBuffers& lb = Buffers();
        for (int y = 0; y < ref.height; ++y) {
            const uint8_t* row = RasterRow(lb, ref.height - 1 - y);
            bool same = true;
            for (int x = 0; x < ref.width && same; ++x) {
                const uint8_t* want = &ref.rgb[(static_cast<size_t>(y) * ref.width + x) * 3];
                const uint8_t* e = RasterPalette(lb) + 4 * IndexAt(lb, x, y);
                same = e[2] == want[0] && e[1] == want[1] && e[0] == want[2];
            }
            if (same)
                ++exact;
            else if (row[0] == 0xEE && row[1] == 0xEE)
                ++untouched;
            else
                ++other;
        }
        EXPECT_GE(exact, p.minimumRows);
        EXPECT_GT(untouched, 0);
        EXPECT_LE(other, 1);
    }
}
