// The part of the upright picture a fit treats as the whole picture: a
// region asked for in pixels or shares, the square around the subject, or
// the whole picture.
#include <algorithm>

#include "fit/fit_plan.h"
#include "fit/subject_region.h"

RegionRequest RegionInPixels(const PictureRect& r) {
    RegionRequest q;
    q.asked = true;
    q.value[0] = r.x;
    q.value[1] = r.y;
    q.value[2] = r.w;
    q.value[3] = r.h;
    return q;
}

namespace {

// round(side x share / 10000), halves up; shares are hundredths of a per cent.
int64_t ShareOf(int64_t side, int64_t share) {
    return (2 * side * share + 10000) / 20000;
}

// One axis: start and length on a side of `side` pixels; false when the
// part is empty or leaves the side.
bool ResolveAxis(int64_t start, bool startShare, int64_t length, bool lengthShare, int32_t side,
                 int32_t& at, int32_t& size) {
    // Shares beyond the whole side (or negative) can only be outside: keep
    // the products small.
    constexpr int64_t kWholeShare = 10000, kFar = int64_t(1) << 40;
    if (start < 0 || length < 1) return false;
    if ((startShare && start > kWholeShare) || (lengthShare && length > kWholeShare)) return false;
    if (start > kFar || length > kFar) return false;
    const int64_t a = startShare ? ShareOf(side, start) : start;
    int64_t b = 0;
    if (lengthShare)
        b = startShare ? ShareOf(side, start + length) : a + ShareOf(side, length);
    else
        b = a + length;
    if (b <= a || b > side) return false;
    at = static_cast<int32_t>(a);
    size = static_cast<int32_t>(b - a);
    return true;
}

} // namespace

bool ResolveRegion(const RegionRequest& q, int32_t width, int32_t height, PictureRect& out) {
    if (width < 1 || height < 1) return false;
    if (!q.asked) {
        out = PictureRect{0, 0, width, height};
        return true;
    }
    PictureRect r;
    if (!ResolveAxis(q.value[0], q.percent[0], q.value[2], q.percent[2], width, r.x, r.w) ||
        !ResolveAxis(q.value[1], q.percent[1], q.value[3], q.percent[3], height, r.y, r.h))
        return false;
    out = r;
    return true;
}

FitGeometry ComputeRegionGeometry(const PictureRect& region, int32_t height, FitMode mode) {
    FitGeometry g = ComputeFitGeometry(region.w, region.h, mode);
    g.srcX += region.x;
    g.srcY += height - region.y - region.h; // geometries count rows from the bottom
    return g;
}

PictureRect ShownPart(const FitGeometry& g, int32_t height) {
    return PictureRect{g.srcX, height - g.srcY - g.srcH, g.srcW, g.srcH};
}

bool PartToFit(const LoadBuffers& lb, const FitOptions& options, int orientation,
               PictureRect& part) {
    const Orientation o = OrientationOf(orientation);
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    const int32_t uw = o.transposed ? H : W, uh = o.transposed ? W : H;
    if (uw < 1 || uh < 1) return false;
    if (!options.region.asked && options.mode == FitMode::kFill &&
        options.focus == FitFocus::kSubject) {
        part = SuggestSubjectRegion(lb, orientation, 1, 1);
        return true;
    }
    return ResolveRegion(options.region, uw, uh, part);
}
