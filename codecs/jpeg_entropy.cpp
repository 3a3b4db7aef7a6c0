// Entropy-coded data: the bit reader, Huffman decoding, sequential MCU rows
// with dequantisation, restarts, and the four progressive procedures.
//
// Corrupt data is never rejected here; whatever decodes becomes the picture.
// All coefficient arithmetic keeps the low 16 bits of 32-bit wrapping
// products, so it is done on unsigned values (no signed overflow).
#include <cstring>

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
#include <emmintrin.h>
#endif

#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"

// Zig-zag position -> natural index; the 16 guard entries let a run that
// steps past 63 index safely before it is noticed.
const uint8_t kZag[64 + 16] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                               12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                               35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                               58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
                               63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

namespace {

inline int16_t Low16(uint32_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}

// Threshold 2^(s-1) and offset 1 - 2^s of a magnitude category.
constexpr int32_t kExtendThreshold[16] = {0,   1,   2,   4,    8,    16,   32,   64,
                                          128, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int32_t kExtendOffset[16] = {0,    -1,   -3,    -7,    -15,   -31,   -63,    -127,
                                       -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

// The bit reader. Bytes are fetched one at a time (FF 00 counts as one
// byte FF) into a 64-bit buffer, topped up to more than 56 bits whenever
// fewer than 32 are left, so a code and its extra bits never need a refill
// in between. The bits delivered are those of the byte stream in order,
// whatever the buffer size; past the readable data every byte is 0.
struct BitReader {
    uint64_t buffer;
    int32_t count;
    int32_t pos;
    int32_t length;
    const uint8_t* data;
    uint32_t fetchCount;
    int32_t fetchStart[16];
    int32_t virtualPending;

    explicit BitReader(const JpegDecoder& d)
        : buffer(d.bitBuffer), count(d.bitCount), pos(d.buffers->readPosition),
          length(d.buffers->dataLength), data(d.buffers->fileBuffer), fetchCount(d.fetchCount),
          virtualPending(d.virtualPending) {
        for (int i = 0; i < 16; ++i)
            fetchStart[i] = d.fetchStart[i];
    }
    void Store(JpegDecoder& d) const {
        d.bitBuffer = buffer;
        d.bitCount = count;
        d.buffers->readPosition = pos;
        d.fetchCount = fetchCount;
        d.virtualPending = virtualPending;
        for (int i = 0; i < 16; ++i)
            d.fetchStart[i] = fetchStart[i];
    }
    // Places the zero bytes a rewind left just before the current position.
    void AnchorVirtual() {
        for (int i = 1; i <= virtualPending; ++i)
            fetchStart[(fetchCount - i) & 15] = pos - i;
        virtualPending = 0;
    }
    inline uint32_t Fetch() {
        fetchStart[fetchCount++ & 15] = pos;
        if (pos < 0 || pos >= length) return 0;
        uint32_t b = data[pos++];
        // A stuffed zero after FF is not data. The padding keeps this peek
        // inside written bytes.
        if (b == 0xFF && pos < length && data[pos] == 0) ++pos;
        return b;
    }
    // Every user takes at most 31 bits (a code of up to 16 and up to 15
    // extra bits) before calling Fill again.
    inline void Fill() {
        if (count >= 32) return;
        if (virtualPending) AnchorVirtual();
        // Common case: eight plain bytes ahead, none of them FF: take as
        // many whole bytes as fit in one step.
        if (pos >= 0 && pos + 8 <= length) {
            uint64_t w;
            std::memcpy(&w, data + pos, 8);
            const uint64_t x = ~w; // a zero byte here is an FF byte there
            if (((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) == 0) {
                const int n = (64 - count) >> 3;
                uint64_t be = __builtin_bswap64(w); // the file's bytes, first on top
                be &= ~0ull << (64 - 8 * n);
                buffer |= be >> count;
                // All eight slots: those past n belong to fetches still to
                // come, which write their own before a rewind can read them.
                for (int i = 0; i < 8; ++i)
                    fetchStart[(fetchCount + i) & 15] = pos + i;
                fetchCount += n;
                pos += n;
                count += 8 * n;
                return;
            }
        }
        while (count <= 56) {
            buffer |= static_cast<uint64_t>(Fetch()) << (56 - count);
            count += 8;
        }
    }
    inline void Consume(int n) {
        buffer <<= n;
        count -= n;
    }
    inline uint32_t Bits(int n) { // n = 1..16, count >= n
        uint32_t v = static_cast<uint32_t>(buffer >> (64 - n));
        Consume(n);
        return v;
    }
    inline int32_t Extend(int s) {
        if (s == 0) return 0;
        int32_t v = static_cast<int32_t>(Bits(s));
        return v < kExtendThreshold[s] ? v + kExtendOffset[s] : v;
    }
    // Codes of up to kHuffFastBits bits in one step; longer ones (and bit
    // patterns that are no code) walk the lookup: 8 bits into the first
    // level, then one bit per tree step. Needs count >= 32.
    inline int Symbol(const HuffLookupBlock& t, const JpegDecoder& d) {
        const HuffFast f = t.fast[buffer >> (64 - kHuffFastBits)];
        if (f.len) {
            Consume(f.len);
            return f.symbol;
        }
        const uint8_t* codeLength = reinterpret_cast<const uint8_t*>(t.lookup + 256);
        int32_t v = t.lookup[buffer >> 56];
        if (v >= 0) {
            Consume(codeLength[v]); // a pattern that is no code takes symbol 0's length
            return v;
        }
        Consume(8);
        while (v < 0) {
            if (JpegStop(d)) return 0;
            int b = static_cast<int>(Bits(1));
            v = t.lookup[kHuffTreeBase - v - b];
        }
        return v;
    }
};

// A DC difference category comes from the file and may exceed 15 in a
// malformed table; such a symbol counts as category 0.
inline int DcCategory(int s) {
    return s > 15 ? 0 : s;
}

} // namespace

// The record-level operations, each a short stay of the reader in locals.
int FetchByte(JpegDecoder& d) {
    BitReader r(d);
    if (r.virtualPending) r.AnchorVirtual();
    int b = static_cast<int>(r.Fetch());
    r.Store(d);
    return b;
}

uint32_t GetBits(JpegDecoder& d, int n) {
    if (n <= 0) return 0;
    BitReader r(d);
    r.Fill();
    uint32_t v = r.Bits(n > 16 ? 16 : n);
    r.Store(d);
    return v;
}

int32_t Extend(JpegDecoder& d, int s) {
    BitReader r(d);
    r.Fill();
    int32_t v = r.Extend(s < 0 || s > 15 ? 0 : s);
    r.Store(d);
    return v;
}

int DecodeHuffman(JpegDecoder& d, const int32_t* lookup) {
    BitReader r(d);
    r.Fill();
    const uint8_t* codeLength = reinterpret_cast<const uint8_t*>(lookup + 256);
    int32_t v = lookup[r.buffer >> 56];
    if (v >= 0) {
        r.Consume(codeLength[v]);
    } else {
        r.Consume(8);
        while (v < 0 && !JpegStop(d))
            v = lookup[kHuffTreeBase - v - static_cast<int>(r.Bits(1))];
        if (v < 0) v = 0;
    }
    r.Store(d);
    return v;
}

void StartBitReader(JpegDecoder& d) {
    d.bitBuffer = 0;
    d.bitCount = 0;
    d.virtualPending = 0;
    BitReader r(d);
    r.Fill();
    r.Store(d);
}

void RewindBitReader(JpegDecoder& d) {
    // Gives back the fetched bytes none of whose bits was used, returning to
    // where the first of them began in the file. A stuffed FF 00 among them
    // is given back whole: counting file bytes instead would leave the
    // position inside a restart marker that follows, and it would be missed.
    BitReader r(d);
    if (r.virtualPending) r.AnchorVirtual();
    // With every fetched byte used (fewer than 8 bits left) that is where
    // the next fetch would begin; the ring's slot for it is still stale.
    uint32_t untouched = static_cast<uint32_t>(r.count) / 8;
    int32_t pos = untouched ? r.fetchStart[(r.fetchCount - untouched) & 15] : r.pos;
    d.buffers->readPosition = pos < 0 ? 0 : pos;
    // The reader then holds 32 zero bits (four bytes' worth) until it is
    // started again: decoding that goes on after a failed restart reads
    // them first, and a rewind before any fetch steps back four bytes.
    d.bitBuffer = 0;
    d.bitCount = 32;
    d.fetchCount += 4;
    d.virtualPending = 4;
}

bool ProcessRestart(JpegDecoder& d) {
    RewindBitReader(d);
    LoadBuffers& lb = *d.buffers;
    int budget = 1536;
    int b = ReadByte(lb);
    --budget;
    while (b != 0xFF) {
        if (budget <= 0 || JpegStop(d)) return NoteRestartMissing(d);
        b = ReadByte(lb);
        --budget;
    }
    while (b == 0xFF) {
        if (budget <= 0 || JpegStop(d)) return NoteRestartMissing(d);
        b = ReadByte(lb);
        --budget;
    }
    if (b != 0xD0 + d.expectedRestart) return NoteRestartMissing(d);
    for (int c = 0; c < d.componentCount; ++c)
        d.dcPred[c] = 0;
    d.eobRun = 0;
    d.restartsLeft = d.restartInterval;
    d.expectedRestart = (d.expectedRestart + 1) & 7;
    StartBitReader(d);
    return true;
}

namespace {

// Decodes one block's coefficients into B (dequantised, natural order).
// The block store is reused from the previous MCU row: positions at or
// beyond the block's end position are zero, the ones below it hold the old
// block. Those are cleared up front (the old block kept aside), so runs of
// zeros need no work; a run that passes position 63 abandons the MCU row,
// and the abandoned block gets its old coefficients back from position k on,
// as if they had never been cleared. Returns false then.
__attribute__((always_inline)) inline bool DecodeBlockSequential(JpegDecoder& d, BitReader& r,
                                                                 int c, int16_t* B, int32_t& end) {
    const uint16_t* q = d.quant[d.comp[c].tq];
    const HuffLookupBlock& dc = *d.huffLookup[d.dcSlot[c]];
    const HuffLookupBlock& ac = *d.huffLookup[d.acSlot[c]];
    const int32_t e = end;
    alignas(16) int16_t old[64];
    if (e > 1) {
        std::memcpy(old, B, sizeof old);
        std::memset(B, 0, sizeof old);
    }
    r.Fill();
    // A scan may take its DC table from an AC slot (numbers 4..7): that
    // table's fastAc reads categories as AC symbols, so it is not used.
    int32_t diff;
    const HuffFast fd = dc.fastAc[r.buffer >> (64 - kHuffFastBits)];
    if (fd.len && d.dcSlot[c] < 4) {
        r.Consume(fd.len);
        diff = fd.value;
    } else {
        diff = r.Extend(DcCategory(r.Symbol(dc, d)));
    }
    int32_t& pred = d.dcPred[c];
    pred = static_cast<int32_t>(static_cast<uint32_t>(pred) + static_cast<uint32_t>(diff));
    B[0] = Low16(static_cast<uint32_t>(q[0]) * static_cast<uint32_t>(pred));
    int k = 1;
    while (k < 64) {
        r.Fill();
        // A coefficient whose run passes position 63 abandons the row
        // before its extra bits: the next row begins with them.
        int rs, value;
        const HuffFast f = ac.fastAc[r.buffer >> (64 - kHuffFastBits)];
        if (f.len) {
            rs = f.symbol;
            if ((rs & 15) && k + (rs >> 4) > 63) {
                r.Symbol(ac, d); // the code alone
                break;
            }
            r.Consume(f.len);
            value = f.value;
        } else {
            rs = r.Symbol(ac, d);
            if ((rs & 15) && k + (rs >> 4) > 63) break;
            value = r.Extend(rs & 15);
        }
        int run = rs >> 4;
        if (rs & 15) {
            k += run;
            B[kZag[k]] = Low16(static_cast<uint32_t>(q[k]) * static_cast<uint32_t>(value));
        } else if (run == 15) {
            k += 15;
            if (k > 63) {
                k -= 15;
                break;
            }
        } else {
            end = k;
            return true;
        }
        ++k;
    }
    if (k >= 64) {
        end = k;
        return true;
    }
    // Abandoned at k: positions below k were handled by this decode; the
    // rest keep the old block (zero from its old end on).
    if (e > 1)
        for (int z = k; z < e; ++z)
            B[kZag[z]] = old[kZag[z]];
    end = k > e ? k : e;
    return false;
}

// DecodeBlockSequential for a block nothing will be reconstructed from:
// the same bits are read and the same decisions taken (DC predictor, run
// past position 63, zero runs, end of block), but nothing is stored. A code
// of up to kHuffSkipBits bits and its extra bits go in one shift.
struct SkipTables {
    const HuffLookupBlock* dc;
    const HuffLookupBlock* ac;
    int32_t* pred;
    bool dcFast; // the DC table is in a DC slot: its fastAc gives differences
};

__attribute__((always_inline)) inline bool SkipBlockSequential(JpegDecoder& d, BitReader& r,
                                                               const SkipTables& t) {
    const HuffLookupBlock& dc = *t.dc;
    const HuffLookupBlock& ac = *t.ac;
    r.Fill();
    int32_t diff;
    const HuffFast fd = dc.fastAc[r.buffer >> (64 - kHuffFastBits)];
    if (fd.len && t.dcFast) {
        r.Consume(fd.len);
        diff = fd.value;
    } else {
        diff = r.Extend(DcCategory(r.Symbol(dc, d)));
    }
    int32_t& pred = *t.pred;
    pred = static_cast<int32_t>(static_cast<uint32_t>(pred) + static_cast<uint32_t>(diff));
    // The position k moves by run + 1 (16 for a run of 16 zeros); a symbol
    // that would take it past 64 abandons the row after its code alone.
    int k = 1;
    for (;;) {
        r.Fill();
        const HuffSkip e = ac.skip[r.buffer >> (64 - kHuffSkipBits)];
        int code, total, advance;
        if (e.codeLength) {
            code = e.codeLength;
            total = e.totalLength;
            advance = e.advance;
        } else {
            const int rs = r.Symbol(ac, d); // the code, taken
            const int run = rs >> 4, s = rs & 15;
            code = 0;
            total = s;
            advance = s || run == 15 ? run + 1 : 0;
        }
        if (advance == 0) {
            r.Consume(code);
            return true;
        }
        k += advance;
        if (k > 64) {
            r.Consume(code);
            return false;
        }
        r.Consume(total);
        if (k == 64) return true;
    }
}

// The MCU row loop, compiled for the build's baseline and with BMI2
// (shifts by a register in one step), chosen at run time; and apart for
// rows that pass over blocks (kSkips: d.blockStale is set), so that the
// storing loop stays as it is.
template <bool kSkips> __attribute__((always_inline)) inline void DecodeRow(JpegDecoder& d) {
    BitReader r(d);
    uint8_t* const stale = kSkips ? d.blockStale : nullptr;
    const uint8_t* const need = kSkips ? d.needBlock : nullptr;
    SkipTables skip[kJpegMaxBlocksPerMcu];
    for (int j = 0; kSkips && j < d.blocksPerMcu; ++j) {
        const int c = d.mcuBlockList[j];
        skip[j] = {d.huffLookup[d.dcSlot[c]], d.huffLookup[d.acSlot[c]], &d.dcPred[c],
                   d.dcSlot[c] < 4};
    }
    int32_t i = 0;
    for (int32_t m = 0; m < d.mcusPerRow; ++m) {
        if (JpegStop(d)) break;
        if (d.restartInterval != 0 && d.restartsLeft == 0) {
            r.Store(d);
            bool ok = ProcessRestart(d);
            r = BitReader(d);
            if (!ok) break;
        }
        bool abandoned = false;
        for (int j = 0; j < d.blocksPerMcu; ++j, ++i) {
            bool whole;
            if (need && !need[i]) {
                whole = SkipBlockSequential(d, r, skip[j]);
                stale[i] = 1;
            } else {
                whole = DecodeBlockSequential(d, r, d.mcuBlockList[j], d.blockStore + 64 * i,
                                              d.blockEnd[i]);
                if (stale && whole) stale[i] = 0;
            }
            if (!whole) {
                abandoned = true;
                break;
            }
        }
        if (abandoned) break;
        if (d.restartInterval != 0) d.restartsLeft -= 1;
    }
    r.Store(d);
    // The blocks from i on keep (partly) what the store held before.
    if (need)
        for (; i < d.blocksPerMcuRow; ++i)
            if (need[i] && stale[i]) d.skipMismatch = 1;
}

#if defined(PIXMORA_JPEG_AVX2)
template <bool kSkips> PIXMORA_AVX2 void DecodeRowBmi2(JpegDecoder& d) {
    DecodeRow<kSkips>(d);
}
#endif

} // namespace

void DecodeMcuRowSequential(JpegDecoder& d) {
#if defined(PIXMORA_JPEG_AVX2)
    if (d.simd >= kJpegSimdAvx2) {
        if (d.blockStale)
            DecodeRowBmi2<true>(d);
        else
            DecodeRowBmi2<false>(d);
        return;
    }
#endif
    if (d.blockStale)
        DecodeRow<true>(d);
    else
        DecodeRow<false>(d);
}

// ---- progressive ----

int16_t* CoefAt(CoefBuffer& b, int32_t x, int32_t y) {
    if (!b.data || x < 0 || y < 0 || x >= b.widthInBlocks || y >= b.heightInBlocks) return nullptr;
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

namespace {

void DcFirst(JpegDecoder& d, BitReader& r, int c, int32_t x, int32_t y) {
    r.Fill();
    int s = DcCategory(r.Symbol(*d.huffLookup[d.dcSlot[c]], d));
    d.dcPred[c] = static_cast<int32_t>(static_cast<uint32_t>(d.dcPred[c]) +
                                       static_cast<uint32_t>(r.Extend(s)));
    int16_t* p = CoefAt(d.dcCoef[c], x, y);
    if (p) *p = Low16(static_cast<uint32_t>(d.dcPred[c]) << d.al);
}

void DcRefine(JpegDecoder& d, BitReader& r, int c, int32_t x, int32_t y) {
    r.Fill();
    uint32_t bit = r.Bits(1);
    int16_t* p = CoefAt(d.dcCoef[c], x, y);
    if (p && bit) *p = Low16(static_cast<uint16_t>(*p) | (1u << d.al));
}

void AcFirst(JpegDecoder& d, BitReader& r, int c, int32_t x, int32_t y) {
    if (d.eobRun > 0) {
        d.eobRun -= 1;
        return;
    }
    int16_t* B = CoefAt(d.acCoef[c], x, y);
    if (!B) return;
    const HuffLookupBlock& ac = *d.huffLookup[d.acSlot[c]];
    for (int k = d.ss; k <= d.se; ++k) {
        r.Fill();
        int rs = r.Symbol(ac, d);
        int run = rs >> 4, s = rs & 15;
        if (s != 0) {
            k += run;
            if (k > 63) return;
            B[kZag[k]] = Low16(static_cast<uint32_t>(r.Extend(s)) << d.al);
        } else if (run == 15) {
            k += 15;
            if (k > 63) return;
        } else {
            d.eobRun = (1 << run) - 1;
            if (run > 0) d.eobRun += static_cast<int32_t>(r.Bits(run));
            return;
        }
    }
}

inline void CorrectionBit(BitReader& r, int16_t* coef, uint32_t p1, uint32_t m1) {
    r.Fill();
    if (r.Bits(1) && (static_cast<uint32_t>(static_cast<int32_t>(*coef)) & p1) == 0)
        *coef = Low16(static_cast<uint32_t>(static_cast<int32_t>(*coef)) + (*coef >= 0 ? p1 : m1));
}

inline bool BlockIsZero(const int16_t* B) {
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
    const __m128i* v = reinterpret_cast<const __m128i*>(B);
    __m128i any = _mm_loadu_si128(v);
    for (int i = 1; i < 8; ++i)
        any = _mm_or_si128(any, _mm_loadu_si128(v + i));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) == 0xFFFF;
#else
    for (int i = 0; i < 64; ++i)
        if (B[i]) return false;
    return true;
#endif
}

void AcRefine(JpegDecoder& d, BitReader& r, int c, int32_t x, int32_t y) {
    int16_t* B = CoefAt(d.acCoef[c], x, y);
    if (!B) return;
    const uint32_t p1 = 1u << d.al;
    const uint32_t m1 = 0u - p1;
    const HuffLookupBlock& ac = *d.huffLookup[d.acSlot[c]];
    int k = d.ss;
    if (d.eobRun == 0) {
        while (k <= d.se) {
            r.Fill();
            int rs = r.Symbol(ac, d);
            int run = rs >> 4, s = rs & 15;
            uint32_t value = 0;
            if (s != 0) {
                if (s != 1) return; // not a refinement symbol: abandon the block
                value = r.Bits(1) ? p1 : m1;
            } else if (run < 15) {
                d.eobRun = 1 << run;
                if (run > 0) d.eobRun += static_cast<int32_t>(r.Bits(run));
                break;
            }
            while (k <= d.se) {
                int16_t* coef = &B[kZag[k]];
                if (*coef != 0) {
                    CorrectionBit(r, coef, p1, m1);
                } else {
                    if (--run < 0) break;
                }
                ++k;
            }
            if (s != 0 && k < 64) B[kZag[k]] = Low16(value);
            ++k;
        }
    }
    if (d.eobRun > 0) {
        // Blocks inside an end-of-band run are often empty: nothing to correct.
        if (!BlockIsZero(B)) {
            for (; k <= d.se; ++k) {
                int16_t* coef = &B[kZag[k]];
                if (*coef != 0) CorrectionBit(r, coef, p1, m1);
            }
        }
        d.eobRun -= 1;
    }
}

template <void (*Procedure)(JpegDecoder&, BitReader&, int, int32_t, int32_t)>
void RunBlock(JpegDecoder& d, int c, int32_t x, int32_t y) {
    BitReader r(d);
    Procedure(d, r, c, x, y);
    r.Store(d);
}

// Walks the MCUs of the current scan in raster order, calling the procedure
// for each block with the reader held in locals.
template <void (*Procedure)(JpegDecoder&, BitReader&, int, int32_t, int32_t)>
void ScanLoop(JpegDecoder& d) {
    int32_t top[4] = {0, 0, 0, 0};
    BitReader r(d);
    for (int32_t row = 0; row < d.mcuRows; ++row) {
        McuBlockWalk walk;
        for (int32_t m = 0; m < d.mcusPerRow; ++m) {
            if (JpegStop(d)) {
                r.Store(d);
                return;
            }
            if (d.restartInterval != 0 && d.restartsLeft == 0) {
                r.Store(d);
                ProcessRestart(d); // a failure is passed over: decoding goes on here
                r = BitReader(d);
            }
            for (int j = 0; j < d.blocksPerMcu; ++j) {
                int c = d.mcuBlockList[j];
                Procedure(d, r, c, walk.Column(c), walk.Row(top, c));
                walk.Step(d, c);
            }
            if (d.restartInterval != 0) d.restartsLeft -= 1;
        }
        NextBlockRow(d, top);
    }
    r.Store(d);
}

} // namespace

void DecodeDcFirst(JpegDecoder& d, int c, int32_t x, int32_t y) {
    RunBlock<DcFirst>(d, c, x, y);
}
void DecodeDcRefine(JpegDecoder& d, int c, int32_t x, int32_t y) {
    RunBlock<DcRefine>(d, c, x, y);
}
void DecodeAcFirst(JpegDecoder& d, int c, int32_t x, int32_t y) {
    RunBlock<AcFirst>(d, c, x, y);
}
void DecodeAcRefine(JpegDecoder& d, int c, int32_t x, int32_t y) {
    RunBlock<AcRefine>(d, c, x, y);
}

void DecodeScanProgressive(JpegDecoder& d, ProgressiveProcedure procedure) {
    switch (procedure) {
    case kDcFirst: ScanLoop<DcFirst>(d); break;
    case kDcRefine: ScanLoop<DcRefine>(d); break;
    case kAcFirst: ScanLoop<AcFirst>(d); break;
    case kAcRefine: ScanLoop<AcRefine>(d); break;
    }
}
