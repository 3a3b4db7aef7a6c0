// The encoder's top level: the picture into whole blocks, colour
// conversion, the headers, the scan, and the stage entries for the tests.
#include "export/jpeg_encoder.h"

#include <cstring>
#include <memory>
#include <new>

#include "export/jpeg_encoder_internal.h"
#include "export/jpeg_forward_dct.h"
#include "export/jpeg_huffman_writer.h"

namespace {

void WriteHeaders(ByteSink& s, const EncoderTables& t, uint16_t width, uint16_t height) {
    static const uint8_t kApp0[] = {0xFF, 0xD8, // SOI
                                    0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                    0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    s.Bytes(kApp0, sizeof kApp0);

    s.Word(0xFFDB);
    s.Word(0x0084);
    for (int c = 0; c < 2; ++c) {
        s.Byte(static_cast<uint8_t>(c));
        s.Bytes(t.quant[c], 64);
    }

    s.Word(0xFFC0);
    s.Word(0x0011);
    s.Byte(8);
    s.Word(height);
    s.Word(width);
    s.Byte(3);
    static const uint8_t kComponents[] = {1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
    s.Bytes(kComponents, sizeof kComponents);

    s.Word(0xFFC4);
    s.Word(0x01A2);
    s.Byte(0x00);
    s.Bytes(kDcLumaCounts, 16);
    s.Bytes(kDcSymbols, 12);
    s.Byte(0x10);
    s.Bytes(kAcLumaCounts, 16);
    s.Bytes(kAcLumaSymbols, 162);
    s.Byte(0x01);
    s.Bytes(kDcChromaCounts, 16);
    s.Bytes(kDcSymbols, 12);
    s.Byte(0x11);
    s.Bytes(kAcChromaCounts, 16);
    s.Bytes(kAcChromaSymbols, 162);

    static const uint8_t kSos[] = {0xFF, 0xDA, 0x00, 0x0C, 3,    1,    0x00,
                                   2,    0x11, 3,    0x11, 0x00, 0x3F, 0x00};
    s.Bytes(kSos, sizeof kSos);
}

// ---- Pixels ----

// The picture turned top-down and padded to whole 8 x 8 blocks by repeating
// the last column and the last row, blue-green-red per pixel.
// Example: a 13 x 5 picture becomes a 16 x 8 block; columns 13..15 copy
// column 12 of their row, rows 5..7 copy row 4 (the picture's bottom row).
struct PixelBlock {
    std::unique_ptr<uint8_t[]> bytes;
    int width = 0, height = 0; // padded
    int stride = 0;
    std::unique_ptr<float[]> strip; // colour samples of one row of MCUs
};

bool ReadPictureSize(const FrameImage& picture, uint16_t& width, uint16_t& height) {
    BitmapInfoHeader h;
    std::memcpy(&h, picture.bytes, sizeof h);
    // The frame header holds 16-bit sizes; a larger size is not cut down to them.
    if (h.biWidth < 1 || h.biWidth > 65535 || h.biHeight < 1 || h.biHeight > 65535) return false;
    width = static_cast<uint16_t>(h.biWidth);
    height = static_cast<uint16_t>(h.biHeight);
    // Rows are stored with the bitmap stride; they must all lie inside the
    // block. Counted in 64 bits: 32768 rows of 131,072 bytes (43690 pixels) make 2^32.
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
    return stride * height <= static_cast<uint64_t>(kFrameImageSize - kFrameHeaderBytes);
}

bool PreparePixelBlock(const FrameImage& picture, uint16_t width, uint16_t height,
                       PixelBlock& block) {
    block.width = (width + 7) / 8 * 8;
    block.height = (height + 7) / 8 * 8;
    block.stride = block.width * 3;
    // 16 bytes of slack: the colour conversion reads whole 16-byte groups.
    block.bytes.reset(new (std::nothrow)
                          uint8_t[static_cast<size_t>(block.stride) * block.height + 16]);
    block.strip.reset(new (std::nothrow) float[static_cast<size_t>(block.width) * 24]);
    if (!block.bytes || !block.strip) return false;
    std::memset(block.bytes.get() + static_cast<size_t>(block.stride) * block.height, 0, 16);
    const size_t sourceStride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = picture.Pixels() + (height - 1 - y) * sourceStride;
        uint8_t* dst = block.bytes.get() + static_cast<size_t>(y) * block.stride;
        std::memcpy(dst, src, static_cast<size_t>(width) * 3);
        for (int x = width; x < block.width; ++x)
            std::memcpy(dst + x * 3, src + (width - 1) * 3, 3);
    }
    for (int y = height; y < block.height; ++y)
        std::memcpy(block.bytes.get() + static_cast<size_t>(y) * block.stride,
                    block.bytes.get() + static_cast<size_t>(height - 1) * block.stride,
                    block.stride);
    return true;
}

// ---- Colour ----

inline JpegSamples Samples(const EncoderTables& t, uint8_t r, uint8_t g, uint8_t b) {
    JpegSamples s;
    s.y = static_cast<int8_t>(((t.yR[r] + t.yG[g] + t.yB[b]) >> 16) - 128);
    s.cb = static_cast<int8_t>((t.cbR[r] + t.cbG[g] + t.cbB[b]) >> 16);
    s.cr = static_cast<int8_t>((t.crR[r] + t.crG[g] + t.crB[b]) >> 16);
    return s;
}

#ifdef PIXMORA_JPEG_SSE2
// floor(sum / 65536) of three products, four pixels at a time. Every
// product is a whole number below 2^24 and so is every partial sum, so
// single-precision floats hold them exactly: the result equals the sum of
// the three table entries, shifted.
inline __m128i ColourSum(__m128 r, __m128 g, __m128 b, float kr, float kg, float kb) {
    __m128 sum =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, _mm_set1_ps(kr)), _mm_mul_ps(g, _mm_set1_ps(kg))),
                   _mm_mul_ps(b, _mm_set1_ps(kb)));
    return _mm_srai_epi32(_mm_cvtps_epi32(sum), 16);
}

