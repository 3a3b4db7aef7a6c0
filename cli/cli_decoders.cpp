#include "cli/cli_decoders.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "codecs/decode_failure.h"
#include "codecs/input_file.h"
#include "codecs/load_picture.h"

CliDecoders::CliDecoders()
    : gif_(std::calloc(1, kGifStateBytes)), jpeg_(std::calloc(1, kJpegDecoderBytes)) {
    set.buffers = &owned_.buffers;
    set.gif = static_cast<GifState*>(gif_);
    set.jpeg = static_cast<JpegDecoder*>(jpeg_);
}

CliDecoders::~CliDecoders() {
    std::free(gif_);
    std::free(jpeg_);
}

bool CliDecoders::ok() const {
    return owned_.ok() && gif_ && jpeg_;
}

void CliDecoders::ForgetLastPicture() {
    LoadBuffers& lb = owned_.buffers;
    const int64_t height = RasterHeight(lb), stride = lb.raster.stride;
    uint8_t* first = RasterRow(lb, 0);
    if (!first || height <= 0 || stride <= 0) return;
    const int64_t end = (first - lb.decodeBuffer) + stride * height;
    if (end <= static_cast<int64_t>(kDecodeBufferSize))
        std::memset(first, 0, static_cast<size_t>(stride * height));
}

void Complain(const std::string& message) {
    std::fprintf(stderr, "pixmora-cli: %s\n", message.c_str());
}

void Warn(const std::string& message) {
    std::fprintf(stderr, "pixmora-cli: warning: %s\n", message.c_str());
}

namespace {

const char* ReasonOrDefault(const char* reason) {
    return reason && *reason ? reason : "decoding failed";
}

// "cannot decode NAME: REASON"; a reason that is about the file itself
// ("x.txt is not a BMP, GIF, JPEG or PNG picture") names it already.
std::string CannotDecode(const std::string& name, const char* reason) {
    const std::string text = ReasonOrDefault(reason);
    const std::string file = FileNameOf(name.c_str());
    if (!file.empty() && text.compare(0, file.size() + 1, file + " ") == 0)
        return name + text.substr(file.size());
    return "cannot decode " + name + ": " + text;
}

// The file is looked at before a reader opens it; "" when it may be read.
std::string ReadProblem(const std::string& path, const std::string& name) {
    const std::string why = InputFileProblem(path.c_str());
    return why.empty() ? "" : "cannot read " + name + ": " + why;
}

// Whether `path` can be decoded now (otherwise r.problem says why); a reader
// that leaves rows it does not reach as they were starts from a clear raster.
bool ReadyToDecode(CliDecoders& d, const std::string& path, const std::string& name,
                   LoadedPicture& r) {
    r.problem = ReadProblem(path, name);
    if (!r.problem.empty()) return false;
    if (!d.ok()) {
        r.problem = "not enough memory for " + name;
        return false;
    }
    const PictureKind kind = PictureKindOf(path.c_str());
    if (kind != PictureKind::kJpeg && kind != PictureKind::kBmp) d.ForgetLastPicture();
    ClearDecodeFailure();
    return true;
}

// What a picture the reader made lacks: its damage note, or for one whose
// reader stopped half-way, that reason.
std::string DamageOf(DecodeOutcome outcome) {
    if (outcome == DecodeOutcome::kPartial && !*LastDecodeDamage())
        return std::string("the picture is incomplete (") + ReasonOrDefault(LastDecodeFailure()) +
               ")";
    return LastDecodeDamage();
}

// Decodes `path` and fits it with `fit`, as the program loads a picture.
LoadedPicture LoadFitted(CliDecoders& d, const FitOptions& fit, const std::string& path,
                         const std::string& name, FrameImage& picture) {
    LoadedPicture r;
    if (!ReadyToDecode(d, path, name, r)) return r;
    const DecodeOutcome outcome = LoadForFrame(d.set, path.c_str(), fit, picture, &r.report);
    if (!HasOwnRaster(outcome)) {
        r.problem = CannotDecode(name, LastDecodeFailure());
        return r;
    }
    r.ok = true;
    r.damage = DamageOf(outcome);
    return r;
}

std::string SizeText(int32_t w, int32_t h) {
    return std::to_string(w) + " x " + std::to_string(h);
}

// "60 x 50 at 20,10"
std::string RectText(const PictureRect& r) {
    return SizeText(r.w, r.h) + " at " + std::to_string(r.x) + "," + std::to_string(r.y);
}

} // namespace

LoadedPicture LoadFramed(CliDecoders& d, const CliArgs& args, const std::string& path,
                         const std::string& name, FrameImage& picture) {
    LoadedPicture r = LoadFitted(d, args.fit, path, name, picture);
    if (!r.report.regionOutside) return r;
    // Only pixels cannot leave an empty part: W and H are at least 1.
    const RegionRequest& q = args.fit.region;
    const bool shares = q.percent[0] || q.percent[1] || q.percent[2] || q.percent[3];
    r.usage = true;
    r.problem = "--crop " + args.crop + (shares ? " is empty or not inside " : " is not inside ") +
                name + " (" + SizeText(r.report.width, r.report.height) +
                (args.fit.upright ? " upright pixels)" : " pixels as stored)");
    return r;
}

