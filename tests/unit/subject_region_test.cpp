// The suggestion of the part around a photo's subject.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "fit/fit_options.h"
#include "fit/subject_region.h"
#include "tests/unit/fit_test_pictures.h"
#include "tests/unit/subject_photos.h"

namespace {

// The square a centred fill shows, in top-down terms.
PictureRect CentreSquare(int32_t w, int32_t h) {
    return ShownPart(ComputeFitGeometry(w, h, FitMode::kFill), h);
}

TEST(SubjectRegion, KeepsTheSubjectOfBuiltPhotosAndTheCentreWithoutOne) {
    struct Expect {
        SubjectScene scene;
        double minShare; // of the subject kept by the suggestion
        double gain;     // at least this much more than the centre keeps
    };
    const Expect expects[] = {
        {SubjectScene::kPersonAtThird, 0.99, 0.0},
        {SubjectScene::kPersonAtThirdClose, 0.99, 0.0},
        {SubjectScene::kPortraitFaceHigh, 0.95, 0.2},
        {SubjectScene::kProductOffCentre, 0.95, 0.2},
    };
    for (const Expect& e : expects) {
        const SubjectPhoto p = MakeSubjectPhoto(e.scene, 600);
        LoadBuffers& lb = TopDownRaster(p.pixels, p.width, p.height);
        const PictureRect s = SuggestSubjectRegion(lb, 1, 1, 1);
        const PictureRect c = CentreSquare(p.width, p.height);
        EXPECT_EQ(s.w, c.w) << p.name;
        EXPECT_EQ(s.h, c.h) << p.name;
        const double kept = SubjectShareIn(p, s.x, s.y, s.w, s.h);
        const double centre = SubjectShareIn(p, c.x, c.y, c.w, c.h);
        EXPECT_GE(kept, e.minShare) << p.name;
        EXPECT_GE(kept, centre + e.gain) << p.name;
        // The subject sits nearer the middle of the frame than in the centre square.
        EXPECT_LT(SubjectOffsetIn(p, s.x, s.y, s.w, s.h), SubjectOffsetIn(p, c.x, c.y, c.w, c.h))
            << p.name;
    }
    const SubjectPhoto land = MakeSubjectPhoto(SubjectScene::kLandscape, 600);
    const PictureRect s =
        SuggestSubjectRegion(TopDownRaster(land.pixels, land.width, land.height), 1, 1, 1);
    const PictureRect c = CentreSquare(land.width, land.height);
    EXPECT_TRUE(s.x == c.x && s.y == c.y && s.w == c.w && s.h == c.h) << s.x << "," << s.y;
}

TEST(SubjectRegion, ATurnedPhotoGetsThePartOfItsUprightPicture) {
    const SubjectPhoto p = MakeSubjectPhoto(SubjectScene::kPortraitFaceHigh, 450);
    const PictureRect upright =
        SuggestSubjectRegion(TopDownRaster(p.pixels, p.width, p.height), 1, 1, 1);
    // Stored so that each orientation turns it back to the portrait.
    const int inverse[9] = {0, 1, 2, 3, 4, 5, 8, 7, 6};
    for (int o = 2; o <= 8; ++o) {
        int32_t sw = 0, sh = 0, uw = 0, uh = 0;
        const std::vector<uint32_t> stored =
            Upright(p.pixels, p.width, p.height, inverse[o], sw, sh);
        ASSERT_TRUE(Upright(stored, sw, sh, o, uw, uh) == p.pixels) << o;
        const PictureRect r = SuggestSubjectRegion(TopDownRaster(stored, sw, sh), o, 1, 1);
        EXPECT_EQ(r.w, upright.w) << o;
        EXPECT_EQ(r.x, upright.x) << o;
        EXPECT_NEAR(r.y, upright.y, 4) << o; // the cells fall elsewhere on the turned raster
    }
}

TEST(SubjectRegion, OtherShapesSquaresAndUnreadableRasters) {
    const SubjectPhoto p = MakeSubjectPhoto(SubjectScene::kProductOffCentre, 480);
    LoadBuffers& lb = TopDownRaster(p.pixels, p.width, p.height);
    // A tall 1 : 2 part of a 3 : 2 picture is its full height, slid to the bottle.
    const PictureRect tall = SuggestSubjectRegion(lb, 1, 1, 2);
    EXPECT_EQ(tall.h, p.height);
    EXPECT_EQ(tall.w, p.height / 2);
    EXPECT_GE(SubjectShareIn(p, tall.x, tall.y, tall.w, tall.h), 0.95);
    // A picture already of the shape has nothing to choose.
    const PictureRect whole = SuggestSubjectRegion(lb, 1, 3, 2);
    EXPECT_TRUE(whole.x == 0 && whole.y == 0 && whole.w == p.width && whole.h == p.height);
    // A raster that cannot be read: the centre.
    LoadBuffers& broken = TopDownRaster(p.pixels, p.width, p.height);
    broken.raster.cursor.address = nullptr;
    const PictureRect c = SuggestSubjectRegion(broken, 1, 1, 1);
    const PictureRect centre = CentreSquare(p.width, p.height);
    EXPECT_TRUE(c.x == centre.x && c.y == centre.y && c.w == centre.w) << c.x;
    // A one-pixel-high picture: its middle pixel.
    LoadBuffers& line = TopDownRaster(std::vector<uint32_t>(300, 0x808080), 300, 1);
    const PictureRect one = SuggestSubjectRegion(line, 1, 1, 1);
    EXPECT_TRUE(one.w == 1 && one.h == 1 && one.x == 149) << one.x;
}

} // namespace
