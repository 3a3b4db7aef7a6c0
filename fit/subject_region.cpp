// Where a photo's subject is, from a small version of it.
//
// The raster is box-averaged to at most 128 cells along its longer side
// (a 4000 x 3000 photo: 125 x 94 cells of 32 x 32 pixels, each averaged
// from 16 x 16 of its pixels). Each cell scores what draws the eye: skin
// tones (the hue band of human skin in any light), strong colour, and
// detail (brightness spread inside the cell plus the edges between cells).
// Cells near the picture's edges weigh less: photographers keep the
// subject away from them. The frame's rectangle is then slid along the
// picture's longer axis to where it holds the most attention, and centred
// on the attention it holds. When no place holds clearly more than the
// centre, the centre stays: a landscape, a pattern or a blank wall has no
// subject to follow.
#include "fit/subject_region.h"

#include <algorithm>
#include <cmath>

#include "codecs/load_picture.h"
#include "fit/fit_plan.h"

namespace {

// Sums of the sampled pixels of one cell.
struct CellSums {
    uint32_t count = 0;
    uint64_t r = 0, g = 0, b = 0, y = 0, yy = 0;
};

// The brightness of a pixel, 0..255: (2 red + 5 green + blue) / 8.
inline uint32_t Brightness(uint32_t b, uint32_t g, uint32_t r) {
    return (2 * r + 5 * g + b) >> 3;
}

} // namespace

bool MakeSmallPicture(const LoadBuffers& lb, SmallPicture& s) {
    s = SmallPicture{};
    if (!RasterReadable(lb)) return false;
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    const int32_t longer = std::max(W, H);
    s.cell = (longer + SmallPicture::kSmallSide - 1) / SmallPicture::kSmallSide;
    s.width = (W + s.cell - 1) / s.cell;
    s.height = (H + s.cell - 1) / s.cell;
    const int32_t step = std::max(1, s.cell / 16); // about 16 x 16 samples per cell
    std::vector<CellSums> sums(static_cast<size_t>(s.width) * s.height);
    const bool trueColour = lb.raster.header.biClrUsed == 0 && lb.raster.header.biBitCount == 24;
    const uint8_t* base = lb.raster.cursor.address;
    for (int32_t y = 0; y < H; y += step) {
        CellSums* rowCells = &sums[static_cast<size_t>(y / s.cell) * s.width];
        const uint8_t* p = base + static_cast<int64_t>(y) * lb.raster.stride;
        for (int32_t cx = 0, x = 0; cx < s.width; ++cx) {
            CellSums& c = rowCells[cx];
            const int32_t end = std::min(W, (cx + 1) * s.cell);
            uint32_t n = 0, sr = 0, sg = 0, sb = 0, sy = 0, syy = 0; // a cell row stays below 2^32
            for (; x < end; x += step) {
                uint32_t b, g, r;
                if (trueColour) {
                    const uint8_t* q = p + 3 * static_cast<size_t>(x);
                    b = q[0], g = q[1], r = q[2];
                } else {
                    const uint32_t v = SampleSource(lb, x, y);
                    b = v & 255, g = (v >> 8) & 255, r = (v >> 16) & 255;
                }
                const uint32_t v = Brightness(b, g, r);
                ++n, sr += r, sg += g, sb += b, sy += v, syy += v * v;
            }
            c.count += n, c.r += sr, c.g += sg, c.b += sb, c.y += sy, c.yy += syy;
        }
    }
    const size_t cells = sums.size();
    s.red.resize(cells), s.green.resize(cells), s.blue.resize(cells), s.spread.resize(cells);
    for (size_t i = 0; i < cells; ++i) {
        const CellSums& c = sums[i];
        const double n = c.count ? c.count : 1;
        s.red[i] = static_cast<float>(c.r / n);
        s.green[i] = static_cast<float>(c.g / n);
        s.blue[i] = static_cast<float>(c.b / n);
        const double mean = c.y / n;
        s.spread[i] = static_cast<float>(std::sqrt(std::max(0.0, c.yy / n - mean * mean)));
    }
    return true;
}

