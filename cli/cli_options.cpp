#include "cli/cli_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cctype>
#include <cstdint>
#include <string>

#include "codecs/load_picture.h"
#include "tools/blend.h"
#include "tools/image_processing.h"

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
    {"edit", 2, 2, "IN OUT.jpg|OUT.bmp"}, {"export", 2, -1, "OUTDIR IN..."},
    {"encode", 2, 2, "IN.bmp OUT.jpg"},   {"help", 0, 1, "[COMMAND]"},
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
    {"--crop", kFitOptions, Takes::kValue},
    {"--focus", kFitOptions, Takes::kValue},
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
    {"--skip-bad", kExportOptions, Takes::kNothing},
    {"--strict", 0, Takes::kNothing},
    {"--quiet", 0, Takes::kNothing},
    {"--verbose", 0, Takes::kNothing},
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

// --crop X,Y,W,H: each a whole number of pixels or a share of the side with
// up to two decimals and a per cent sign. What is outside every picture (a
// share beyond 100 %, an empty part) is refused here, the rest once the
// picture's size is known.
bool ParseCrop(const std::string& text, RegionRequest& crop, std::string& error) {
    const std::string what = "--crop takes X,Y,W,H in pixels or per cent (W and H above 0, "
                             "X + W and Y + H at most 100%), not '" +
                             text + "'";
    crop = RegionRequest{};
    crop.asked = true;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos)) {
            error = what;
            return false;
        }
        std::string part = text.substr(start, i < 3 ? comma - start : std::string::npos);
        start = comma + 1;
        const bool share = !part.empty() && part.back() == '%';
        if (share) part.pop_back();
        // Digits, and for a share a point with one or two more.
        const size_t point = part.find('.');
        const std::string whole = part.substr(0, point);
        const std::string decimals = point == std::string::npos ? "" : part.substr(point + 1);
        bool digits = !whole.empty() && whole.size() <= 10 && decimals.size() <= 2 &&
                      (point == std::string::npos || (share && !decimals.empty()));
        for (char c : whole + decimals)
            digits = digits && std::isdigit(static_cast<unsigned char>(c));
        if (!digits) {
            error = what;
            return false;
        }
        int64_t v = std::stoll(whole);
        if (share) v = v * 100 + (decimals.empty() ? 0 : std::stoll((decimals + "0").substr(0, 2)));
        crop.value[i] = v;
        crop.percent[i] = share;
    }
    for (int axis = 0; axis < 2; ++axis) {
        const int64_t at = crop.value[axis], size = crop.value[axis + 2];
        const bool atShare = crop.percent[axis], sizeShare = crop.percent[axis + 2];
        const bool beyond = (atShare && at > 10000) || (sizeShare && size > 10000) ||
                            (atShare && sizeShare && at + size > 10000) || size == 0;
        if (beyond) {
            error = what;
            return false;
        }
    }
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

std::string UnknownCommand(const std::string& name) {
    std::vector<std::string> names;
    for (const CommandShape& c : kCommands)
        names.push_back(c.name);
    const std::string close = ClosestWord(name, names);
    return "unknown command " + name + (close.empty() ? "" : "; did you mean " + close + "?");
}

std::string UnknownOption(const std::string& name) {
    std::vector<std::string> names;
    for (const OptionSpec& o : kOptions)
        names.push_back(o.name);
    const std::string close = ClosestWord(name, names);
    return "unknown option " + name + (close.empty() ? "" : "; did you mean " + close + "?");
}

// The kinds of picture each command writes, by its output's name ("-":
// standard output, which takes the command's first kind).
bool OutputNameFits(const std::string& command, const std::string& out, std::string& error) {
    if (IsStandardStream(out)) return true;
    const PictureKind kind = PictureKindOf(out.c_str());
    if (command == "edit") {
        if (kind == PictureKind::kBmp || kind == PictureKind::kJpeg) return true;
        error = "edit writes OUT.jpg (the frame's JPEG) or OUT.bmp, not " + out;
        return false;
    }
    if (command == "encode") {
        if (kind == PictureKind::kJpeg) return true;
        error = "encode writes OUT.jpg, not " + out;
        return false;
    }
    if (kind == PictureKind::kBmp) return true;
    error = command + " writes a BMP picture: OUT.bmp, not " + out;
    return false;
}

