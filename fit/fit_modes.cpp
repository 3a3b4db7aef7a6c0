// The three fits (stretch, fill, inside), sharp or smooth, on the upright
// picture. The raster is never turned: each frame pixel's upright position
// is mapped to the stored pixel (Orientation).
#include <algorithm>
#include <cstring>

#include "codecs/decode_failure.h"
#include "codecs/exif_orientation.h"
#include "fit/fit_plan.h"
#include "fit/stretch.h"
#include "codecs/load_picture.h"

Orientation OrientationOf(int exif) {
    switch (exif) {
    case 2: return {false, true, false};
    case 3: return {false, true, true};
    case 4: return {false, false, true};
    case 5: return {true, true, true};
    case 6: return {true, true, false};
    case 7: return {true, false, false};
    case 8: return {true, false, true};
    default: return {false, false, false};
    }
}

FitGeometry ComputeFitGeometry(int32_t width, int32_t height, FitMode mode) {
    FitGeometry g{0, 0, width, height, 0, 0, kFrameSide, kFrameSide};
    if (mode == FitMode::kFill) {
        const int32_t side = std::min(width, height);
        g.srcX = (width - side) / 2;
        g.srcY = (height - side) / 2;
        g.srcW = g.srcH = side;
    } else if (mode == FitMode::kInside && width != height) {
        const int64_t longer = std::max(width, height), shorter = std::min(width, height);
        // round(128 x shorter / longer), halves up, never 0
        const int32_t across = static_cast<int32_t>(
            std::max<int64_t>(1, (2 * kFrameSide * shorter + longer) / (2 * longer)));
        if (width > height) {
            g.dstH = across;
            g.dstY = (kFrameSide - across) / 2;
        } else {
            g.dstW = across;
            g.dstX = (kFrameSide - across) / 2;
        }
    }
    return g;
}

namespace {

// The upright source position of each of the n frame pixels along an axis:
// offset + floor(j length / n). A plain stretch reckons as FitToFrame does
// (StretchStep), which is the same below 2^24 pixels and keeps it identical
// to FitToFrame beyond.
std::vector<int32_t> SharpAxis(int32_t offset, int32_t length, int32_t n, bool asFitToFrame) {
    std::vector<int32_t> at(static_cast<size_t>(n));
    const StretchStep step(length, n);
    for (int32_t j = 0; j < n; ++j)
        at[static_cast<size_t>(j)] =
            offset +
            (asFitToFrame ? step(j) : static_cast<int32_t>(static_cast<int64_t>(j) * length / n));
    return at;
}

int32_t Stored(int32_t a, int32_t size, bool reversed) {
    return reversed ? size - 1 - a : a;
}

// Writes the geometry's band into `pixels`, rows of `stride` bytes, bottom
// row first.
void SharpFit(const LoadBuffers& lb, const FitGeometry& g, FitMode mode, Orientation o,
              uint8_t* pixels, int32_t stride) {
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    const bool stretch = mode == FitMode::kStretch;
    const std::vector<int32_t> ux = SharpAxis(g.srcX, g.srcW, g.dstW, stretch);
    const std::vector<int32_t> uy = SharpAxis(g.srcY, g.srcH, g.dstH, stretch);
    for (int32_t i = 0; i < g.dstH; ++i) {
        uint8_t* out = pixels + static_cast<size_t>(g.dstY + i) * stride + 3 * g.dstX;
        for (int32_t j = 0; j < g.dstW; ++j, out += 3) {
            const int32_t a =
                o.transposed ? uy[static_cast<size_t>(i)] : ux[static_cast<size_t>(j)];
            const int32_t b =
                o.transposed ? ux[static_cast<size_t>(j)] : uy[static_cast<size_t>(i)];
            const uint32_t c = SampleSource(lb, Stored(a, W, o.reverseX), Stored(b, H, o.reverseY));
            out[0] = static_cast<uint8_t>(c);
            out[1] = static_cast<uint8_t>(c >> 8);
            out[2] = static_cast<uint8_t>(c >> 16);
        }
    }
}

// The geometry of `part` of the upright picture of a W x H stored raster.
FitGeometry UprightGeometry(int32_t W, int32_t H, Orientation o, const PictureRect& part,
                            FitMode mode) {
    return ComputeRegionGeometry(part, o.transposed ? W : H, mode);
}

// The part of a W x H stored raster a fit takes without looking at the
// picture: the region asked for, or the whole upright picture.
bool PartAsked(int32_t W, int32_t H, Orientation o, const FitOptions& options, PictureRect& part) {
    return o.transposed ? ResolveRegion(options.region, H, W, part)
                        : ResolveRegion(options.region, W, H, part);
}

// A fill around the subject looks at the whole picture before it fits.
bool LooksAtThePicture(const FitOptions& options) {
    return !options.region.asked && options.mode == FitMode::kFill &&
           options.focus == FitFocus::kSubject;
}

} // namespace

