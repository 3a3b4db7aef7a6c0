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

const char* DecodeFailureOf(CliDecoders& d, const char* path) {
    if (!d.ok()) return "not enough memory";
    ClearDecodeFailure();
    if (DecodePicture(d.set, path) == 1) return nullptr;
    const char* reason = LastDecodeFailure();
    return *reason ? reason : "decoding failed";
}

std::string CannotDecode(const std::string& path, const char* reason) {
    const std::string name = FileNameOf(path.c_str());
    const std::string text = reason ? reason : "";
    // A reason about the file itself names it: the path takes the name's place.
    if (!name.empty() && text.compare(0, name.size() + 1, name + " ") == 0)
        return path + text.substr(name.size());
    return "cannot decode " + path + ": " + text;
}

bool DecodeInput(CliDecoders& d, const char* path) {
    const char* reason = DecodeFailureOf(d, path);
    if (!reason) return true;
    Complain(CannotDecode(path, reason));
    return false;
}

const char* LoadFramed(CliDecoders& d, const CliArgs& args, const char* path, FrameImage& picture) {
    if (!d.ok()) return "not enough memory";
    ClearDecodeFailure();
    if (LoadForFrame(d.set, path, args.fit, picture) == DecodeOutcome::kComplete) return nullptr;
    const char* reason = LastDecodeFailure();
    return reason && *reason ? reason : "decoding failed";
}

bool LoadEditPictures(CliDecoders& d, const CliArgs& args, EditPictures& pictures) {
    pictures.byStep.clear();
    for (const EditStep& step : args.edits) {
        pictures.byStep.emplace_back();
        if (step.kind != EditKind::kBlend && step.kind != EditKind::kFrame) continue;
        pictures.byStep.back().reset(new FrameImage{});
        if (const char* reason = LoadFramed(d, args, step.path.c_str(), *pictures.byStep.back())) {
            Complain(CannotDecode(step.path, reason));
            return false;
        }
    }
    return true;
}
