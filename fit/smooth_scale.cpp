// Smooth scaling into the frame: separable, in linear light, integer only.
//
// Along each axis every output pixel is a short run of source pixels with
// integer weights (AxisPlan). One pass over the source rows the fit shows:
// each row is reduced to one weighted sum per output column (three
// channels), and that sum is added, weighted again, to the one or two
// output rows (more when enlarging) the row belongs to. At the end each sum
// is divided by the product of the two axis totals and turned back into an
// sRGB code. Every sum is exact, so all targets give the same bytes.
//
// Example: 4096 x 3072 filled into 128 x 128 shows columns 512..3583; each
// output column covers 3072 / 128 = 24 source columns, all with weight 128
// (the axis total is 3072). A 100-pixel axis shrunk to 64 has total 100:
// output 0 covers source [0, 1.5625), i.e. pixel 0 with weight 64 and pixel
// 1 with weight 36; output 1 covers [1.5625, 3.125), i.e. pixel 1 with 28,
// pixel 2 with 64 and pixel 3 with 8.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "fit/fit_plan.h"
#include "fit/linear_light.h"
#include "codecs/load_picture.h"

void PlanSmoothAxis(int32_t offset, int32_t length, int32_t n, int32_t stored, bool reversed,
                    AxisPlan& plan) {
    plan.taps.assign(static_cast<size_t>(n), AxisTap{});
    const int64_t L = length, N = n;
    plan.total = static_cast<uint64_t>(L >= N ? L : 2 * N);
    for (int32_t k = 0; k < n; ++k) {
        AxisTap& t = plan.taps[static_cast<size_t>(k)];
        t.output = k;
        t.wMiddle = static_cast<uint32_t>(N);
        if (L >= N) {
            // Output k covers [k L, (k + 1) L) in units of 1/n source pixel;
            // source pixel i covers [i n, (i + 1) n).
            const int64_t a = k * L, b = a + L;
            const int64_t first = a / N, end = (b + N - 1) / N;
            t.start = static_cast<int32_t>(first);
            t.count = static_cast<int32_t>(end - first);
            t.wFirst = static_cast<uint32_t>(std::min((first + 1) * N, b) - a);
            t.wLast = static_cast<uint32_t>(b - std::max((end - 1) * N, a));
            if (t.count == 1) t.wFirst = static_cast<uint32_t>(L);
        } else {
            // The centre of output k sits at source ((2k + 1) L - n) / 2n,
            // in pixel-centre coordinates; outside the first and last
            // centres the edge pixel is repeated.
            const int64_t num = (2 * k + 1) * L - N, twoN = 2 * N;
            int64_t i0 = num <= 0 ? 0 : num / twoN;
            const int64_t r = num <= 0 ? 0 : num % twoN;
            t.wFirst = static_cast<uint32_t>(twoN);
            t.count = 1;
            if (i0 >= L - 1) {
                i0 = L - 1;
            } else if (r) {
                t.count = 2;
                t.wFirst = static_cast<uint32_t>(twoN - r);
                t.wLast = static_cast<uint32_t>(r);
            }
            t.start = static_cast<int32_t>(i0);
        }
        t.start += offset;
        if (reversed) {
            t.start = stored - t.start - t.count;
            if (t.count > 1) std::swap(t.wFirst, t.wLast);
        }
    }
    if (reversed) std::reverse(plan.taps.begin(), plan.taps.end());
}