// "-" for standard input once, and only for the pictures being worked on;
// OUTDIR is a folder.
bool StandardStreamsFit(const CliArgs& a, std::string& error) {
    const bool exporting = a.command == "export";
    if (exporting && IsStandardStream(a.operands[0])) {
        error = "export writes into a folder, not to standard output";
        return false;
    }
    const size_t first = exporting ? 1 : 0, end = exporting ? a.operands.size() : 1;
    int stdins = 0;
    for (size_t i = first; i < end; ++i)
        stdins += IsStandardStream(a.operands[i]) ? 1 : 0;
    if (stdins > 1) {
        error = "standard input (-) can be one input only";
        return false;
    }
    for (const EditStep& step : a.edits)
        if ((step.kind == EditKind::kBlend || step.kind == EditKind::kFrame) &&
            IsStandardStream(step.path)) {
            error = std::string(step.kind == EditKind::kBlend ? "--blend" : "--frame") +
                    " takes a file, not standard input";
            return false;
        }
    return true;
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
        if (arg == "-v") arg = "--verbose";
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
            error = UnknownOption(arg);
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
        } else if (arg == "--verbose") {
            a.verbose = true;
        } else if (arg == "--strict") {
            a.strict = true;
        } else if (arg == "--skip-bad") {
            a.skipBad = true;
        } else if (arg == "--fit") {
            if (!FitModeOfWord(value, a.fit.mode)) {
                error = "--fit takes " + FitModeWordList() + ", not '" + value + "'";
                return false;
            }
        } else if (arg == "--crop") {
            if (!ParseCrop(value, a.fit.region, error)) return false;
            a.crop = value;
        } else if (arg == "--focus") {
            if (!FitFocusOfWord(value, a.fit.focus)) {
                error = "--focus takes centre or subject, not '" + value + "'";
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
    if (a.command == "help") {
        a.help = true;
        a.command = a.operands.empty() ? "" : a.operands[0];
        if (a.operands.size() > 1) {
            error = "help takes one command";
            return false;
        }
    }
    if (a.command == "help") a.command.clear(); // help help: the overview
    if (a.help && !a.command.empty() && !FindCommand(a.command)) {
        error = UnknownCommand(a.command);
        return false;
    }
    if (a.help || a.version) return true;
    if (!blend.Finish(error) || !frame.Finish(error)) return false;
    if (a.command.empty()) {
        error = "no command given";
        return false;
    }
    const CommandShape* c = FindCommand(a.command);
    if (!c) {
        error = UnknownCommand(a.command);
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
    // Only a fill has a square to place; a crop places it itself.
    if (a.fit.focus == FitFocus::kSubject && a.fit.mode != FitMode::kFill) {
        error = "--focus subject goes with --fit fill";
        return false;
    }
    if (a.fit.focus == FitFocus::kSubject && a.fit.region.asked) {
        error = "--crop and --focus subject both choose the part; give one of them";
        return false;
    }
    const int n = static_cast<int>(a.operands.size());
    if (n < c->minOperands || (c->maxOperands >= 0 && n > c->maxOperands)) {
        error = a.command + " takes " + c->operands;
        return false;
    }
    if (a.command != "export" && !OutputNameFits(a.command, a.operands[1], error)) return false;
    return StandardStreamsFit(a, error);
}

std::string ClosestWord(const std::string& word, const std::vector<std::string>& candidates) {
    // Levenshtein distance, one row at a time.
    auto distance = [](const std::string& x, const std::string& y) {
        std::vector<size_t> row(y.size() + 1);
        for (size_t j = 0; j <= y.size(); ++j)
            row[j] = j;
        for (size_t i = 1; i <= x.size(); ++i) {
            size_t diagonal = row[0];
            row[0] = i;
            for (size_t j = 1; j <= y.size(); ++j) {
                const size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                                   diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
                diagonal = above;
            }
        }
        return row[y.size()];
    };
    const size_t allowed = word.size() >= 6 ? 2 : 1;
    std::string best;
    size_t bestDistance = allowed + 1;
    for (const std::string& c : candidates) {
        const size_t d = distance(word, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}
