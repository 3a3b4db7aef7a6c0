#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <cctype>
#include <string>

#include "tools/blend.h"
#include "tools/image_processing.h"

const char kUsageText[] =
    "usage: pixmora-cli COMMAND [OPTIONS] OPERANDS   (options may also follow the operands)\n"
    "\n"
    "commands:\n"
    "  decode IN OUT.bmp      decode a BMP/GIF/JPG picture, write it at its own size\n"
    "  frame IN OUT.bmp       fit a picture into the 128 x 128 frame picture\n"
    "  edit IN OUT.bmp        fit a picture, apply the edit options, write the frame picture\n"
    "  export OUTDIR IN...    fit and edit every input, write the set OUTDIR/0.jpg, 1.jpg, ...;\n"
    "                         an IN may be a folder: its BMP, GIF and JPG files in name order\n"
    "  encode IN.bmp OUT.jpg  encode a 128 x 128 24-bit BMP as the frame's JPEG\n"
    "\n"
    "fitting (frame, edit, export; also for --blend and --frame pictures):\n"
    "  --fit stretch|fill|inside  stretch to the frame (default), fill it cutting the edges,\n"
    "                             or fit inside it with black bars\n"
    "  --smooth               smooth scaling (default: one source pixel per frame pixel)\n"
    "  --no-upright           keep photos as stored (default: turned by their Exif orientation)\n"
    "\n"
    "edit options (edit, export), applied after the fit in the order given, as in the tools:\n"
    "  --rotate left|right    Rotate: a quarter turn\n"
    "  --mirror, --flip       Rotate: left and right, or top and bottom change places\n"
    "  --negative, --grey, --sepia   Image Processing: the effect buttons\n"
    "  --brightness N         Image Processing: brightness track bar at N (-200..200), taken\n"
    "  --contrast N           Image Processing: contrast track bar at N (-100..100), taken\n"
    "  --zoom N               Image Processing: zoom track bar at N (-60..60), taken\n"
    "  --blend FILE --blend-percent N   Alpha Blending with background FILE, N (0..100) per\n"
    "                         cent of it\n"
    "  --frame FILE --frame-window X,Y,W,H   Digital Frame: FILE as the frame picture, the\n"
    "                         photo in its window at X,Y (1..125) of W x H (1..127) pixels,\n"
    "                         cut and rounded as the dialog does a mark\n"
    "\n"
    "export options:\n"
    "  --jobs N               pictures worked on at once (1..64; default: one per processor)\n"
    "  --clean                delete older numbered pictures beyond the new set\n"
    "  --force                also replace (or, with --clean, delete) numbered files in OUTDIR\n"
    "                         that are not 128 x 128 pictures (without it export refuses)\n"
    "  --no-limit             allow more than 384 pictures (the frame's album holds 384)\n"
    "\n"
    "  -q, --quiet            no progress on standard error\n"
    "  -h, --help             this text\n"
    "  --version              the version\n"
    "  --                     the rest are operands\n"
    "\n"
    "exit codes: 0 done, 1 a picture could not be read or written (reason on standard\n"
    "error; export then writes nothing), 2 a usage error.\n";

