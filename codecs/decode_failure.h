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
// Clears the reason and the damage note below.
void ClearDecodeFailure();

// The part of `path` after its last '/' or '\\' ("" for nullptr).
const char* FileNameOf(const char* path);
// A picture made from data that ends early or is damaged still counts as
// decoded; its reader notes what the picture lacks, in words for the user
// (a string literal: one of the notes below, or its own). Each reader clears
// the note when it starts, so it always speaks of this thread's last decode.
void NoteDecodeDamage(const char* what);
// The note of this thread's last decode, or "" when the picture is whole.
const char* LastDecodeDamage();
void ClearDecodeDamage();

// "the picture data ends early; the lower part is empty" (rows stored top
// first: JPEG, GIF, a top-down BMP)
extern const char kDamageLowerPartEmpty[];
// "...; the upper part is empty" (rows stored bottom first: most BMPs)
extern const char kDamageUpperPartEmpty[];
// "...; some rows are empty" (interlaced rows: a GIF's passes)
extern const char kDamageRowsEmpty[];
// "...; part of the picture lacks detail" (a progressive JPEG's later scans)
extern const char kDamageDetailMissing[];
// "the picture data is damaged; parts of the picture are wrong"
extern const char kDamageDataDamaged[];
