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

#include "codecs/fit_plan.h"
#include "codecs/linear_light.h"
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

} // namespace

void SmoothFit(const LoadBuffers& lb, const FitGeometry& g, Orientation o, FrameImage& block) {
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    AxisPlan xPlan, yPlan;
    if (o.transposed) {
        PlanSmoothAxis(g.srcY, g.srcH, g.dstH, W, o.reverseX, xPlan);
        PlanSmoothAxis(g.srcX, g.srcW, g.dstW, H, o.reverseY, yPlan);
    } else {
        PlanSmoothAxis(g.srcX, g.srcW, g.dstW, W, o.reverseX, xPlan);
        PlanSmoothAxis(g.srcY, g.srcH, g.dstH, H, o.reverseY, yPlan);
    }
    // Where a stored column's / row's output lands in the band's sums
    // (dstW x dstH pixels, three sums each, bottom row first).
    const size_t bandW = static_cast<size_t>(g.dstW);
    std::vector<size_t> xAt(xPlan.taps.size()), yAt(yPlan.taps.size());
    for (size_t i = 0; i < xAt.size(); ++i) {
        const size_t k = static_cast<size_t>(xPlan.taps[i].output);
        xAt[i] = 3 * (o.transposed ? k * bandW : k);
    }
    for (size_t i = 0; i < yAt.size(); ++i) {
        const size_t k = static_cast<size_t>(yPlan.taps[i].output);
        yAt[i] = 3 * (o.transposed ? k : k * bandW);
    }
    std::vector<uint64_t> sums(3 * bandW * static_cast<size_t>(g.dstH), 0);
    std::vector<uint64_t> rowSums(3 * xPlan.taps.size());

    const bool palette = lb.raster.header.biClrUsed != 0;
    uint32_t linPal[256 * 3] = {};
    if (palette)
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t c = PaletteColour(lb, i);
            for (int k = 0; k < 3; ++k)
                linPal[3 * i + k] = LinearFromSrgb(static_cast<uint8_t>(c >> (8 * k)));
        }
    const uint8_t* base = lb.raster.cursor.address;
    const std::vector<AxisTap>& rows = yPlan.taps;
    const int32_t rowEnd = rows.back().start + rows.back().count;
    size_t first = 0;
    for (int32_t y = rows.front().start; y < rowEnd; ++y) {
        while (first < rows.size() && rows[first].start + rows[first].count <= y)
            ++first;
        if (first == rows.size() || rows[first].start > y) continue;
        const uint8_t* p = base + static_cast<int64_t>(y) * lb.raster.stride;
        if (palette)
            RowSums(PaletteRow{p, linPal, lb.raster.header.biBitCount}, xPlan, rowSums.data());
        else
            RowSums(TrueColourRow{p, LinearTable()}, xPlan, rowSums.data());
        for (size_t e = first; e < rows.size() && rows[e].start <= y; ++e) {
            const uint64_t w = TapWeight(rows[e], y);
            uint64_t* out = sums.data() + yAt[e];
            for (size_t x = 0; x < xAt.size(); ++x) {
                uint64_t* s = out + xAt[x];
                const uint64_t* h = &rowSums[3 * x];
                s[0] += w * h[0];
                s[1] += w * h[1];
                s[2] += w * h[2];
            }
        }
    }

    const uint64_t total = xPlan.total * yPlan.total;
    for (int32_t v = 0; v < g.dstH; ++v) {
        uint8_t* out = block.Pixels() + static_cast<size_t>(g.dstY + v) * kFrameStride + 3 * g.dstX;
        const uint64_t* s = sums.data() + 3 * bandW * static_cast<size_t>(v);
        for (size_t i = 0; i < 3 * bandW; ++i)
            out[i] = SrgbFromLinear(static_cast<uint32_t>((s[i] + total / 2) / total));
    }
}