// Pixels 0..3 at p (12 bytes; 16 are read), one per 32-bit lane with blue
// in the low byte: lanes start at byte offsets 0, 3, 6 and 9.
inline __m128i LoadFourPixels(const uint8_t* p) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i ab = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
    __m128i cd = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
    return _mm_unpacklo_epi64(ab, cd);
}

// Y (level-shifted), Cb and Cr of four pixels as 32-bit integers.
inline void ColourFour(const uint8_t* p, __m128i& y, __m128i& cb, __m128i& cr) {
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    __m128i px = LoadFourPixels(p);
    __m128 b = _mm_cvtepi32_ps(_mm_and_si128(px, lowByte));
    __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 8), lowByte));
    __m128 r = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 16), lowByte));
    y = _mm_sub_epi32(ColourSum(r, g, b, 19595, 38470, 7471), _mm_set1_epi32(128));
    cb = ColourSum(r, g, b, -11058, -21708, 32768);
    cr = ColourSum(r, g, b, 32768, -27438, -5328);
}
#endif

// The samples of n pixels as floats, ready for the transform. Reading goes
// up to 4 bytes past the last pixel: the pixel block has that slack.
void ColourRowToFloats(const EncoderTables& t, const uint8_t* bgr, int n, float* y, float* cb,
                       float* cr) {
    int i = 0;
#ifdef PIXMORA_JPEG_SSE2
    for (; i + 4 <= n; i += 4) {
        __m128i vy, vcb, vcr;
        ColourFour(bgr + i * 3, vy, vcb, vcr);
        _mm_storeu_ps(y + i, _mm_cvtepi32_ps(vy));
        _mm_storeu_ps(cb + i, _mm_cvtepi32_ps(vcb));
        _mm_storeu_ps(cr + i, _mm_cvtepi32_ps(vcr));
    }
#endif
    for (; i < n; ++i) {
        JpegSamples v = Samples(t, bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]);
        y[i] = v.y;
        cb[i] = v.cb;
        cr[i] = v.cr;
    }
}

// The same as signed 8-bit samples, reading nothing past the n pixels.
void ColourRowToSamples(const EncoderTables& t, const uint8_t* bgr, int n, int8_t* y, int8_t* cb,
                        int8_t* cr) {
    int i = 0;
#ifdef PIXMORA_JPEG_SSE2
    auto store4 = [](int8_t* to, __m128i v) {
        // Every value lies in -128..127, so the saturating packs change nothing.
        v = _mm_packs_epi32(v, v);
        int32_t four = _mm_cvtsi128_si32(_mm_packs_epi16(v, v));
        std::memcpy(to, &four, 4);
    };
    for (; (i + 4) * 3 + 4 <= n * 3; i += 4) {
        __m128i vy, vcb, vcr;
        ColourFour(bgr + i * 3, vy, vcb, vcr);
        store4(y + i, vy);
        store4(cb + i, vcb);
        store4(cr + i, vcr);
    }
#endif
    for (; i < n; ++i) {
        JpegSamples v = Samples(t, bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]);
        y[i] = v.y;
        cb[i] = v.cb;
        cr[i] = v.cr;
    }
}

