// Builds small JPEG streams in code for the decoder tests: segments with
// chosen (often broken) contents, and entropy-coded data written bit by bit.
//
// The default Huffman tables make the data easy to write by hand:
//   DC: 16 codes of 4 bits, code = difference category (0..15);
//   AC: 255 codes of 8 bits, code = run/size symbol (0x00..0xFE).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct JpegBuilder {
    std::vector<uint8_t> bytes;

    JpegBuilder& Raw(std::initializer_list<int> b) {
        for (int v : b)
            bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    JpegBuilder& Word(int v) { return Raw({(v >> 8) & 255, v & 255}); }
    JpegBuilder& Soi() { return Raw({0xFF, 0xD8}); }
    JpegBuilder& Eoi() { return Raw({0xFF, 0xD9}); }
    // A segment: marker, length (payload + 2), payload.
    JpegBuilder& Segment(int marker, const std::vector<uint8_t>& payload) {
        Raw({0xFF, marker});
        Word(static_cast<int>(payload.size()) + 2);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return *this;
    }
    // 8-bit table of 64 equal entries (or per-entry values when given).
    JpegBuilder& Dqt(int table, int value, int precision = 0) {
        std::vector<uint8_t> p{static_cast<uint8_t>((precision << 4) | table)};
        for (int k = 0; k < 64; ++k) {
            if (precision) p.push_back(static_cast<uint8_t>(value >> 8));
            p.push_back(static_cast<uint8_t>(value & 255));
        }
        return Segment(0xDB, p);
    }
    struct Comp {
        int id, h, v, tq;
    };
    JpegBuilder& Sof(int marker, int width, int height, std::initializer_list<Comp> comps) {
        std::vector<uint8_t> p{8,
                               static_cast<uint8_t>(height >> 8),
                               static_cast<uint8_t>(height),
                               static_cast<uint8_t>(width >> 8),
                               static_cast<uint8_t>(width),
                               static_cast<uint8_t>(comps.size())};
        for (const Comp& c : comps) {
            p.push_back(static_cast<uint8_t>(c.id));
            p.push_back(static_cast<uint8_t>((c.h << 4) | c.v));
            p.push_back(static_cast<uint8_t>(c.tq));
        }
        return Segment(marker, p);
    }
    JpegBuilder& Dht(int classAndId, const std::vector<int>& counts16,
                     const std::vector<int>& values) {
        std::vector<uint8_t> p{static_cast<uint8_t>(classAndId)};
        for (int i = 0; i < 16; ++i)
            p.push_back(
                static_cast<uint8_t>(i < static_cast<int>(counts16.size()) ? counts16[i] : 0));
        for (int v : values)
            p.push_back(static_cast<uint8_t>(v));
        return Segment(0xC4, p);
    }
    // The easy tables described above, as DC table `id` and AC table `id`.
    JpegBuilder& EasyTables(int id = 0) {
        std::vector<int> dcValues, acValues;
        for (int i = 0; i < 16; ++i)
            dcValues.push_back(i);
        for (int i = 0; i < 255; ++i)
            acValues.push_back(i);
        Dht(id, {0, 0, 0, 16}, dcValues);
        return Dht(0x10 | id, {0, 0, 0, 0, 0, 0, 0, 255}, acValues);
    }
    JpegBuilder& Dri(int interval) {
        return Segment(0xDD, {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)});
    }
    struct ScanComp {
        int id, td, ta;
    };
    JpegBuilder& Sos(std::initializer_list<ScanComp> comps, int ss = 0, int se = 63, int ah = 0,
                     int al = 0) {
        std::vector<uint8_t> p{static_cast<uint8_t>(comps.size())};
        for (const ScanComp& c : comps) {
            p.push_back(static_cast<uint8_t>(c.id));
            p.push_back(static_cast<uint8_t>((c.td << 4) | c.ta));
        }
        p.push_back(static_cast<uint8_t>(ss));
        p.push_back(static_cast<uint8_t>(se));
        p.push_back(static_cast<uint8_t>((ah << 4) | al));
        return Segment(0xDA, p);
    }

    // ---- entropy-coded data ----
    uint32_t acc = 0;
    int nbits = 0;
    JpegBuilder& Bits(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc = (acc << 1) | ((value >> i) & 1);
            if (++nbits == 8) EmitByte();
        }
        return *this;
    }
    // A coefficient of category s with its extra bits (T.81 F.1.2.1).
    JpegBuilder& Magnitude(int value, int s) {
        if (s == 0) return *this;
        uint32_t bits =
            value >= 0 ? static_cast<uint32_t>(value) : static_cast<uint32_t>(value + (1 << s) - 1);
        return Bits(bits, s);
    }
    static int Category(int v) {
        int a = v < 0 ? -v : v, s = 0;
        while (a) {
            ++s;
            a >>= 1;
        }
        return s;
    }
    // With the easy tables: DC difference, then AC (run, value) pairs, then EOB.
    JpegBuilder& Dc(int diff) {
        int s = Category(diff);
        Bits(static_cast<uint32_t>(s), 4);
        return Magnitude(diff, s);
    }
    JpegBuilder& Ac(int run, int value) {
        int s = Category(value);
        Bits(static_cast<uint32_t>((run << 4) | s), 8);
        return Magnitude(value, s);
    }
    JpegBuilder& Eob() { return Bits(0x00, 8); }
    JpegBuilder& Zrl() { return Bits(0xF0, 8); }
    // Pads the last byte with 1 bits, as encoders do before a marker.
    JpegBuilder& Flush() {
        while (nbits != 0)
            Bits(1, 1);
        return *this;
    }
    JpegBuilder& Rst(int n) {
        Flush();
        return Raw({0xFF, 0xD0 + n});
    }
    void EmitByte() {
        uint8_t b = static_cast<uint8_t>(acc);
        bytes.push_back(b);
        if (b == 0xFF) bytes.push_back(0x00);
        acc = 0;
        nbits = 0;
    }
};

// An Exif APP1 segment (little-endian TIFF) holding only the orientation.
inline std::vector<uint8_t> ExifApp1(int orientation) {
    std::vector<uint8_t> s = {
        0xFF, 0xE1, 0,   0,  'E', 'x', 'i', 'f', 0,
        0,    'I',  'I', 42, 0,   8,   0,   0,   0, // TIFF header, IFD0 at 8
        1,    0,                                    // one entry
        0x12, 0x01, 3,   0,  1,   0,   0,   0,   static_cast<uint8_t>(orientation),
        0,    0,    0,   0,  0,   0,   0}; // no next IFD
    s[2] = static_cast<uint8_t>((s.size() - 2) >> 8);
    s[3] = static_cast<uint8_t>(s.size() - 2);
    return s;
}

// The JPEG file `jpeg` with ExifApp1(orientation) right after its start marker.
inline std::vector<uint8_t> WithExifOrientation(std::vector<uint8_t> jpeg, int orientation) {
    const std::vector<uint8_t> app1 = ExifApp1(orientation);
    if (jpeg.size() >= 2) jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}
