// pixmora-cli seen from outside: the program is run on small pictures built
// here, and what it writes is compared with what the core functions behind
// the GUI give for the same picture and the same presses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
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
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"
#include "export/bmp_writer.h"
#include "export/export_lock.h"
#include "export/save_all.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/gif_builder.h"
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
    EXPECT_EQ(LoadForFrame(set, path.c_str(), fit ? *fit : asStored, *p),
              DecodeOutcome::kComplete)
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

    // A run of the program that may go on beside the test; `tag` keeps the
    // output files of runs at once apart.
    struct Started {
        pid_t pid = -1;
        std::string out, err;
    };

    Started Start(std::vector<std::string> args, const std::string& tag = "") {
        args.insert(args.begin(), PIXMORA_CLI);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        Started s;
        s.out = Path(".stdout" + tag);
        s.err = Path(".stderr" + tag);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, s.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&s.pid, PIXMORA_CLI, &actions, nullptr, argv.data(), environ) != 0)
            s.pid = -1;
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

    Result Run(std::vector<std::string> args) { return Finish(Start(std::move(args))); }

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
        BmpSpec s;
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

    // A picture of an earlier export: a 128 x 128 JPEG as Save All writes it.
    Bytes OlderPicture(uint32_t seed) {
        Picture p = NewPicture();
        tooltest::FillWithPositions(*p);
        for (int i = 0; i < kFramePixelBytes; ++i)
            p->Pixels()[i] = static_cast<uint8_t>(p->Pixels()[i] ^ seed);
        const std::string bytes = EncodedAsSaveAll(*p);
        return Bytes(bytes.begin(), bytes.end());
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

// An Exif block with orientation `o` (little-endian TIFF, IFD0 with the one
// tag) put right after the JPEG's start marker.
Bytes WithOrientation(const std::string& jpeg, int o) {
    const Bytes exif = {0xFF,
                        0xE1,
                        0,
                        34,
                        'E',
                        'x',
                        'i',
                        'f',
                        0,
                        0,
                        'I',
                        'I',
                        42,
                        0,
                        8,
                        0,
                        0,
                        0,
                        1,
                        0,
                        0x12,
                        0x01,
                        3,
                        0,
                        1,
                        0,
                        0,
                        0,
                        static_cast<uint8_t>(o),
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0};
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), exif.begin(), exif.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
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
        {{"edit", in, out, "--bogus"}, "unknown option --bogus"},
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
        {{"edit", in}, "edit takes IN OUT.bmp"},
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
    const Result help = Run({"export", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--frame-window X,Y,W,H"), std::string::npos);
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
    EXPECT_NE(kept.err.find("warning: " + outdir +
                            " also holds 3 older pictures (2.jpg \xE2\x80\xA6 7.jpg) that the frame would "
                            "show after the new ones; --clean deletes them"),
              std::string::npos)
        << kept.err;
    EXPECT_TRUE(fs::exists(outdir + "/3.JPG") && fs::exists(outdir + "/7.jpg"));

    const Result cleaned = Run({"export", "--clean", outdir, a, b});
    EXPECT_EQ(cleaned.code, 0);
    EXPECT_EQ(cleaned.err, "");
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
    WriteFile(Path("album/d.jpeg"), Bytes{1, 2, 3});
    const std::string single = NoiseBmp("single.bmp", 5);

    const std::string outdir = Path("new/set");
    fs::create_directories(Path("new"));
    const Result r = Run({"export", outdir, "--negative", single, album});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, ""); // no progress when standard error is not a terminal
    const char* order[] = {"single.bmp", "album/A.gif", "album/b.bmp", "album/c.JPG"};
    for (int i = 0; i < 4; ++i) {
        Picture p = LoadAsTheProgram(Path(order[i]));
        ApplyNegative(*p);
        EXPECT_TRUE(ReadFile(outdir + "/" + std::to_string(i) + ".jpg") == EncodedAsSaveAll(*p))
            << order[i];
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(outdir), fs::directory_iterator()), 4);
}

TEST_F(Cli, MoreThan384PicturesOnlyWithNoLimit) {
    const std::string many = Path("many");
    fs::create_directories(many);
    BmpSpec s; // 1 x 1 black
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
    std::vector<std::string> four = {"export", Path("four"), mixed, "--jobs", "4"};
    one.insert(one.end(), edits.begin(), edits.end());
    four.insert(four.end(), edits.begin(), edits.end());
    ASSERT_EQ(Run(one).code, 0);
    ASSERT_EQ(Run(four).code, 0);
    for (int i = 0; i < 12; ++i) {
        const std::string name = "/" + std::to_string(i) + ".jpg";
        const std::string a = ReadFile(Path("one") + name);
        EXPECT_FALSE(a.empty());
        EXPECT_TRUE(a == ReadFile(Path("four") + name)) << name;
    }
}

TEST_F(Cli, AFailedPictureStopsTheExportAndLeavesTheFolderAsItWas) {
    const std::string outdir = Path("set");
    fs::create_directories(outdir);
    const Bytes old = OlderPicture(1);
    const std::string oldText(old.begin(), old.end());
    WriteFile(outdir + "/0.jpg", old);
    std::vector<std::string> args = {"export", "--jobs", "2", outdir};
    for (int i = 0; i < 6; ++i)
        args.push_back(NoiseBmp(std::to_string(i) + ".bmp", i));
    WriteFile(Path("broken.gif"), Bytes{'G', 'I', 'F', '8', '9', 'a', 1});
    args.insert(args.begin() + 6, Path("broken.gif"));

    const Result r = Run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot decode " + Path("broken.gif") + ": "), std::string::npos) << r.err;
    EXPECT_TRUE(ReadFile(outdir + "/0.jpg") == oldText);
    EXPECT_EQ(std::distance(fs::directory_iterator(outdir), fs::directory_iterator()), 1);

    // A set that cannot take its names is not written either.
    args.erase(args.begin() + 6);
    fs::create_directories(outdir + "/3.jpg");
    const Result blocked = Run(args);
    EXPECT_EQ(blocked.code, 1);
    EXPECT_NE(blocked.err.find("The folder was left as it was."), std::string::npos) << blocked.err;
    EXPECT_TRUE(ReadFile(outdir + "/0.jpg") == oldText);
    EXPECT_EQ(std::distance(fs::directory_iterator(outdir), fs::directory_iterator()), 2);
    args.insert(args.begin() + 6, Path("broken.gif"));

    // A missing OUTDIR is created only for a set that is written.
    args[3] = Path("new");
    EXPECT_EQ(Run(args).code, 1);
    EXPECT_FALSE(fs::exists(Path("new")));
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
