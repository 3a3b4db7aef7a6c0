#include "codecs/decode_failure.h"

#include <cstdio>

#include "picture/limits.h"

const char kDamageLowerPartEmpty[] = "the picture data ends early; the lower part is empty";
const char kDamageUpperPartEmpty[] = "the picture data ends early; the upper part is empty";
const char kDamageRowsEmpty[] = "the picture data ends early; some rows are empty";
const char kDamageDetailMissing[] = "the picture data ends early; part of the picture lacks detail";
const char kDamageDataDamaged[] = "the picture data is damaged; parts of the picture are wrong";

namespace {
thread_local const char* g_reason = "";
thread_local const char* g_damage = "";
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
    g_damage = "";
}

void NoteDecodeDamage(const char* what) {
    g_damage = what ? what : "";
}

const char* LastDecodeDamage() {
    return g_damage;
}

void ClearDecodeDamage() {
    g_damage = "";
}

const char* FileNameOf(const char* path) {
    const char* name = path ? path : "";
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}
