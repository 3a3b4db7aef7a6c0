// pixmora-cli seen from outside: the program is run on small pictures built
// here, and what it writes is compared with what the core functions behind
// the GUI give for the same picture and the same presses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fit/fit_options.h"
#include "fit/part_choice.h"
#include "fit/subject_region.h"
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"
#include "export/bmp_writer.h"
#include "export/export_lock.h"
#include "export/save_all.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/gif_builder.h"
#include "tests/unit/png_builder.h"
#include "tests/unit/jpeg_builder.h"
#include "tests/unit/subject_photos.h"
#include "tests/unit/tools_test_pictures.h"
#include "tools/blend.h"
#include "tools/digital_frame.h"
#include "tools/image_processing.h"
#include "tools/rotate.h"

extern char** environ;

namespace fs = std::filesystem;
using tooltest::FillNoise;
using tooltest::NewPicture;

namespace {

using Picture = std::unique_ptr<FrameImage>;

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

struct Result {
    int code = -1;
    std::string out, err;
};

// Loads a picture file as the program loads a clicked one with the fit
// choices given (by default: the plain stretch of the picture as stored).
Picture LoadAsTheProgram(const std::string& path, const FitOptions* fit = nullptr) {
    OwnedLoadBuffers owned;
    std::vector<uint8_t> gif(kGifStateBytes), jpeg(kJpegDecoderBytes);
    DecoderSet set;
    set.buffers = &owned.buffers;
    set.gif = reinterpret_cast<GifState*>(gif.data());
    set.jpeg = reinterpret_cast<JpegDecoder*>(jpeg.data());
    Picture p = NewPicture();
    const FitOptions asStored{FitMode::kStretch, false, false};
    EXPECT_EQ(LoadForFrame(set, path.c_str(), fit ? *fit : asStored, *p), DecodeOutcome::kComplete)
        << path;
    return p;
}

std::string EncodedAsSaveAll(const FrameImage& picture) {
    std::vector<uint8_t> jpeg;
    EXPECT_EQ(EncodeSaveAllPicture(picture, jpeg), SaveAllFailure::kNone);
    return std::string(jpeg.begin(), jpeg.end());
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/pixmora_cli_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // A run of the program that may go on beside the test, with standard input
    // from the file `in`; with `addressSpaceMb`, in an address space of that
    // many megabytes (the shell's ulimit -v). `tag` keeps the output files of
    // runs at once apart.
    struct Started {
        pid_t pid = -1;
        std::string out, err;
    };

    Started Start(std::vector<std::string> args, const std::string& tag = "",
                  const std::string& in = "/dev/null", int addressSpaceMb = 0) {
        args.insert(args.begin(), PIXMORA_CLI);
        if (addressSpaceMb > 0)
            args.insert(args.begin(),
                        {"/bin/sh", "-c",
                         "ulimit -v " + std::to_string(addressSpaceMb * 1024) + " && exec \"$@\"",
                         "sh"});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        Started s;
        s.out = Path(".stdout" + tag);
        s.err = Path(".stderr" + tag);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, s.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&s.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) s.pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return s;
    }

    Result Finish(const Started& s) {
        Result r;
        if (s.pid > 0) {
            int status = 0;
            waitpid(s.pid, &status, 0);
            r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        }
        r.out = ReadFile(s.out);
        r.err = ReadFile(s.err);
        fs::remove(s.out);
        fs::remove(s.err);
        return r;
    }

    Result Run(std::vector<std::string> args, const std::string& in = "/dev/null",
               int addressSpaceMb = 0) {
        return Finish(Start(std::move(args), "", in, addressSpaceMb));
    }

    // A 128 x 128 noise picture as a BMP file: it loads back unchanged.
    std::string NoiseBmp(const std::string& name, uint32_t seed) {
        Picture p = NewPicture();
        FillNoise(*p, seed);
        const std::string path = Path(name);
        EXPECT_EQ(WriteBmpFile(path.c_str(), *p), 1);
        return path;
    }

    // A 24-bit BMP of any size with noise pixels.
    std::string SizedBmp(const std::string& name, int w, int h, uint32_t seed) {
        BmpFields s;
        s.width = w;
        s.height = h;
        uint32_t v = seed;
        s.pixels.resize(static_cast<size_t>(StrideOf(w, 24)) * h);
        for (uint8_t& b : s.pixels)
            b = static_cast<uint8_t>((v = v * 1664525u + 1013904223u) >> 24);
        WriteFile(Path(name), BuildBmp(s));
        return Path(name);
    }

    std::string SmallGif(const std::string& name, int w, int h, uint32_t seed) {
        giftest::GifFile g(w, h, 16);
        g.Image(w, h, giftest::TestPixels(w, h, 16, seed)).Trailer();
        WriteFile(Path(name), g.bytes);
        return Path(name);
    }

    // A 128 x 128 JPEG of smooth colours (noise would not fit the encoder's block).
    std::string SmallJpeg(const std::string& name, uint32_t seed) {
        Picture p = NewPicture();
        tooltest::FillWithPositions(*p);
        for (int i = 0; i < kFramePixelBytes; ++i)
            p->Pixels()[i] = static_cast<uint8_t>(p->Pixels()[i] + seed * 40);
        const std::string bytes = EncodedAsSaveAll(*p);
        WriteFile(Path(name), Bytes(bytes.begin(), bytes.end()));
        return Path(name);
    }

    // A PNG of w x h RGB noise.
    std::string SmallPng(const std::string& name, int w, int h, uint32_t seed) {
        pngtest::PngFields s;
        s.width = w;
        s.height = h;
        for (int i = 0; i < 3 * w * h; ++i)
            s.samples.push_back(
                static_cast<uint16_t>((seed = seed * 1664525u + 1013904223u) >> 24));
        WriteFile(Path(name), pngtest::Build(s));
        return Path(name);
    }

    // A picture of an earlier export: a 128 x 128 JPEG as Save All writes it.
    Bytes OlderPicture(uint32_t seed) {
        Picture p = NewPicture();
        tooltest::FillWithPositions(*p);
        for (int i = 0; i < kFramePixelBytes; ++i)
            p->Pixels()[i] = static_cast<uint8_t>(p->Pixels()[i] ^ seed);
        const std::string bytes = EncodedAsSaveAll(*p);
        return Bytes(bytes.begin(), bytes.end());
    }

    // A 24-bit BMP of top-down pixels (red << 16 | green << 8 | blue).
    std::string TopDownBmp(const std::string& name, int32_t w, int32_t h,
                           const std::vector<uint32_t>& px) {
        BmpFields s;
        s.width = w;
        s.height = h;
        const int32_t stride = StrideOf(w, 24);
        s.pixels.assign(static_cast<size_t>(stride) * h, 0);
        for (int32_t y = 0; y < h; ++y) // the file's first row is the bottom one
            for (int32_t x = 0; x < w; ++x)
                for (int k = 0; k < 3; ++k)
                    s.pixels[static_cast<size_t>(h - 1 - y) * stride + 3 * x + k] =
                        static_cast<uint8_t>(px[static_cast<size_t>(y) * w + x] >> (8 * k));
        WriteFile(Path(name), BuildBmp(s));
        return Path(name);
    }

