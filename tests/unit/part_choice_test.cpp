// The square of "Choose the part": moved, sized and dragged, always inside.
#include <gtest/gtest.h>

#include "fit/part_choice.h"

namespace {

bool Is(const PartChoice& c, int32_t x, int32_t y, int32_t side) {
    return c.square.x == x && c.square.y == y && c.square.w == side && c.square.h == side;
}

::testing::AssertionResult Inside(const PartChoice& c) {
    const PictureRect& s = c.square;
    if (s.w == s.h && s.x >= 0 && s.y >= 0 && s.w >= 1 && s.x + s.w <= c.width &&
        s.y + s.h <= c.height)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << s.x << "," << s.y << " " << s.w << "x" << s.h;
}

TEST(PartChoice, StartsAsASquareInsideAroundTheCentreOfWhatItIsGiven) {
    struct Case {
        PictureRect start;
        int32_t x, y, side;
    };
    const Case cases[] = {
        {{500, 0, 3000, 3000}, 500, 0, 3000},      // the suggestion: as it is
        {{0, 0, 4000, 3000}, 500, 0, 3000},        // the whole picture: its centre square
        {{3900, 2900, 400, 200}, 3800, 2800, 200}, // at the corner: moved inside
        {{10, 10, 2, 2}, 3, 3, 16},                // too small: the smallest side
        {{0, 0, 0, 0}, 0, 0, 16},
    };
    for (const Case& k : cases) {
        const PartChoice c = StartPartChoice(4000, 3000, k.start);
        EXPECT_TRUE(Is(c, k.x, k.y, k.side))
            << k.start.x << " -> " << c.square.x << "," << c.square.y << " " << c.square.w;
    }
    EXPECT_TRUE(Is(StartPartChoice(5, 300, {0, 0, 5, 300}), 0, 147, 5)) << "thinner than 16";
}

TEST(PartChoice, KeysMoveByShareAndSizeBySteps) {
    PartChoice c = StartPartChoice(4000, 3000, {500, 0, 3000, 3000});
    NudgePart(c, -1, 0);
    EXPECT_TRUE(Is(c, 460, 0, 3000));
    NudgePart(c, -10, 0);
    EXPECT_TRUE(Is(c, 60, 0, 3000));
    NudgePart(c, -10, 10); // stops at the edges
    EXPECT_TRUE(Is(c, 0, 0, 3000));
    ResizePart(c, 1); // already the shorter side
    EXPECT_TRUE(Is(c, 0, 0, 3000));
    ResizePart(c, -2); // 150 pixels a step, about the centre
    EXPECT_TRUE(Is(c, 150, 150, 2700));
    ResizePart(c, -100);
    EXPECT_TRUE(Is(c, 1492, 1492, 16));
    // A 50-pixel picture: a per cent is less than a pixel, still a pixel.
    PartChoice small = StartPartChoice(50, 40, {0, 0, 20, 20});
    NudgePart(small, 1, 1);
    EXPECT_TRUE(Is(small, 1, 1, 20));
    ResizePart(small, 1);
    EXPECT_TRUE(Is(small, 0, 0, 22)) << small.square.x << " " << small.square.w;
}

TEST(PartChoice, PlacingAndDraggingACornerKeepTheSquareInside) {
    PartChoice c = StartPartChoice(400, 300, {100, 50, 200, 200});
    PlacePart(c, -50, 900);
    EXPECT_TRUE(Is(c, 0, 100, 200));
    PlacePart(c, 100, 50);
    // The bottom-right corner dragged: the top-left stays.
    DragPartCorner(c, PartCorner::kBottomRight, 250, 400);
    EXPECT_TRUE(Is(c, 100, 50, 250));                    // as far as the picture's bottom allows
    DragPartCorner(c, PartCorner::kBottomRight, 90, 40); // past the fixed corner: the smallest
    EXPECT_TRUE(Is(c, 100, 50, 16));
    // The top-left corner dragged: the bottom-right (116, 66) stays, the top
    // edge of the picture holds the side to 66.
    DragPartCorner(c, PartCorner::kTopLeft, 0, 30);
    EXPECT_TRUE(Is(c, 50, 0, 66)) << c.square.x << "," << c.square.y;
    for (PartCorner k : {PartCorner::kTopLeft, PartCorner::kTopRight, PartCorner::kBottomLeft,
                         PartCorner::kBottomRight})
        for (int64_t p : {-1000, 0, 7, 150, 299, 5000}) {
            PartChoice d = StartPartChoice(400, 300, {390, 290, 10, 10});
            DragPartCorner(d, k, p, p / 2);
            EXPECT_TRUE(Inside(d)) << int(k) << " " << p;
        }
}

} // namespace
