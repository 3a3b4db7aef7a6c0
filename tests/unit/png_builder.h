// Small PNG files built in the tests: samples in, chunks out, every row
// filtered with a filter of its own (all five in turn), Adam7 when asked.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

struct PngFields {
    int32_t width = 1, height = 1;
    int depth = 8, colour = 2;
    bool interlaced = false;
    std::vector<uint16_t> samples; // top row first, every channel of a pixel in turn
    Bytes plte, trns;              // chunk contents; empty: no chunk
    int firstFilter = 0;           // row r is filtered with (firstFilter + r) % 5
    int badFilterRow = -1;         // this row's filter type byte is 5, which no filter has
};

inline int Channels(int colour) {
    return colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
}

inline void Put32(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<uint8_t>(v >> s));
}

inline Bytes Chunk(const std::string& type, const Bytes& data) {
    Bytes c(8 + data.size());
    const uint32_t n = static_cast<uint32_t>(data.size());
    const uint8_t length[4] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                               static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    std::copy(length, length + 4, c.begin());
    std::copy(type.begin(), type.begin() + 4, c.begin() + 4);
    std::copy(data.begin(), data.end(), c.begin() + 8);
    Put32(c, static_cast<uint32_t>(crc32(0, c.data() + 4, static_cast<uInt>(4 + data.size()))));
    return c;
}

inline Bytes Header(const PngFields& s) {
    Bytes h;
    Put32(h, static_cast<uint32_t>(s.width));
    Put32(h, static_cast<uint32_t>(s.height));
    h.insert(h.end(), {static_cast<uint8_t>(s.depth), static_cast<uint8_t>(s.colour), 0, 0,
                       static_cast<uint8_t>(s.interlaced)});
    return h;
}

inline int PaethOf(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// The filtered rows of the sub-image (x0 + i*dx, y0 + j*dy), appended to `out`.
inline void AddPass(const PngFields& s, int x0, int y0, int dx, int dy, Bytes& out) {
    const int n = Channels(s.colour);
    const int bpp = s.depth < 8 ? 1 : n * s.depth / 8;
    Bytes prior;
    for (int y = y0, r = 0; y < s.height; y += dy, ++r) {
        Bytes raw;
        int bits = 0, acc = 0;
        for (int x = x0; x < s.width; x += dx)
            for (int k = 0; k < n; ++k) {
                const uint16_t v = s.samples[(static_cast<size_t>(y) * s.width + x) * n + k];
                if (s.depth == 16) {
                    raw.insert(raw.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
                } else if ((acc = acc << s.depth | v, bits += s.depth) == 8) {
                    raw.push_back(static_cast<uint8_t>(acc));
                    acc = bits = 0;
                }
            }
        if (raw.empty() && bits == 0) return; // an empty pass has no rows
        if (bits) raw.push_back(static_cast<uint8_t>(acc << (8 - bits)));
        if (prior.empty()) prior.assign(raw.size(), 0);
        const int f = (s.firstFilter + r) % 5;
        out.push_back(static_cast<uint8_t>(r == s.badFilterRow ? 5 : f));
        for (size_t i = 0; i < raw.size(); ++i) {
            const int a = i >= static_cast<size_t>(bpp) ? raw[i - bpp] : 0, b = prior[i];
            const int c = i >= static_cast<size_t>(bpp) ? prior[i - bpp] : 0;
            const int p = f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : f == 4 ? PaethOf(a, b, c) : 0;
            out.push_back(static_cast<uint8_t>(raw[i] - p));
        }
        prior = raw;
    }
}

// The zlib stream of the image data.
inline Bytes ImageData(const PngFields& s) {
    Bytes filtered;
    if (s.interlaced) {
        const int p[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& q : p)
            AddPass(s, q[0], q[1], q[2], q[3], filtered);
    } else {
        AddPass(s, 0, 0, 1, 1, filtered);
    }
    uLongf size = compressBound(static_cast<uLong>(filtered.size()));
    Bytes z(size);
    compress2(z.data(), &size, filtered.data(), static_cast<uLong>(filtered.size()), 6);
    z.resize(size);
    return z;
}

// The whole file; the image data in IDAT chunks of `split` bytes (0: one;
// otherwise an empty one follows the first), `before` and `after` (whole
// chunks) around the data.
inline Bytes Build(const PngFields& s, size_t split = 0, const Bytes& before = {}, const Bytes& after = {}) {
    Bytes f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto add = [&](const Bytes& c) { f.insert(f.end(), c.begin(), c.end()); };
    add(Chunk("IHDR", Header(s)));
    add(before);
    if (!s.plte.empty()) add(Chunk("PLTE", s.plte));
    if (!s.trns.empty()) add(Chunk("tRNS", s.trns));
    const Bytes z = ImageData(s);
    const size_t step = split ? split : z.size();
    for (size_t i = 0; i < z.size(); i += step) {
        add(Chunk("IDAT", Bytes(z.begin() + i, z.begin() + std::min(z.size(), i + step))));
        if (split && i == 0) add(Chunk("IDAT", {}));
    }
    add(after);
    add(Chunk("IEND", {}));
    return f;
}

} // namespace pngtest
