// Builds GIF files and LZW code streams in memory for the GIF tests and the
// GIF benchmark: a code writer that mirrors the decoder's code-width rules, a
// small LZW encoder on top of it (so a test can also emit any raw code
// sequence it likes), and a byte builder for the blocks of a file.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

namespace giftest {

using Bytes = std::vector<uint8_t>;

// Emits codes least significant bit first, at the width the decoder will
// read them with: the decoder adds one string per code (not for the first
// code after a clear) and widens its codes when the next free slot reaches
// 2^width, up to 12 bits.
class LzwEncoder {
  public:
    explicit LzwEncoder(int minimumCodeSize, bool clearWhenFull = true)
        : s_(minimumCodeSize), clearWhenFull_(clearWhenFull) {
        Reset();
    }

    int ClearCode() const { return 1 << s_; }
    int EndCode() const { return (1 << s_) + 1; }
    int FirstFree() const { return (1 << s_) + 2; }
    // The decoder's view after the codes so far.
    int Width() const { return width_; }
    int DecoderNextSlot() const { return decNext_; }
    int EncoderNextCode() const { return encNext_; }
    int CodesEmitted() const { return codes_; }
    // The pixels a code of the encoder's table stands for.
    Bytes StringOf(int code) const {
        if (code < ClearCode()) return Bytes{static_cast<uint8_t>(code)};
        auto it = strings_.find(code);
        return it == strings_.end() ? Bytes{} : it->second;
    }

    // A raw code at the decoder's current width; the dictionary is not
    // touched (tests of bad code sequences use only raw codes).
    void Code(int code) {
        Put(code, width_);
        ++codes_;
        if (code == ClearCode()) {
            decNext_ = FirstFree();
            width_ = s_ + 1;
            limit_ = 1 << width_;
            first_ = true;
            return;
        }
        if (code == EndCode()) return;
        if (first_) {
            first_ = false;
            return;
        }
        if (decNext_ < limit_) ++decNext_;
        if (decNext_ >= limit_ && width_ < 12) {
            limit_ <<= 1;
            ++width_;
        }
    }

    void Clear() {
        Code(ClearCode());
        Reset();
    }
    void End() { Code(EndCode()); }

    // Compresses pixels, continuing the dictionary of earlier calls; the
    // last string is flushed, so each call ends on a code boundary.
    void Pixels(const Bytes& pixels) {
        int w = -1;
        for (uint8_t c : pixels) {
            if (w >= 0) {
                auto it = dict_.find(Key(w, c));
                if (it != dict_.end()) {
                    w = it->second;
                    continue;
                }
                Code(w);
                pending_ = w;
            }
            StartString(c);
            w = c;
        }
        if (w >= 0) {
            Code(w);
            pending_ = w;
        }
    }

    // The packed code bytes (not yet split into sub-blocks).
    Bytes Finish() {
        Bytes out = bytes_;
        if (nbits_ > 0) out.push_back(static_cast<uint8_t>(acc_));
        return out;
    }

  private:
    static uint32_t Key(int prefix, int c) { return static_cast<uint32_t>(prefix) << 8 | c; }

    void Reset() {
        dict_.clear();
        strings_.clear();
        encNext_ = FirstFree();
        pending_ = -1;
        if (codes_ == 0) {
            decNext_ = FirstFree();
            width_ = s_ + 1;
            limit_ = 1 << width_;
            first_ = true;
        }
    }

    // The string that the decoder completes when it sees the next code.
    void StartString(int c) {
        if (pending_ < 0) return;
        if (encNext_ < 4096) {
            Bytes str = StringOf(pending_);
            str.push_back(static_cast<uint8_t>(c));
            strings_[encNext_] = str;
            dict_[Key(pending_, c)] = encNext_++;
        }
        pending_ = -1;
        if (encNext_ == 4096 && clearWhenFull_) Clear();
    }

    void Put(int code, int width) {
        acc_ |= static_cast<uint32_t>(code) << nbits_;
        nbits_ += width;
        while (nbits_ >= 8) {
            bytes_.push_back(static_cast<uint8_t>(acc_));
            acc_ >>= 8;
            nbits_ -= 8;
        }
    }

    int s_;
    bool clearWhenFull_;
    std::unordered_map<uint32_t, int> dict_;
    std::unordered_map<int, Bytes> strings_;
    int encNext_ = 0;
    int pending_ = -1;
    int decNext_ = 0, width_ = 0, limit_ = 0;
    bool first_ = true;
    int codes_ = 0;
    Bytes bytes_;
    uint32_t acc_ = 0;
    int nbits_ = 0;
};

// Splits data into sub-blocks of at most `blockSize` bytes and adds the
// terminator (unless `terminate` is false).
inline Bytes SubBlocks(const Bytes& data, int blockSize = 255, bool terminate = true) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += blockSize) {
        size_t n = std::min(data.size() - i, static_cast<size_t>(blockSize));
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + i, data.begin() + i + n);
    }
    if (terminate) out.push_back(0);
    return out;
}

