// The encoder's tables: quantisation divisors with the AAN scaling folded
// in, canonical Huffman codes, colour products, value categories and the
// zig-zag masks, all derived from the fixed tables once.
#include "export/jpeg_encoder_internal.h"

namespace {

// AAN scale factors: s[0] = 1, s[k] = cos(k pi / 16) * sqrt(2).
constexpr double kAanScale[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                                 1.0, 0.785694958, 0.5411961,   0.275899379};

void BuildQuantTables(EncoderTables& t) {
    const uint8_t* base[2] = {kLumaBase, kChromaBase};
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < 64; ++k) {
            int n = kNaturalOrder[k];
            int q = (base[c][n] * 50 + 50) / 100;
            if (q < 1) q = 1;
            if (q > 255) q = 255;
            t.quant[c][k] = static_cast<uint8_t>(q);
        }
        for (int k = 0; k < 64; ++k) {
            int n = kNaturalOrder[k];
            // The product is formed in double and only the divisor kept as
            // float, so the scale factors' error stays far below one float ulp.
            double scale =
                static_cast<double>(t.quant[c][k]) * kAanScale[n / 8] * kAanScale[n % 8] * 8.0;
            t.divisor[c][n] = static_cast<float>(1.0 / scale);
        }
    }
}

// Canonical codes: the first symbol of the shortest length gets code 0,
// consecutive symbols consecutive codes, and the code doubles per length step.
void BuildHuffmanCodes(const uint8_t counts[16], const uint8_t* symbols, HuffmanCodes& h) {
    std::memset(&h, 0, sizeof h);
    uint32_t code = 0;
    int s = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < counts[len - 1]; ++i, ++s) {
            h.code[symbols[s]] = static_cast<uint16_t>(code++);
            h.length[symbols[s]] = static_cast<uint8_t>(len);
        }
        code <<= 1;
    }
}

void BuildColourTables(EncoderTables& t) {
    for (int32_t i = 0; i < 256; ++i) {
        t.yR[i] = 19595 * i;
        t.yG[i] = 38470 * i;
        t.yB[i] = 7471 * i;
        t.cbR[i] = -11058 * i;
        t.cbG[i] = -21708 * i;
        t.cbB[i] = 32768 * i;
        t.crR[i] = 32768 * i;
        t.crG[i] = -27438 * i;
        t.crB[i] = -5328 * i;
    }
}

void BuildCategoryTables(EncoderTables& t) {
    t.category[kValueRange] = 0;
    t.extraBits[kValueRange] = 0;
    for (int c = 1; c <= 15; ++c) {
        for (int32_t v = 1 << (c - 1); v < (1 << c); ++v) {
            t.category[kValueRange + v] = static_cast<uint8_t>(c);
            t.category[kValueRange - v] = static_cast<uint8_t>(c);
            t.extraBits[kValueRange + v] = static_cast<uint16_t>(v);
            t.extraBits[kValueRange - v] = static_cast<uint16_t>(-v + (1 << c) - 1);
        }
    }
}

void BuildZigzagBits(EncoderTables& t) {
    uint8_t zigzagOf[64];
    for (int k = 0; k < 64; ++k)
        zigzagOf[kNaturalOrder[k]] = static_cast<uint8_t>(k);
    for (int row = 0; row < 8; ++row)
        for (int m = 0; m < 256; ++m) {
            uint64_t bits = 0;
            for (int col = 0; col < 8; ++col)
                if (m & (1 << col)) bits |= uint64_t{1} << zigzagOf[row * 8 + col];
            t.zigzagBits[row][m] = bits;
        }
}

EncoderTables* MakeTables() {
    static EncoderTables t;
    BuildQuantTables(t);
    BuildHuffmanCodes(kDcLumaCounts, kDcSymbols, t.dc[0]);
    BuildHuffmanCodes(kDcChromaCounts, kDcSymbols, t.dc[1]);
    BuildHuffmanCodes(kAcLumaCounts, kAcLumaSymbols, t.ac[0]);
    BuildHuffmanCodes(kAcChromaCounts, kAcChromaSymbols, t.ac[1]);
    BuildColourTables(t);
    BuildCategoryTables(t);
    BuildZigzagBits(t);
    return &t;
}

} // namespace

const EncoderTables& JpegEncoderTables() {
    static const EncoderTables* t = MakeTables();
    return *t;
}

const uint8_t* JpegQuantTable(int table) {
    return JpegEncoderTables().quant[table == 0 ? 0 : 1];
}