    // The BMP file Save BMP writes for `picture`, to compare files with.
    std::string BmpOf(const FrameImage& picture) {
        const std::string path = Path(".expected.bmp");
        EXPECT_EQ(WriteBmpFile(path.c_str(), picture), 1);
        std::string bytes = ReadFile(path);
        fs::remove(path);
        return bytes;
    }

    std::string dir_;
};

// ---- Fitting ----

// The JPEG with an Exif orientation `o` right after its start marker.
Bytes WithOrientation(const std::string& jpeg, int o) {
    return WithExifOrientation(Bytes(jpeg.begin(), jpeg.end()), o);
}

TEST_F(Cli, FitOptionsGiveTheCoreFit) {
    const std::string wide = SizedBmp("wide.bmp", 200, 90, 3);
    const std::string turned = Path("turned.jpg");
    WriteFile(turned, WithOrientation(ReadFile(SmallJpeg("plain.jpg", 2)), 6));
    struct Case {
        std::string in;
        std::vector<std::string> options;
        FitOptions fit;
    };
    const Case cases[] = {
        {wide, {"--fit", "fill"}, {FitMode::kFill, false, true}},
        {wide, {"--fit=inside", "--smooth"}, {FitMode::kInside, true, true}},
        {wide, {"--smooth", "--fit", "stretch"}, {FitMode::kStretch, true, true}},
        {turned, {}, {FitMode::kStretch, false, true}}, // upright by default
        {turned, {"--fit", "fill", "--smooth"}, {FitMode::kFill, true, true}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"frame", c.in, Path("out.bmp")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(Run(args).code, 0);
        const std::string expected = BmpOf(*LoadAsTheProgram(c.in, &c.fit));
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == expected) << c.options.size();
        EXPECT_TRUE(expected != BmpOf(*LoadAsTheProgram(c.in)))
            << c.options.size() << "differs from the plain stretch";
    }
    // -v says what was decided for the picture.
    const struct {
        std::vector<std::string> args;
        std::string says;
    } told[] = {
        {{"frame", "-v", "--fit", "fill", wide, Path("out.bmp")},
         wide + ": read 200 x 90; fill: its square of 90 x 90 at 55,0 to the 128 x 128 frame\n"},
        {{"frame", "-v", "--fit", "inside", "--smooth", wide, Path("out.bmp")},
         wide + ": read 200 x 90; inside: the whole picture to 128 x 58 at 0,35 of the frame, "
                "black around it, smoothly\n"},
        {{"edit", "--verbose", turned, Path("out.jpg")},
         turned + ": read 128 x 128, turned upright (Exif orientation 6) to 128 x 128; stretch: "
                  "the whole picture to the 128 x 128 frame\n"},
    };
    for (const auto& t : told)
        EXPECT_EQ(Run(t.args).err, "pixmora-cli: " + t.says);

    // Turned off, the photo stays as stored: the plain stretch, as before.
    ASSERT_EQ(Run({"frame", turned, Path("out.bmp"), "--no-upright"}).code, 0);
    EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpOf(*LoadAsTheProgram(turned)));

    // Backgrounds are loaded with the same choices.
    const std::string in = NoiseBmp("in.bmp", 8);
    ASSERT_EQ(Run({"edit", in, Path("out.bmp"), "--fit", "fill", "--blend", wide, "--blend-percent",
                   "50"})
                  .code,
              0);
    const FitOptions fill{FitMode::kFill, false, true};
    Picture p = LoadAsTheProgram(in, &fill), work = NewPicture();
    CopyFrameImage(*work, *p);
    BlendWithBackground(50, *p, *LoadAsTheProgram(wide, &fill), *work);
    EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpOf(*work));
}

// frame and decode read a JPEG from a mapping of the file; the decoder pads
// the data behind the file's end, inside its last page or in the next one.
TEST_F(Cli, JpegsEndingAnywhereInTheirLastPageGiveTheCoreResult) {
    const std::string plain = ReadFile(SmallJpeg("plain.jpg", 4));
    const size_t page = ((plain.size() + 4095) / 4096 + 1) * 4096;
    for (size_t size : {plain.size(), page - 100, page - 1, page}) {
        std::string bytes = plain;
        bytes.resize(size, '\0'); // after the end of the picture: never read as data
        const std::string in = Path("padded.jpg");
        WriteFile(in, Bytes(bytes.begin(), bytes.end()));
        ASSERT_EQ(Run({"frame", in, Path("out.bmp")}).code, 0) << size;
        const FitOptions byDefault{FitMode::kStretch, false, true};
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpOf(*LoadAsTheProgram(in, &byDefault))) << size;
        ASSERT_EQ(Run({"decode", in, Path("out.bmp")}).code, 0) << size;
        EXPECT_TRUE(ReadFile(Path("out.bmp")).size() == 54 + 128 * 128 * 3) << size;
    }
}

// ---- The part of the picture: --crop and --focus ----

FitOptions Fitted(FitMode mode, bool smooth, FitFocus focus = FitFocus::kCentre) {
    FitOptions f;
    f.mode = mode;
    f.smooth = smooth;
    f.focus = focus;
    return f;
}

