#include "fit/part_choice.h"

#include <algorithm>

int32_t SmallestPartSide(int32_t width, int32_t height) {
    return std::max<int32_t>(1, std::min<int32_t>(16, std::min(width, height)));
}

void PlacePart(PartChoice& c, int64_t x, int64_t y) {
    c.square.x = static_cast<int32_t>(std::clamp<int64_t>(x, 0, c.width - c.square.w));
    c.square.y = static_cast<int32_t>(std::clamp<int64_t>(y, 0, c.height - c.square.h));
}

namespace {

// The square of `side` about the centre (twice the centre: cx2, cy2), kept inside.
void SetSide(PartChoice& c, int64_t side, int64_t cx2, int64_t cy2) {
    const int64_t shorter = std::min(c.width, c.height);
    side = std::clamp<int64_t>(side, SmallestPartSide(c.width, c.height), shorter);
    c.square.w = c.square.h = static_cast<int32_t>(side);
    PlacePart(c, (cx2 - side) / 2, (cy2 - side) / 2);
}

} // namespace

PartChoice StartPartChoice(int32_t width, int32_t height, const PictureRect& start) {
    PartChoice c;
    c.width = std::max(1, width);
    c.height = std::max(1, height);
    const int64_t side = std::min(start.w, start.h);
    SetSide(c, side, 2 * int64_t(start.x) + start.w, 2 * int64_t(start.y) + start.h);
    return c;
}

void NudgePart(PartChoice& c, int percentX, int percentY) {
    auto step = [](int32_t side, int percent) {
        const int64_t d = static_cast<int64_t>(side) * percent / 100;
        return d != 0 ? d : percent; // a pixel per per cent at least
    };
    PlacePart(c, c.square.x + step(c.width, percentX), c.square.y + step(c.height, percentY));
}

void ResizePart(PartChoice& c, int steps) {
    const int64_t unit = std::max<int64_t>(1, std::min(c.width, c.height) / 20);
    SetSide(c, c.square.w + unit * steps, 2 * int64_t(c.square.x) + c.square.w,
            2 * int64_t(c.square.y) + c.square.h);
}

void DragPartCorner(PartChoice& c, PartCorner corner, int64_t x, int64_t y) {
    const bool left = corner == PartCorner::kTopLeft || corner == PartCorner::kBottomLeft;
    const bool top = corner == PartCorner::kTopLeft || corner == PartCorner::kTopRight;
    // The corner that stays, as the edge coordinates of the square.
    const int64_t fx = left ? c.square.x + c.square.w : c.square.x;
    const int64_t fy = top ? c.square.y + c.square.h : c.square.y;
    const int64_t room = std::min(left ? fx : c.width - fx, top ? fy : c.height - fy);
    const int64_t wanted = std::max(left ? fx - x : x - fx, top ? fy - y : y - fy);
    // Near the picture's edge the smallest square may not fit beyond the
    // corner: it is then moved inside.
    const int64_t smallest = SmallestPartSide(c.width, c.height);
    const int64_t side = std::clamp<int64_t>(wanted, smallest, std::max(smallest, room));
    c.square.w = c.square.h = static_cast<int32_t>(side);
    PlacePart(c, left ? fx - side : fx, top ? fy - side : fy);
}
