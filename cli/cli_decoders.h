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

// Decodes `path` by its content (DecodePicture). nullptr on success, else the
// reason ("cannot open the file", "NAME is not a BMP, GIF, JPEG or PNG picture", ...).
const char* DecodeFailureOf(CliDecoders& d, const char* path);
// "cannot decode PATH: REASON", or "PATH is a folder" for a reason that
// names the file ("NAME is a folder").
std::string CannotDecode(const std::string& path, const char* reason);
// Decodes `path` by its content; on failure prints "pixmora-cli: " and
// CannotDecode's words, and returns false.
bool DecodeInput(CliDecoders& d, const char* path);
// Decodes `path` and fits it into a frame picture as the program fits a
// clicked picture with the same choices; nullptr on success, else the reason.
const char* LoadFramed(CliDecoders& d, const CliArgs& args, const char* path, FrameImage& picture);

// Loads the background and frame pictures of the edit options, fitted as the
// tools load them. On failure prints the file and the reason, returns false.
bool LoadEditPictures(CliDecoders& d, const CliArgs& args, EditPictures& pictures);

// "pixmora-cli: " + message on standard error.
void Complain(const std::string& message);
