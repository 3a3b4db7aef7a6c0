#include "codecs/jpeg_decoder.h"

#include "codecs/decode_failure.h"

const size_t kJpegDecoderBytes = sizeof(JpegDecoder);

int DecodeJpegFile(LoadBuffers&, JpegDecoder&, const char*) {
    return DecodeFail("no decoder for this format yet");
}