TEST_F(Cli, CropAndFocusGiveTheFitOfThePartTheyNameAndVerboseSaysIt) {
    // A bottle at four fifths of the width of a 300 x 200 photo (columns 219 to 261).
    const SubjectPhoto photo = MakeSubjectPhoto(SubjectScene::kProductOffCentre, 300);
    const std::string bottle = TopDownBmp("bottle.bmp", 300, 200, photo.pixels);
    struct Case {
        std::vector<std::string> options;
        PictureRect cut; // the picture the output is the fit of (w 0: the whole photo)
        FitOptions fit;
        const char* says;
    };
    // clang-format off
    const Case cases[] = {
        {{"--crop", "20,10,60,50"}, {20, 10, 60, 50}, Fitted(FitMode::kStretch, false),
         "stretch: its part of 60 x 50 at 20,10 (--crop) to"},
        {{"--crop=10%,0%,80%,50%", "--fit", "fill"}, {30, 0, 240, 100}, Fitted(FitMode::kFill, false),
         "fill: its square of 100 x 100 at 100,0 within its part of 240 x 100 at 30,0 (--crop) to"},
        // 33.33 % of 200 rows is 66.66: from row 67 to row round(133.34)
        {{"--crop", "0%,33.33%,100%,33.34%", "--fit", "inside", "--smooth"}, {0, 67, 300, 66},
         Fitted(FitMode::kInside, true), "inside: its part of 300 x 66 at 0,67 (--crop) to"},
        {{"--crop", "150,0,25%,100%", "--focus", "centre"}, {150, 0, 75, 200},
         Fitted(FitMode::kStretch, false), "its part of 75 x 200 at 150,0 (--crop)"},
        {{"--fit", "fill", "--focus", "centre", "--smooth"}, {}, Fitted(FitMode::kFill, true),
         "fill: its square of 200 x 200 at 50,0 to"},
        // centred on the bottle as far as the photo allows: at its right edge
        {{"--fit", "fill", "--focus", "subject"}, {}, Fitted(FitMode::kFill, false, FitFocus::kSubject),
         "fill: its square of 200 x 200 at 100,0, around the subject, to"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<std::string> args = {"frame", bottle, Path("out.bmp"), "-v"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = Run(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        std::vector<uint32_t> part;
        for (int32_t y = c.cut.y; y < c.cut.y + c.cut.h; ++y)
            for (int32_t x = c.cut.x; x < c.cut.x + c.cut.w; ++x)
                part.push_back(photo.pixels[static_cast<size_t>(y) * 300 + x]);
        const std::string in = c.cut.w ? TopDownBmp("cut.bmp", c.cut.w, c.cut.h, part) : bottle;
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpOf(*LoadAsTheProgram(in, &c.fit))) << r.err;
    }
    const FitOptions fill = Fitted(FitMode::kFill, false);
    EXPECT_TRUE(ReadFile(Path("out.bmp")) != BmpOf(*LoadAsTheProgram(bottle, &fill)))
        << "around the subject is not the centre";
}

TEST_F(Cli, ACropOfTheSquareChooseThePartLeavesGivesItsBytes) {
    const std::string turned = Path("turned.jpg"); // 97 x 75 stored, 75 x 97 upright
    WriteFile(turned, WithOrientation(ReadFile(std::string(PIXMORA_SOURCE_DIR) +
                                               "/tests/data/jpeg/synth-422-prog.jpg"),
                                      6));
    const struct {
        bool upright;
        int nudge; // the user's presses: moved by this many per cent, two sizes smaller
        FitOptions fit;
        std::vector<std::string> options;
    } cases[] = {{true, 10, Fitted(FitMode::kFill, true), {"--fit", "fill", "--smooth"}},
                 {true, -20, Fitted(FitMode::kInside, false), {"--fit", "inside"}},
                 {false, 5, Fitted(FitMode::kStretch, false), {"--no-upright"}}};
    for (const auto& c : cases) {
        OwnedLoadBuffers owned; // the dialog's decode and fits
        std::vector<uint8_t> jpeg(kJpegDecoderBytes);
        DecoderSet set;
        set.buffers = &owned.buffers;
        set.jpeg = reinterpret_cast<JpegDecoder*>(jpeg.data());
        int o = 1;
        ASSERT_EQ(DecodeWholePicture(set, turned.c_str(), c.upright, o), DecodeOutcome::kComplete);
        const int32_t w = owned.buffers.raster.header.biWidth;
        const int32_t h = owned.buffers.raster.header.biHeight;
        PartChoice choice = StartPartChoice(o == 6 ? h : w, o == 6 ? w : h,
                                            SuggestSubjectRegion(owned.buffers, o, 1, 1));
        NudgePart(choice, c.nudge, -c.nudge);
        ResizePart(choice, -2);
        FitOptions fit = c.fit;
        fit.upright = c.upright;
        Picture dialog = NewPicture();
        FitPart(owned.buffers, fit, o, choice.square, *dialog);

        const PictureRect& q = choice.square;
        std::vector<std::string> args = {"frame", turned, Path("out.bmp"), "--crop",
                                         std::to_string(q.x) + "," + std::to_string(q.y) + "," +
                                             std::to_string(q.w) + "," + std::to_string(q.h)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(Run(args).code, 0) << args[4];
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpOf(*dialog)) << args[4];
        fit.region = RegionInPixels(q);
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpOf(*LoadAsTheProgram(turned, &fit))) << args[4];
    }
}

TEST_F(Cli, ACropOutsideAPictureOrEmptyIsAUsageErrorAndWritesNothing) {
    const std::string wide = SizedBmp("wide.bmp", 200, 90, 3);
    const std::string small = NoiseBmp("small.bmp", 4); // 128 x 128
    const std::string out = Path("out.bmp"), outdir = Path("set");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"frame", wide, out, "--crop", "0,0,0,10"}, "--crop takes X,Y,W,H"},
        {{"frame", wide, out, "--crop", "0,0,10"}, "--crop takes X,Y,W,H"},
        {{"frame", wide, out, "--crop", "-1,0,10,10"}, "--crop takes X,Y,W,H"},
        {{"frame", wide, out, "--crop", "60%,0,50%,10"}, "--crop takes X,Y,W,H"},
        {{"frame", wide, out, "--crop", "0,0,10.5,10"}, "--crop takes X,Y,W,H"},
        {{"frame", wide, out, "--focus", "face"}, "--focus takes centre or subject"},
        {{"frame", wide, out, "--fit", "inside", "--focus", "subject"}, "goes with --fit fill"},
        {{"frame", wide, out, "--fit", "fill", "--focus", "subject", "--crop", "1,1,5,5"},
         "--crop and --focus subject"},
        {{"decode", wide, out, "--crop", "1,1,5,5"}, "option --crop is not one of decode's"},
        {{"frame", wide, out, "--crop", "150,0,51,90"},
         "--crop 150,0,51,90 is not inside " + wide + " (200 x 90 upright pixels)"},
        {{"edit", wide, out, "--crop", "0,0,10,91", "--mirror", "--no-upright"},
         "(200 x 90 pixels as stored)"},
        {{"frame", wide, out, "--crop", "0,0,0.1%,50%"}, "is empty or not inside"}, // no column
        {{"export", outdir, small, wide, "--crop", "0,0,150,100"},
         "--crop 0,0,150,100 is not inside " + small},
        // one input it does not fit stops the whole export
        {{"export", outdir, wide, small, "--crop", "0,0,100,100", "--skip-bad"},
         "--crop 0,0,100,100 does not fit 1 input (named above); nothing was written"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.code, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out) || fs::exists(outdir)) << c.says;
    }
    // The backgrounds are loaded whole: a crop that fits the input only is fine.
    EXPECT_EQ(
        Run({"edit", small, out, "--crop", "0,0,100,100", "--blend", wide, "--blend-percent", "50"})
            .code,
        0);
}

// ---- The tools, one option at a time and in sequence ----

// The Image Processing dialog opened on `p`: one press of a track bar's small
// OK after setting it to `position`.
void TakeTrackBar(ImageTrackBar bar, int position, FrameImage& p) {
    Picture preview = NewPicture(), scratch = NewPicture();
    CopyFrameImage(*preview, p);
    if (bar == ImageTrackBar::Zoom)
        ZoomPreview(position, p, *scratch, *preview);
    else
        ApplyToneTable(bar == ImageTrackBar::Brightness ? BuildToneTable(position, 0)
                                                        : BuildToneTable(0, position),
                       p, *preview);
    CopyFrameImage(p, *preview);
}

