#include "tools/rotate.h"

#include <cstring>
#include <memory>
#include <new>

#include "tools/tool_frame.h"

namespace {

constexpr int kLast = kFrameSide - 1;
// Turns read a column while writing a row; 64 x 64 tiles keep both within a
// few kilobytes of each other.
constexpr int kTile = 64;

std::unique_ptr<FrameImage> NewScratch() {
    std::unique_ptr<FrameImage> t(new (std::nothrow) FrameImage);
    if (t) ClearToolPicture(*t);
    return t;
}

void CopyPixel(FrameImage& to, int x, int y, const FrameImage& from, int fromX, int fromY) {
    std::memcpy(to.Row(y) + 3 * x, from.Row(fromY) + 3 * fromX, 3);
}

// Fills t tile by tile; `source` maps a position of t to the position of w it
// comes from.
template <typename SourceOf> void TurnByTiles(FrameImage& t, const FrameImage& w, SourceOf source) {
    for (int ty = 0; ty < kFrameSide; ty += kTile)
        for (int tx = 0; tx < kFrameSide; tx += kTile)
            for (int y = ty; y < ty + kTile; ++y)
                for (int x = tx; x < tx + kTile; ++x) {
                    int sx, sy;
                    source(x, y, sx, sy);
                    CopyPixel(t, x, y, w, sx, sy);
                }
}

} // namespace

bool RotateLeft(FrameImage& work) {
    std::unique_ptr<FrameImage> t = NewScratch();
    if (!t) return false;
    TurnByTiles(*t, work, [](int x, int y, int& sx, int& sy) {
        sx = kLast - y;
        sy = x;
    });
    CopyFrameImage(work, *t);
    return true;
}

bool RotateRight(FrameImage& work) {
    std::unique_ptr<FrameImage> t = NewScratch();
    if (!t) return false;
    TurnByTiles(*t, work, [](int x, int y, int& sx, int& sy) {
        sx = y;
        sy = kLast - x;
    });
    CopyFrameImage(work, *t);
    return true;
}

bool MirrorImage(FrameImage& work) {
    std::unique_ptr<FrameImage> t = NewScratch();
    if (!t) return false;
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            CopyPixel(*t, x, y, work, kLast - x, y);
    CopyFrameImage(work, *t);
    return true;
}

bool FlipImage(FrameImage& work) {
    std::unique_ptr<FrameImage> t = NewScratch();
    if (!t) return false;
    for (int y = 0; y < kFrameSide; ++y)
        std::memcpy(t->Row(y), work.Row(kLast - y), kFrameStride);
    CopyFrameImage(work, *t);
    return true;
}
