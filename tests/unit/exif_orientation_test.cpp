// Reading the orientation tag of a JPEG's Exif block, whole and damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codecs/exif_orientation.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A TIFF block in either byte order: IFD0 at `ifd` with the given entries
// (tag, type, count, value) and a link to the next IFD.
struct Tiff {
    bool big;
    Bytes b;
    explicit Tiff(bool bigEndian) : big(bigEndian) {}
    void U16(uint32_t v) {
        b.push_back(uint8_t(big ? v >> 8 : v));
        b.push_back(uint8_t(big ? v : v >> 8));
    }
    void U32(uint32_t v) {
        if (big) {
            U16(v >> 16), U16(v & 0xFFFF);
        } else {
            U16(v & 0xFFFF), U16(v >> 16);
        }
    }
    struct Entry {
        uint32_t tag, type, count, value;
    };
    static Bytes Make(bool big, const std::vector<Entry>& entries, uint32_t next = 0,
                      uint32_t ifd = 8, uint32_t countField = 0xFFFFFFFF) {
        Tiff t(big);
        t.b = big ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
        t.U16(42);
        t.U32(ifd);
        while (t.b.size() < 8)
            t.b.push_back(0);
        t.U16(countField != 0xFFFFFFFF ? countField : static_cast<uint32_t>(entries.size()));
        for (const Entry& e : entries) {
            t.U16(e.tag);
            t.U16(e.type);
            t.U32(e.count);
            if (e.type == 3) { // a SHORT sits in the first two bytes of the field
                t.U16(e.value);
                t.U16(0);
            } else {
                t.U32(e.value);
            }
        }
        t.U32(next);
        return t.b;
    }
};

Bytes Segment(uint8_t marker, const Bytes& payload) {
    Bytes s(4 + payload.size());
    s[0] = 0xFF;
    s[1] = marker;
    s[2] = uint8_t((payload.size() + 2) >> 8);
    s[3] = uint8_t(payload.size() + 2);
    std::copy(payload.begin(), payload.end(), s.begin() + 4);
    return s;
}

Bytes ExifPayload(const Bytes& tiff) {
    Bytes p = tiff;
    const uint8_t exif[6] = {'E', 'x', 'i', 'f', 0, 0};
    p.insert(p.begin(), exif, exif + 6);
    return p;
}

// SOI, a JFIF APP0, the given segments, then a scan header.
Bytes Jpeg(const std::vector<Bytes>& segments) {
    Bytes j = {0xFF, 0xD8};
    const Bytes app0 = Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    j.insert(j.end(), app0.begin(), app0.end());
    for (const Bytes& s : segments)
        j.insert(j.end(), s.begin(), s.end());
    const Bytes sos = Segment(0xDA, {1, 1, 0, 0, 63, 0});
    j.insert(j.end(), sos.begin(), sos.end());
    return j;
}

int Read(const Bytes& b) {
    return ExifOrientation(b.data(), b.size());
}

const Tiff::Entry kWidth{0x0100, 4, 1, 640};

TEST(ExifOrientation, FoundInLittleAndBigEndianBlocks) {
    for (bool big : {false, true})
        for (uint32_t o = 1; o <= 8; ++o) {
            const Bytes tiff = Tiff::Make(big, {kWidth, {0x0112, 3, 1, o}, {0x011A, 5, 1, 300}});
            EXPECT_EQ(Read(Jpeg({Segment(0xE1, ExifPayload(tiff))})), int(o)) << big;
        }
    // After an XMP APP1 and a comment, with fill bytes before a marker.
    const Bytes xmp = Segment(0xE1, {'h', 't', 't', 'p', ':', '/', '/', 'n', 's'});
    Bytes exif = Segment(0xE1, ExifPayload(Tiff::Make(true, {{0x0112, 3, 1, 6}})));
    exif.insert(exif.begin(), 0xFF);
    EXPECT_EQ(Read(Jpeg({xmp, Segment(0xFE, {'h', 'i'}), exif})), 6);
}