TEST_F(Cli, EachEditOptionGivesTheToolsResult) {
    const std::string in = NoiseBmp("in.bmp", 7);
    const std::string background = SizedBmp("background.bmp", 200, 150, 11);
    const std::string art = SmallGif("art.gif", 90, 70, 3);
    const Picture bg = LoadAsTheProgram(background);
    const Picture frameArt = LoadAsTheProgram(art);

    // The frame window as the dialog leaves the mark: 57 x 41 at (10, 20) is
    // used as 56 x 40; a mark running past the picture stops at 126 and
    // 26 x 26 is used as 24 x 24.
    auto framed = [&](ToolRect mark) {
        return [&, mark](FrameImage& p) {
            DigitalFrameSession s;
            Picture scaled = NewPicture(), work = NewPicture();
            StartDigitalFrame(s, ToolRect{0, 0, 128, 128}, *scaled);
            s.mark.SelectionRect = mark;
            CopyFrameImage(*work, p);
            ASSERT_TRUE(FitPhotoIntoFrame(s, p, *frameArt, *scaled, *work));
            CopyFrameImage(p, *work);
        };
    };
    struct Case {
        std::vector<std::string> options;
        std::function<void(FrameImage&)> tool;
    };
    const Case cases[] = {
        {{"--rotate", "left"}, [](FrameImage& p) { RotateLeft(p); }},
        {{"--rotate", "right"}, [](FrameImage& p) { RotateRight(p); }},
        {{"--mirror"}, [](FrameImage& p) { MirrorImage(p); }},
        {{"--flip"}, [](FrameImage& p) { FlipImage(p); }},
        {{"--negative"}, [](FrameImage& p) { ApplyNegative(p); }},
        {{"--grey"}, [](FrameImage& p) { ApplyGrayscale(p); }},
        {{"--sepia"}, [](FrameImage& p) { ApplySepia(p); }},
        // the dialog's quirk: brightness 0 lowers the levels above 128 by one
        {{"--brightness", "0"},
         [](FrameImage& p) { TakeTrackBar(ImageTrackBar::Brightness, 0, p); }},
        {{"--brightness=-150"},
         [](FrameImage& p) { TakeTrackBar(ImageTrackBar::Brightness, -150, p); }},
        {{"--contrast", "60"}, [](FrameImage& p) { TakeTrackBar(ImageTrackBar::Contrast, 60, p); }},
        {{"--zoom", "25"}, [](FrameImage& p) { TakeTrackBar(ImageTrackBar::Zoom, 25, p); }},
        {{"--zoom", "-30"}, [](FrameImage& p) { TakeTrackBar(ImageTrackBar::Zoom, -30, p); }},
        {{"--zoom", "9"}, [](FrameImage&) {}}, // -9..9 leave the picture as it is
        {{"--blend", background, "--blend-percent", "40"},
         [&](FrameImage& p) {
             Picture work = NewPicture();
             CopyFrameImage(*work, p);
             BlendWithBackground(40, p, *bg, *work);
             CopyFrameImage(p, *work);
         }},
        {{"--frame", art, "--frame-window", "10,20,57,41"}, framed(ToolRect{10, 20, 67, 61})},
        {{"--frame-window", "100,100,60,60", "--frame", art}, framed(ToolRect{100, 100, 126, 126})},
    };
    const Picture original = LoadAsTheProgram(in);
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& o : c.options)
            label += o + " ";
        std::vector<std::string> args = {"edit", in, Path("out.bmp")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = Run(args);
        ASSERT_EQ(r.code, 0) << label << r.err;
        Picture expected = NewPicture();
        CopyFrameImage(*expected, *original);
        c.tool(*expected);
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpOf(*expected)) << label;
        if (c.options[0] != "--zoom") {
            EXPECT_TRUE(BmpOf(*expected) != BmpOf(*original)) << label << "changes the picture";
        }
    }
}

TEST_F(Cli, EditsApplyInCommandLineOrderWhereverTheOperandsStand) {
    const std::string in = NoiseBmp("in.bmp", 21);
    auto expected = [&](bool mirrorFirst) {
        Picture p = LoadAsTheProgram(in);
        if (mirrorFirst) MirrorImage(*p);
        ApplySepia(*p);
        TakeTrackBar(ImageTrackBar::Contrast, 30, *p);
        RotateLeft(*p);
        if (!mirrorFirst) MirrorImage(*p);
        return BmpOf(*p);
    };
    const std::string mirrorFirst = expected(true), mirrorLast = expected(false);
    ASSERT_TRUE(mirrorFirst != mirrorLast);

    const std::string out = Path("out.bmp");
    const std::vector<std::vector<std::string>> firsts = {
        {"edit", "--mirror", "--sepia", "--contrast", "30", "--rotate", "left", in, out},
        {"edit", in, out, "--mirror", "--sepia", "--contrast", "30", "--rotate", "left"},
        {"--mirror", "edit", in, "--sepia", "--contrast=30", out, "--rotate", "left"},
    };
    for (const auto& args : firsts) {
        ASSERT_EQ(Run(args).code, 0);
        EXPECT_TRUE(ReadFile(out) == mirrorFirst);
    }
    ASSERT_EQ(
        Run({"edit", in, out, "--sepia", "--contrast", "30", "--rotate", "left", "--mirror"}).code,
        0);
    EXPECT_TRUE(ReadFile(out) == mirrorLast);

    // After "--" a name that starts with a dash is an operand.
    const std::string dashed = Path("-dash.bmp");
    fs::copy_file(in, dashed);
    ASSERT_EQ(Run({"frame", "--", dashed, Path("-out.bmp")}).code, 0);
    EXPECT_TRUE(ReadFile(Path("-out.bmp")) == BmpOf(*LoadAsTheProgram(in)));
}

// ---- Usage errors ----

