#include "export/encode_ahead.h"

#include <cstring>
#include <new>
#include <system_error>

SaveAllFailure SaveAllFailureOf(JpegEncodeError error) {
    switch (error) {
    case JpegEncodeError::kOutputFull: return SaveAllFailure::kDoesNotFit;
    case JpegEncodeError::kBadPicture: return SaveAllFailure::kBadPicture;
    case JpegEncodeError::kOutOfMemory: return SaveAllFailure::kOutOfMemory;
    case JpegEncodeError::kNone: break;
    }
    return SaveAllFailure::kNone;
}

EncodingAhead::~EncodingAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (thread_.joinable()) thread_.join();
}

bool EncodingAhead::Start() {
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

SaveAllFailure EncodingAhead::Stream(int i, const uint8_t*& bytes, size_t& length) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return encoded_ > i; });
    if (i > 0) std::vector<uint8_t>().swap(streams_[i - 1]); // written by now
    bytes = streams_[i].data();
    length = streams_[i].size();
    return failures_[i];
}

void EncodingAhead::Run() {
    const int count = static_cast<int>(streams_.size());
    for (int i = 0; i < count; ++i) {
        SaveAllFailure failure = SaveAllFailure::kNone;
        std::memset(block_, 0, kJpegOutputBlockSize);
        size_t length = 0;
        JpegEncodeError error = JpegEncodeError::kNone;
        std::vector<uint8_t> stream;
        if (!EncodeJpeg(*pictures_[i], block_, kJpegOutputBlockSize, length, &error)) {
            failure = SaveAllFailureOf(error);
        } else {
            try {
                stream.assign(block_, block_ + length);
            } catch (const std::bad_alloc&) {
                failure = SaveAllFailure::kOutOfMemory;
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        streams_[i].swap(stream);
        failures_[i] = failure;
        encoded_ = i + 1;
        ready_.notify_one();
        // After a failure the export stops there; no picture after it is asked for.
        if (failure != SaveAllFailure::kNone || stop_) return;
    }
}