void FitPart(LoadBuffers& lb, const FitOptions& options, int orientation, const PictureRect& part,
             FrameImage& block) {
    lb.raster.cursor.address = RasterRow(lb, 0);
    const Orientation o = OrientationOf(orientation);
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    const bool whole = part.x == 0 && part.y == 0 && part.w == (o.transposed ? H : W) &&
                       part.h == (o.transposed ? W : H);
    if (whole && options.mode == FitMode::kStretch && !options.smooth && !o.transposed &&
        !o.reverseX && !o.reverseY) {
        FitToFrame(lb, kFrameSide, kFrameSide, block);
        return;
    }
    InitFrameHeader(kFrameSide, kFrameSide, block.bytes);
    std::memset(block.Pixels(), 0, kFramePixelBytes);
    const int64_t uw = o.transposed ? H : W, uh = o.transposed ? W : H;
    const bool inside = part.x >= 0 && part.y >= 0 && part.w >= 1 && part.h >= 1 &&
                        part.x + int64_t(part.w) <= uw && part.y + int64_t(part.h) <= uh;
    if (!inside || !RasterReadable(lb)) return;
    const FitGeometry g = UprightGeometry(W, H, o, part, options.mode);
    if (options.smooth)
        SmoothFit(lb, g, o, block);
    else
        SharpFit(lb, g, options.mode, o, block.Pixels(), kFrameStride);
}

bool FitWithOptions(LoadBuffers& lb, const FitOptions& options, int orientation,
                    FrameImage& block) {
    lb.raster.cursor.address = RasterRow(lb, 0);
    PictureRect part;
    if (!RasterReadable(lb) || !PartToFit(lb, options, orientation, part)) {
        InitFrameHeader(kFrameSide, kFrameSide, block.bytes);
        std::memset(block.Pixels(), 0, kFramePixelBytes);
        return !RasterReadable(lb) || !options.region.asked;
    }
    FitPart(lb, options, orientation, part, block);
    return true;
}

bool StretchUprightInto(LoadBuffers& lb, int orientation, int32_t w, int32_t h, uint8_t* pixels,
                        int32_t stride) {
    if (w < 1 || h < 1) return false;
    lb.raster.cursor.address = RasterRow(lb, 0);
    std::memset(pixels, 0, static_cast<size_t>(stride) * static_cast<size_t>(h));
    if (!RasterReadable(lb)) return true;
    const Orientation o = OrientationOf(orientation);
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    const FitGeometry g =
        o.transposed ? FitGeometry{0, 0, H, W, 0, 0, w, h} : FitGeometry{0, 0, W, H, 0, 0, w, h};
    SharpFit(lb, g, FitMode::kStretch, o, pixels, stride);
    return true;
}

bool StretchUpright(LoadBuffers& lb, int orientation, int w, int h, FrameImage& block) {
    lb.raster.cursor.address = RasterRow(lb, 0);
    const Orientation o = OrientationOf(orientation);
    if (!o.transposed && !o.reverseX && !o.reverseY) return FitToFrame(lb, w, h, block);
    if (w < 1 || h < 1 || w > kFrameSide || h > kFrameSide) return false;
    InitFrameHeader(w, h, block.bytes);
    return StretchUprightInto(lb, orientation, w, h, block.Pixels(), (w * 24 + 31) / 32 * 4);
}

namespace {

void FillFitMasks(const void* context, int32_t width, int32_t height, uint8_t* columns,
                  uint8_t* rows);

// A smooth fit that takes each raster row as the JPEG decoder finishes it,
// while it is still in the cache; the result is FitWithOptions' on the
// final raster.
class SmoothLoad : public RasterRowWatcher {
  public:
    explicit SmoothLoad(const FitOptions& options) : options_(options) {}
    void SetOrientation(int orientation) { orientation_ = orientation; }

    void RowsReady(const LoadBuffers& lb, int32_t first, int32_t count) override {
        if (!started_) {
            started_ = true;
            width_ = lb.raster.header.biWidth;
            height_ = lb.raster.header.biHeight;
            base_ = RasterRow(const_cast<LoadBuffers&>(lb), 0);
            const Orientation o = OrientationOf(orientation_);
            PictureRect part;
            fitting_ = PartAsked(width_, height_, o, options_, part);
            if (fitting_)
                fitter_.Begin(lb, base_, UprightGeometry(width_, height_, o, part, options_.mode),
                              o, true);
        }
        if (fitting_) fitter_.RowsReady(lb, first, count);
    }