namespace {

// The commands and their operand counts (maximum -1: no limit).
struct CommandShape {
    const char* name;
    int minOperands;
    int maxOperands;
    const char* operands; // as the usage text writes them
};

const CommandShape kCommands[] = {
    {"decode", 2, 2, "IN OUT.bmp"},     {"frame", 2, 2, "IN OUT.bmp"},
    {"edit", 2, 2, "IN OUT.bmp"},       {"export", 2, -1, "OUTDIR IN..."},
    {"encode", 2, 2, "IN.bmp OUT.jpg"},
};

enum class Takes { kNothing, kValue };

// Which options a command takes.
enum OptionGroup : unsigned {
    kFitOptions = 1,
    kToolOptions = 2,
    kExportOptions = 4,
};

struct OptionSpec {
    const char* name;
    unsigned group; // 0: every command
    Takes takes;
};

const OptionSpec kOptions[] = {
    {"--fit", kFitOptions, Takes::kValue},
    {"--smooth", kFitOptions, Takes::kNothing},
    {"--no-upright", kFitOptions, Takes::kNothing},
    {"--rotate", kToolOptions, Takes::kValue},
    {"--mirror", kToolOptions, Takes::kNothing},
    {"--flip", kToolOptions, Takes::kNothing},
    {"--negative", kToolOptions, Takes::kNothing},
    {"--grey", kToolOptions, Takes::kNothing},
    {"--sepia", kToolOptions, Takes::kNothing},
    {"--brightness", kToolOptions, Takes::kValue},
    {"--contrast", kToolOptions, Takes::kValue},
    {"--zoom", kToolOptions, Takes::kValue},
    {"--blend", kToolOptions, Takes::kValue},
    {"--blend-percent", kToolOptions, Takes::kValue},
    {"--frame", kToolOptions, Takes::kValue},
    {"--frame-window", kToolOptions, Takes::kValue},
    {"--jobs", kExportOptions, Takes::kValue},
    {"--clean", kExportOptions, Takes::kNothing},
    {"--force", kExportOptions, Takes::kNothing},
    {"--no-limit", kExportOptions, Takes::kNothing},
    {"--quiet", 0, Takes::kNothing},
    {"--help", 0, Takes::kNothing},
    {"--version", 0, Takes::kNothing},
};

const OptionSpec* FindOption(const std::string& name) {
    for (const OptionSpec& o : kOptions)
        if (name == o.name) return &o;
    return nullptr;
}

// A whole decimal number with an optional sign, nothing else.
bool ParseInteger(const std::string& text, long& value) {
    if (text.empty()) return false;
    const char* s = text.c_str();
    if (!(std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '-' || s[0] == '+'))
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtol(s, &end, 10);
    return end != s && *end == 0 && errno == 0;
}

std::string RangeText(long lo, long hi) {
    return "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

bool NumberIn(const std::string& option, const std::string& text, long lo, long hi, int& out,
              std::string& error) {
    long v = 0;
    if (!ParseInteger(text, v) || v < lo || v > hi) {
        error = option + " takes " + RangeText(lo, hi) + ", not '" + text + "'";
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

bool NumberIn(const std::string& option, const std::string& text, TrackBarRange range, int& out,
              std::string& error) {
    return NumberIn(option, text, range.minimum, range.maximum, out, error);
}

// X,Y,W,H: the press point of the mark and its size. The press must land
// strictly inside the frame picture with room for a mark (1..125); the size
// is what the release adds to it (the mark is then cut 2 pixels before the
// far edges, as the dialog cuts it).
bool ParseWindow(const std::string& text, ToolRect& window, std::string& error) {
    const char* kWhat = "--frame-window takes X,Y,W,H with X and Y from 1 to 125 and W and H "
                        "from 1 to 127";
    long v[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos)) {
            error = std::string(kWhat) + ", not '" + text + "'";
            return false;
        }
        std::string part = text.substr(start, i < 3 ? comma - start : std::string::npos);
        const long hi = i < 2 ? 125 : 127;
        if (!ParseInteger(part, v[i]) || v[i] < 1 || v[i] > hi) {
            error = std::string(kWhat) + ", not '" + text + "'";
            return false;
        }
        start = comma + 1;
    }
    window = ToolRect{static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]),
                      static_cast<int32_t>(v[0] + v[2]), static_cast<int32_t>(v[1] + v[3])};
    return true;
}

// The value option that pairs with a --blend or --frame step: given after
// its step (or, once, before the first such step).
struct Pairing {
    Pairing(const char* step, const char* value, EditKind k)
        : stepOption(step), valueOption(value), kind(k) {}
    const char* stepOption;  // "--blend"
    const char* valueOption; // "--blend-percent"
    EditKind kind;
    int lastStep = -1; // index in edits of the latest step of this kind
    bool lastHasValue = false;
    bool early = false; // a value came before any step
    EditStep earlyValue;

    bool StepSeen(CliArgs& a, std::string& error) {
        if (lastStep >= 0 && !lastHasValue) return Missing(error);
        lastStep = static_cast<int>(a.edits.size()) - 1;
        lastHasValue = false;
        if (early) {
            Give(a.edits.back(), earlyValue);
            early = false;
            lastHasValue = true;
        }
        return true;
    }
    bool ValueSeen(CliArgs& a, const EditStep& value, std::string& error) {
        if (lastStep < 0) {
            if (early) return Twice(error);
            early = true;
            earlyValue = value;
            return true;
        }
        if (lastHasValue) return Twice(error);
        Give(a.edits[static_cast<size_t>(lastStep)], value);
        lastHasValue = true;
        return true;
    }
    bool Finish(std::string& error) {
        if (early) {
            error = std::string(valueOption) + " without " + stepOption;
            return false;
        }
        if (lastStep >= 0 && !lastHasValue) return Missing(error);
        return true;
    }
    void Give(EditStep& step, const EditStep& value) {
        if (kind == EditKind::kBlend)
            step.value = value.value;
        else
            step.window = value.window;
    }
    bool Missing(std::string& error) {
        error = std::string("each ") + stepOption + " needs its " + valueOption;
        return false;
    }
    bool Twice(std::string& error) {
        error = std::string(valueOption) + " given twice for one " + stepOption;
        return false;
    }
};