namespace {

uint32_t TapWeight(const AxisTap& t, int32_t i) {
    if (i == t.start) return t.wFirst;
    return i == t.start + t.count - 1 ? t.wLast : t.wMiddle;
}

// Linear light of the pixels of one 24-bit row.
struct TrueColourRow {
    const uint8_t* p;
    const uint16_t* lin;
    void Get(int32_t i, uint32_t& b, uint32_t& g, uint32_t& r) const {
        const uint8_t* q = p + 3 * static_cast<size_t>(i);
        b = lin[q[0]];
        g = lin[q[1]];
        r = lin[q[2]];
    }
    // Unweighted sums over pixels [i, i + n), n <= 65536 (each fits 32 bits).
    void Sum(int32_t i, int32_t n, uint32_t& b, uint32_t& g, uint32_t& r) const {
        const uint8_t* q = p + 3 * static_cast<size_t>(i);
        uint32_t sb = 0, sg = 0, sr = 0;
        for (int32_t k = 0; k < n; ++k, q += 3) {
            sb += lin[q[0]];
            sg += lin[q[1]];
            sr += lin[q[2]];
        }
        b = sb;
        g = sg;
        r = sr;
    }
};

// Linear light of the pixels of one palette row (1, 4 or 8 bits), through
// a table of the palette's colours; indices the palette lacks are black,
// as in SampleSource.
struct PaletteRow {
    const uint8_t* p;
    const uint32_t* linPal; // 256 x (blue, green, red)
    int bits;
    uint32_t Index(int32_t i) const {
        switch (bits) {
        case 8: return p[i];
        case 4: return (i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4);
        case 1: return (p[i / 8] >> (7 - i % 8)) & 1;
        default: return 0;
        }
    }
    void Get(int32_t i, uint32_t& b, uint32_t& g, uint32_t& r) const {
        const uint32_t* e = linPal + 3 * Index(i);
        b = e[0];
        g = e[1];
        r = e[2];
    }
    void Sum(int32_t i, int32_t n, uint32_t& b, uint32_t& g, uint32_t& r) const {
        uint32_t sb = 0, sg = 0, sr = 0;
        for (int32_t k = 0; k < n; ++k) {
            const uint32_t* e = linPal + 3 * Index(i + k);
            sb += e[0];
            sg += e[1];
            sr += e[2];
        }
        b = sb;
        g = sg;
        r = sr;
    }
};

// One weighted sum per output column (blue, green, red) of one source row.
template <class Row> void RowSums(const Row& row, const AxisPlan& plan, uint64_t* out) {
    for (const AxisTap& t : plan.taps) {
        uint32_t b, g, r;
        row.Get(t.start, b, g, r);
        uint64_t sb = static_cast<uint64_t>(b) * t.wFirst, sg = static_cast<uint64_t>(g) * t.wFirst,
                 sr = static_cast<uint64_t>(r) * t.wFirst;
        if (t.count > 1) {
            const int32_t last = t.start + t.count - 1;
            row.Get(last, b, g, r);
            sb += static_cast<uint64_t>(b) * t.wLast;
            sg += static_cast<uint64_t>(g) * t.wLast;
            sr += static_cast<uint64_t>(r) * t.wLast;
            uint64_t mb = 0, mg = 0, mr = 0;
            for (int32_t i = t.start + 1; i < last;) {
                const int32_t n = std::min<int32_t>(last - i, 65536);
                row.Sum(i, n, b, g, r);
                mb += b;
                mg += g;
                mr += r;
                i += n;
            }
            sb += mb * t.wMiddle;
            sg += mg * t.wMiddle;
            sr += mr * t.wMiddle;
        }
        out[0] = sb;
        out[1] = sg;
        out[2] = sr;
        out += 3;
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PIXMORA_SMOOTH_AVX512 1
// GCC 12's AVX-512 headers start their conversions from an "undefined"
// register and then warn about it.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Linear light of 32 sRGB codes: the 256-entry table sits in eight
// registers of 32 words; bits 0-5 pick within a pair, bits 6 and 7 the pair.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i
Linear32(__m512i codes, const __m512i (&t)[8]) {
    const __m512i a = _mm512_permutex2var_epi16(t[0], codes, t[1]);
    const __m512i b = _mm512_permutex2var_epi16(t[2], codes, t[3]);
    const __m512i c = _mm512_permutex2var_epi16(t[4], codes, t[5]);
    const __m512i d = _mm512_permutex2var_epi16(t[6], codes, t[7]);
    const __mmask32 bit6 = _mm512_test_epi16_mask(codes, _mm512_set1_epi16(64));
    const __mmask32 bit7 = _mm512_test_epi16_mask(codes, _mm512_set1_epi16(128));
    return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, a, b),
                                   _mm512_mask_blend_epi16(bit6, c, d));
}

// to[i] += weight x linear(p[i]) for i < n (weight 1: a plain sum). Lanes
// past n add linear(0) = 0; `to` has room for n rounded up to 32.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
AddLinearRow(const uint8_t* p, size_t n, uint32_t weight, uint32_t* to) {
    __m512i t[8];
    for (int k = 0; k < 8; ++k)
        t[k] = _mm512_loadu_si512(LinearTable() + 32 * k);
    const __m512i w = _mm512_set1_epi32(static_cast<int>(weight));
    for (size_t i = 0; i < n; i += 32) {
        const size_t left = n - i;
        const __mmask32 m = left >= 32 ? ~__mmask32(0) : (__mmask32(1) << left) - 1;
        const __m512i codes = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, p + i));
        const __m512i lin = Linear32(codes, t);
        __m512i lo = _mm512_cvtepu16_epi32(_mm512_castsi512_si256(lin));
        __m512i hi = _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(lin, 1));
        if (weight != 1) {
            lo = _mm512_mullo_epi32(lo, w);
            hi = _mm512_mullo_epi32(hi, w);
        }
        uint32_t* q = to + i;
        _mm512_storeu_si512(q, _mm512_add_epi32(_mm512_loadu_si512(q), lo));
        _mm512_storeu_si512(q + 16, _mm512_add_epi32(_mm512_loadu_si512(q + 16), hi));
    }
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

