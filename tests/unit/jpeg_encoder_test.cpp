// The JPEG encoder: exact stream bytes for known pictures, the stages
// against their mathematical definitions, safe failure on a small buffer, and
// (where libjpeg is available) our streams decoded by an independent decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "export/jpeg_encoder.h"
#include "tests/unit/test_support.h"

#ifdef PIXMORA_HAVE_LIBJPEG
#include <csetjmp>
#include <jpeglib.h>
#endif

namespace {

struct Rgb {
    uint8_t r, g, b;
};

// A picture whose pixel at (x, y), y = 0 at the top, is f(x, y).
std::unique_ptr<FrameImage> MakePicture(const std::function<Rgb(int, int)>& f, int width = 128,
                                        int height = 128) {
    std::unique_ptr<FrameImage> p(new FrameImage{});
    InitFrameHeader(width, height, p->bytes);
    int stride = (width * 3 + 3) / 4 * 4;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = p->Pixels() + (height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            Rgb c = f(x, y);
            row[x * 3 + 0] = c.b;
            row[x * 3 + 1] = c.g;
            row[x * 3 + 2] = c.r;
        }
    }
    return p;
}

std::unique_ptr<FrameImage> Uniform(uint8_t r, uint8_t g, uint8_t b) {
    return MakePicture([=](int, int) { return Rgb{r, g, b}; });
}

// Smooth colour gradients with a few hard edges, like a photo's mix of sky and outlines.
std::unique_ptr<FrameImage> PhotoLike() {
    return MakePicture([](int x, int y) {
        double r = 128 + 90 * std::sin(x * 0.05) * std::cos(y * 0.031);
        double g = 100 + 60 * std::cos((x + y) * 0.04);
        double b = 160 - 0.6 * y + 20 * std::sin(x * 0.21);
        int dx = x - 80, dy = y - 50;
        if (dx * dx + dy * dy < 400) r = 230, g = 200, b = 40;     // a disc
        if (x > 20 && x < 40 && y > 70 && y < 120) r = g = b = 20; // a dark bar
        auto c = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
        return Rgb{c(r), c(g), c(b)};
    });
}

std::unique_ptr<FrameImage> Noise(uint32_t seed) {
    std::mt19937 rng(seed);
    return MakePicture([&](int, int) {
        uint32_t v = rng();
        return Rgb{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                   static_cast<uint8_t>(v >> 16)};
    });
}

// Every channel of every pixel either 0 or 255: the most expensive content we
// know of (a hill climb over tiled blocks gained only about 8 % more).
std::unique_ptr<FrameImage> BinaryNoise(uint32_t seed) {
    std::mt19937 rng(seed);
    return MakePicture([&](int, int) {
        uint32_t v = rng();
        return Rgb{uint8_t(v & 1 ? 255 : 0), uint8_t(v & 2 ? 255 : 0), uint8_t(v & 4 ? 255 : 0)};
    });
}

std::vector<uint8_t> Encode(const FrameImage& picture) {
    std::vector<uint8_t> out(kJpegOutputBlockSize);
    size_t length = 0;
    JpegEncodeError error = JpegEncodeError::kNone;
    EXPECT_EQ(EncodeJpeg(picture, out.data(), out.size(), length, &error), 1)
        << JpegEncodeErrorText(error);
    out.resize(length);
    return out;
}

// The segment that starts with marker FF `code`, marker and length included.
std::vector<uint8_t> Segment(const std::vector<uint8_t>& jpeg, uint8_t code) {
    size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        size_t len = jpeg[i + 2] << 8 | jpeg[i + 3];
        if (jpeg[i + 1] == code && i + 2 + len <= jpeg.size())
            return std::vector<uint8_t>(jpeg.begin() + i, jpeg.begin() + i + 2 + len);
        if (jpeg[i + 1] == 0xDA) break;
        i += 2 + len;
    }
    return {};
}

