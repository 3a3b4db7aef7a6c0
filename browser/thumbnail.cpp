#include "browser/thumbnail.h"

#include "codecs/exif_orientation.h"
#include "codecs/fit_options.h"
#include "codecs/fit_plan.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/load_picture.h"

ThumbnailRect ThumbnailPlace(int32_t width, int32_t height, int orientation) {
    return OrientationOf(orientation).transposed ? FitThumbnailRect(height, width)
                                                 : FitThumbnailRect(width, height);
}

namespace {

void FillThumbnailMasks(const void* context, int32_t width, int32_t height, uint8_t* columns,
                        uint8_t* rows) {
    const int orientation = *static_cast<const int*>(context);
    const ThumbnailRect place = ThumbnailPlace(width, height, orientation);
    MarkLinesTheStretchReads(width, height, orientation, place.w, place.h, columns, rows);
}

} // namespace

int DecodeThumbnail(DecoderSet& set, const char* path, bool upright, FrameImage& picture,
                    ThumbnailRect& place) {
    place = ThumbnailRect{};
    const PictureKind kind = PictureKindOf(path);
    if (kind == PictureKind::kNone || !set.buffers) return -1;
    LoadBuffers& lb = *set.buffers;
    int orientation = 1;
    int decoded = 0;
    if (kind == PictureKind::kJpeg && set.jpeg) {
        if (!LoadWholeFile(lb, path)) return 0;
        if (upright)
            orientation = ExifOrientation(lb.fileBuffer, static_cast<size_t>(lb.dataLength));
        const SampleMasks masks{FillThumbnailMasks, &orientation};
        decoded = DecodeJpegLoaded(lb, *set.jpeg, &masks);
    } else {
        decoded = DecodeByExtension(set, path, DecodeFor::kRaster);
    }
    if (decoded != 1) return decoded;
    lb.raster.cursor.address = RasterRow(lb, 0);
    place = ThumbnailPlace(RasterWidth(lb), RasterHeight(lb), orientation);
    if (place.w > 0 && place.h > 0) StretchUpright(lb, orientation, place.w, place.h, picture);
    return 1;
}