TEST(ExifOrientation, NoTagGivesZero) {
    EXPECT_EQ(Read(Jpeg({})), 0);
    EXPECT_EQ(Read(Jpeg({Segment(0xE1, ExifPayload(Tiff::Make(false, {kWidth})))})), 0);
    EXPECT_EQ(Read({}), 0);
    EXPECT_EQ(ExifOrientation(nullptr, 100), 0);
    EXPECT_EQ(Read({'G', 'I', 'F', '8', '9', 'a'}), 0);
    // Behind the first scan it is no longer read.
    Bytes late = Jpeg({});
    const Bytes exif = Segment(0xE1, ExifPayload(Tiff::Make(false, {{0x0112, 3, 1, 6}})));
    late.insert(late.end(), exif.begin(), exif.end());
    EXPECT_EQ(Read(late), 0);
}

TEST(ExifOrientation, DamagedBlocksGiveZero) {
    auto app1 = [](const Bytes& tiff) { return Jpeg({Segment(0xE1, ExifPayload(tiff))}); };
    const Tiff::Entry six{0x0112, 3, 1, 6};
    // Values outside 1..8, the wrong type, a count other than 1.
    EXPECT_EQ(Read(app1(Tiff::Make(false, {{0x0112, 3, 1, 0}}))), 0);
    EXPECT_EQ(Read(app1(Tiff::Make(false, {{0x0112, 3, 1, 9}}))), 0);
    EXPECT_EQ(Read(app1(Tiff::Make(false, {{0x0112, 4, 1, 6}}))), 0);
    EXPECT_EQ(Read(app1(Tiff::Make(true, {{0x0112, 3, 2, 6}}))), 0);
    // Bad byte order mark, bad magic number.
    Bytes bad = Tiff::Make(false, {six});
    bad[0] = 'X';
    EXPECT_EQ(Read(app1(bad)), 0);
    bad = Tiff::Make(false, {six});
    bad[2] = 43;
    EXPECT_EQ(Read(app1(bad)), 0);
    // IFD0 offset past the end of the block, and just short of room for its count.
    for (uint32_t ifd : {0xFFFFFFF0u, 1000u, 31u})
        EXPECT_EQ(Read(app1(Tiff::Make(true, {six}, 0, ifd))), 0) << ifd;
    // An entry count that runs past the block (and one that would overflow 16 x 12 bits).
    EXPECT_EQ(Read(app1(Tiff::Make(false, {kWidth, six}, 0, 8, 3))), 0);
    EXPECT_EQ(Read(app1(Tiff::Make(false, {kWidth, six}, 0, 8, 0xFFFF))), 0);
    // A block cut short inside the entries.
    Bytes cut = Tiff::Make(false, {kWidth, six});
    cut.resize(cut.size() - 10);
    EXPECT_EQ(Read(app1(cut)), 0);
    // A segment length running past the file, or below 2.
    Bytes j = app1(Tiff::Make(false, {six}));
    j.resize(j.size() - 20);
    EXPECT_EQ(Read(Bytes(j.begin(), j.begin() + 30)), 0);
    Bytes shortLen = Jpeg({Bytes{0xFF, 0xE1, 0, 1}});
    EXPECT_EQ(Read(shortLen), 0);
    // Garbage where a marker should be.
    EXPECT_EQ(Read(Bytes{0xFF, 0xD8, 0x12, 0x34, 0xFF, 0xE1}), 0);
}

TEST(ExifOrientation, ALoopOfIfdsEndsAtIfdZero) {
    // IFD0 links back to itself; the tag is absent, then present.
    EXPECT_EQ(Read(Jpeg({Segment(0xE1, ExifPayload(Tiff::Make(false, {kWidth}, 8)))})), 0);
    EXPECT_EQ(Read(Jpeg({Segment(0xE1, ExifPayload(Tiff::Make(true, {{0x0112, 3, 1, 3}}, 8)))})),
              3);
}

} // namespace