TEST_F(Cli, UsageErrorsExit2NamingTheProblemAndWriteNothing) {
    const std::string in = NoiseBmp("in.bmp", 1);
    const std::string out = Path("out.bmp"), outdir = Path("set");
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"edit", in, out, "--whatever"}, "unknown option --whatever ("},
        {{"edit", in, out, "--smoth"}, "unknown option --smoth; did you mean --smooth?"},
        {{"fram", in, out}, "unknown command fram; did you mean frame?"},
        {{"help", "exprot"}, "unknown command exprot; did you mean export?"},
        {{"edit", in, out, "--brightness"}, "--brightness needs a value"},
        {{"edit", in, out, "--brightness", "201"}, "from -200 to 200, not '201'"},
        {{"edit", in, out, "--brightness", "12x"}, "from -200 to 200"},
        {{"edit", in, out, "--contrast", "-101"}, "from -100 to 100"},
        {{"edit", in, out, "--zoom", "61"}, "from -60 to 60"},
        {{"edit", in, out, "--rotate", "up"}, "left or right"},
        {{"edit", in, out, "--blend", in, "--blend-percent", "101"}, "from 0 to 100"},
        {{"edit", in, out, "--blend", in}, "--blend needs its --blend-percent"},
        {{"edit", in, out, "--blend-percent", "5"}, "--blend-percent without --blend"},
        {{"edit", in, out, "--frame", in, "--frame-window", "0,5,10,10"}, "X and Y from 1 to 125"},
        {{"edit", in, out, "--frame", in, "--frame-window", "5,5,10"}, "X,Y,W,H"},
        {{"frame", in, out, "--negative"}, "--negative is not one of frame's"},
        {{"edit", in}, "edit takes IN OUT.jpg|OUT.bmp"},
        // The output's name says what is written; nothing is read first.
        {{"edit", Path("missing.jpg"), Path("out.png")},
         "edit writes OUT.jpg (the frame's JPEG) or OUT.bmp"},
        {{"frame", in, Path("out.jpg")}, "frame writes a BMP picture: OUT.bmp, not"},
        {{"decode", in, Path("out")}, "decode writes a BMP picture"},
        {{"encode", in, out}, "encode writes OUT.jpg"},
        {{"export", "-", in}, "export writes into a folder"},
        {{"export", outdir, "-", in, "-"}, "standard input (-) can be one input only"},
        {{"edit", in, out, "--blend", "-", "--blend-percent", "5"}, "--blend takes a file"},
        {{"export", outdir, in, "--jobs", "0"}, "--jobs takes a whole number from 1 to 64"},
        {{"export", outdir, in, "--mirror=yes"}, "--mirror takes no value"},
        {{"resize", in, out}, "unknown command resize"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.code, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out) || fs::exists(outdir)) << c.says;
    }
}

TEST_F(Cli, HelpForEachCommandWithItsOptionsAndExamples) {
    const Result overview = Run({"help"});
    EXPECT_EQ(overview.code, 0);
    EXPECT_EQ(Run({"--help"}).out, overview.out);
    for (const char* command : {"frame", "edit", "export", "decode", "encode"}) {
        EXPECT_NE(overview.out.find(std::string("  ") + command + " "), std::string::npos);
        const Result help = Run({"help", command});
        EXPECT_EQ(help.code, 0);
        EXPECT_EQ(help.out.find(std::string("Usage: pixmora-cli ") + command), 0u) << help.out;
        EXPECT_NE(help.out.find("\nExamples:\n  pixmora-cli " + std::string(command)),
                  std::string::npos)
            << command;
        EXPECT_EQ(Run({command, "--help"}).out, help.out) << command;
        // In the picture's words, not the dialogs'.
        EXPECT_EQ(help.out.find("track bar"), std::string::npos) << command;
    }
    const std::string edit = Run({"help", "edit"}).out;
    for (const char* words :
         {"--frame-window X,Y,W,H", "from 0 to 255", "1000/N %", "frame picture's pixels"})
        EXPECT_NE(edit.find(words), std::string::npos) << words;
    EXPECT_EQ(Run({"help", "frame"}).out.find("--negative"), std::string::npos);
}

// ---- Batches ----

TEST_F(Cli, CleanDeletesOlderNumberedPicturesBeyondTheSetOtherwiseTheyAreNamed) {
    const std::string outdir = Path("set");
    fs::create_directories(outdir);
    // An earlier, larger export's pictures, and two files of the user's.
    for (const char* name : {"0.jpg", "2.jpg", "3.JPG", "7.jpg"})
        WriteFile(outdir + "/" + name, OlderPicture(name[0]));
    for (const char* name : {"08.jpg", "notes.txt"})
        WriteFile(outdir + "/" + name, Bytes{'o', 'l', 'd'});
    const std::string a = NoiseBmp("a.bmp", 1), b = NoiseBmp("b.bmp", 2);

    const Result kept = Run({"export", outdir, a, b});
    EXPECT_EQ(kept.code, 0);
    EXPECT_EQ(kept.err,
              "Wrote 2 pictures to " + outdir + ". " + outdir +
                  " also holds 3 older pictures (2.jpg \xE2\x80\xA6 7.jpg) that the frame "
                  "would show after the new ones; --clean deletes them.\n");
    EXPECT_TRUE(fs::exists(outdir + "/3.JPG") && fs::exists(outdir + "/7.jpg"));

    const Result cleaned = Run({"export", "--clean", outdir, a, b});
    EXPECT_EQ(cleaned.code, 0);
    EXPECT_EQ(cleaned.err,
              "Wrote 2 pictures to " + outdir + ". Deleted 3 older pictures beyond the new set.\n");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(outdir))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"0.jpg", "08.jpg", "1.jpg", "notes.txt"}));
    EXPECT_TRUE(ReadFile(outdir + "/1.jpg") == EncodedAsSaveAll(*LoadAsTheProgram(b)));
}

TEST_F(Cli, FolderInputsGiveTheirPicturesInNameOrder) {
    const std::string album = Path("album");
    fs::create_directories(album + "/sub");
    fs::create_directories(album + "/folder.jpg");
    SmallJpeg("album/c.JPG", 3);
    SmallGif("album/A.gif", 40, 30, 1);
    SizedBmp("album/b.bmp", 33, 17, 2);
    SizedBmp("album/sub/0.bmp", 8, 8, 4);
    WriteFile(Path("album/notes.txt"), Bytes{1, 2, 3});
    SmallJpeg("album/d.jpeg", 4);
    SmallPng("album/E.Png", 20, 30, 5);
    const std::string single = NoiseBmp("single.bmp", 5);

    const std::string outdir = Path("new/set");
    fs::create_directories(Path("new"));
    const Result r = Run({"export", outdir, "--negative", single, album});
    ASSERT_EQ(r.code, 0) << r.err;
    // No progress when standard error is not a terminal; what the folder
    // left out, and the summary.
    EXPECT_EQ(r.err, "pixmora-cli: " + album +
                         ": skipped 1 file that is not a picture: notes.txt\n" +
                         "pixmora-cli: " + album +
                         ": skipped 2 folders (folders inside are not read): folder.jpg, sub\n" +
                         "Wrote 6 pictures to " + outdir + " (3 entries of folders skipped).\n");
    EXPECT_EQ(Run({"export", "-q", Path("quiet"), single, album}).err, "");
    const char* order[] = {"single.bmp",  "album/A.gif",  "album/b.bmp",
                           "album/c.JPG", "album/d.jpeg", "album/E.Png"};
    for (int i = 0; i < 6; ++i) {
        Picture p = LoadAsTheProgram(Path(order[i]));
        ApplyNegative(*p);
        EXPECT_TRUE(ReadFile(outdir + "/" + std::to_string(i) + ".jpg") == EncodedAsSaveAll(*p))
            << order[i];
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(outdir), fs::directory_iterator()), 6);
}

