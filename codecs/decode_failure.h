// Every decoder failure carries a short reason. The reason is thread-local:
// the dialog thread and the thumbnail thread both decode.
#pragma once

// Records `reason` (a string literal) as the last failure of this thread and
// returns 0, so a decoder can write `return DecodeFail("...");`.
int DecodeFail(const char* reason);
// Records "NAME words" as the last failure, NAME being the file name of
// `path` (FileNameOf), and returns 0: a reason that is about the file itself
// ("x.jpg is a folder").
int DecodeFailAbout(const char* path, const char* words);
// The last recorded reason of this thread, or "" when none.
const char* LastDecodeFailure();
void ClearDecodeFailure();

// The part of `path` after its last '/' or '\\' ("" for nullptr).
const char* FileNameOf(const char* path);
