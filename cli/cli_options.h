// pixmora-cli's command line: one command, its operands and options in any
// order ("--" ends the options), the edit options kept in the order given.
#pragma once

#include <string>
#include <vector>

#include "fit/fit_options.h"
#include "tools/tool_frame.h"

// One step of the editing tools, as a press in a tool dialog would make it.
enum class EditKind {
    kRotateLeft,
    kRotateRight,
    kMirror,
    kFlip,
    kNegative,
    kGrey,
    kSepia,
    kBrightness, // value: levels added (-200..200)
    kContrast,   // value: -100..100
    kZoom,       // value: -60..60
    kBlend,      // path: the background; value: its share in per cent
    kFrame,      // path: the frame picture; window: the photo's place in it
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
    // Of every loaded picture: inputs, backgrounds, frame pictures; but
    // fit.region (--crop) is a part of the inputs only.
    FitOptions fit;
    std::string crop; // --crop as given, for messages
    bool quiet = false;
    bool verbose = false;
    bool strict = false;  // a damaged picture is an error, not a warning
    bool skipBad = false; // export leaves out inputs that cannot be read
    bool clean = false;
    bool force = false; // replace or delete the user's own numbered files in OUTDIR
    bool noLimit = false;
    int jobs = 0; // 0: the default (one per processor, as memory allows)
    bool help = false;
    bool version = false;
};

// Parses argv[1 ..]. On a usage error returns false with `error` naming the
// problem (unknown option, with the closest real one; missing value; value
// out of its range; operands; an output name that is no kind the command
// writes). `help [COMMAND]` and `--help` set args.help (args.command: the
// command asked about, "" for all).
bool ParseCommandLine(int argc, char** argv, CliArgs& args, std::string& error);

// True for "-": standard input as an input, standard output as an output.
inline bool IsStandardStream(const std::string& operand) {
    return operand == "-";
}

// Of `candidates`, the one closest to `word` when it is a likely slip of the
// keyboard (at most 1 edit for short words, 2 from 6 characters); "" if none.
std::string ClosestWord(const std::string& word, const std::vector<std::string>& candidates);