bool CpuHasAvx512() {
#ifdef PIXMORA_SMOOTH_AVX512
    static const bool has = __builtin_cpu_supports("avx512f") &&
                            __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vl");
    return has;
#else
    return false;
#endif
}

// Columns first needs 32-bit per-sample sums: an output row's middle rows
// add at most 65,536 samples of 65,535; its first and last rows at most
// 2 x 128 x 65,535.
constexpr uint64_t kColumnsFirstMaxRows = 65536;

} // namespace

bool SmoothVectorPathAvailable() {
    return CpuHasAvx512();
}

void SmoothFitter::Begin(const LoadBuffers& lb, const uint8_t* pixelBase, const FitGeometry& g,
                         Orientation o, bool allowVector) {
    base_ = pixelBase;
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    geometry_ = g;
    if (o.transposed) {
        PlanSmoothAxis(g.srcY, g.srcH, g.dstH, W, o.reverseX, xPlan_);
        PlanSmoothAxis(g.srcX, g.srcW, g.dstW, H, o.reverseY, yPlan_);
    } else {
        PlanSmoothAxis(g.srcX, g.srcW, g.dstW, W, o.reverseX, xPlan_);
        PlanSmoothAxis(g.srcY, g.srcH, g.dstH, H, o.reverseY, yPlan_);
    }
    const size_t bandW = static_cast<size_t>(g.dstW);
    xAt_.resize(xPlan_.taps.size());
    yAt_.resize(yPlan_.taps.size());
    for (size_t i = 0; i < xAt_.size(); ++i) {
        const size_t k = static_cast<size_t>(xPlan_.taps[i].output);
        xAt_[i] = 3 * (o.transposed ? k * bandW : k);
    }
    for (size_t i = 0; i < yAt_.size(); ++i) {
        const size_t k = static_cast<size_t>(yPlan_.taps[i].output);
        yAt_[i] = 3 * (o.transposed ? k : k * bandW);
    }
    sums_.assign(3 * bandW * static_cast<size_t>(g.dstH), 0);

    const std::vector<AxisTap>& ys = yPlan_.taps;
    rowLo_ = ys.front().start;
    const int32_t rowHi = ys.back().start + ys.back().count;
    firstTap_.assign(static_cast<size_t>(rowHi - rowLo_), 0);
    added_.assign(firstTap_.size(), 0);
    size_t e = 0;
    for (int32_t y = rowLo_; y < rowHi; ++y) {
        while (e < ys.size() && ys[e].start + ys[e].count <= y)
            ++e;
        firstTap_[static_cast<size_t>(y - rowLo_)] = static_cast<int32_t>(e);
    }
    left_.resize(ys.size());
    for (size_t i = 0; i < ys.size(); ++i)
        left_[i] = ys[i].count;

    palette_ = lb.raster.header.biClrUsed != 0;
    bits_ = lb.raster.header.biBitCount;
    if (palette_)
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t c = PaletteColour(lb, i);
            for (int k = 0; k < 3; ++k)
                linPal_[3 * i + k] = LinearFromSrgb(static_cast<uint8_t>(c >> (8 * k)));
        }
    const int64_t n = static_cast<int64_t>(ys.size());
    const uint64_t yTotal = yPlan_.total;
    // Shrinking vertically (the total is then the shown row count; when
    // enlarging it is 2n, and rows are shared by many outputs).
    columnsFirst_ = allowVector && CpuHasAvx512() && !palette_ && bits_ == 24 &&
                    yTotal >= static_cast<uint64_t>(n) && yTotal != static_cast<uint64_t>(2 * n) &&
                    yTotal <= kColumnsFirstMaxRows;
    x0_ = xPlan_.taps.front().start;
    const int32_t x1 = xPlan_.taps.back().start + xPlan_.taps.back().count;
    samples_ = 3 * static_cast<size_t>(x1 - x0_);
    slotOf_.assign(ys.size(), -1);
    slots_.clear();
    freeSlots_.clear();
    rowSums_.assign(3 * xPlan_.taps.size(), 0);
    column_.assign(columnsFirst_ ? samples_ : 0, 0);
}

