// Built photos with a known subject, for judging where the subject
// suggestion puts the frame: a person at a third line, a portrait with the
// face high, a product off-centre and a landscape with no subject. Each is
// drawn at any size from the same plan (positions are shares of the sides),
// with sensor-like grain, and with a mask of the subject's pixels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct SubjectPhoto {
    std::string name;
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels; // top-down, red << 16 | green << 8 | blue
    std::vector<uint8_t> subject; // 1 where the subject is; all 0 without one
};

enum class SubjectScene {
    kPersonAtThird,
    kPersonAtThirdClose,
    kPortraitFaceHigh,
    kProductOffCentre,
    kLandscape
};
constexpr SubjectScene kSubjectScenes[] = {
    SubjectScene::kPersonAtThird, SubjectScene::kPersonAtThirdClose,
    SubjectScene::kPortraitFaceHigh, SubjectScene::kProductOffCentre, SubjectScene::kLandscape};

namespace subject_photos {

struct Rgb {
    double r, g, b;
};

inline Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Inside the ellipse centred at (cx, cy) with radii rx, ry (all in pixels).
inline bool InEllipse(double x, double y, double cx, double cy, double rx, double ry) {
    const double u = (x - cx) / rx, v = (y - cy) / ry;
    return u * u + v * v <= 1;
}

} // namespace subject_photos

// The scene at `longer` pixels along its longer side.
inline SubjectPhoto MakeSubjectPhoto(SubjectScene scene, int32_t longer) {
    using namespace subject_photos;
    SubjectPhoto p;
    double aspect = 1.5; // width / height
    switch (scene) {
    case SubjectScene::kPersonAtThird: p.name = "person at the left third, 3:2"; break;
    case SubjectScene::kPersonAtThirdClose:
        p.name = "person at the left third, closer, 16:9";
        aspect = 16.0 / 9;
        break;
    case SubjectScene::kPortraitFaceHigh:
        p.name = "portrait, face high (face kept), 2:3";
        aspect = 2.0 / 3;
        break;
    case SubjectScene::kProductOffCentre: p.name = "product off-centre, 3:2"; break;
    case SubjectScene::kLandscape: p.name = "landscape without a subject, 3:2"; break;
    }
    p.width = aspect >= 1 ? longer : static_cast<int32_t>(std::lround(longer * aspect));
    p.height = aspect >= 1 ? static_cast<int32_t>(std::lround(longer / aspect)) : longer;
    const double W = p.width, H = p.height;
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    p.subject.assign(p.pixels.size(), 0);
    std::mt19937 rng(static_cast<unsigned>(scene) * 7919u + 11u);
    std::normal_distribution<double> grain(0.0, 3.0);
    const double s = H / 1000; // texture scale: the same look at every size
    for (int32_t yi = 0; yi < p.height; ++yi)
        for (int32_t xi = 0; xi < p.width; ++xi) {
            const double x = xi + 0.5, y = yi + 0.5;
            Rgb c{0, 0, 0};
            bool subject = false;
            // Outdoors: a pale sky over a meadow with a soft horizon.
            const Rgb sky = Mix({150, 185, 225}, {205, 220, 235}, y / (0.45 * H));
            const double texture = 10 * std::sin(x / (7 * s)) * std::sin(y / (5 * s)) +
                                   6 * std::sin((x + 2 * y) / (3 * s));
            const Rgb meadow = Mix({105, 130, 70}, {80, 105, 55}, (y - 0.45 * H) / (0.55 * H));
            const Rgb outdoors =
                y < 0.45 * H ? sky : Rgb{meadow.r + texture, meadow.g + texture, meadow.b};
            switch (scene) {
            case SubjectScene::kPersonAtThird:
            case SubjectScene::kPersonAtThirdClose: {
                const bool close = scene == SubjectScene::kPersonAtThirdClose;
                const double cx = W / 3, scale = close ? 1.6 : 1.0;
                const double headY = H * (close ? 0.28 : 0.32), headR = 0.065 * H * scale;
                c = outdoors;
                const bool face =
                    InEllipse(x, y, cx, headY, 0.85 * headR, headR) && y > headY - 0.55 * headR;
                if (!face && InEllipse(x, y, cx, headY - 0.35 * headR, 1.0 * headR, 0.8 * headR)) {
                    c = {60, 42, 30}; // hair
                    subject = true;
                } else if (face) {
                    c = {222, 170, 138}; // face, shaded to one side
                    c = Mix(c, {180, 125, 100}, std::max(0.0, (x - cx) / headR) * 0.5);
                    if (InEllipse(x, y, cx - 0.35 * headR, headY - 0.1 * headR, 0.12 * headR,
                                  0.08 * headR) ||
                        InEllipse(x, y, cx + 0.35 * headR, headY - 0.1 * headR, 0.12 * headR,
                                  0.08 * headR))
                        c = {40, 30, 30};
                    subject = true;
                } else {
                    const double top = headY + 0.95 * headR, half = 2.0 * headR;
                    const double widen = std::min(1.0, (y - top) / (1.5 * headR));
                    if (y > top && std::fabs(x - cx) < half * (0.45 + 0.55 * widen)) {
                        // a red jacket with folds
                        const double fold = 18 * std::sin((x - cx) / (4 * s * scale));
                        c = {190 + fold, 45 + fold / 3, 50 + fold / 3};
                        subject = true;
                    }
                }
                break;
            }
            case SubjectScene::kPortraitFaceHigh: {
                // Indoors against a plain cool wall; the face in the top third.
                c = Mix({118, 124, 136}, {98, 104, 116}, y / H);
                const double cx = W / 2, headY = 0.2 * H, headRx = 0.17 * W, headRy = 0.11 * H;
                const bool face =
                    InEllipse(x, y, cx, headY, headRx, headRy) && y > headY - 0.5 * headRy;
                if (!face &&
                    InEllipse(x, y, cx, headY - 0.3 * headRy, 1.1 * headRx, 0.85 * headRy)) {
                    c = {55, 38, 28}; // hair
                    subject = true;
                } else if (face) {
                    c = Mix({230, 178, 146}, {190, 135, 108}, std::fabs(x - cx) / headRx * 0.6);
                    const double ex = 0.4 * headRx, ey = headY - 0.1 * headRy;
                    if (InEllipse(x, y, cx - ex, ey, 0.14 * headRx, 0.07 * headRy) ||
                        InEllipse(x, y, cx + ex, ey, 0.14 * headRx, 0.07 * headRy))
                        c = {35, 30, 30};
                    if (InEllipse(x, y, cx, headY + 0.5 * headRy, 0.3 * headRx, 0.07 * headRy))
                        c = {165, 70, 75};
                    subject = true;
                } else if (y > headY + headRy * 0.9 && std::fabs(x - cx) < 0.12 * W &&
                           y < headY + 1.5 * headRy) {
                    c = {205, 150, 122}; // neck
                } else if (y > headY + 1.4 * headRy &&
                           std::fabs(x - cx) <
                               0.42 * W * std::min(1.0, (y - 0.3 * H) / (0.1 * H) + 0.3)) {
                    // a dark pullover with a coarse knit
                    const double knit = 9 * std::sin(x / (3 * s)) * std::sin(y / (3 * s));
                    c = {52 + knit, 55 + knit, 62 + knit};
                }
                break;
            }
            case SubjectScene::kProductOffCentre: {
                // A bottle on a pale table before a pale wall, off to the right.
                c = y < 0.62 * H ? Mix({214, 212, 206}, {196, 194, 188}, y / (0.62 * H))
                                 : Rgb{176, 168, 156};
                const double cx = 0.8 * W, half = 0.07 * W;
                const double top = 0.3 * H, bottom = 0.78 * H;
                const double neck = 0.3 * half;
                const bool body = y > top + 0.12 * H && y < bottom && std::fabs(x - cx) < half;
                const bool neckPart = y > top && y <= top + 0.12 * H && std::fabs(x - cx) < neck;
                if (body || neckPart) {
                    c = {185, 28, 36};
                    const double shine =
                        std::max(0.0, 1 - std::fabs(x - (cx - 0.4 * half)) / (0.12 * half));
                    c = Mix(c, {250, 225, 225}, shine * 0.8);
                    if (body && y > 0.5 * H && y < 0.64 * H) // the label, with print
                        c = (static_cast<int>(x / (4 * s)) + static_cast<int>(y / (6 * s))) % 3
                                ? Rgb{240, 236, 220}
                                : Rgb{30, 30, 35};
                    subject = true;
                } else if (y > bottom && y < bottom + 0.03 * H && std::fabs(x - cx) < 1.3 * half) {
                    c = {150, 142, 132}; // its shadow
                }
                break;
            }
            case SubjectScene::kLandscape: {
                c = outdoors;
                // far hills along the horizon
                const double ridge = 0.45 * H - (0.06 + 0.03 * std::sin(x / (90 * s))) * H;
                if (y > ridge && y < 0.45 * H) c = Mix({120, 135, 150}, {100, 120, 100}, 0.4);
                break;
            }
            }
            const double n = grain(rng);
            auto channel = [&](double v) {
                v += n;
                return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
            };
            const size_t i = static_cast<size_t>(yi) * p.width + xi;
            p.pixels[i] = channel(c.r) << 16 | channel(c.g) << 8 | channel(c.b);
            p.subject[i] = subject ? 1 : 0;
        }
    return p;
}