    // The frame picture, when the rows went through this fit and row 0 is
    // still where that raster begins; false leaves it to FitWithOptions.
    bool Finish(LoadBuffers& lb, FrameImage& block) {
        lb.raster.cursor.address = RasterRow(lb, 0);
        if (!started_ || !fitting_ || lb.raster.header.biWidth != width_ ||
            lb.raster.header.biHeight != height_ || lb.raster.cursor.address != base_ ||
            !RasterReadable(lb))
            return false;
        InitFrameHeader(kFrameSide, kFrameSide, block.bytes);
        std::memset(block.Pixels(), 0, kFramePixelBytes);
        fitter_.Finish(lb, block);
        return true;
    }

  private:
    const FitOptions& options_;
    int orientation_ = 1;
    bool started_ = false, fitting_ = false;
    int32_t width_ = 0, height_ = 0;
    const uint8_t* base_ = nullptr;
    SmoothFitter fitter_;
};

// What a fit with `options` reads of a JPEG being decoded: the sharp fit's
// lines as masks, or every row of a smooth fit taken as it is finished.
class FitNeeds : public SampleNeeds {
  public:
    explicit FitNeeds(const FitOptions& options) : options_(options), smooth_(options_) {}
    const SampleMasks* MasksFor(LoadBuffers& lb, int orientation) override {
        orientation_ = orientation;
        if (LooksAtThePicture(options_)) return nullptr; // every sample
        usedSmooth_ = options_.smooth;
        if (options_.smooth) {
            smooth_.SetOrientation(orientation);
            lb.rowWatcher = &smooth_;
            return nullptr;
        }
        masks_ = SampleMasks{FillFitMasks, this};
        masks_.packed = true; // a sharp fit reads through SampleSource alone
        return &masks_;
    }
    // The smooth fit made on the way, when there was one and it still holds.
    bool FinishSmooth(LoadBuffers& lb, FrameImage& block) {
        return usedSmooth_ && smooth_.Finish(lb, block);
    }
    const FitOptions& options() const { return options_; }
    int orientation() const { return orientation_; }

  private:
    FitOptions options_;
    SmoothLoad smooth_;
    SampleMasks masks_{};
    int orientation_ = 1;
    bool usedSmooth_ = false;
};

void FillFitMasks(const void* context, int32_t width, int32_t height, uint8_t* columns,
                  uint8_t* rows) {
    const FitNeeds& needs = *static_cast<const FitNeeds*>(context);
    MarkLinesTheFitReads(width, height, needs.options(), needs.orientation(), columns, rows);
}

} // namespace

namespace {

// Decodes `path` for the frame, `needs` picking the samples of a JPEG.
DecodeOutcome DecodeForFrame(DecoderSet& set, const char* path, bool upright, SampleNeeds* needs,
                             int& orientation) {
    orientation = 1;
    if (!set.buffers) {
        DecodeFail("no load buffers");
        return DecodeOutcome::kRefused;
    }
    LoadBuffers& lb = *set.buffers;
    const uint32_t serial = lb.rasterSerial;
    const int decoded = DecodeForReading(set, path, upright, needs, orientation);
    if (decoded < 0) return DecodeOutcome::kUnknownType; // the reason names the file
    // A decoder that stops half-way leaves the rows it decoded in a raster
    // of its own; one that stops earlier leaves the previous file's raster,
    // which must never be shown under this file's name.
    if (lb.rasterSerial == serial) return DecodeOutcome::kRefused;
    // A failed decode is not the photo as a whole: it is fitted as stored.
    if (decoded != 1) orientation = 1;
    lb.raster.cursor.address = RasterRow(lb, 0);
    return decoded == 1 ? DecodeOutcome::kComplete : DecodeOutcome::kPartial;
}

} // namespace

DecodeOutcome DecodeWholePicture(DecoderSet& set, const char* path, bool upright,
                                 int& orientation) {
    return DecodeForFrame(set, path, upright, nullptr, orientation);
}

DecodeOutcome LoadForFrame(DecoderSet& set, const char* path, const FitOptions& options,
                           FrameImage& block, FitReport* report) {
    FitNeeds needs(options);
    int orientation = 1;
    const DecodeOutcome outcome = DecodeForFrame(set, path, options.upright, &needs, orientation);
    if (!HasOwnRaster(outcome)) return outcome;
    LoadBuffers& lb = *set.buffers;
    const int decoded = outcome == DecodeOutcome::kComplete ? 1 : 0;
    const Orientation o = OrientationOf(orientation);
    const int32_t W = lb.raster.header.biWidth, H = lb.raster.header.biHeight;
    PictureRect part;
    const bool fitted = PartToFit(lb, options, orientation, part);
    if (!fitted && options.region.asked && W > 0 && H > 0) {
        if (report) {
            *report = FitReport{};
            report->width = o.transposed ? H : W;
            report->height = o.transposed ? W : H;
            report->regionOutside = true;
        }
        DecodeFail("the part asked for is not inside the picture");
        return DecodeOutcome::kRefused;
    }
    if (!fitted)
        FitWithOptions(lb, options, orientation, block); // black, as for an unreadable raster
    else if (decoded != 1 || !needs.FinishSmooth(lb, block))
        FitPart(lb, options, orientation, part, block);
    if (report && fitted) {
        *report = FitReport{};
        report->width = o.transposed ? H : W;
        report->height = o.transposed ? W : H;
        report->orientation = orientation;
        report->part = part;
        report->geometry = UprightGeometry(W, H, o, part, options.mode);
        report->shown = ShownPart(report->geometry, report->height);
    }
    return decoded == 1 ? DecodeOutcome::kComplete : DecodeOutcome::kPartial;
}