namespace {

float Clamp01(float v) {
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

// 1 in the middle of a side, falling to 0.35 at its ends over its outer 15 %.
float EdgeWeight(float at, float side) {
    const float d = std::min(at, side - at) / side;
    const float t = Clamp01(d / 0.15f);
    return 0.35f + 0.65f * t * t * (3 - 2 * t);
}

// How much a colour looks like skin, 0..1: an ellipse in the (Cb, Cr) plane
// around the tones of skin under daylight and lamps, in fair light.
float SkinTone(float r, float g, float b) {
    const float y = 0.299f * r + 0.587f * g + 0.114f * b;
    const float cb = 128 - 0.168736f * r - 0.331264f * g + 0.5f * b;
    const float cr = 128 + 0.5f * r - 0.418688f * g - 0.081312f * b;
    const float u = (cb - 108) / 20, v = (cr - 152) / 17;
    const float inside = 1 - (u * u + v * v);
    if (inside <= 0 || y < 45 || y > 245) return 0;
    return Clamp01(inside * 2);
}

// Strong colour, 0..1: saturation beyond that of most surfaces, and bright
// enough to be seen.
float StrongColour(float r, float g, float b) {
    const float hi = std::max(r, std::max(g, b)), lo = std::min(r, std::min(g, b));
    if (hi < 1) return 0;
    return Clamp01(((hi - lo) / hi - 0.3f) / 0.4f) * Clamp01(hi / 170);
}

} // namespace

std::vector<float> AttentionOf(const SmallPicture& s) {
    const int32_t w = s.width, h = s.height;
    std::vector<float> score(static_cast<size_t>(w) * h);
    if (score.empty()) return score;
    std::vector<float> luma(score.size());
    for (size_t i = 0; i < score.size(); ++i)
        luma[i] = 0.299f * s.red[i] + 0.587f * s.green[i] + 0.114f * s.blue[i];
    auto at = [&](int32_t x, int32_t y) {
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
        return luma[static_cast<size_t>(y) * w + x];
    };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            const float edge =
                std::fabs(4 * at(x, y) - at(x - 1, y) - at(x + 1, y) - at(x, y - 1) - at(x, y + 1));
            const float detail = Clamp01((s.spread[i] + 0.5f * edge) / 48);
            const float skin = SkinTone(s.red[i], s.green[i], s.blue[i]);
            const float colour = StrongColour(s.red[i], s.green[i], s.blue[i]);
            score[i] = (2 * skin + colour + detail) * EdgeWeight(x + 0.5f, static_cast<float>(w)) *
                       EdgeWeight(y + 0.5f, static_cast<float>(h));
        }
    return score;
}

namespace {

// The attention along the axis the rectangle slides on, as pieces of the
// upright axis (top-down or left-to-right, in pixels) with their mass.
struct Piece {
    int64_t from, to;
    double mass;
};

// The attention inside [at, at + length) of the axis, a piece counting by
// the share of it inside.
double MassIn(const std::vector<Piece>& pieces, int64_t at, int64_t length) {
    double sum = 0;
    for (const Piece& p : pieces) {
        const int64_t a = std::max(p.from, at), b = std::min(p.to, at + length);
        if (b > a) sum += p.mass * static_cast<double>(b - a) / static_cast<double>(p.to - p.from);
    }
    return sum;
}

// Where the rectangle of `length` starts on an axis of `side` pixels whose
// centred start is `centre`, for the attention standing out of the
// picture's background (pieces in order along the axis). Attention spread
// over more than half the axis is no subject: the centre. Otherwise the rectangle
// is centred on the stretch holding three quarters of it, as far as the
// picture allows, and moved only where it would lose more than a little of
// what the best place holds.
int64_t SubjectStart(const std::vector<Piece>& pieces, int64_t side, int64_t length,
                     int64_t centre) {
    const int64_t room = side - length;
    if (room <= 0) return 0;
    double total = 0;
    for (const Piece& p : pieces)
        total += p.mass;
    if (total <= 0) return centre;
    // The shortest run of pieces holding three quarters of the attention.
    size_t bestA = 0, bestB = pieces.size();
    double held = 0;
    for (size_t a = 0, b = 0; a < pieces.size(); held -= pieces[a++].mass) {
        while (b < pieces.size() && held < 0.75 * total)
            held += pieces[b++].mass;
        if (held < 0.75 * total) break;
        if (pieces[b - 1].to - pieces[a].from < pieces[bestB - 1].to - pieces[bestA].from)
            bestA = a, bestB = b;
    }
    if (pieces[bestB - 1].to - pieces[bestA].from > side / 2) return centre;
    double sum = 0, moment = 0;
    for (size_t k = bestA; k < bestB; ++k) {
        sum += pieces[k].mass;
        moment += pieces[k].mass * 0.5 * static_cast<double>(pieces[k].from + pieces[k].to);
    }
    const int64_t wanted = std::clamp<int64_t>(
        std::llround(moment / sum - 0.5 * static_cast<double>(length)), 0, room);
    // The most a rectangle can hold, and the place nearest the wanted one that
    // holds nearly that much.
    const int64_t steps = std::min<int64_t>(room, 256);
    double most = MassIn(pieces, wanted, length);
    for (int64_t k = 0; k <= steps; ++k)
        most = std::max(most, MassIn(pieces, room * k / steps, length));
    int64_t best = wanted;
    if (MassIn(pieces, wanted, length) < 0.97 * most) {
        int64_t nearest = -1;
        for (int64_t k = 0; k <= steps; ++k) {
            const int64_t at = room * k / steps;
            if (MassIn(pieces, at, length) >= 0.97 * most &&
                (nearest < 0 || std::llabs(at - wanted) < std::llabs(nearest - wanted)))
                nearest = at;
        }
        best = nearest;
    }
    return best;
}

} // namespace

