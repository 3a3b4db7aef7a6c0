// Entropy-coded data: the bit reader's record-level operations, Huffman
// decoding, sequential MCU rows with dequantisation, and restarts (the
// progressive procedures: jpeg_progressive.cpp).
//
// Corrupt data is never rejected here; whatever decodes becomes the picture.
// All coefficient arithmetic keeps the low 16 bits of 32-bit wrapping
// products, so it is done on unsigned values (no signed overflow).
#include <cstring>

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
#include <emmintrin.h>
#endif

#include "codecs/decode_failure.h"
#include "codecs/jpeg_bit_reader.h"
#include "codecs/jpeg_decoder.h"

// Zig-zag position -> natural index; the 16 guard entries let a run that
// steps past 63 index safely before it is noticed.
const uint8_t kZag[64 + 16] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                               12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                               35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                               58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
                               63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

using namespace jpeg_entropy;

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
    // The buffer is topped up before every fifth code, not tested before
    // each one (a test that follows the data and so is often mispredicted):
    // a code and its extra bits found whole in fastAc take at most
    // kHuffFastBits bits; any other fills for itself and is followed by a
    // top-up.
    static_assert(5 * kHuffFastBits <= 56, "five fast codes fit in a topped-up buffer");
    int k = 1, beat = 0;
    while (k < 64) {
        if (beat == 0) {
            r.TopUp();
            beat = 5;
        }
        --beat;
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
            r.Fill();
            beat = 0;
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
    // The symbols of one skipPair entry that keep it below 64 go in one
    // step; the others (the end of the block, long codes) one at a time by
    // the full rule. The buffer is topped up before every second step (a
    // step takes at most the window and 15 extra bits), and filled before a
    // symbol taken by the full rule.
    constexpr int kSkipBeat = 56 / (kHuffPairBits + 15);
    static_assert(kSkipBeat >= 1, "a step fits in a topped-up buffer");
    int k = 1, beat = 0;
    for (;;) {
        if (beat == 0) {
            r.TopUp();
            beat = kSkipBeat;
        }
        --beat;
        const HuffSkipPair p = ac.skipPair[r.buffer >> (64 - kHuffPairBits)];
        if (k + p.advance < 64) {
            k += p.advance;
            r.Consume(p.totalLength);
            continue;
        }
        // Symbols and the end of the block: all of them, when the symbols
        // keep the position below 64 (else the block ends before that code).
        if (p.advance != kHuffPairStop && p.advance >= kHuffPairEnd &&
            k + (p.advance - kHuffPairEnd) < 64) {
            r.Consume(p.totalLength);
            return true;
        }
        r.Fill();
        beat = 0;
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
// (shifts by a register in one step), chosen at run time, once for each way
// of treating the blocks, so that the storing loop stays as it is:
//   kStoreAll       every block stored (a full decode);
//   kSkipUnneeded   the blocks no needed pixel lies in passed over
//                   (d.blockStale is set);
//   kDcOnly         every block passed over, its dequantised DC kept as
//                   coefficient 0 of its store slot (the eighth-size picture).
enum RowMode { kStoreAll, kSkipUnneeded, kDcOnly };

template <RowMode kMode> __attribute__((always_inline)) inline void DecodeRow(JpegDecoder& d) {
    BitReader r(d);
    uint8_t* const stale = kMode == kSkipUnneeded ? d.blockStale : nullptr;
    const uint8_t* const need = kMode == kSkipUnneeded ? d.needBlock : nullptr;
    SkipTables skip[kJpegMaxBlocksPerMcu];
    uint32_t dcFactor[kJpegMaxBlocksPerMcu];
    for (int j = 0; kMode != kStoreAll && j < d.blocksPerMcu; ++j) {
        const int c = d.mcuBlockList[j];
        EnsureSkipTables(*d.huffLookup[d.acSlot[c]]);
        skip[j] = {d.huffLookup[d.dcSlot[c]], d.huffLookup[d.acSlot[c]], &d.dcPred[c],
                   d.dcSlot[c] < 4};
        dcFactor[j] = d.quant[d.comp[c].tq][0];
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
            if (kMode == kDcOnly) {
                whole = SkipBlockSequential(d, r, skip[j]);
                d.blockStore[64 * i] = Low16(dcFactor[j] * static_cast<uint32_t>(*skip[j].pred));
            } else if (need && !need[i]) {
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
template <RowMode kMode> PIXMORA_AVX2 void DecodeRowBmi2(JpegDecoder& d) {
    DecodeRow<kMode>(d);
}
#endif

} // namespace

void DecodeMcuRowSequential(JpegDecoder& d) {
#if defined(PIXMORA_JPEG_AVX2)
    if (d.simd >= kJpegSimdAvx2) {
        if (d.dcOnly)
            DecodeRowBmi2<kDcOnly>(d);
        else if (d.blockStale)
            DecodeRowBmi2<kSkipUnneeded>(d);
        else
            DecodeRowBmi2<kStoreAll>(d);
        return;
    }
#endif
    if (d.dcOnly)
        DecodeRow<kDcOnly>(d);
    else if (d.blockStale)
        DecodeRow<kSkipUnneeded>(d);
    else
        DecodeRow<kStoreAll>(d);
}
