#include "codecs/decode_failure.h"

namespace {
thread_local const char* g_reason = "";
}

int DecodeFail(const char* reason) {
    g_reason = reason ? reason : "";
    return 0;
}

const char* LastDecodeFailure() {
    return g_reason;
}

void ClearDecodeFailure() {
    g_reason = "";
}
