#include "browser/thumbnail.h"

#include "fit/fit_options.h"
#include "fit/fit_plan.h"
#include "codecs/load_picture.h"

ThumbnailRect ThumbnailPlace(int32_t width, int32_t height, int orientation) {
    return OrientationOf(orientation).transposed ? FitThumbnailRect(height, width)
                                                 : FitThumbnailRect(width, height);
}

namespace {

// A thumbnail reads the stretch of the upright picture to its place.
class ThumbnailNeeds : public SampleNeeds {
  public:
    const SampleMasks* MasksFor(LoadBuffers&, int orientation) override {
        orientation_ = orientation;
        masks_ = SampleMasks{Fill, &orientation_};
        return &masks_;
    }

  private:
    static void Fill(const void* context, int32_t width, int32_t height, uint8_t* columns,
                     uint8_t* rows) {
        const int orientation = *static_cast<const int*>(context);
        const ThumbnailRect place = ThumbnailPlace(width, height, orientation);
        MarkLinesTheStretchReads(width, height, orientation, place.w, place.h, columns, rows);
    }
    int orientation_ = 1;
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
    place = ThumbnailPlace(RasterWidth(lb), RasterHeight(lb), orientation);
    if (place.w > 0 && place.h > 0) StretchUpright(lb, orientation, place.w, place.h, picture);
    return 1;
}
