#include "browser/thumbnail.h"

#include <utility>

#include "fit/fit_options.h"
#include "fit/fit_plan.h"
#include "codecs/load_picture.h"

ThumbnailRect ThumbnailPlace(int32_t width, int32_t height, int orientation) {
    return OrientationOf(orientation).transposed ? FitThumbnailRect(height, width)
                                                 : FitThumbnailRect(width, height);
}

namespace {

// A thumbnail reads the stretch of the upright picture to its place. A
// JPEG big enough gives its eighth-size picture instead (one pixel per 8 x 8
// block, from the DC coefficients alone), which the stretch then samples:
// still more pixels than the place has in each direction, and only the
// entropy decoding of the whole file left to do.
class ThumbnailNeeds : public SampleNeeds {
  public:
    const SampleMasks* MasksFor(LoadBuffers&, int orientation) override {
        orientation_ = orientation;
        masks_ = SampleMasks{Fill, this, Eighth, true};
        return &masks_;
    }
    // The picture's own size when the raster is its eighth-size picture.
    bool TookEighth(int32_t& width, int32_t& height) const {
        width = width_;
        height = height_;
        return eighth_;
    }

  private:
    static void Fill(const void* context, int32_t width, int32_t height, uint8_t* columns,
                     uint8_t* rows) {
        const int orientation = static_cast<const ThumbnailNeeds*>(context)->orientation_;
        const ThumbnailRect place = ThumbnailPlace(width, height, orientation);
        MarkLinesTheStretchReads(width, height, orientation, place.w, place.h, columns, rows);
    }
    static bool Eighth(const void* context, int32_t width, int32_t height) {
        const ThumbnailNeeds& self = *static_cast<const ThumbnailNeeds*>(context);
        const ThumbnailRect place = ThumbnailPlace(width, height, self.orientation_);
        // The eighth-size picture upright, against the place.
        int32_t across = (width + 7) / 8, down = (height + 7) / 8;
        if (OrientationOf(self.orientation_).transposed) std::swap(across, down);
        self.eighth_ = across >= place.w && down >= place.h;
        self.width_ = width;
        self.height_ = height;
        return self.eighth_;
    }
    int orientation_ = 1;
    mutable bool eighth_ = false;
    mutable int32_t width_ = 0, height_ = 0;
    SampleMasks masks_{};
};

} // namespace

int DecodeThumbnail(DecoderSet& set, const char* path, bool upright, FrameImage& picture,
                    ThumbnailRect& place) {
    place = ThumbnailRect{};
    ThumbnailNeeds needs;
    int orientation = 1;
    if (!set.buffers) return 0;
    LoadBuffers& lb = *set.buffers;
    const uint32_t serial = lb.rasterSerial;
    const int decoded = DecodeForReading(set, path, upright, &needs, orientation);
    // A picture whose data ends early shows what it has, as a click does.
    if (decoded < 0 || (decoded == 0 && lb.rasterSerial == serial)) return decoded;
    int32_t width = 0, height = 0;
    if (!needs.TookEighth(width, height)) {
        width = RasterWidth(lb);
        height = RasterHeight(lb);
    }
    place = ThumbnailPlace(width, height, orientation);
    if (place.w > 0 && place.h > 0) StretchUpright(lb, orientation, place.w, place.h, picture);
    return 1;
}