// Minimum code size byte + sub-blocks: an image's whole data part.
inline Bytes ImageData(int minimumCodeSize, const Bytes& codeBytes, int blockSize = 255) {
    Bytes out{static_cast<uint8_t>(minimumCodeSize)};
    Bytes blocks = SubBlocks(codeBytes, blockSize);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

// A plain encoding: clear, the pixels, end.
inline Bytes EncodePixels(const Bytes& pixels, int minimumCodeSize, bool clearWhenFull = true) {
    LzwEncoder e(minimumCodeSize, clearWhenFull);
    e.Clear();
    e.Pixels(pixels);
    e.End();
    return e.Finish();
}

// The smallest minimum code size that holds every pixel value.
inline int MinimumCodeSizeFor(const Bytes& pixels) {
    int top = 0;
    for (uint8_t p : pixels)
        top = std::max<int>(top, p);
    int s = 2;
    while ((1 << s) <= top)
        ++s;
    return s;
}

// A distinct colour for each table index, so palette mistakes show.
inline Bytes ColourTable(int count) {
    Bytes t;
    for (int i = 0; i < count; ++i) {
        t.push_back(static_cast<uint8_t>(i * 7 + 1));
        t.push_back(static_cast<uint8_t>(255 - i * 3));
        t.push_back(static_cast<uint8_t>(i * 13 + 5));
    }
    return t;
}

// log2(count) - 1, the size field of the colour table flags.
inline int TableSizeField(int count) {
    int f = 0;
    while ((2 << f) < count)
        ++f;
    return f;
}

// Rows of an interlaced image in the order they are stored.
inline Bytes InterlaceRows(const Bytes& pixels, int width, int height) {
    Bytes out;
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p)
        for (int y = starts[p]; y < height; y += steps[p])
            out.insert(out.end(), pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
    return out;
}

// Appends the blocks of a GIF file.
class GifFile {
  public:
    // Header and logical screen descriptor; a global table of `globalColours`
    // entries when it is not 0.
    explicit GifFile(int screenWidth, int screenHeight, int globalColours = 0,
                     const char* signature = "GIF89a") {
        bytes.assign(signature, signature + 6);
        Le16(screenWidth);
        Le16(screenHeight);
        int flags = globalColours ? 0x80 | TableSizeField(globalColours) : 0;
        Raw({flags, 0, 0});
        if (globalColours) Append(ColourTable(globalColours));
    }

    GifFile& Raw(std::initializer_list<int> values) {
        for (int v : values)
            bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    GifFile& Append(const Bytes& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    GifFile& Le16(int v) { return Raw({v & 0xFF, (v >> 8) & 0xFF}); }

    GifFile& GraphicControl(int transparentIndex) {
        return Raw({0x21, 0xF9, 4, transparentIndex >= 0 ? 1 : 0, 10, 0,
                    transparentIndex >= 0 ? transparentIndex : 0, 0});
    }
    GifFile& Comment(const std::string& text) {
        Raw({0x21, 0xFE});
        return Append(SubBlocks(Bytes(text.begin(), text.end()), 255));
    }
    GifFile& Application(const std::string& id11, const Bytes& data) {
        Raw({0x21, 0xFF, 11});
        bytes.insert(bytes.end(), id11.begin(), id11.begin() + 11);
        return Append(SubBlocks(data, 255));
    }

    // Image descriptor; `localColours` entries of local table when not 0.
    GifFile& Descriptor(int left, int top, int width, int height, bool interlaced = false,
                        int localColours = 0) {
        Raw({0x2C});
        Le16(left);
        Le16(top);
        Le16(width);
        Le16(height);
        int flags =
            (interlaced ? 0x40 : 0) | (localColours ? 0x80 | TableSizeField(localColours) : 0);
        Raw({flags});
        if (localColours) {
            Bytes t = ColourTable(localColours);
            for (uint8_t& b : t)
                b = static_cast<uint8_t>(255 - b); // differs from the global one
            Append(t);
        }
        return *this;
    }

    // A whole image: descriptor and LZW data for `pixels` (top row first).
    GifFile& Image(int width, int height, const Bytes& pixels, bool interlaced = false,
                   int localColours = 0, int left = 0, int top = 0) {
        Descriptor(left, top, width, height, interlaced, localColours);
        Bytes stored = interlaced ? InterlaceRows(pixels, width, height) : pixels;
        int s = MinimumCodeSizeFor(stored);
        return Append(ImageData(s, EncodePixels(stored, s)));
    }

    GifFile& Trailer() { return Raw({0x3B}); }

    Bytes bytes;
};

// Deterministic pixels with runs and noise, so strings of all lengths occur.
inline Bytes TestPixels(int width, int height, int colours, uint32_t seed = 1) {
    Bytes p(static_cast<size_t>(width) * height);
    uint32_t x = seed * 2654435761u + 12345;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width; ++i) {
            x = x * 1103515245u + 12345;
            int smooth = (i / 3 + y / 2) % colours;
            p[static_cast<size_t>(y) * width + i] =
                static_cast<uint8_t>((x >> 16) % 5 == 0 ? (x >> 20) % colours : smooth);
        }
    return p;
}

} // namespace giftest