// Codes the blocks top to bottom, left to right; each position is one MCU
// of a Y, a Cb and a Cr block, each with its own DC predictor.
// Example: a 128 x 128 picture has 16 rows of 16 MCUs, 768 blocks in all.
// The colour samples of one row of MCUs (8 pixel rows) are converted in one
// go into `strip`: 8 rows of Y, then 8 of Cb, then 8 of Cr.
void EncodeScan(ByteSink& s, const EncoderTables& t, const PixelBlock& block, float* strip) {
    const int w = block.width;
    float* planes[3] = {strip, strip + 8 * w, strip + 16 * w};
    int16_t predictor[3] = {0, 0, 0};
    int16_t natural[64];
    for (int by = 0; by < block.height && !s.full; by += 8) {
        for (int y = 0; y < 8; ++y)
            ColourRowToFloats(t, block.bytes.get() + static_cast<size_t>(by + y) * block.stride, w,
                              planes[0] + y * w, planes[1] + y * w, planes[2] + y * w);
        for (int bx = 0; bx < w; bx += 8) {
            for (int c = 0; c < 3; ++c) {
                int table = c == 0 ? 0 : 1;
                TransformBlock(planes[c] + bx, w, t.divisor[table], natural);
                EncodeBlock(s, t, natural, predictor[c], table);
            }
        }
    }
}

int Fail(JpegEncodeError reason, JpegEncodeError* error, size_t& length) {
    length = 0;
    if (error) *error = reason;
    return 0;
}

} // namespace

int EncodeJpeg(const FrameImage& picture, uint8_t* output, size_t capacity, size_t& length,
               JpegEncodeError* error) {
    uint16_t width, height;
    if (!ReadPictureSize(picture, width, height))
        return Fail(JpegEncodeError::kBadPicture, error, length);
    // Even an empty scan needs the headers, a padding byte and EOI.
    if (output == nullptr || capacity < kJpegHeaderBytes + 4)
        return Fail(JpegEncodeError::kOutputFull, error, length);
    PixelBlock block;
    if (!PreparePixelBlock(picture, width, height, block))
        return Fail(JpegEncodeError::kOutOfMemory, error, length);
    const EncoderTables& t = JpegEncoderTables();

    ByteSink s{output, output + capacity};
    WriteHeaders(s, t, width, height);
    EncodeScan(s, t, block, block.strip.get());
    s.FinishScan();
    s.Word(0xFFD9);
    if (s.full) return Fail(JpegEncodeError::kOutputFull, error, length);
    length = static_cast<size_t>(s.out - output);
    if (error) *error = JpegEncodeError::kNone;
    return 1;
}

const char* JpegEncodeErrorText(JpegEncodeError error) {
    switch (error) {
    case JpegEncodeError::kNone: return "no error";
    case JpegEncodeError::kBadPicture:
        return "the picture's header does not describe a picture its block can hold";
    case JpegEncodeError::kOutputFull: return "the encoded picture does not fit the output buffer";
    case JpegEncodeError::kOutOfMemory: return "not enough memory to encode the picture";
    }
    return "unknown error";
}

JpegSamples JpegColourSamples(uint8_t red, uint8_t green, uint8_t blue) {
    return Samples(JpegEncoderTables(), red, green, blue);
}

void JpegColourRow(const uint8_t* bgr, int count, int8_t* y, int8_t* cb, int8_t* cr) {
    ColourRowToSamples(JpegEncoderTables(), bgr, count, y, cb, cr);
}

void JpegQuantisedBlock(const int8_t samples[64], int table, int16_t zigzag[64]) {
    float work[64];
    for (int i = 0; i < 64; ++i)
        work[i] = samples[i];
    int16_t natural[64];
    TransformBlock(work, 8, JpegEncoderTables().divisor[table == 0 ? 0 : 1], natural);
    for (int k = 0; k < 64; ++k)
        zigzag[k] = natural[kNaturalOrder[k]];
}
