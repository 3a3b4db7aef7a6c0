// Windows bitmap reader. DecodeBmpFile (picture_decoders.h) loads a file;
// DecodeBmpMemory decodes whatever the FileBuffer already holds, for the
// fuzzer and the benchmarks, which put their bytes there with LoadMemory.
#pragma once

#include "codecs/load_buffers.h"

// 1 on success, 0 on failure (reason in LastDecodeFailure()).
int DecodeBmpMemory(LoadBuffers& lb);