// Every command reads a file by its first bytes; what is no picture is named as such.
TEST_F(Cli, InputsAreReadByTheirContent) {
    const std::string png = SmallPng("shot.png", 17, 9, 8);
    fs::copy_file(png, Path("shot.jpg"));
    ASSERT_EQ(Run({"decode", png, Path("own.bmp")}).code, 0);
    ASSERT_EQ(Run({"decode", Path("shot.jpg"), Path("renamed.bmp")}).code, 0);
    EXPECT_EQ(ReadFile(Path("own.bmp")), ReadFile(Path("renamed.bmp")));
    const Result framed = Run({"frame", Path("shot.jpg"), Path("framed.bmp")});
    ASSERT_EQ(framed.code, 0) << framed.err;
    EXPECT_EQ(ReadFile(Path("framed.bmp")), BmpOf(*LoadAsTheProgram(png)));

    WriteFile(Path("notes.jpg"), Bytes{'h', 'i'});
    const std::string all = ReadFile(png);
    WriteFile(Path("cut.png"), Bytes(all.begin(), all.begin() + all.size() / 2));
    const Result notes = Run({"frame", Path("notes.jpg"), Path("out.bmp")});
    EXPECT_EQ(notes.code, 1);
    EXPECT_EQ(notes.err,
              "pixmora-cli: " + Path("notes.jpg") + " is not a BMP, GIF, JPEG or PNG picture\n");
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
    // A cut PNG gives the rows it holds, with a warning; --strict refuses it.
    const Result cutPng = Run({"frame", Path("cut.png"), Path("out.bmp")});
    EXPECT_EQ(cutPng.code, 0);
    EXPECT_EQ(cutPng.err, "pixmora-cli: warning: " + Path("cut.png") +
                              ": the picture data ends early; the lower part is empty\n");
    EXPECT_EQ(Run({"frame", "--strict", Path("cut.png"), Path("strict.bmp")}).code, 1);
    EXPECT_FALSE(fs::exists(Path("strict.bmp")));
}

TEST_F(Cli, MoreThan384PicturesOnlyWithNoLimit) {
    const std::string many = Path("many");
    fs::create_directories(many);
    BmpFields s; // 1 x 1 black
    s.pixels.assign(4, 0);
    const Bytes tiny = BuildBmp(s);
    for (int i = 0; i < 385; ++i)
        WriteFile(many + "/" + std::to_string(i) + ".bmp", tiny);

    const Result refused = Run({"export", Path("set"), many});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("385 pictures, but the frame's album holds 384"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(Path("set")));

    fs::remove(many + "/384.bmp");
    EXPECT_EQ(Run({"export", Path("set384"), many}).code, 0);
    EXPECT_TRUE(fs::exists(Path("set384/383.jpg")));

    WriteFile(many + "/384.bmp", tiny);
    EXPECT_EQ(Run({"export", "--no-limit", Path("set"), many}).code, 0);
    EXPECT_TRUE(fs::exists(Path("set/384.jpg")));
}

TEST_F(Cli, ParallelExportWritesTheSameBytesAsOneJob) {
    const std::string mixed = Path("mixed");
    fs::create_directories(mixed);
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "mixed/" + std::to_string(10 + i);
        switch (i % 4) {
        case 0: SizedBmp(name + ".bmp", 50 + 31 * i, 20 + 17 * i, i); break;
        case 1: SmallGif(name + ".gif", 30 + 9 * i, 200 - 7 * i, i); break;
        case 2: SmallJpeg(name + ".jpg", i); break;
        default: NoiseBmp(name + ".bmp", i); break;
        }
    }
    const std::string background = SmallGif("bg.gif", 64, 64, 9);
    std::vector<std::string> edits = {"--sepia",  "--zoom",          "-20",
                                      "--rotate", "right",           "--blend",
                                      background, "--blend-percent", "30"};
    std::vector<std::string> one = {"export", Path("one"), mixed, "--jobs", "1"};
    std::vector<std::string> four = {"export", Path("four"), mixed, "--jobs", "4", "-v"};
    one.insert(one.end(), edits.begin(), edits.end());
    four.insert(four.end(), edits.begin(), edits.end());
    ASSERT_EQ(Run(one).code, 0);
    const Result told = Run(four);
    ASSERT_EQ(told.code, 0);
    // What -v says of each picture comes in input order, whichever worker took it.
    size_t at = 0;
    for (int i = 0; i < 12; ++i) {
        const size_t line = told.err.find(mixed + "/" + std::to_string(10 + i) + ".", at);
        ASSERT_NE(line, std::string::npos) << i << "\n" << told.err;
        at = line;
    }
    for (int i = 0; i < 12; ++i) {
        const std::string name = "/" + std::to_string(i) + ".jpg";
        const std::string a = ReadFile(Path("one") + name);
        EXPECT_FALSE(a.empty());
        EXPECT_TRUE(a == ReadFile(Path("four") + name)) << name;
    }
}

// ---- What cannot be read, and what is damaged ----

