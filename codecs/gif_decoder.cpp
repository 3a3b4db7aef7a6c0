#include "codecs/gif_decoder.h"

#include "codecs/decode_failure.h"

const size_t kGifStateBytes = sizeof(GifState);

int DecodeGifFile(LoadBuffers&, GifState&, const char*) {
    return DecodeFail("no decoder for this format yet");
}
