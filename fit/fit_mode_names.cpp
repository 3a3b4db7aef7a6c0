#include "fit/fit_options.h"

const char* FitModeWord(FitMode mode) {
    for (const FitModeName& n : kFitModeNames)
        if (n.mode == mode) return n.word;
    return kFitModeNames[0].word;
}

bool FitModeOfWord(const std::string& word, FitMode& mode) {
    for (const FitModeName& n : kFitModeNames)
        if (word == n.word) {
            mode = n.mode;
            return true;
        }
    return false;
}

std::string FitModeWordList() {
    std::string list;
    const size_t count = sizeof kFitModeNames / sizeof kFitModeNames[0];
    for (size_t i = 0; i < count; ++i) {
        if (i) list += i + 1 == count ? " or " : ", ";
        list += kFitModeNames[i].word;
    }
    return list;
}

const char* FitFocusWord(FitFocus focus) {
    return kFitFocusWords[focus == FitFocus::kSubject ? 1 : 0];
}

bool FitFocusOfWord(const std::string& word, FitFocus& focus) {
    for (FitFocus f : {FitFocus::kCentre, FitFocus::kSubject})
        if (word == FitFocusWord(f)) {
            focus = f;
            return true;
        }
    return false;
}
