// Entropy-coded data: the bit reader, Huffman decoding, sequential MCU rows
// with dequantisation, restarts, and the four progressive procedures.
//
// Corrupt data is never rejected here; whatever decodes becomes the picture.
// All coefficient arithmetic keeps the low 16 bits of 32-bit wrapping
// products, so it is done on unsigned values (no signed overflow).
#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"

// Zig-zag position -> natural index; the 16 guard entries let a run that
// steps past 63 index safely before it is noticed.
const uint8_t kZag[64 + 16] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

namespace {

inline int16_t Low16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// Threshold 2^(s-1) and offset 1 - 2^s of a magnitude category.
constexpr int32_t kExtendThreshold[16] = {0,   1,   2,    4,    8,    16,   32,    64,
                                          128, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int32_t kExtendOffset[16] = {0,    -1,   -3,    -7,    -15,   -31,   -63,    -127,
                                       -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

inline int FetchByteInline(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    int32_t pos = lb.readPosition;
    d.fetchStart[d.fetchCount++ & 3] = pos;
    if (pos < 0 || pos >= lb.dataLength) return 0;
    int b = lb.fileBuffer[pos++];
    // A stuffed zero after FF is not data. The padding keeps this peek inside
    // written bytes.
    if (b == 0xFF && pos < lb.dataLength && lb.fileBuffer[pos] == 0) ++pos;
    lb.readPosition = pos;
    return b;
}

inline void Consume(JpegDecoder& d, int n) {
    d.bitBuffer <<= n;
    d.bitCount += n;
    if (d.bitCount >= 0) {
        uint32_t b1 = static_cast<uint32_t>(FetchByteInline(d));
        uint32_t b2 = static_cast<uint32_t>(FetchByteInline(d));
        d.bitBuffer |= ((b1 << 8) | b2) << d.bitCount;
        d.bitCount -= 16;
    }
}

inline uint32_t GetBitsInline(JpegDecoder& d, int n) {
    if (n <= 0) return 0;
    uint32_t v = d.bitBuffer >> (32 - n);
    Consume(d, n);
    return v;
}

inline int32_t ExtendInline(JpegDecoder& d, int s) {
    if (s == 0) return 0;
    int32_t v = static_cast<int32_t>(GetBitsInline(d, s));
    return v < kExtendThreshold[s] ? v + kExtendOffset[s] : v;
}

int DecodeHuffmanSlow(JpegDecoder& d, const int32_t* lookup) {
    const uint8_t* codeLength = reinterpret_cast<const uint8_t*>(lookup + 256);
    int32_t v = lookup[d.bitBuffer >> 24];
    if (v >= 0) {
        GetBitsInline(d, codeLength[v]);
        return v;
    }
    GetBitsInline(d, 8);
    while (v < 0) {
        if (JpegStop(d)) return 0;
        int b = static_cast<int>(GetBitsInline(d, 1));
        v = lookup[kHuffTreeBase - v - b];
    }
    return v;
}

inline int DecodeHuffmanInline(JpegDecoder& d, const HuffLookupBlock& t) {
    const HuffFast f = t.fast[d.bitBuffer >> (32 - kHuffFastBits)];
    if (f.len) {
        Consume(d, f.len);
        return f.symbol;
    }
    return DecodeHuffmanSlow(d, t.lookup);
}

// A DC difference category comes from the file and may exceed 15 in a
// malformed table; such a symbol counts as category 0.
inline int DcCategory(int s) { return s > 15 ? 0 : s; }

}  // namespace

int FetchByte(JpegDecoder& d) { return FetchByteInline(d); }
uint32_t GetBits(JpegDecoder& d, int n) { return GetBitsInline(d, n > 16 ? 16 : n); }
int32_t Extend(JpegDecoder& d, int s) { return ExtendInline(d, s < 0 || s > 15 ? 0 : s); }

int DecodeHuffman(JpegDecoder& d, const int32_t* lookup) { return DecodeHuffmanSlow(d, lookup); }

void StartBitReader(JpegDecoder& d) {
    d.bitCount = -16;
    d.readerLive = 1;
    uint32_t b0 = static_cast<uint32_t>(FetchByteInline(d));
    uint32_t b1 = static_cast<uint32_t>(FetchByteInline(d));
    uint32_t b2 = static_cast<uint32_t>(FetchByteInline(d));
    uint32_t b3 = static_cast<uint32_t>(FetchByteInline(d));
    d.bitBuffer = (b0 << 24) | (b1 << 16) | (b2 << 8) | b3;
}

void RewindBitReader(JpegDecoder& d) {
    // Gives back the fetched bytes no bit of which was used. Each goes back
    // to where it began in the file, so a stuffed FF 00 among them is given
    // back whole: counting file bytes instead would leave the position
    // inside a restart marker that follows, and the marker would be missed.
    int back = d.bitCount == -16 ? 4 : (d.bitCount <= -8 ? 3 : 2);
    LoadBuffers& lb = *d.buffers;
    // A reader that fetched nothing since the last rewind (a failed restart
    // search read on by itself) steps back from where that search ended.
    int32_t pos = d.readerLive ? d.fetchStart[(d.fetchCount - static_cast<uint32_t>(back)) & 3]
                               : lb.readPosition - back;
    lb.readPosition = pos < 0 ? 0 : pos;
    d.readerLive = 0;
    d.bitBuffer = 0;
    d.bitCount = -16;
}

bool ProcessRestart(JpegDecoder& d) {
    RewindBitReader(d);
    LoadBuffers& lb = *d.buffers;
    int budget = 1536;
    int b = ReadByte(lb);
    --budget;
    while (b != 0xFF) {
        if (budget <= 0 || JpegStop(d)) return false;
        b = ReadByte(lb);
        --budget;
    }
    while (b == 0xFF) {
        if (budget <= 0 || JpegStop(d)) return false;
        b = ReadByte(lb);
        --budget;
    }
    if (b != 0xD0 + d.expectedRestart) return false;
    for (int c = 0; c < d.componentCount; ++c) d.dcPred[c] = 0;
    d.eobRun = 0;
    d.restartsLeft = d.restartInterval;
    d.expectedRestart = (d.expectedRestart + 1) & 7;
    StartBitReader(d);
    return true;
}

namespace {

// Decodes one block's coefficients into B (dequantised, natural order) and
// repairs the positions the previous decode of this block left behind.
// Returns false when a run passes position 63: the MCU row is abandoned.
inline bool DecodeBlockSequential(JpegDecoder& d, int c, int16_t* B, int32_t& end) {
    const uint16_t* q = d.quant[d.comp[c].tq];
    const HuffLookupBlock& dc = *d.huffLookup[d.dcSlot[c]];
    const HuffLookupBlock& ac = *d.huffLookup[d.acSlot[c]];
    int s = DcCategory(DecodeHuffmanInline(d, dc));
    d.dcPred[c] = static_cast<int32_t>(static_cast<uint32_t>(d.dcPred[c]) +
                                       static_cast<uint32_t>(ExtendInline(d, s)));
    B[0] = Low16(static_cast<uint32_t>(q[0]) * static_cast<uint32_t>(d.dcPred[c]));
    const int32_t e = end;
    int k = 1;
    while (k < 64) {
        int rs, value;
        const HuffFast f = ac.fastAc[d.bitBuffer >> (32 - kHuffFastBits)];
        if (f.len) {
            Consume(d, f.len);
            rs = f.symbol;
            value = f.value;
        } else {
            rs = DecodeHuffmanInline(d, ac);
            value = ExtendInline(d, rs & 15);
        }
        int r = rs >> 4;
        if (rs & 15) {
            if (r > 0) {
                if (k + r > 63) {
                    // Positions below k were handled by this decode; the
                    // rest still hold the old block, zero from the old end.
                    end = k > e ? k : e;
                    return false;
                }
                int stop = k + r < e ? k + r : e;
                for (int z = k; z < stop; ++z) B[kZag[z]] = 0;
                k += r;
            }
            B[kZag[k]] = Low16(static_cast<uint32_t>(q[k]) * static_cast<uint32_t>(value));
        } else if (r == 15) {
            if (k + 15 > 63) {
                end = k > e ? k : e;
                return false;
            }
            int stop = k + 16 < e ? k + 16 : e;
            for (int z = k; z < stop; ++z) B[kZag[z]] = 0;
            k += 15;
        } else {
            break;
        }
        ++k;
    }
    for (int z = k; z < e; ++z) B[kZag[z]] = 0;
    end = k;
    return true;
}

}  // namespace

void DecodeMcuRowSequential(JpegDecoder& d) {
    int32_t i = 0;
    for (int32_t m = 0; m < d.mcusPerRow; ++m) {
        if (JpegStop(d)) return;
        if (d.restartInterval != 0 && d.restartsLeft == 0) {
            if (!ProcessRestart(d)) return;
        }
        for (int j = 0; j < d.blocksPerMcu; ++j, ++i) {
            int c = d.mcuBlockList[j];
            if (!DecodeBlockSequential(d, c, d.blockStore + 64 * i, d.blockEnd[i])) return;
        }
        if (d.restartInterval != 0) d.restartsLeft -= 1;
    }
}

// ---- progressive ----

int16_t* CoefAt(CoefBuffer& b, int32_t x, int32_t y) {
    if (!b.data || x < 0 || y < 0 || x >= b.widthInBlocks || y >= b.heightInBlocks)
        return nullptr;
    size_t index = static_cast<size_t>(x) + static_cast<size_t>(y) * b.widthInBlocks;
    return b.data + index * static_cast<size_t>(b.bytesPerBlock / 2);
}

bool MakeCoefBuffer(JpegDecoder& d, CoefBuffer& b, int32_t widthInBlocks, int32_t heightInBlocks,
                    int32_t blockSide) {
    b.widthInBlocks = widthInBlocks;
    b.heightInBlocks = heightInBlocks;
    b.blockWidth = blockSide;
    b.blockHeight = blockSide;
    b.bytesPerBlock = blockSide * blockSide * 2;
    int64_t bytes = static_cast<int64_t>(widthInBlocks) * heightInBlocks * b.bytesPerBlock;
    b.data = static_cast<int16_t*>(WorkAlloc(d, bytes));
    return b.data != nullptr;
}

void DecodeDcFirst(JpegDecoder& d, int c, int32_t x, int32_t y) {
    int s = DcCategory(DecodeHuffmanInline(d, *d.huffLookup[d.dcSlot[c]]));
    d.dcPred[c] = static_cast<int32_t>(static_cast<uint32_t>(d.dcPred[c]) +
                                       static_cast<uint32_t>(ExtendInline(d, s)));
    int16_t* p = CoefAt(d.dcCoef[c], x, y);
    if (p) *p = Low16(static_cast<uint32_t>(d.dcPred[c]) << d.al);
}

void DecodeDcRefine(JpegDecoder& d, int c, int32_t x, int32_t y) {
    uint32_t bit = GetBitsInline(d, 1);
    int16_t* p = CoefAt(d.dcCoef[c], x, y);
    if (p && bit) *p = Low16(static_cast<uint16_t>(*p) | (1u << d.al));
}

void DecodeAcFirst(JpegDecoder& d, int c, int32_t x, int32_t y) {
    if (d.eobRun > 0) {
        d.eobRun -= 1;
        return;
    }
    int16_t* B = CoefAt(d.acCoef[c], x, y);
    if (!B) return;
    const HuffLookupBlock& ac = *d.huffLookup[d.acSlot[c]];
    for (int k = d.ss; k <= d.se; ++k) {
        int rs = DecodeHuffmanInline(d, ac);
        int r = rs >> 4, s = rs & 15;
        if (s != 0) {
            k += r;
            if (k > 63) return;
            B[kZag[k]] = Low16(static_cast<uint32_t>(ExtendInline(d, s)) << d.al);
        } else if (r == 15) {
            k += 15;
            if (k > 63) return;
        } else {
            d.eobRun = (1 << r) - 1;
            if (r > 0) d.eobRun += static_cast<int32_t>(GetBitsInline(d, r));
            return;
        }
    }
}

namespace {

inline void CorrectionBit(JpegDecoder& d, int16_t* coef, uint32_t p1, uint32_t m1) {
    if (GetBitsInline(d, 1) && (static_cast<uint32_t>(static_cast<int32_t>(*coef)) & p1) == 0)
        *coef = Low16(static_cast<uint32_t>(static_cast<int32_t>(*coef)) + (*coef >= 0 ? p1 : m1));
}

}  // namespace

void DecodeAcRefine(JpegDecoder& d, int c, int32_t x, int32_t y) {
    int16_t* B = CoefAt(d.acCoef[c], x, y);
    if (!B) return;
    const uint32_t p1 = 1u << d.al;
    const uint32_t m1 = 0u - p1;
    const HuffLookupBlock& ac = *d.huffLookup[d.acSlot[c]];
    int k = d.ss;
    if (d.eobRun == 0) {
        while (k <= d.se) {
            int rs = DecodeHuffmanInline(d, ac);
            int r = rs >> 4, s = rs & 15;
            uint32_t value = 0;
            if (s != 0) {
                if (s != 1) return;  // not a refinement symbol: abandon the block
                value = GetBitsInline(d, 1) ? p1 : m1;
            } else if (r < 15) {
                d.eobRun = 1 << r;
                if (r > 0) d.eobRun += static_cast<int32_t>(GetBitsInline(d, r));
                break;
            }
            while (k <= d.se) {
                int16_t* coef = &B[kZag[k]];
                if (*coef != 0) {
                    CorrectionBit(d, coef, p1, m1);
                } else {
                    if (--r < 0) break;
                }
                ++k;
            }
            if (s != 0 && k < 64) B[kZag[k]] = Low16(value);
            ++k;
        }
    }
    if (d.eobRun > 0) {
        for (; k <= d.se; ++k) {
            int16_t* coef = &B[kZag[k]];
            if (*coef != 0) CorrectionBit(d, coef, p1, m1);
        }
        d.eobRun -= 1;
    }
}

void DecodeScanProgressive(JpegDecoder& d, ProgressiveProcedure procedure) {
    void (*proc)(JpegDecoder&, int, int32_t, int32_t) =
        procedure == kDcFirst    ? DecodeDcFirst
        : procedure == kDcRefine ? DecodeDcRefine
        : procedure == kAcFirst  ? DecodeAcFirst
                                 : DecodeAcRefine;
    int32_t x[4] = {0, 0, 0, 0};
    int32_t y[4] = {0, 0, 0, 0};
    for (int32_t row = 0; row < d.mcuRows; ++row) {
        for (int c = 0; c < 4; ++c) x[c] = 0;
        for (int32_t m = 0; m < d.mcusPerRow; ++m) {
            if (JpegStop(d)) return;
            if (d.restartInterval != 0 && d.restartsLeft == 0) ProcessRestart(d);
            int dx = 0, dy = 0;
            for (int j = 0; j < d.blocksPerMcu; ++j) {
                int c = d.mcuBlockList[j];
                proc(d, c, x[c] + dx, y[c] + dy);
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
            if (d.restartInterval != 0) d.restartsLeft -= 1;
        }
        if (d.scanCount == 1) {
            y[d.scanComp[0]] += 1;
        } else {
            for (int i = 0; i < d.scanCount; ++i) y[d.scanComp[i]] += d.comp[d.scanComp[i]].v;
        }
    }
}