LoadedPicture DecodeWhole(CliDecoders& d, const std::string& path, const std::string& name) {
    LoadedPicture r;
    if (!ReadyToDecode(d, path, name, r)) return r;
    const uint32_t serial = d.buffers().rasterSerial;
    const int result = DecodePicture(d.set, path.c_str());
    if (result != 1 && (result < 0 || d.buffers().rasterSerial == serial)) {
        const char* reason = LastDecodeFailure();
        r.problem = CannotDecode(name, *reason || result >= 0 ? reason : "unknown picture type");
        return r;
    }
    r.ok = true;
    r.damage = DamageOf(result == 1 ? DecodeOutcome::kComplete : DecodeOutcome::kPartial);
    r.report.width = RasterWidth(d.buffers());
    r.report.height = RasterHeight(d.buffers());
    return r;
}

void ApplyStrict(const CliArgs& args, const std::string& name, LoadedPicture& loaded) {
    if (!args.strict || loaded.damage.empty()) return;
    loaded.ok = false;
    loaded.problem = name + ": " + loaded.damage + " (--strict)";
    loaded.damage.clear();
}

std::string DescribeLoad(const std::string& name, const LoadedPicture& loaded,
                         const FitOptions& fit) {
    const FitReport& r = loaded.report;
    const bool turned = r.orientation >= 5 && r.orientation <= 8;
    std::string text =
        name + ": read " + (turned ? SizeText(r.height, r.width) : SizeText(r.width, r.height));
    if (r.orientation > 1 && r.orientation <= 8)
        text += ", turned upright (Exif orientation " + std::to_string(r.orientation) + ")" +
                (turned ? " to " + SizeText(r.width, r.height) : "");
    else if (!fit.upright)
        text += ", as stored (--no-upright)";
    // What the fit took as the whole picture.
    const std::string part =
        fit.region.asked ? "its part of " + RectText(r.part) + " (--crop)" : "the whole picture";
    // The geometry counts frame rows from the bottom; people count them from the top.
    const FitGeometry& g = r.geometry;
    const int32_t frameTop = kFrameSide - g.dstY - g.dstH;
    const char* how = fit.smooth ? ", smoothly" : "";
    switch (fit.mode) {
    case FitMode::kStretch: text += "; stretch: " + part + " to the 128 x 128 frame" + how; break;
    case FitMode::kFill:
        text += "; fill: its square of " + RectText(r.shown) +
                (fit.region.asked                  ? " within " + part
                 : fit.focus == FitFocus::kSubject ? ", around the subject,"
                                                   : "") +
                " to the 128 x 128 frame" + how;
        break;
    case FitMode::kInside:
        text += "; inside: " + part + " to " + SizeText(g.dstW, g.dstH) + " at " +
                std::to_string(g.dstX) + "," + std::to_string(frameTop) +
                " of the frame, black around it" + how;
        break;
    }
    return text;
}

bool LoadEditPictures(CliDecoders& d, const CliArgs& args, EditPictures& pictures) {
    pictures.byStep.clear();
    FitOptions whole = args.fit; // --crop is a part of the inputs only
    whole.region = RegionRequest{};
    bool all = true;
    for (const EditStep& step : args.edits) {
        pictures.byStep.emplace_back();
        if (step.kind != EditKind::kBlend && step.kind != EditKind::kFrame) continue;
        pictures.byStep.back().reset(new FrameImage{});
        LoadedPicture loaded = LoadFitted(d, whole, step.path, step.path, *pictures.byStep.back());
        ApplyStrict(args, step.path, loaded);
        if (!loaded.ok) {
            Complain(loaded.problem);
            all = false;
        } else if (!loaded.damage.empty()) {
            Warn(step.path + ": " + loaded.damage);
        }
    }
    return all;
}

namespace {

bool WriteParts(FILE* f, std::initializer_list<OutputPart> parts) {
    for (const OutputPart& p : parts)
        if (p.size && std::fwrite(p.bytes, 1, p.size, f) != p.size) return false;
    return true;
}

} // namespace

std::string WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes) {
    return WriteOutput(path, {{bytes.data(), bytes.size()}});
}

std::string WriteOutput(const std::string& path, std::initializer_list<OutputPart> parts) {
    if (IsStandardStream(path)) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        errno = 0;
        const bool ok = WriteParts(stdout, parts) && std::fflush(stdout) == 0;
        if (ok) return "";
        return std::string("cannot write to standard output: ") +
               (errno ? std::strerror(errno) : "write failed");
    }
    errno = 0;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "cannot create " + path + ": " + std::strerror(errno ? errno : EACCES);
    errno = 0;
    bool ok = WriteParts(f, parts);
    int error = errno;
    ok = std::fclose(f) == 0 && ok;
    if (ok) return "";
    if (error == 0) error = errno;
    // Only a regular file is ours to clean up; a device or pipe is left be.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path.c_str());
    return "cannot write " + path + ": " + (error ? std::strerror(error) : "write failed");
}
