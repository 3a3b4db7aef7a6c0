// Where Save All's writer takes each picture's stream from, and the thread
// that encodes the pictures ahead of the writing (save_all.cpp's helpers).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "picture/frame_image.h"
#include "export/jpeg_encoder.h"
#include "export/save_all.h"

// Supplies picture i's stream; kNone with bytes/length set, or the reason.
struct PictureSource {
    virtual SaveAllFailure Stream(int i, const uint8_t*& bytes, size_t& length) = 0;

  protected:
    ~PictureSource() = default;
};

// The Save All failure an encoder error stands for (kNone for kNone).
SaveAllFailure SaveAllFailureOf(JpegEncodeError error);

// Encodes the pictures in list order on a thread of its own, ahead of the
// files being written: each stream is copied out of the output block and
// kept until it is written (asking for the next picture frees it).
class EncodingAhead : public PictureSource {
  public:
    EncodingAhead(const FrameImage* const* pictures, int count, uint8_t* block)
        : pictures_(pictures), block_(block), streams_(count), failures_(count) {}
    ~EncodingAhead();
    // False when no thread could be had.
    bool Start();
    SaveAllFailure Stream(int i, const uint8_t*& bytes, size_t& length) override;

  private:
    void Run();

    const FrameImage* const* pictures_;
    uint8_t* block_;
    std::vector<std::vector<uint8_t>> streams_;
    std::vector<SaveAllFailure> failures_;
    std::mutex mutex_;
    std::condition_variable ready_;
    int encoded_ = 0;
    bool stop_ = false;
    std::thread thread_;
};
