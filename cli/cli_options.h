// pixmora-cli's command line: one command, its operands and options in any
// order ("--" ends the options), the edit options kept in the order given.
#pragma once

#include <string>
#include <vector>

#include "fit/fit_options.h"
#include "tools/tool_frame.h"

// One press (or track bar setting plus its small OK) of a tool dialog.
enum class EditKind {
    kRotateLeft,
    kRotateRight,
    kMirror,
    kFlip,
    kNegative,
    kGrey,
    kSepia,
    kBrightness, // value: the brightness track bar's position
    kContrast,   // value: the contrast track bar's position
    kZoom,       // value: the zoom track bar's position
    kBlend,      // path: the background; value: the blending track bar's position
    kFrame,      // path: the frame picture; window: the mark in its coordinates
};

struct EditStep {
    EditKind kind = EditKind::kMirror;
    int value = 0;
    std::string path;
    ToolRect window; // kFrame: left, top, right, bottom in frame-picture pixels
};

struct CliArgs {
    std::string command;
    std::vector<std::string> operands;
    std::vector<EditStep> edits;
    FitOptions fit; // of every loaded picture: inputs, backgrounds, frame pictures
    bool quiet = false;
    bool clean = false;
    bool force = false; // replace or delete the user's own numbered files in OUTDIR
    bool noLimit = false;
    int jobs = 0; // 0: one per processor
    bool help = false;
    bool version = false;
};

// Parses argv[1 ..]. On a usage error returns false with `error` naming the
// problem (unknown option, missing value, value out of its range, operands).
bool ParseCommandLine(int argc, char** argv, CliArgs& args, std::string& error);

// The full usage text of every command and option.
extern const char kUsageText[];
