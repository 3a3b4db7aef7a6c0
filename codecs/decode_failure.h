// Every decoder failure carries a short reason. The reason is thread-local:
// the dialog thread and the thumbnail thread both decode.
#pragma once

// Records `reason` (a string literal) as the last failure of this thread and
// returns 0, so a decoder can write `return DecodeFail("...");`.
int DecodeFail(const char* reason);
// The last recorded reason of this thread, or "" when none.
const char* LastDecodeFailure();
void ClearDecodeFailure();