TEST_F(Cli, BadInputsAreNamedWithTheirReasonsAllAtOnce) {
    const std::string good = NoiseBmp("good.bmp", 1), last = SmallJpeg("last.jpg", 2);
    const std::string jpeg = ReadFile(SmallJpeg("whole.jpg", 4));
    const std::string cut = Path("cut.jpg"); // damaged: a warning, an error with --strict
    WriteFile(cut, Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2)));
    WriteFile(Path("text.jpg"), Bytes{'h', 'e', 'l', 'l', 'o'});
    WriteFile(Path("notes.txt"), Bytes{'h', 'i'});
    WriteFile(Path("broken.gif"), Bytes{'G', 'I', 'F', '8', '9', 'a', 1});
    ASSERT_EQ(mkfifo(Path("pipe.jpg").c_str(), 0600), 0); // opened, it would wait for a writer
    struct Bad {
        std::string path, says;
    };
    const Bad bad[] = {
        {Path("missing.jpg"), ": No such file or directory"},
        {good + "/in.bmp", ": Not a directory"},
        {Path("pipe.jpg"), ": not a regular file"},
        {"/dev/zero", ": not a regular file"},
        {Path("text.jpg"), " is not a BMP, GIF, JPEG or PNG picture"},
        {Path("notes.txt"), " is not a BMP, GIF, JPEG or PNG picture"},
        {Path("broken.gif"), ": no image before the end of the data"},
    };
    const std::string out = Path("out.bmp"), outdir = Path("set");
    std::vector<std::string> args = {"export", outdir, good};
    for (const Bad& b : bad) {
        const Result r = Run({"frame", b.path, out});
        EXPECT_EQ(r.code, 1) << b.path;
        EXPECT_NE(r.err.find(b.path + b.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
        args.push_back(b.path);
    }
    args.push_back(cut);
    args.push_back(last);
    const std::string damage = cut + ": the picture data ends early; the lower part is empty";

    // Every one of them is named, in input order, and nothing is written.
    const Result all = Run(args);
    EXPECT_EQ(all.code, 1);
    size_t at = 0;
    for (const Bad& b : bad) {
        const size_t found = all.err.find(b.path + b.says, at);
        EXPECT_NE(found, std::string::npos) << b.path << "\n" << all.err;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_NE(all.err.find("warning: " + damage + "\n"), std::string::npos) << all.err;
    EXPECT_NE(all.err.find("7 of 10 inputs cannot be read (reasons above); nothing was written"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(outdir));

    // --skip-bad leaves them out, saying so; --strict leaves out the damaged one too.
    args.push_back("--skip-bad");
    const Result skipped = Run(args);
    EXPECT_EQ(skipped.code, 0) << skipped.err;
    EXPECT_NE(skipped.err.find("warning: cannot read " + Path("missing.jpg") +
                               ": No such file or directory; left out\n"),
              std::string::npos);
    EXPECT_NE(skipped.err.find("Wrote 3 pictures to " + outdir +
                               " (7 inputs left out that cannot be read, 1 picture damaged).\n"),
              std::string::npos)
        << skipped.err;
    EXPECT_TRUE(ReadFile(outdir + "/0.jpg") == EncodedAsSaveAll(*LoadAsTheProgram(good)));
    EXPECT_TRUE(ReadFile(outdir + "/2.jpg") == EncodedAsSaveAll(*LoadAsTheProgram(last)));
    args.push_back("--strict");
    const Result strict = Run(args);
    EXPECT_EQ(strict.code, 0);
    EXPECT_NE(strict.err.find(damage + " (--strict); left out"), std::string::npos) << strict.err;
    EXPECT_NE(strict.err.find("Wrote 2 pictures"), std::string::npos);
    EXPECT_EQ(Run({"frame", "--strict", cut, out}).code, 1);
    EXPECT_EQ(Run({"frame", cut, out}).code, 0);
}

// ---- Outputs ----

TEST_F(Cli, OutputsAreWhatTheirNamesSay) {
    const std::string in = SmallJpeg("in.jpg", 3), png = SmallPng("in.png", 40, 30, 5);
    const Picture plain = LoadAsTheProgram(in);
    Picture negative = LoadAsTheProgram(in);
    ApplyNegative(*negative);
    const std::string frameBmp = BmpOf(*plain);
    WriteFile(Path("frame.bmp"), Bytes(frameBmp.begin(), frameBmp.end()));
    struct Case {
        std::vector<std::string> args;
        std::string written; // the file, or "-" for standard output
        std::string bytes;
        std::string in = "/dev/null";
    };
    const Case cases[] = {
        {{"edit", in, Path("out.jpg"), "--negative"}, Path("out.jpg"), EncodedAsSaveAll(*negative)},
        {{"edit", in, Path("OUT.JPG"), "--negative"}, Path("OUT.JPG"), EncodedAsSaveAll(*negative)},
        {{"edit", in, Path("out.bmp"), "--negative"}, Path("out.bmp"), BmpOf(*negative)},
        {{"frame", in, Path("frame2.bmp")}, Path("frame2.bmp"), frameBmp},
        {{"edit", "-", "-", "--negative"}, "-", BmpOf(*negative), in},
        {{"encode", "-", Path("enc.jpg")},
         Path("enc.jpg"),
         EncodedAsSaveAll(*plain),
         Path("frame.bmp")},
        {{"decode", Path("frame.bmp"), "-"}, "-", frameBmp},
        {{"frame", "-", Path("png.bmp")}, Path("png.bmp"), BmpOf(*LoadAsTheProgram(png)), png},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.args, c.in);
        ASSERT_EQ(r.code, 0) << c.args[0] << " " << c.written << ": " << r.err;
        EXPECT_TRUE((c.written == "-" ? r.out : ReadFile(c.written)) == c.bytes) << c.written;
    }

    // Where an output cannot be written, the system says why.
    fs::create_directories(Path("set"));
    for (int i = 0; i < 4; ++i)
        fs::copy_file(in, Path("set/" + std::to_string(i) + ".jpg"));
    fs::remove(Path("set/3.jpg"));
    fs::create_directories(Path("set/3.jpg/inside")); // a folder takes the name
    const std::string four[] = {"export", Path("set"), in, in, in, in};
    struct Failure {
        std::vector<std::string> args;
        std::string says;
    };
    const Failure failures[] = {
        {{"edit", in, Path("none/out.jpg")},
         "cannot create " + Path("none/out.jpg") + ": No such file or directory"},
        {{"export", Path("frame.bmp/set"), in},
         "cannot create the folder " + Path("frame.bmp/set") + ": Not a directory"},
        {{"export", Path("frame.bmp"), in},
         "cannot export into " + Path("frame.bmp") + ": Not a directory"},
        {{std::begin(four), std::end(four)},
         "cannot replace " + Path("set/3.jpg") +
             ": the file of that name cannot be replaced; "
             "nothing was written, the folder is as it was"},
    };
    for (const Failure& f : failures) {
        const Result r = Run(f.args);
        EXPECT_EQ(r.code, 1) << f.says;
        EXPECT_NE(r.err.find(f.says), std::string::npos) << r.err;
    }
    EXPECT_TRUE(ReadFile(Path("set/0.jpg")) == ReadFile(in)) << "the older set stays";
}

// ---- Memory ----

#if defined(__SANITIZE_ADDRESS__)
#define PIXMORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PIXMORA_ASAN 1
#endif
#endif

// A worker whose fit runs out of memory fails its picture with a message;
// the process does not abort. A tall picture's smooth fit needs 75 MB of row
// tables beside the worker's 120 MB of buffers: address spaces from too
// small for the buffers upwards are tried until one lets the worker start
// and then run out.
TEST_F(Cli, AWorkerOutOfMemoryFailsItsPictureNotTheProcess) {
#ifdef PIXMORA_ASAN
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit an address-space limit";
#endif
    BmpFields tall; // 1 x 14,990,000, RLE8: the end of the picture at once
    tall.width = 1;
    tall.height = 14990000;
    tall.bits = 8;
    tall.compression = 1;
    tall.clrUsed = 2;
    tall.palette = {0, 0, 0, 0, 255, 255, 255, 0};
    tall.pixels = {0, 1};
    WriteFile(Path("tall.bmp"), BuildBmp(tall));
    bool ranOut = false;
    for (int mb = 100; mb <= 600 && !ranOut; mb += 10) {
        const Result r =
            Run({"export", "-q", "--smooth", "--jobs", "1", Path("set"), Path("tall.bmp")},
                "/dev/null", mb);
        ASSERT_TRUE(r.code == 0 || r.code == 1) << mb << " MB: exit " << r.code << ": " << r.err;
        if (r.code == 0) break;
        EXPECT_NE(r.err.find("not enough memory"), std::string::npos) << mb << " MB: " << r.err;
        ranOut = r.err.find("not enough memory for " + Path("tall.bmp")) != std::string::npos;
    }
    EXPECT_TRUE(ranOut) << "no address space let the worker start and run out";
}

// Eight 20-million-pixel progressive photos (122 MB of coefficients each
// beside a worker's 120 MB of buffers) asked of eight workers in 1.5 GiB:
// only as many work as fit, and every picture is made.
TEST_F(Cli, WorkersAreAsManyAsTheAddressSpaceHolds) {
#ifdef PIXMORA_ASAN
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit an address-space limit";
#endif
    JpegBuilder big;
    big.Soi().Dqt(0, 1);
    big.Sof(0xC2, 2465, 8113, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}).EasyTables().Eoi();
    std::vector<std::string> args = {"export", "-q", "--jobs", "8", Path("set")};
    for (int i = 0; i < 8; ++i) {
        args.push_back(Path("big" + std::to_string(i) + ".jpg"));
        WriteFile(args.back(), big.bytes);
    }
    const Result r = Run(args, "/dev/null", 1536);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(Path("set/7.jpg")));
}