namespace {

// The stored columns and rows (rows counted from the top) a sharp fit of the
// geometry reads; the masks are zero on entry.
void MarkSharpLines(int32_t width, int32_t height, const FitGeometry& g, bool stretch,
                    Orientation o, uint8_t* columns, uint8_t* rows) {
    const std::vector<int32_t> ux = SharpAxis(g.srcX, g.srcW, g.dstW, stretch);
    const std::vector<int32_t> uy = SharpAxis(g.srcY, g.srcH, g.dstH, stretch);
    const std::vector<int32_t>& xs = o.transposed ? uy : ux;
    const std::vector<int32_t>& ys = o.transposed ? ux : uy;
    for (int32_t a : xs)
        columns[static_cast<size_t>(Stored(a, width, o.reverseX))] = 1;
    // Memory row m is row height - 1 - m from the top.
    for (int32_t b : ys)
        rows[static_cast<size_t>(height - 1 - Stored(b, height, o.reverseY))] = 1;
}

} // namespace

void MarkLinesTheFitReads(int32_t width, int32_t height, const FitOptions& options, int orientation,
                          uint8_t* columns, uint8_t* rows) {
    if (width < 1 || height < 1) return;
    std::memset(columns, 0, static_cast<size_t>(width));
    std::memset(rows, 0, static_cast<size_t>(height));
    if (LooksAtThePicture(options)) { // the subject is looked for everywhere
        std::memset(columns, 1, static_cast<size_t>(width));
        std::memset(rows, 1, static_cast<size_t>(height));
        return;
    }
    const Orientation o = OrientationOf(orientation);
    PictureRect part;
    if (!PartAsked(width, height, o, options, part)) return; // the load refuses it
    const FitGeometry g = UprightGeometry(width, height, o, part, options.mode);
    // Memory row m is row height - 1 - m from the top.
    auto markRow = [&](int32_t memoryRow) {
        rows[static_cast<size_t>(height - 1 - memoryRow)] = 1;
    };
    if (options.smooth) {
        AxisPlan xPlan, yPlan;
        if (o.transposed) {
            PlanSmoothAxis(g.srcY, g.srcH, g.dstH, width, o.reverseX, xPlan);
            PlanSmoothAxis(g.srcX, g.srcW, g.dstW, height, o.reverseY, yPlan);
        } else {
            PlanSmoothAxis(g.srcX, g.srcW, g.dstW, width, o.reverseX, xPlan);
            PlanSmoothAxis(g.srcY, g.srcH, g.dstH, height, o.reverseY, yPlan);
        }
        for (const AxisTap& t : xPlan.taps)
            std::memset(columns + t.start, 1, static_cast<size_t>(t.count));
        for (const AxisTap& t : yPlan.taps)
            for (int32_t i = 0; i < t.count; ++i)
                markRow(t.start + i);
        return;
    }
    MarkSharpLines(width, height, g, options.mode == FitMode::kStretch, o, columns, rows);
}

void MarkLinesTheStretchReads(int32_t width, int32_t height, int orientation, int w, int h,
                              uint8_t* columns, uint8_t* rows) {
    if (width < 1 || height < 1) return;
    std::memset(columns, 0, static_cast<size_t>(width));
    std::memset(rows, 0, static_cast<size_t>(height));
    if (w < 1 || h < 1 || w > kFrameSide || h > kFrameSide) return; // StretchUpright reads nothing
    const Orientation o = OrientationOf(orientation);
    const FitGeometry g = o.transposed ? FitGeometry{0, 0, height, width, 0, 0, w, h}
                                       : FitGeometry{0, 0, width, height, 0, 0, w, h};
    MarkSharpLines(width, height, g, true, o, columns, rows);
}

void LinesTheFitReads(int32_t width, int32_t height, const FitOptions& options, int orientation,
                      std::vector<uint8_t>& columns, std::vector<uint8_t>& rows) {
    columns.clear();
    rows.clear();
    if (width < 1 || height < 1) return;
    columns.resize(static_cast<size_t>(width));
    rows.resize(static_cast<size_t>(height));
    MarkLinesTheFitReads(width, height, options, orientation, columns.data(), rows.data());
}