// The bytes after the SOS segment, up to and excluding EOI.
std::vector<uint8_t> ScanData(const std::vector<uint8_t>& jpeg) {
    size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        size_t len = jpeg[i + 2] << 8 | jpeg[i + 3];
        if (jpeg[i + 1] == 0xDA) {
            size_t start = i + 2 + len;
            if (jpeg.size() < start + 2) return {};
            return std::vector<uint8_t>(jpeg.begin() + start, jpeg.end() - 2);
        }
        i += 2 + len;
    }
    return {};
}

// Bits appended most significant first, then packed into bytes with 0xFF
// stuffing, the way a scan has to look on disk.
struct BitString {
    std::vector<int> bits;
    void Add(const char* text) {
        for (; *text; ++text)
            if (*text == '0' || *text == '1') bits.push_back(*text - '0');
    }
    std::vector<uint8_t> Stuffed() const {
        std::vector<uint8_t> out;
        for (size_t i = 0; i + 8 <= bits.size(); i += 8) {
            uint8_t b = 0;
            for (int k = 0; k < 8; ++k)
                b = static_cast<uint8_t>(b << 1 | bits[i + k]);
            out.push_back(b);
            if (b == 0xFF) out.push_back(0);
        }
        return out;
    }
};

TEST(JpegEncoder, UniformGreyIsExactly1059BytesOfEmptyBlocks) {
    std::vector<uint8_t> jpeg = Encode(*Uniform(128, 128, 128));
    ASSERT_EQ(jpeg.size(), 1059u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    // The scan starts right after the 607 header bytes.
    ASSERT_EQ(ScanData(jpeg).size(), 1059u - kJpegHeaderBytes - 2);
    // Every MCU: Y DC "no change" 00, Y end-of-block 1010, Cb and Cr the same
    // in the chrominance codes (00, 00). 256 MCUs of 14 bits fill exactly 448
    // bytes, so the padding is a whole byte of ones, stuffed: FF 00.
    BitString expected;
    for (int mcu = 0; mcu < 256; ++mcu)
        expected.Add("00 1010 00 00 00 00");
    expected.Add("11111111");
    EXPECT_EQ(ScanData(jpeg), expected.Stuffed());
    const uint8_t tail[4] = {0xFF, 0x00, 0xFF, 0xD9};
    EXPECT_EQ(0, std::memcmp(jpeg.data() + 1055, tail, 4));
}

TEST(JpegEncoder, HeaderSegmentsAreTheFixedOnes) {
    std::vector<uint8_t> jpeg = Encode(*PhotoLike());
    const std::vector<uint8_t> app0 = {0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                       0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(jpeg.begin() + 2, jpeg.begin() + 20), app0);
    const std::vector<uint8_t> sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x80, 0x00, 0x80, 0x03,
                                       0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    EXPECT_EQ(Segment(jpeg, 0xC0), sof0);
    const std::vector<uint8_t> sos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                                      0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    EXPECT_EQ(Segment(jpeg, 0xDA), sos);
    // Order: SOI APP0 DQT SOF0 DHT SOS; the DHT holds the four tables in one segment.
    EXPECT_EQ(jpeg[20], 0xFF);
    EXPECT_EQ(jpeg[21], 0xDB);
    EXPECT_EQ(jpeg[154 + 1], 0xC0);
    EXPECT_EQ(jpeg[173 + 1], 0xC4);
    EXPECT_EQ(Segment(jpeg, 0xC4).size(), 2u + 0x1A2);
    EXPECT_EQ(jpeg[593 + 1], 0xDA);

    std::vector<uint8_t> dqt = Segment(jpeg, 0xDB);
    ASSERT_EQ(dqt.size(), 134u);
    EXPECT_EQ(dqt[4], 0x00);
    const uint8_t lumaStart[6] = {8, 6, 6, 7, 6, 5}; // 16 11 12 14 12 10 at 50 %
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(dqt[5 + k], lumaStart[k]) << k;
    EXPECT_EQ(dqt[5 + 63], 50); // 99 at 50 %
    EXPECT_EQ(dqt[69], 0x01);
    EXPECT_EQ(dqt[70], 9); // chrominance 17 at 50 %
    EXPECT_EQ(dqt[70 + 63], 50);
    EXPECT_EQ(0, std::memcmp(dqt.data() + 5, JpegQuantTable(0), 64));
    EXPECT_EQ(0, std::memcmp(dqt.data() + 70, JpegQuantTable(1), 64));

    // Every picture carries the same tables.
    std::vector<uint8_t> other = Encode(*Noise(7));
    EXPECT_EQ(Segment(other, 0xDB), dqt);
    EXPECT_EQ(Segment(other, 0xC4), Segment(jpeg, 0xC4));
}

TEST(JpegEncoder, QuantTablesAreTheStandardOnesAtHalfStrength) {
    // Natural-order first row of the luminance table: 16 11 10 16 24 40 51 61.
    const int zigzagOfFirstRow[8] = {0, 1, 5, 6, 14, 15, 27, 28};
    const int halved[8] = {8, 6, 5, 8, 12, 20, 26, 31};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(JpegQuantTable(0)[zigzagOfFirstRow[i]], halved[i]) << i;
    int fifties = 0;
    for (int k = 0; k < 64; ++k)
        fifties += JpegQuantTable(1)[k] == 50;
    EXPECT_EQ(fifties, 64 - 13); // every 99 of the chrominance table, the 13 others not
}

TEST(JpegEncoder, ColourSamplesOfPrimariesAndGreys) {
    JpegSamples white = JpegColourSamples(255, 255, 255);
    EXPECT_EQ(white.y, 127);
    EXPECT_EQ(white.cb, 0);
    EXPECT_EQ(white.cr, 0);
    JpegSamples blue = JpegColourSamples(0, 0, 255);
    EXPECT_EQ(blue.cb, 127);
    JpegSamples red = JpegColourSamples(255, 0, 0);
    EXPECT_EQ(red.cr, 127);
    EXPECT_EQ(red.cb, -44); // the shift rounds toward minus infinity
    JpegSamples grey = JpegColourSamples(128, 128, 128);
    EXPECT_EQ(grey.y, 0);
    EXPECT_EQ(grey.cb, 0);
    EXPECT_EQ(grey.cr, 0);
    JpegSamples black = JpegColourSamples(0, 0, 0);
    EXPECT_EQ(black.y, -128);
    // Extremes stay inside signed 8 bits.
    EXPECT_EQ(JpegColourSamples(255, 255, 0).cb, -128);
    EXPECT_EQ(JpegColourSamples(0, 255, 255).cr, -128);
}

// The encoder converts whole rows at a time (in SIMD where it can); every
// one of the 2^24 colours must come out as the product tables define it.
TEST(JpegEncoder, RowConversionEqualsTheProductTablesForEveryColour) {
    const int n = 4096 + 5; // an odd count also exercises the tail of a row
    std::vector<uint8_t> bgr(n * 3);
    std::vector<int8_t> y(n), cb(n), cr(n);
    int mismatches = 0;
    for (uint32_t first = 0; first < (1u << 24); first += 4096) {
        for (int i = 0; i < n; ++i) {
            uint32_t c = (first + i) & 0xFFFFFF;
            bgr[i * 3] = static_cast<uint8_t>(c);
            bgr[i * 3 + 1] = static_cast<uint8_t>(c >> 8);
            bgr[i * 3 + 2] = static_cast<uint8_t>(c >> 16);
        }
        JpegColourRow(bgr.data(), n, y.data(), cb.data(), cr.data());
        for (int i = 0; i < n; ++i) {
            JpegSamples want = JpegColourSamples(bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]);
            if (want.y != y[i] || want.cb != cb[i] || want.cr != cr[i]) {
                if (++mismatches <= 5)
                    ADD_FAILURE() << "colour " << std::hex << ((first + i) & 0xFFFFFF) << std::dec
                                  << ": " << int(y[i]) << "," << int(cb[i]) << "," << int(cr[i])
                                  << " instead of " << int(want.y) << "," << int(want.cb) << ","
                                  << int(want.cr);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The DCT-II with orthonormal JPEG scaling, computed directly in double.
double ReferenceDct(const int8_t s[64], int u, int v) {
    const double pi = std::acos(-1.0);
    double sum = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            sum += s[y * 8 + x] * std::cos((2 * x + 1) * u * pi / 16) *
                   std::cos((2 * y + 1) * v * pi / 16);
    double cu = u == 0 ? std::sqrt(0.5) : 1, cv = v == 0 ? std::sqrt(0.5) : 1;
    return sum * cu * cv / 4;
}

const int kNatural[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                          12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                          35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                          58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

TEST(JpegEncoder, QuantisedBlockMatchesTheTrueDctRoundedToTheTable) {
    std::mt19937 rng(42);
    for (int table = 0; table < 2; ++table) {
        for (int trial = 0; trial < 200; ++trial) {
            int8_t s[64];
            // Alternate between smooth ramps and rough blocks.
            for (int i = 0; i < 64; ++i)
                s[i] = static_cast<int8_t>(trial % 2 ? static_cast<int>(rng() % 256) - 128
                                                     : (i % 8) * 13 - (i / 8) * 9 + 10);
            int16_t zz[64];
            JpegQuantisedBlock(s, table, zz);
            for (int k = 0; k < 64; ++k) {
                int n = kNatural[k];
                double exact = ReferenceDct(s, n % 8, n / 8) / JpegQuantTable(table)[k];
                // Float rounding may tip a value lying on a half either way.
                EXPECT_LE(std::fabs(zz[k] - exact), 0.5 + 1e-3)
                    << "table " << table << " trial " << trial << " zig-zag " << k;
            }
        }
    }
}

TEST(JpegEncoder, SamePictureAlwaysGivesTheSameBytes) {
    auto photo = PhotoLike();
    std::vector<uint8_t> first = Encode(*photo);
    Encode(*Noise(3)); // no state may carry over from another picture
    std::vector<uint8_t> second = Encode(*photo);
    EXPECT_EQ(first, second);
    ASSERT_GT(first.size(), kJpegHeaderBytes + 4);
    EXPECT_EQ(first[first.size() - 2], 0xFF);
    EXPECT_EQ(first[first.size() - 1], 0xD9);
}

// Golden checksums recorded from the native build: the 32-bit Windows build
// (SSE maths) and every other target must produce the very same streams.
// The pictures are made without the maths library, whose last bits may
// differ between platforms.
TEST(JpegEncoder, SameBytesOnEveryTarget) {
    struct Case {
        const char* name;
        std::unique_ptr<FrameImage> picture;
        size_t size;
        uint64_t fnv;
    } cases[] = {
        {"integer scene", MakePicture([](int x, int y) {
             int dx = x - 70, dy = y - 60;
             bool disc = dx * dx + dy * dy < 900;
             return Rgb{uint8_t(disc ? 240 : x * y / 64),
                        uint8_t(disc ? 30 : 128 + (x - 64) * (y - 64) / 32),
                        uint8_t(disc ? 60 : 255 - y * 2)};
         }),
         2642, 0xa3cf103109e2561full},
        {"noise", Noise(11), 21116, 0x6e1bd916107b4bb7ull},
        {"binary noise", BinaryNoise(12), 26844, 0x27841d1d8e0f8c66ull},
        {"100 x 60 ramp",
         MakePicture(
             [](int x, int y) {
                 return Rgb{uint8_t(x * 2), uint8_t(y * 4), uint8_t(x ^ y)};
             },
             100, 60),
         1482, 0x84fc724237607f5bull},
    };
    for (Case& c : cases) {
        std::vector<uint8_t> jpeg = Encode(*c.picture);
        EXPECT_EQ(jpeg.size(), c.size) << c.name;
        EXPECT_EQ(Fnv1a64(jpeg.data(), jpeg.size()), c.fnv)
            << c.name << std::hex << ": 0x" << Fnv1a64(jpeg.data(), jpeg.size());
    }
}

TEST(JpegEncoder, HarshestNoiseStillFitsTheSaveAllBlock) {
    std::vector<uint8_t> jpeg = Encode(*BinaryNoise(1));
    std::printf("[ info ] 128 x 128 binary noise encodes to %zu bytes\n", jpeg.size());
    EXPECT_GT(jpeg.size(), 25000u); // really the expensive case
    EXPECT_LE(jpeg.size(), kJpegOutputBlockSize);
}

TEST(JpegEncoder, TooSmallBufferFailsWithoutWritingPastItsEnd) {
    auto noise = BinaryNoise(2);
    std::vector<uint8_t> full = Encode(*noise);
    ASSERT_FALSE(full.empty());
    const size_t capacities[] = {
        0, 10, kJpegHeaderBytes, kJpegHeaderBytes + 3, 2000, full.size() - 2, full.size() - 1};
    for (size_t capacity : capacities) {
        const size_t guard = 64;
        std::vector<uint8_t> out(capacity + guard, 0xA5);
        size_t length = 12345;
        JpegEncodeError error = JpegEncodeError::kNone;
        EXPECT_EQ(EncodeJpeg(*noise, out.data(), capacity, length, &error), 0) << capacity;
        EXPECT_EQ(error, JpegEncodeError::kOutputFull) << capacity;
        EXPECT_EQ(length, 0u) << capacity;
        for (size_t i = capacity; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xA5) << "byte " << i << " written with capacity " << capacity;
    }
    // Exactly enough room is enough.
    std::vector<uint8_t> exact(full.size());
    size_t length = 0;
    EXPECT_EQ(EncodeJpeg(*noise, exact.data(), exact.size(), length), 1);
    EXPECT_EQ(length, full.size());
    EXPECT_EQ(exact, full);
}

TEST(JpegEncoder, HeadersThatDoNotFitTheBlockAreRefused) {
    struct Case {
        int32_t width, height;
    } cases[] = {
        {0, 128}, {128, 0}, {128, -128}, {128, 134}, {1000, 1000}, {65535, 65535},
        {65536, 128}, {65664, 128}, {128, 65536 + 128}, // beyond the frame header's 16 bits
        {43690, 32768}, // 32768 rows of 131,072 bytes: 2^32, which is 0 in a 32-bit size
    };
    for (const Case& c : cases) {
        FrameImage picture{};
        BitmapInfoHeader h{};
        h.biSize = 40;
        h.biWidth = c.width;
        h.biHeight = c.height;
        h.biPlanes = 1;
        h.biBitCount = 24;
        std::memcpy(picture.bytes, &h, sizeof h);
        std::vector<uint8_t> out(kJpegOutputBlockSize, 0x5A);
        size_t length = 7;
        JpegEncodeError error = JpegEncodeError::kNone;
        EXPECT_EQ(EncodeJpeg(picture, out.data(), out.size(), length, &error), 0)
            << c.width << " x " << c.height;
        EXPECT_EQ(error, JpegEncodeError::kBadPicture);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(out[0], 0x5A);
    }
}

TEST(JpegEncoder, SmallerPictureCarriesItsOwnSizeInTheFrameHeader) {
    auto picture = MakePicture(
        [](int x, int y) {
            return Rgb{uint8_t(x * 2), uint8_t(y * 3), 90};
        },
        100, 60);
    std::vector<uint8_t> jpeg = Encode(*picture);
    std::vector<uint8_t> sof = Segment(jpeg, 0xC0);
    ASSERT_EQ(sof.size(), 19u);
    EXPECT_EQ(sof[5] << 8 | sof[6], 60);
    EXPECT_EQ(sof[7] << 8 | sof[8], 100);
}

#ifdef PIXMORA_HAVE_LIBJPEG

struct JpegErrorTrap {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
};

void TrapError(j_common_ptr cinfo) {
    JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, trap->message);
    std::longjmp(trap->jump, 1);
}

struct Decoded {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // top-down
    std::string error;
    int warnings = 0;
};

Decoded DecodeWithLibjpeg(const std::vector<uint8_t>& jpeg) {
    Decoded d;
    jpeg_decompress_struct cinfo;
    JpegErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = TrapError;
    if (setjmp(trap.jump)) {
        d.error = trap.message;
        jpeg_destroy_decompress(&cinfo);
        return d;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    d.width = static_cast<int>(cinfo.output_width);
    d.height = static_cast<int>(cinfo.output_height);
    d.rgb.resize(static_cast<size_t>(d.width) * d.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = d.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * d.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    d.warnings = static_cast<int>(trap.mgr.num_warnings);
    jpeg_destroy_decompress(&cinfo);
    d.ok = true;
    return d;
}

// The quantised coefficients of every block, per component, in natural order.
struct Coefficients {
    bool ok = false;
    int blocksWide = 0, blocksHigh = 0;
    std::vector<int16_t> comp[3];
};

Coefficients ReadCoefficients(const std::vector<uint8_t>& jpeg) {
    Coefficients c;
    jpeg_decompress_struct cinfo;
    JpegErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = TrapError;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return c;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    c.blocksWide = static_cast<int>(cinfo.comp_info[0].width_in_blocks);
    c.blocksHigh = static_cast<int>(cinfo.comp_info[0].height_in_blocks);
    for (int ci = 0; ci < 3; ++ci) {
        for (int by = 0; by < c.blocksHigh; ++by) {
            JBLOCKARRAY row =
                (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), arrays[ci],
                                                 static_cast<JDIMENSION>(by), 1, FALSE);
            for (int bx = 0; bx < c.blocksWide; ++bx)
                for (int i = 0; i < 64; ++i)
                    c.comp[ci].push_back(row[0][bx][i]);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    c.ok = true;
    return c;
}

double Psnr(const FrameImage& picture, const Decoded& d) {
    double sq = 0;
    for (int y = 0; y < 128; ++y) {
        const uint8_t* row = picture.Row(y);
        for (int x = 0; x < 128; ++x)
            for (int c = 0; c < 3; ++c) {
                int original = row[x * 3 + 2 - c]; // BGR -> RGB
                int got = d.rgb[(static_cast<size_t>(y) * 128 + x) * 3 + c];
                sq += (original - got) * (original - got);
            }
    }
    double mse = sq / (128.0 * 128 * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255 / mse);
}

TEST(JpegEncoderRoundTrip, LibjpegDecodesOurStreamsCloseToTheInput) {
    struct Case {
        const char* name;
        std::unique_ptr<FrameImage> picture;
        double minPsnr;
    };
    Case cases[] = {{"photo-like", PhotoLike(), 32.0},
                    {"noise", Noise(5), 13.0},
                    {"white", Uniform(255, 255, 255), 48.0},
                    {"red", Uniform(255, 0, 0), 35.0},
                    {"blue", Uniform(0, 0, 255), 35.0}};
    for (Case& c : cases) {
        std::vector<uint8_t> jpeg = Encode(*c.picture);
        Decoded d = DecodeWithLibjpeg(jpeg);
        ASSERT_TRUE(d.ok) << c.name << ": " << d.error;
        EXPECT_EQ(d.warnings, 0) << c.name << ": the stream is not clean";
        ASSERT_EQ(d.width, 128);
        ASSERT_EQ(d.height, 128);
        double psnr = Psnr(*c.picture, d);
        std::printf("[ info ] %s: %zu bytes, PSNR %.2f dB\n", c.name, jpeg.size(), psnr);
        EXPECT_GE(psnr, c.minPsnr) << c.name;
    }
}

TEST(JpegEncoderRoundTrip, PaddedEdgesDecodeToTheSmallerPicture) {
    auto picture = MakePicture(
        [](int x, int y) {
            return Rgb{uint8_t(40 + x * 2), uint8_t(200 - y * 3), 90};
        },
        100, 60);
    Decoded d = DecodeWithLibjpeg(Encode(*picture));
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.width, 100);
    ASSERT_EQ(d.height, 60);
    int worst = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint8_t* row = picture->Pixels() + (59 - y) * 300;
                int diff = std::abs(row[x * 3 + 2 - c] - d.rgb[(y * 100 + x) * 3 + c]);
                worst = std::max(worst, diff);
            }
    EXPECT_LE(worst, 12); // a smooth ramp loses little, right up to the padded edges
}

// Every coefficient in the stream lies within rounding of the true DCT of
// the picture's samples: catches colour, transform, zig-zag, block order,
// DC prediction and Huffman faults alike.
TEST(JpegEncoderRoundTrip, StreamCoefficientsAreTheTrueDctOfEachBlock) {
    auto picture = PhotoLike();
    Coefficients coef = ReadCoefficients(Encode(*picture));
    ASSERT_TRUE(coef.ok);
    ASSERT_EQ(coef.blocksWide, 16);
    ASSERT_EQ(coef.blocksHigh, 16);
    int checked = 0;
    for (int by = 0; by < 16; ++by)
        for (int bx = 0; bx < 16; ++bx) {
            int8_t s[3][64];
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    const uint8_t* p = picture->Row(by * 8 + y) + (bx * 8 + x) * 3;
                    int r = p[2], g = p[1], b = p[0];
                    // Written out from the colour definition, not taken from the encoder.
                    s[0][y * 8 + x] =
                        static_cast<int8_t>(((19595 * r + 38470 * g + 7471 * b) >> 16) - 128);
                    s[1][y * 8 + x] =
                        static_cast<int8_t>((-11058 * r - 21708 * g + 32768 * b) >> 16);
                    s[2][y * 8 + x] = static_cast<int8_t>((32768 * r - 27438 * g - 5328 * b) >> 16);
                }
            for (int ci = 0; ci < 3; ++ci) {
                const uint8_t* q = JpegQuantTable(ci == 0 ? 0 : 1);
                for (int k = 0; k < 64; ++k) {
                    int n = kNatural[k];
                    double exact = ReferenceDct(s[ci], n % 8, n / 8) / q[k];
                    int got = coef.comp[ci][(by * 16 + bx) * 64 + n];
                    ASSERT_LE(std::fabs(got - exact), 0.5 + 1e-3)
                        << "component " << ci << " block " << bx << "," << by << " zig-zag " << k;
                    ++checked;
                }
            }
        }
    EXPECT_EQ(checked, 3 * 256 * 64);
}

// libjpeg-turbo's own encoder, set to the same tables and float DCT, writes
// the same table contents and scan bits for a uniform grey picture (it
// splits the table segments differently and leaves out the padding byte).
TEST(JpegEncoderRoundTrip, LibjpegEncoderAgreesOnTablesAndGreyScan) {
    std::vector<uint8_t> ours = Encode(*Uniform(128, 128, 128));

    jpeg_compress_struct cinfo;
    JpegErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = TrapError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        free(buffer);
        FAIL() << trap.message;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = 128;
    cinfo.image_height = 128;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    for (int ci = 0; ci < 3; ++ci)
        cinfo.comp_info[ci].h_samp_factor = cinfo.comp_info[ci].v_samp_factor = 1;
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(128 * 3, 128);
    while (cinfo.next_scanline < 128) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> theirs(buffer, buffer + size);
    free(buffer);
    jpeg_destroy_compress(&cinfo);

    // Table bodies in file order, without the segment framing.
    auto bodies = [](const std::vector<uint8_t>& jpeg, uint8_t code) {
        std::vector<uint8_t> all;
        size_t i = 2;
        while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
            size_t len = jpeg[i + 2] << 8 | jpeg[i + 3];
            if (jpeg[i + 1] == code)
                all.insert(all.end(), jpeg.begin() + i + 4, jpeg.begin() + i + 2 + len);
            i += 2 + len;
        }
        return all;
    };
    EXPECT_EQ(bodies(ours, 0xDB), bodies(theirs, 0xDB));
    EXPECT_EQ(bodies(ours, 0xC4), bodies(theirs, 0xC4));
    EXPECT_EQ(Segment(ours, 0xC0), Segment(theirs, 0xC0));
    EXPECT_EQ(Segment(ours, 0xE0), Segment(theirs, 0xE0));
    EXPECT_EQ(Segment(ours, 0xDA), Segment(theirs, 0xDA));
    std::vector<uint8_t> ourScan = ScanData(ours), theirScan = ScanData(theirs);
    ASSERT_EQ(ourScan.size(), theirScan.size() + 2);
    EXPECT_TRUE(std::equal(theirScan.begin(), theirScan.end(), ourScan.begin()));
}

#else

TEST(JpegEncoderRoundTrip, SkippedWithoutLibjpeg) {
    GTEST_SKIP()
        << "libjpeg is not available in this build: no independent decoder to compare with";
}

#endif

} // namespace
