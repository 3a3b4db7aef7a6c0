// What every pixmora-cli command shares: exit codes, the decoders' buffers,
// loading a picture with the reason when it cannot be had and a note when it
// is damaged, and writing an output with the system's reason on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/cli_edits.h"
#include "cli/cli_options.h"
#include "codecs/load_buffers.h"
#include "codecs/picture_decoders.h"
#include "fit/fit_options.h"
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
    // Clears the pixels of the last picture decoded, before a reader that
    // leaves rows it does not reach as they were (GIF): a cut-off picture
    // then shows nothing of the one before it.
    void ForgetLastPicture();
    DecoderSet set;

  private:
    OwnedLoadBuffers owned_;
    void* gif_;
    void* jpeg_;
};

// What loading one picture gave.
struct LoadedPicture {
    bool ok = false;     // there is a picture (perhaps a damaged one)
    std::string problem; // why there is none: "cannot read NAME: REASON", "cannot decode ..."
    std::string damage;  // what a damaged picture lacks; "" for a whole one
    FitReport report;    // what the fit made of it (LoadFramed)
    bool usage = false;  // the problem is the command line's: --crop is not inside the picture
};

// Decodes the input `path` (named `name` in messages) and fits it into
// `picture` as the program fits a clicked picture with the same choices,
// --crop's part included. The file is looked at first: one that is not a
// regular file is never opened.
LoadedPicture LoadFramed(CliDecoders& d, const CliArgs& args, const std::string& path,
                         const std::string& name, FrameImage& picture);
// Decodes `path` whole into the raster, as it is (no fit).
LoadedPicture DecodeWhole(CliDecoders& d, const std::string& path, const std::string& name);

// With --strict a damaged picture is a problem: moves the damage there.
void ApplyStrict(const CliArgs& args, const std::string& name, LoadedPicture& loaded);

// "NAME: read 4000 x 3000, turned upright (Exif orientation 6) to 3000 x 4000;
// fill: its square of 3000 x 3000 at 0,500 to the 128 x 128 frame" (-v):
// with --crop the part it took, with --focus subject that the square is
// around the subject.
std::string DescribeLoad(const std::string& name, const LoadedPicture& loaded,
                         const FitOptions& fit);

// Loads the background and frame pictures of the edit options, fitted as the
// tools load them. On failure prints each file and its reason, returns false;
// a damaged one is warned about (an error with --strict).
bool LoadEditPictures(CliDecoders& d, const CliArgs& args, EditPictures& pictures);

// Writes `bytes` as the file `path`, or to standard output for "-". "" when
// done; otherwise what failed with the system's reason ("cannot create
// OUT.bmp: Permission denied"), and no part of the file is left behind.
std::string WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes);
// The same for a file in parts, written one behind the other (a picture's
// headers and its rows where they are).
struct OutputPart {
    const uint8_t* bytes;
    size_t size;
};
std::string WriteOutput(const std::string& path, std::initializer_list<OutputPart> parts);

// "pixmora-cli: " + message on standard error.
void Complain(const std::string& message);
// "pixmora-cli: warning: " + message on standard error.
void Warn(const std::string& message);
