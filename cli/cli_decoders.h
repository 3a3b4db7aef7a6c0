// What every pixmora-cli command shares: exit codes, the decoders' buffers,
// decoding an input with a reason on failure, and fitting it into a frame.
#pragma once

#include <string>

#include "cli/cli_edits.h"
#include "cli/cli_options.h"
#include "codecs/load_buffers.h"
#include "codecs/picture_decoders.h"
#include "picture/frame_image.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The buffers and work records of the decoders, zero-filled like the
// program's own. The decoders keep all their state in these, so each thread
// that decodes owns one.
class CliDecoders {
  public:
    CliDecoders();
    ~CliDecoders();
    CliDecoders(const CliDecoders&) = delete;
    CliDecoders& operator=(const CliDecoders&) = delete;
    bool ok() const;
    LoadBuffers& buffers() { return owned_.buffers; }
    DecoderSet set;

  private:
    OwnedLoadBuffers owned_;
    void* gif_;
    void* jpeg_;
};

// Decodes `path` by its extension. nullptr on success, else the reason
// ("unknown picture type", "cannot open the file", ...).
const char* DecodeFailureOf(CliDecoders& d, const char* path);
// Decodes `path` by its extension; on failure prints
// "pixmora-cli: cannot decode PATH: REASON" and returns false.
bool DecodeInput(CliDecoders& d, const char* path);
// Decodes `path` and fits it into a frame picture as the program fits a
// clicked picture with the choices `fit`; nullptr on success, else the
// reason. `report` (optional) gets the parts; a region outside the picture
// is reported there (report->regionOutside) as well as failing.
const char* LoadFramed(CliDecoders& d, const FitOptions& fit, const char* path, FrameImage& picture,
                       FitReport* report = nullptr);
// "--crop TEXT is not inside PATH (W x H upright pixels)": the usage error
// of a region outside a picture.
std::string CropOutsideMessage(const CliArgs& args, const char* path, const FitReport& report);
// "PATH: part X,Y,W,H of W x H upright pixels": what -v prints of an input.
std::string PartMessage(const char* path, const FitReport& report);

// Loads the background and frame pictures of the edit options, fitted as the
// tools load them. On failure prints the file and the reason, returns false.
bool LoadEditPictures(CliDecoders& d, const CliArgs& args, EditPictures& pictures);

// "pixmora-cli: " + message on standard error.
void Complain(const std::string& message);