const CommandShape* FindCommand(const std::string& name) {
    for (const CommandShape& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

unsigned OptionGroupsOf(const std::string& command) {
    if (command == "frame") return kFitOptions;
    if (command == "edit") return kFitOptions | kToolOptions;
    if (command == "export") return kFitOptions | kToolOptions | kExportOptions;
    return 0;
}

} // namespace

bool ParseCommandLine(int argc, char** argv, CliArgs& a, std::string& error) {
    a = CliArgs{};
    Pairing blend{"--blend", "--blend-percent", EditKind::kBlend};
    Pairing frame{"--frame", "--frame-window", EditKind::kFrame};
    // Options are checked against the command once it is known; remember them.
    std::vector<std::string> seen;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (a.command.empty())
                a.command = arg;
            else
                a.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-q") arg = "--quiet";
        if (arg == "-h") arg = "--help";
        std::string value;
        bool inlineValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        const OptionSpec* o = FindOption(arg);
        if (!o) {
            error = "unknown option " + arg;
            return false;
        }
        if (o->takes == Takes::kValue && !inlineValue) {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (o->takes == Takes::kNothing && inlineValue) {
            error = "option " + arg + " takes no value";
            return false;
        }
        seen.push_back(arg);

        EditStep step;
        if (arg == "--help") {
            a.help = true;
        } else if (arg == "--version") {
            a.version = true;
        } else if (arg == "--quiet") {
            a.quiet = true;
        } else if (arg == "--fit") {
            if (!FitModeOfWord(value, a.fit.mode)) {
                error = "--fit takes " + FitModeWordList() + ", not '" + value + "'";
                return false;
            }
        } else if (arg == "--smooth") {
            a.fit.smooth = true;
        } else if (arg == "--no-upright") {
            a.fit.upright = false;
        } else if (arg == "--rotate") {
            if (value != "left" && value != "right") {
                error = "--rotate takes left or right, not '" + value + "'";
                return false;
            }
            step.kind = value == "left" ? EditKind::kRotateLeft : EditKind::kRotateRight;
            a.edits.push_back(step);
        } else if (arg == "--mirror" || arg == "--flip" || arg == "--negative" || arg == "--grey" ||
                   arg == "--sepia") {
            step.kind = arg == "--mirror"     ? EditKind::kMirror
                        : arg == "--flip"     ? EditKind::kFlip
                        : arg == "--negative" ? EditKind::kNegative
                        : arg == "--grey"     ? EditKind::kGrey
                                              : EditKind::kSepia;
            a.edits.push_back(step);
        } else if (arg == "--brightness" || arg == "--contrast" || arg == "--zoom") {
            const TrackBarRange range = arg == "--brightness" ? kBrightnessTrackBar
                                        : arg == "--contrast" ? kContrastTrackBar
                                                              : kZoomTrackBar;
            step.kind = arg == "--brightness" ? EditKind::kBrightness
                        : arg == "--contrast" ? EditKind::kContrast
                                              : EditKind::kZoom;
            if (!NumberIn(arg, value, range, step.value, error)) return false;
            a.edits.push_back(step);
        } else if (arg == "--blend" || arg == "--frame") {
            if (value.empty()) {
                error = "option " + arg + " needs a file name";
                return false;
            }
            step.kind = arg == "--blend" ? EditKind::kBlend : EditKind::kFrame;
            step.path = value;
            a.edits.push_back(step);
            if (!(arg == "--blend" ? blend : frame).StepSeen(a, error)) return false;
        } else if (arg == "--blend-percent") {
            if (!NumberIn(arg, value, kBlendTrackBar, step.value, error)) return false;
            if (!blend.ValueSeen(a, step, error)) return false;
        } else if (arg == "--frame-window") {
            if (!ParseWindow(value, step.window, error)) return false;
            if (!frame.ValueSeen(a, step, error)) return false;
        } else if (arg == "--jobs") {
            if (!NumberIn(arg, value, 1, 64, a.jobs, error)) return false;
        } else if (arg == "--clean") {
            a.clean = true;
        } else if (arg == "--force") {
            a.force = true;
        } else if (arg == "--no-limit") {
            a.noLimit = true;
        }
    }
    if (a.help || a.version) return true;
    if (!blend.Finish(error) || !frame.Finish(error)) return false;
    if (a.command.empty()) {
        error = "no command given";
        return false;
    }
    const CommandShape* c = FindCommand(a.command);
    if (!c) {
        error = "unknown command " + a.command;
        return false;
    }
    const unsigned groups = OptionGroupsOf(a.command);
    for (const std::string& name : seen) {
        const OptionSpec* o = FindOption(name);
        if (o->group != 0 && !(o->group & groups)) {
            error = "option " + name + " is not one of " + a.command + "'s";
            return false;
        }
    }
    const int n = static_cast<int>(a.operands.size());
    if (n < c->minOperands || (c->maxOperands >= 0 && n > c->maxOperands)) {
        error = a.command + " takes " + c->operands;
        return false;
    }
    return true;
}
