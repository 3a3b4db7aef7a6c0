// The readers' damage notes: a picture made from data that ends early or is
// damaged is still decoded, and says what it lacks; a whole one says nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"
#include "fit/fit_options.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/gif_builder.h"
#include "tests/unit/test_support.h"

namespace {

struct Decoders {
    OwnedLoadBuffers owned;
    std::vector<uint8_t> gif = std::vector<uint8_t>(kGifStateBytes);
    std::vector<uint8_t> jpeg = std::vector<uint8_t>(kJpegDecoderBytes);
    DecoderSet set;
    Decoders() {
        set.buffers = &owned.buffers;
        set.gif = reinterpret_cast<GifState*>(gif.data());
        set.jpeg = reinterpret_cast<JpegDecoder*>(jpeg.data());
    }
};

std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = ScratchDir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return NativePath(path);
}

Bytes Fixture(const char* name) {
    return ReadFile(std::string(PIXMORA_SOURCE_DIR) + "/tests/data/jpeg/" + name);
}

Bytes Cut(const Bytes& b, double share) {
    return Bytes(b.begin(), b.begin() + static_cast<long>(static_cast<double>(b.size()) * share));
}

Bytes WithoutLast(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.end() - static_cast<long>(n));
}

// Cut half-way between the first and the second scan header: inside the
// first scan's data.
Bytes InFirstScan(const Bytes& b) {
    std::vector<size_t> scans;
    for (size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0xDA) scans.push_back(i);
    EXPECT_GE(scans.size(), 2u);
    return scans.size() < 2 ? b : Bytes(b.begin(), b.begin() + (scans[0] + scans[1]) / 2);
}

// The progressive fixture with its first restart marker of the wrong number.
Bytes WrongRestart(Bytes b) {
    for (size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] >= 0xD0 && b[i + 1] <= 0xD7) {
            b[i + 1] = b[i + 1] == 0xD7 ? 0xD0 : 0xD7;
            break;
        }
    return b;
}

Bytes Gif(bool interlaced) {
    return giftest::GifFile(16, 24, 16)
        .Image(16, 24, giftest::TestPixels(16, 24, 16, 3), interlaced)
        .Trailer()
        .bytes;
}

// A 24-bit 10 x 8 picture (30 pixel bytes and 2 of padding a row).
Bytes Bmp(bool topDown) {
    BmpFields s;
    s.width = 10;
    s.height = topDown ? -8 : 8;
    s.pixels.assign(static_cast<size_t>(StrideOf(10, 24)) * 8, 0x5A);
    return BuildBmp(s);
}

// An RLE8 picture of 4 rows of 8 pixels: one run and an end of line each.
Bytes Rle8() {
    BmpFields s;
    s.width = 8;
    s.height = 4;
    s.bits = 8;
    s.compression = 1;
    s.palette.assign(4 * 256, 0x33);
    for (int y = 0; y < 4; ++y)
        s.pixels.insert(s.pixels.end(), {8, static_cast<uint8_t>(y + 1), 0, 0});
    s.pixels.insert(s.pixels.end(), {0, 1});
    return BuildBmp(s);
}

TEST(DecodeDamage, EachReaderNotesWhatACutOrDamagedFileLacks) {
    const Bytes seq = Fixture("synth-420.jpg"), prog = Fixture("synth-420-prog.jpg");
    const Bytes rst = Fixture("synth-420-prog-rst.jpg");
    ASSERT_FALSE(seq.empty() || prog.empty() || rst.empty());
    struct Case {
        const char* name;
        Bytes file;
        const char* note;
    };
    const Case cases[] = {
        {"whole.jpg", seq, ""},
        {"no-eoi.jpg", WithoutLast(seq, 2), ""}, // only the end marker is missing
        {"cut.jpg", Cut(seq, 0.6), kDamageLowerPartEmpty},
        {"prog.jpg", prog, ""},
        {"prog-first-scan.jpg", InFirstScan(prog), kDamageLowerPartEmpty},
        {"prog-later-scan.jpg", Cut(prog, 0.7), kDamageDetailMissing},
        {"rst.jpg", rst, ""},
        {"rst-cut.jpg", Cut(rst, 0.8), kDamageDetailMissing},
        {"rst-wrong.jpg", WrongRestart(rst), kDamageDataDamaged},
        {"whole.gif", Gif(false), ""},
        {"cut.gif", Cut(Gif(false), 0.5), kDamageLowerPartEmpty},
        {"interlaced-cut.gif", Cut(Gif(true), 0.5), kDamageRowsEmpty},
        {"whole.bmp", Bmp(false), ""},
        {"no-padding.bmp", WithoutLast(Bmp(false), 2), ""}, // the last row's padding
        {"cut.bmp", WithoutLast(Bmp(false), 40), kDamageUpperPartEmpty},
        {"top-down-cut.bmp", WithoutLast(Bmp(true), 40), kDamageLowerPartEmpty},
        {"rle.bmp", Rle8(), ""},
        {"rle-no-end.bmp", WithoutLast(Rle8(), 2), ""},
        {"rle-cut.bmp", WithoutLast(Rle8(), 6), kDamageUpperPartEmpty},
    };
    Decoders d;
    for (const Case& c : cases) {
        const std::string path = Write(c.name, c.file);
        ClearDecodeFailure();
        EXPECT_EQ(DecodePicture(d.set, path.c_str()), 1) << c.name;
        EXPECT_STREQ(LastDecodeDamage(), c.note) << c.name;
    }
}

TEST(DecodeDamage, TheNoteComesThroughTheLoadAndGoesWithTheNextDecode) {
    Decoders d;
    const std::string cut = Write("cut.jpg", Cut(Fixture("synth-420.jpg"), 0.5));
    const std::string whole = Write("whole.gif", Gif(false));
    std::unique_ptr<FrameImage> block(new FrameImage{});
    // The sampled load of a sharp fit and the smooth one read the same data.
    for (const bool smooth : {false, true}) {
        const FitOptions fit{FitMode::kFill, smooth, true};
        EXPECT_EQ(LoadForFrame(d.set, cut.c_str(), fit, *block), DecodeOutcome::kComplete);
        EXPECT_STREQ(LastDecodeDamage(), kDamageLowerPartEmpty) << smooth;
        EXPECT_EQ(LoadForFrame(d.set, whole.c_str(), fit, *block), DecodeOutcome::kComplete);
        EXPECT_STREQ(LastDecodeDamage(), "") << smooth;
    }
}

} // namespace