void SmoothFitter::AddRow(const LoadBuffers& lb, int32_t y) {
    const int32_t r = y - rowLo_;
    if (r < 0 || r >= static_cast<int32_t>(added_.size()) || added_[static_cast<size_t>(r)]) return;
    added_[static_cast<size_t>(r)] = 1;
    const std::vector<AxisTap>& ys = yPlan_.taps;
    const size_t first = static_cast<size_t>(firstTap_[static_cast<size_t>(r)]);
    const uint8_t* p = base_ + static_cast<int64_t>(y) * lb.raster.stride;
#ifdef PIXMORA_SMOOTH_AVX512
    if (columnsFirst_) {
        const size_t padded = (samples_ + 31) / 32 * 32;
        for (size_t e = first; e < ys.size() && ys[e].start <= y; ++e) {
            if (slotOf_[e] < 0) {
                if (freeSlots_.empty()) {
                    slots_.emplace_back();
                    freeSlots_.push_back(static_cast<int32_t>(slots_.size() - 1));
                }
                slotOf_[e] = freeSlots_.back();
                freeSlots_.pop_back();
                Slot& s = slots_[static_cast<size_t>(slotOf_[e])];
                s.middle.assign(padded, 0);
                s.edge.assign(padded, 0);
            }
            Slot& s = slots_[static_cast<size_t>(slotOf_[e])];
            const AxisTap& t = ys[e];
            const uint8_t* q = p + 3 * static_cast<size_t>(x0_);
            if (y != t.start && y != t.start + t.count - 1)
                AddLinearRow(q, samples_, 1, s.middle.data());
            else
                AddLinearRow(q, samples_, TapWeight(t, y), s.edge.data());
            if (--left_[e] == 0) Flush(e);
        }
        return;
    }
#endif
    if (palette_)
        RowSums(PaletteRow{p, linPal_, bits_}, xPlan_, rowSums_.data());
    else
        RowSums(TrueColourRow{p, LinearTable()}, xPlan_, rowSums_.data());
    for (size_t e = first; e < ys.size() && ys[e].start <= y; ++e) {
        const uint64_t w = TapWeight(ys[e], y);
        uint64_t* out = sums_.data() + yAt_[e];
        for (size_t x = 0; x < xAt_.size(); ++x) {
            uint64_t* s = out + xAt_[x];
            const uint64_t* h = &rowSums_[3 * x];
            s[0] += w * h[0];
            s[1] += w * h[1];
            s[2] += w * h[2];
        }
    }
}

// Output row e has all its rows: each output column sums its samples.
void SmoothFitter::Flush(size_t e) {
    Slot& s = slots_[static_cast<size_t>(slotOf_[e])];
    const uint64_t wMiddle = yPlan_.taps[e].wMiddle;
    for (size_t i = 0; i < samples_; ++i)
        column_[i] = static_cast<uint64_t>(s.middle[i]) * wMiddle + s.edge[i];
    uint64_t* out = sums_.data() + yAt_[e];
    for (size_t k = 0; k < xPlan_.taps.size(); ++k) {
        const AxisTap& c = xPlan_.taps[k];
        const uint64_t* v = column_.data() + 3 * static_cast<size_t>(c.start - x0_);
        uint64_t sum[3] = {v[0] * c.wFirst, v[1] * c.wFirst, v[2] * c.wFirst};
        if (c.count > 1) {
            const uint64_t* last = v + 3 * static_cast<size_t>(c.count - 1);
            uint64_t m[3] = {0, 0, 0};
            for (const uint64_t* q = v + 3; q < last; q += 3) {
                m[0] += q[0];
                m[1] += q[1];
                m[2] += q[2];
            }
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += last[ch] * c.wLast + m[ch] * c.wMiddle;
        }
        uint64_t* o = out + xAt_[k];
        o[0] += sum[0];
        o[1] += sum[1];
        o[2] += sum[2];
    }
    freeSlots_.push_back(slotOf_[e]);
    slotOf_[e] = -1;
}

void SmoothFitter::RowsReady(const LoadBuffers& lb, int32_t first, int32_t count) {
    // Decoders finish rows top-down, memory rows downwards.
    for (int32_t y = first + count - 1; y >= first; --y)
        AddRow(lb, y);
}

void SmoothFitter::Finish(const LoadBuffers& lb, FrameImage& block) {
    for (size_t r = 0; r < added_.size(); ++r)
        AddRow(lb, rowLo_ + static_cast<int32_t>(r));
    const FitGeometry& g = geometry_;
    const size_t bandW = static_cast<size_t>(g.dstW);
    const uint64_t total = xPlan_.total * yPlan_.total;
    for (int32_t v = 0; v < g.dstH; ++v) {
        uint8_t* out = block.Pixels() + static_cast<size_t>(g.dstY + v) * kFrameStride + 3 * g.dstX;
        const uint64_t* s = sums_.data() + 3 * bandW * static_cast<size_t>(v);
        for (size_t i = 0; i < 3 * bandW; ++i)
            out[i] = SrgbFromLinear(static_cast<uint32_t>((s[i] + total / 2) / total));
    }
}

void SmoothFit(const LoadBuffers& lb, const FitGeometry& g, Orientation o, FrameImage& block,
               bool allowVector) {
    SmoothFitter fitter;
    fitter.Begin(lb, lb.raster.cursor.address, g, o, allowVector);
    fitter.Finish(lb, block);
}
