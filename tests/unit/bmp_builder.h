// Small builders for bitmap files and a shared set of load buffers, so that
// tests can make exactly the file they talk about.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/load_buffers.h"

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void Append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

constexpr uint32_t kAuto = 0xFFFFFFFFu;

// One bitmap file. Defaults: "BM" file header, 40-byte info header, BI_RGB,
// one plane, bfOffBits pointing right after header, masks and palette.
struct BmpFields {
    bool fileHeader = true;
    uint32_t headerSize = 40; // 12 writes a core header
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t sizeImage = kAuto; // long headers: the exact size; 40: 0
    uint32_t clrUsed = 0;
    uint32_t offBits = kAuto;
    Bytes masks;   // written right after the header
    Bytes palette; // raw entry bytes (4 each, or 3 for a core header)
    Bytes pixels;  // raw pixel data as it is stored in the file
};

inline int32_t StrideOf(int32_t width, int bits) {
    return (width * bits + 31) / 32 * 4;
}

inline Bytes BuildBmp(const BmpFields& s) {
    Bytes info;
    if (s.headerSize == 12) {
        Put32(info, 12);
        Put16(info, static_cast<uint32_t>(s.width));
        Put16(info, static_cast<uint32_t>(s.height));
        Put16(info, s.planes);
        Put16(info, s.bits);
    } else {
        Put32(info, s.headerSize);
        Put32(info, static_cast<uint32_t>(s.width));
        Put32(info, static_cast<uint32_t>(s.height));
        Put16(info, s.planes);
        Put16(info, s.bits);
        Put32(info, s.compression);
        uint32_t size = s.sizeImage;
        if (size == kAuto)
            size = s.headerSize > 40
                       ? static_cast<uint32_t>((static_cast<int64_t>(s.bits) * s.width + 31) / 32 *
                                               s.height * 4)
                       : 0;
        Put32(info, size);
        Put32(info, 2835);
        Put32(info, 2835);
        Put32(info, s.clrUsed);
        Put32(info, 0);
        while (info.size() < s.headerSize)
            info.push_back(0);
    }
    Bytes body = info;
    Append(body, s.masks);
    Append(body, s.palette);
    Bytes out;
    if (s.fileHeader) {
        uint32_t off = s.offBits == kAuto ? static_cast<uint32_t>(14 + body.size()) : s.offBits;
        out = {'B', 'M'};
        Put32(out, static_cast<uint32_t>(14 + body.size() + s.pixels.size()));
        Put32(out, 0);
        Put32(out, off);
    }
    Append(out, body);
    Append(out, s.pixels);
    return out;
}

// n palette entries: entry i is (blue i, green 2i, red 255 - i, reserved 0x77)
// so that every entry differs and the cleared reserved byte can be seen.
inline Bytes Palette(int n, int entryBytes = 4) {
    Bytes p;
    for (int i = 0; i < n; ++i) {
        p.push_back(static_cast<uint8_t>(i));
        p.push_back(static_cast<uint8_t>(2 * i));
        p.push_back(static_cast<uint8_t>(255 - i));
        if (entryBytes == 4) p.push_back(0x77);
    }
    return p;
}

// One set of 60 MB buffers for the whole test program (a 32-bit test
// program cannot afford a fresh pair per test). Each call forgets the
// previous raster and input, but leaves the old bytes in the buffers, as the
// program's own buffers do between loads.
inline LoadBuffers& TestBuffers() {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers;
    LoadBuffers& lb = owned->buffers;
    lb.readPosition = 0;
    lb.dataLength = 0;
    lb.raster = RasterDescriptor{};
    lb.LoaderStopFlag = 0;
    lb.LoaderBusyFlag = 0;
    return lb;
}

inline bool PutInput(LoadBuffers& lb, const Bytes& b) {
    return LoadMemory(lb, b.data(), b.size());
}

// Memory row r (0 = bottom) of the raster.
inline Bytes RasterRowBytes(LoadBuffers& lb, int32_t r) {
    const uint8_t* p = RasterRow(lb, r);
    return p ? Bytes(p, p + lb.raster.stride) : Bytes();
}