// The share of the subject's pixels inside the rectangle x, y, w, h.
inline double SubjectShareIn(const SubjectPhoto& p, int32_t x, int32_t y, int32_t w, int32_t h) {
    size_t all = 0, kept = 0;
    for (int32_t yi = 0; yi < p.height; ++yi)
        for (int32_t xi = 0; xi < p.width; ++xi) {
            if (!p.subject[static_cast<size_t>(yi) * p.width + xi]) continue;
            ++all;
            kept += xi >= x && xi < x + w && yi >= y && yi < y + h;
        }
    return all ? static_cast<double>(kept) / all : 1.0;
}

// How far the subject's centre lies from the rectangle's centre, as a share
// of the rectangle's side along the picture's longer axis (0: centred).
inline double SubjectOffsetIn(const SubjectPhoto& p, int32_t x, int32_t y, int32_t w, int32_t h) {
    double sx = 0, sy = 0;
    size_t n = 0;
    for (int32_t yi = 0; yi < p.height; ++yi)
        for (int32_t xi = 0; xi < p.width; ++xi)
            if (p.subject[static_cast<size_t>(yi) * p.width + xi])
                sx += xi + 0.5, sy += yi + 0.5, ++n;
    if (!n) return 0;
    return p.width >= p.height ? std::fabs(sx / n - (x + 0.5 * w)) / w
                               : std::fabs(sy / n - (y + 0.5 * h)) / h;
}