// ---- The folder is the user's ----

// A camera's photo: a JPEG whose frame is 4000 x 3000 (only its header counts).
Bytes CameraPhoto(const Bytes& jpeg) {
    Bytes photo = jpeg;
    for (size_t i = 2; i + 8 < photo.size(); ++i)
        if (photo[i] == 0xFF && photo[i + 1] == 0xC0) {
            photo[i + 5] = 3000 >> 8, photo[i + 6] = 3000 & 255;
            photo[i + 7] = 4000 >> 8, photo[i + 8] = 4000 & 255;
            break;
        }
    return photo;
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Cli, TheUsersOwnNumberedFilesAreReplacedOrDeletedOnlyWithForce) {
    const std::string outdir = Path("set");
    fs::create_directories(outdir);
    const Bytes photo = CameraPhoto(OlderPicture(3));
    WriteFile(outdir + "/0.jpg", OlderPicture(1));
    WriteFile(outdir + "/1.jpg", photo);
    WriteFile(outdir + "/5.JPG", Bytes{'m', 'i', 'n', 'e'});
    const std::string a = NoiseBmp("a.bmp", 1), b = NoiseBmp("b.bmp", 2);
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case refused[] = {
        {{"export", outdir, a, b},
         1,
         " holds a file that is not a 128 x 128 picture: 1.jpg; --force replaces them; nothing "
         "was written"},
        {{"export", "--clean", outdir, a, b},
         1,
         " holds a file that is not a 128 x 128 picture: 5.JPG; --clean deletes them only with "
         "--force; nothing was written"},
    };
    for (const Case& c : refused) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.code, c.code) << c.says;
        EXPECT_NE(r.err.find(outdir + c.says), std::string::npos) << r.err;
        EXPECT_EQ(Names(outdir), (std::vector<std::string>{"0.jpg", "1.jpg", "5.JPG"}));
        EXPECT_TRUE(ReadFile(outdir + "/1.jpg") == std::string(photo.begin(), photo.end()));
    }
    const Result forced = Run({"export", "--clean", "--force", outdir, a, b});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(Names(outdir), (std::vector<std::string>{"0.jpg", "1.jpg"}));
    EXPECT_TRUE(ReadFile(outdir + "/1.jpg") == EncodedAsSaveAll(*LoadAsTheProgram(b)));

    // An OUTDIR that is also an input folder is a usage error; nothing is read or written.
    const std::string album = Path("album");
    fs::create_directories(album);
    NoiseBmp("album/c.bmp", 3);
    const Result same = Run({"export", album + "/.", album});
    EXPECT_EQ(same.code, 2);
    EXPECT_NE(same.err.find("is also an input folder"), std::string::npos) << same.err;
    EXPECT_EQ(Names(album), (std::vector<std::string>{"c.bmp"}));
}

TEST_F(Cli, AnExportWaitsForAnotherIntoTheSameFolderSayingSo) {
    const std::string outdir = Path("set");
    fs::create_directories(outdir);
    const std::string a = NoiseBmp("a.bmp", 1);
    ExportLock held;
    ASSERT_EQ(held.TryTake(outdir), ExportLockOutcome::kTaken);
    const Started waiting = Start({"export", outdir, a});
    const std::string says = "Waiting for another export into " + outdir;
    for (int i = 0; i < 200 && ReadFile(waiting.err).find(says) == std::string::npos; ++i)
        usleep(50000);
    EXPECT_NE(ReadFile(waiting.err).find(says), std::string::npos);
    EXPECT_FALSE(fs::exists(outdir + "/0.jpg")) << "nothing is written while the lock is held";
    held.Release();
    const Result r = Finish(waiting);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names(outdir), (std::vector<std::string>{"0.jpg"}));
}

// Two processes export different sets into one folder at once, again and
// again: both say they saved, and the folder holds what the later one saved
// over what the earlier one did, picture for picture.
TEST_F(Cli, TwoExportsIntoOneFolderAtOnceNeverLoseASavedPicture) {
    const std::string outdir = Path("set");
    fs::create_directories(outdir);
    std::vector<std::string> first = {"export", outdir, "--jobs", "1"};
    std::vector<std::string> second = {"export", outdir, "--jobs", "1"};
    std::vector<std::string> firstJpegs, secondJpegs;
    for (int i = 0; i < 48; ++i) {
        const std::string name = "p" + std::to_string(i) + ".bmp";
        first.push_back(NoiseBmp("a" + name, 1000 + i));
        firstJpegs.push_back(EncodedAsSaveAll(*LoadAsTheProgram(first.back())));
        if (i >= 30) continue;
        second.push_back(NoiseBmp("b" + name, 2000 + i));
        secondJpegs.push_back(EncodedAsSaveAll(*LoadAsTheProgram(second.back())));
    }
    int waited = 0;
    for (int round = 0; round < 4; ++round) {
        const Started x = Start(first, "x"), y = Start(second, "y");
        const Result rx = Finish(x), ry = Finish(y);
        ASSERT_EQ(rx.code, 0) << rx.err;
        ASSERT_EQ(ry.code, 0) << ry.err;
        waited += (rx.err + ry.err).find("Waiting for another export") != std::string::npos;
        // The second set is the first's in its first 30 pictures, or covers them.
        const bool secondLast = ReadFile(outdir + "/0.jpg") == secondJpegs[0];
        for (int i = 0; i < 48; ++i) {
            const std::string& expected = secondLast && i < 30 ? secondJpegs[i] : firstJpegs[i];
            EXPECT_TRUE(ReadFile(outdir + "/" + std::to_string(i) + ".jpg") == expected)
                << "round " << round << ", " << i << ".jpg";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(outdir), fs::directory_iterator()), 48);
    }
    std::printf("exports that waited for the other: %d of 4 rounds\n", waited);
}

} // namespace
