#include "cli/cli_decoders.h"

#include <cstdio>
#include <cstdlib>

#include "codecs/decode_failure.h"
#include "fit/fit_options.h"
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

void Complain(const std::string& message) {
    std::fprintf(stderr, "pixmora-cli: %s\n", message.c_str());
}

namespace {

// The reason for a decoder's result (1 done, 0 failed, -1 no known extension).
const char* ReasonFor(int result) {
    if (result == 1) return nullptr;
    const char* reason = result < 0 ? "unknown picture type" : LastDecodeFailure();
    return reason && *reason ? reason : "decoding failed";
}

} // namespace

const char* DecodeFailureOf(CliDecoders& d, const char* path) {
    if (!d.ok()) return "not enough memory";
    ClearDecodeFailure();
    return ReasonFor(DecodeByExtension(d.set, path));
}

bool DecodeInput(CliDecoders& d, const char* path) {
    const char* reason = DecodeFailureOf(d, path);
    if (!reason) return true;
    Complain(std::string("cannot decode ") + path + ": " + reason);
    return false;
}

const char* LoadFramed(CliDecoders& d, const FitOptions& fit, const char* path, FrameImage& picture,
                       FitReport* report) {
    if (!d.ok()) return "not enough memory";
    ClearDecodeFailure();
    if (LoadForFrame(d.set, path, fit, picture, report) == DecodeOutcome::kComplete) return nullptr;
    const char* reason = LastDecodeFailure();
    return reason && *reason ? reason : "decoding failed";
}

namespace {

std::string SizeText(const FitReport& r) {
    return std::to_string(r.width) + " x " + std::to_string(r.height) + " upright pixels";
}

} // namespace

std::string CropOutsideMessage(const CliArgs& args, const char* path, const FitReport& report) {
    return "--crop " + args.crop + " is not inside " + path + " (" + SizeText(report) + ")";
}

std::string PartMessage(const char* path, const FitReport& r) {
    const PictureRect& s = r.shown;
    return std::string(path) + ": part " + std::to_string(s.x) + "," + std::to_string(s.y) + "," +
           std::to_string(s.w) + "," + std::to_string(s.h) + " of " + SizeText(r);
}

bool LoadEditPictures(CliDecoders& d, const CliArgs& args, EditPictures& pictures) {
    pictures.byStep.clear();
    FitOptions whole = args.fit; // --crop is a part of the inputs only
    whole.region = RegionRequest{};
    for (const EditStep& step : args.edits) {
        pictures.byStep.emplace_back();
        if (step.kind != EditKind::kBlend && step.kind != EditKind::kFrame) continue;
        pictures.byStep.back().reset(new FrameImage{});
        if (const char* reason = LoadFramed(d, whole, step.path.c_str(), *pictures.byStep.back())) {
            Complain("cannot decode " + step.path + ": " + reason);
            return false;
        }
    }
    return true;
}