PictureRect SuggestSubjectRegion(const LoadBuffers& lb, int orientation, int aspectW, int aspectH) {
    const Orientation o = OrientationOf(orientation);
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    const int32_t uw = o.transposed ? H : W, uh = o.transposed ? W : H;
    if (uw < 1 || uh < 1) return PictureRect{};
    if (aspectW < 1 || aspectH < 1) aspectW = aspectH = 1;
    // The largest rectangle of the aspect, centred as a fill centres its
    // square (an odd surplus cut on the right / top).
    PictureRect r{0, 0, uw, uh};
    const bool acrossX = static_cast<int64_t>(uw) * aspectH >= static_cast<int64_t>(uh) * aspectW;
    if (acrossX) {
        r.w = static_cast<int32_t>(std::clamp<int64_t>(
            (2 * static_cast<int64_t>(uh) * aspectW + aspectH) / (2 * aspectH), 1, uw));
        r.x = (uw - r.w) / 2;
    } else {
        r.h = static_cast<int32_t>(std::clamp<int64_t>(
            (2 * static_cast<int64_t>(uw) * aspectH + aspectW) / (2 * aspectW), 1, uh));
        r.y = (uh - r.h) - (uh - r.h) / 2;
    }
    SmallPicture small;
    if ((r.w == uw && r.h == uh) || !MakeSmallPicture(lb, small)) return r;
    std::vector<float> score = AttentionOf(small);
    // What stands out of the background: attention beyond twice its median.
    std::vector<float> sorted = score;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const float background = 2 * sorted[sorted.size() / 2] + 0.25f;
    double all = 0, standing = 0;
    for (float& v : score) {
        all += v;
        v = std::max(0.0f, v - background);
        standing += v;
    }
    // A tenth of the attention at least, or nothing stands out.
    if (standing < 0.1 * all) return r;

    // The stored axis the rectangle slides on, and whether the upright
    // axis (left-to-right, or top-down) runs against it.
    const bool storedColumns = acrossX != o.transposed;
    const bool reversed = storedColumns ? o.reverseX : o.reverseY;
    const bool flip = acrossX ? reversed : !reversed; // memory rows count from the bottom
    const int32_t side = storedColumns ? W : H;
    const int32_t cells = storedColumns ? small.width : small.height;
    std::vector<Piece> pieces(static_cast<size_t>(cells));
    for (int32_t c = 0; c < cells; ++c) {
        double mass = 0;
        const int32_t across = storedColumns ? small.height : small.width;
        for (int32_t k = 0; k < across; ++k)
            mass += score[storedColumns ? static_cast<size_t>(k) * small.width + c
                                        : static_cast<size_t>(c) * small.width + k];
        const int64_t a = static_cast<int64_t>(c) * small.cell;
        const int64_t b = std::min<int64_t>(side, a + small.cell);
        pieces[static_cast<size_t>(c)] = flip ? Piece{side - b, side - a, mass} : Piece{a, b, mass};
    }
    if (flip) std::reverse(pieces.begin(), pieces.end());
    if (acrossX)
        r.x = static_cast<int32_t>(SubjectStart(pieces, uw, r.w, r.x));
    else
        r.y = static_cast<int32_t>(SubjectStart(pieces, uh, r.h, r.y));
    return r;
}
