// Files the fuzzer found, replayed with the outcome each must have. Under
// the sanitizer build a relapse shows as the original fault; elsewhere the
// outcome still has to match.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fit/stretch.h"
#include "codecs/bmp_reader.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/test_support.h"

namespace {

struct Regression {
    const char* file; // in tests/data/bmp/regressions
    int result;
    const char* reason; // "" when the file decodes
};

const Regression kRegressions[] = {
    // 124-byte header, width -2,052,063,232, height 1,440,156,220: the
    // image-size check multiplied past 64 bits.
    {"long-header-size-check-overflow.bmp", 0, "unsupported bitmap header"},
};

// Every committed file is replayed; each must have its outcome listed.
TEST(BmpRegressions, FuzzerFindingsEndCleanly) {
    const std::vector<std::string> files = RegressionFiles("bmp");
    ASSERT_GE(files.size(), 1u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const std::string name = std::filesystem::path(path).filename().string();
        const Regression* r = nullptr;
        for (const Regression& known : kRegressions)
            if (name == known.file) r = &known;
        ASSERT_NE(r, nullptr) << "no outcome listed";
        LoadBuffers& lb = TestBuffers();
        ClearDecodeFailure();
        EXPECT_EQ(DecodeBmpFile(lb, path.c_str()), r->result);
        EXPECT_STREQ(LastDecodeFailure(), r->reason);
        lb.raster.cursor.address = RasterRow(lb, 0);
        static FrameImage block;
        EXPECT_TRUE(FitToFrame(lb, kFrameSide, kFrameSide, block));
    }
}

// The same check with sizes at both ends of the 32-bit range: neither the
// product nor its sign may wrap into a match.
TEST(BmpRegressions, LongHeaderSizeCheckWithExtremeSizesRefuses) {
    struct Case {
        int32_t width, height;
        uint32_t sizeImage;
    } cases[] = {
        {INT32_MAX, INT32_MAX, 0}, {INT32_MAX, INT32_MAX, 0xFFFFFFFC}, {INT32_MIN, INT32_MAX, 0},
        {INT32_MIN, INT32_MIN, 0}, {-2052063232, 1440156220, 64},
    };
    for (const Case& c : cases) {
        BmpFields s;
        s.headerSize = 124;
        s.width = c.width;
        s.height = c.height;
        s.bits = 32;
        s.sizeImage = c.sizeImage;
        s.pixels = Bytes(16, 0);
        LoadBuffers& lb = TestBuffers();
        ASSERT_TRUE(PutInput(lb, BuildBmp(s)));
        ClearDecodeFailure();
        EXPECT_EQ(DecodeBmpMemory(lb), 0) << c.width << "x" << c.height;
    }
}

} // namespace
