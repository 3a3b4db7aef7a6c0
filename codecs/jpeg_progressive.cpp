// The four progressive procedures (DC first and refinement, AC first and
// refinement) and the scan loop that walks their blocks, into the
// coefficient buffers of the whole picture.
//
// Corrupt data is never rejected here; whatever decodes becomes the picture.
#include <cstring>

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
#include <emmintrin.h>
#endif

#include "codecs/jpeg_bit_reader.h"
#include "codecs/jpeg_decoder.h"

using namespace jpeg_entropy;

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

__attribute__((always_inline)) inline void DcFirst(JpegDecoder& d, BitReader& r, int c, int32_t x,
                                                   int32_t y) {
    r.Fill();
    int s = DcCategory(r.Symbol(*d.huffLookup[d.dcSlot[c]], d));
    d.dcPred[c] = static_cast<int32_t>(static_cast<uint32_t>(d.dcPred[c]) +
                                       static_cast<uint32_t>(r.Extend(s)));
    int16_t* p = CoefAt(d.dcCoef[c], x, y);
    if (p) *p = Low16(static_cast<uint32_t>(d.dcPred[c]) << d.al);
}

__attribute__((always_inline)) inline void DcRefine(JpegDecoder& d, BitReader& r, int c, int32_t x,
                                                    int32_t y) {
    r.Fill();
    uint32_t bit = r.Bits(1);
    int16_t* p = CoefAt(d.dcCoef[c], x, y);
    if (p && bit) *p = Low16(static_cast<uint16_t>(*p) | (1u << d.al));
}

__attribute__((always_inline)) inline void AcFirst(JpegDecoder& d, BitReader& r, int c, int32_t x,
                                                   int32_t y) {
    if (d.eobRun > 0) {
        d.eobRun -= 1;
        return;
    }
    int16_t* B = CoefAt(d.acCoef[c], x, y);
    if (!B) return;
    const HuffLookupBlock& ac = *d.huffLookup[d.acSlot[c]];
    const int al = d.al, se = d.se;
    for (int k = d.ss; k <= se; ++k) {
        r.Fill();
        // A code and its extra bits found whole in fastAc go in one step,
        // unless its run passes position 63: then the code alone is read.
        const HuffFast f = ac.fastAc[r.buffer >> (64 - kHuffFastBits)];
        int rs, value = 0;
        if (f.len && ((f.symbol & 15) == 0 || k + (f.symbol >> 4) <= 63)) {
            rs = f.symbol;
            r.Consume(f.len);
            value = f.value;
        } else {
            rs = r.Symbol(ac, d);
            if ((rs & 15) != 0) {
                if (k + (rs >> 4) > 63) return;
                value = r.Extend(rs & 15);
            }
        }
        const int run = rs >> 4, s = rs & 15;
        if (s != 0) {
            k += run;
            B[kZag[k]] = Low16(static_cast<uint32_t>(value) << al);
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

__attribute__((always_inline)) inline void AcRefine(JpegDecoder& d, BitReader& r, int c, int32_t x,
                                                    int32_t y) {
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
