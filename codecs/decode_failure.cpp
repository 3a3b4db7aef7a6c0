#include "codecs/decode_failure.h"

#include <cstdio>

#include "picture/limits.h"

namespace {
thread_local const char* g_reason = "";
// A reason that names the file: the name (at most a path's length) and a few words.
thread_local char g_about[kPathBytes + 96];
} // namespace

int DecodeFail(const char* reason) {
    g_reason = reason ? reason : "";
    return 0;
}

int DecodeFailAbout(const char* path, const char* words) {
    std::snprintf(g_about, sizeof g_about, "%s %s", FileNameOf(path), words ? words : "");
    g_reason = g_about;
    return 0;
}

const char* LastDecodeFailure() {
    return g_reason;
}

void ClearDecodeFailure() {
    g_reason = "";
}

const char* FileNameOf(const char* path) {
    const char* name = path ? path : "";
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}
