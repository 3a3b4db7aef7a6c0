// JPEG stream level: work memory, input padding, SOI and marker search, the
// header segments and the layout check.
#include <cstdlib>
#include <cstring>

#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"

namespace {

// The padding after the file: 64 words FF D9, of which the first 64 bytes
// (32 EOI markers) count as readable data. The rest lets PeekByte look one
// byte past the readable end.
constexpr int32_t kPadReadable = 64;

int ReadWord(JpegDecoder& d) {
    int hi = ReadByte(*d.buffers);
    return hi * 256 + ReadByte(*d.buffers);
}

int PeekByte(const JpegDecoder& d) {
    return d.buffers->fileBuffer[d.buffers->readPosition];
}

bool AtEndOfData(const JpegDecoder& d) {
    return d.buffers->readPosition >= d.buffers->dataLength;
}

// A zero-filled block. The large ones are the coefficient buffers of a
// progressive picture, tens of megabytes that the scans write all through.
void* ZeroedBlock(size_t n) {
    void* p = std::calloc(n, 1);
    if (p && n >= (size_t{1} << 20)) PrefaultForWriting(p, n);
    return p;
}

} // namespace

void* WorkAlloc(JpegDecoder& d, int64_t n) {
    if (n < 0 || n + 8 > kJpegMostWorkBytes - d.workBytes) return nullptr;
    for (int i = 0; i < kJpegWorkSlots; ++i) {
        if (d.workSlots[i]) continue;
        void* p = ZeroedBlock(static_cast<size_t>(n) + 8);
        if (!p) return nullptr;
        d.workSlots[i] = p;
        d.workBytes += n + 8;
        uintptr_t a = (reinterpret_cast<uintptr_t>(p) + 7) & ~static_cast<uintptr_t>(7);
        return reinterpret_cast<void*>(a);
    }
    return nullptr;
}

void FreeAllWork(JpegDecoder& d) {
    for (int i = 0; i < kJpegWorkSlots; ++i) {
        std::free(d.workSlots[i]);
        d.workSlots[i] = nullptr;
    }
}

void ResetDecoder(JpegDecoder& d, LoadBuffers& lb) {
    std::memset(&d, 0, sizeof d);
    d.buffers = &lb;
    for (int32_t i = 0; i < kJpegMaxBlocksPerMcuRow; ++i)
        d.blockEnd[i] = 64;
    d.bitCount = 0;
    d.bitBuffer = 0;
    d.simd = JpegSimdLevelInUse();
}

bool PadInput(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    // The padding must fit behind the file; a file that leaves no room is refused.
    if (lb.dataLength < 0 || lb.dataLength > kFileBufferSize - kFilePadding)
        return DecodeFail("file too large");
    d.dataEnd = lb.dataLength;
    uint8_t* p = lb.fileBuffer + lb.dataLength;
    for (int i = 0; i < kFilePadding; i += 2) {
        p[i] = 0xFF;
        p[i + 1] = 0xD9;
    }
    lb.dataLength += kPadReadable;
    return true;
}

bool FindSoi(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    int prev = ReadByte(lb);
    int cur = ReadByte(lb);
    if (prev == 0xFF && cur == 0xD8) return true;
    for (int i = 0; i < 511; ++i) {
        if (JpegStop(d)) return false;
        prev = cur;
        cur = ReadByte(lb);
        if (prev == 0xFF && cur == 0xD8) return PeekByte(d) == 0xFF;
    }
    return false;
}

int NextMarker(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    for (;;) {
        if (JpegStop(d)) return 0;
        // Past the readable data (file and padding) there is no marker: a
        // search that gets there ends as if it had met EOI, never loops.
        int b;
        do {
            if (AtEndOfData(d)) return 0;
            b = lb.fileBuffer[lb.readPosition++];
        } while (b != 0xFF);
        do {
            if (AtEndOfData(d)) return 0;
            b = lb.fileBuffer[lb.readPosition++];
        } while (b == 0xFF);
        if (b != 0x00) return b;
    }
}

int ReadHeaderMarkers(JpegDecoder& d) {
    for (;;) {
        if (JpegStop(d)) return DecodeFail("stopped");
        int m = NextMarker(d);
        if (m == 0) return DecodeFail("no marker before the end of the data");
        bool ok = true;
        switch (m) {
        case 0x01: return DecodeFail("TEM marker in the header");
        case 0xC8: return DecodeFail("JPG marker in the header");
        case 0xCC: return DecodeFail("arithmetic coding tables (DAC)");
        case 0xC4: ok = ParseHuffmanTables(d); break;
        case 0xDB: ok = ParseQuantTables(d); break;
        case 0xDD: ok = ParseRestartInterval(d); break;
        case 0xD8:
        case 0xD9:
        case 0xDA: return m;
        default:
            if (m >= 0xD0 && m <= 0xD7) return DecodeFail("restart marker in the header");
            if (m >= 0xC0 && m <= 0xCF) return m; // every frame type; C4, C8, CC handled above
            ok = SkipSegment(d);
            break;
        }
        if (!ok) return 0;
    }
}

void SkipScanData(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    const uint8_t* data = lb.fileBuffer;
    int32_t pos = lb.readPosition;
    while (pos < lb.dataLength && !JpegStop(d)) {
        const void* ff = std::memchr(data + pos, 0xFF, static_cast<size_t>(lb.dataLength - pos));
        if (!ff) break;
        int32_t q = static_cast<int32_t>(static_cast<const uint8_t*>(ff) - data) + 1;
        while (q < lb.dataLength && data[q] == 0xFF) // fill bytes
            ++q;
        if (q >= lb.dataLength) break;
        if (data[q] != 0x00 && (data[q] < 0xD0 || data[q] > 0xD7)) {
            lb.readPosition = q - 1; // NextMarker reads FF and the code from here
            return;
        }
        pos = q + 1;
    }
    lb.readPosition = lb.dataLength;
}

bool SkipSegment(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    int len = ReadWord(d);
    if (len < 2) return DecodeFail("segment length below 2");
    if (static_cast<int64_t>(lb.readPosition) + len - 2 > lb.dataLength)
        return DecodeFail("segment runs past the data");
    lb.readPosition += len - 2;
    return true;
}

bool ParseFrameHeader(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    int len = ReadWord(d);
    if (ReadByte(lb) != 8) return DecodeFail("sample precision is not 8 bits");
    d.height = ReadWord(d);
    if (d.height < 1 || d.height > kJpegMaxDimension) return DecodeFail("height outside 1..8192");
    d.width = ReadWord(d);
    if (d.width < 1 || d.width > kJpegMaxDimension) return DecodeFail("width outside 1..8192");
    int nf = ReadByte(lb);
    if (nf > 4) return DecodeFail("more than 4 components");
    if (len != 8 + 3 * nf) return DecodeFail("frame header length does not match its components");
    d.componentCount = nf;
    for (int i = 0; i < nf; ++i) {
        JpegComponent& c = d.comp[i];
        c.id = ReadByte(lb);
        int hv = ReadByte(lb);
        c.h = hv >> 4;
        c.v = hv & 15;
        c.tq = ReadByte(lb);
    }
    return true;
}

bool ParseQuantTables(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    int len = ReadWord(d);
    if (len < 2) return DecodeFail("DQT length below 2");
    int n = len - 2;
    while (n > 0) {
        if (JpegStop(d)) return DecodeFail("stopped");
        int b = ReadByte(lb);
        int pq = b >> 4, tq = b & 15;
        if (tq > 3) return DecodeFail("quantisation table number above 3");
        if (!d.quant[tq]) {
            d.quant[tq] = static_cast<uint16_t*>(WorkAlloc(d, 128));
            if (!d.quant[tq]) return DecodeFail("out of memory");
        }
        for (int k = 0; k < 64; ++k)
            d.quant[tq][k] = static_cast<uint16_t>(pq == 0 ? ReadByte(lb) : ReadWord(d));
        int size = pq == 0 ? 65 : 129;
        if (n < size) return DecodeFail("DQT segment too short for its tables");
        n -= size;
    }
    return true;
}

bool ParseHuffmanTables(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    int len = ReadWord(d);
    if (len < 2) return DecodeFail("DHT length below 2");
    int n = len - 2;
    while (n > 0) {
        if (JpegStop(d)) return DecodeFail("stopped");
        int b = ReadByte(lb);
        uint8_t counts[17];
        counts[0] = 0;
        int total = 0;
        for (int i = 1; i <= 16; ++i) {
            counts[i] = static_cast<uint8_t>(ReadByte(lb));
            total += counts[i];
        }
        if (total > 255) return DecodeFail("Huffman table with more than 255 codes");
        uint8_t values[256] = {};
        for (int i = 0; i < total; ++i)
            values[i] = static_cast<uint8_t>(ReadByte(lb));
        if (n < total + 17) return DecodeFail("DHT segment too short for its tables");
        n -= total + 17;
        int slot = (b & 15) + 4 * ((b >> 4) & 1);
        if (slot > 7) return DecodeFail("Huffman table slot above 7");
        // A code that over-subscribes the code space, or whose long codes
        // need more tree nodes than the lookup holds, is refused here, so
        // the lookup built at each scan start always fits.
        int32_t trial[kHuffLookupEntries];
        if (!BuildHuffLookupTable(counts, values, trial))
            return DecodeFail("invalid Huffman code lengths");
        if (!d.huffCounts[slot]) {
            d.huffCounts[slot] = static_cast<uint8_t*>(WorkAlloc(d, 17));
            d.huffValues[slot] = static_cast<uint8_t*>(WorkAlloc(d, 256));
            if (!d.huffCounts[slot] || !d.huffValues[slot]) {
                d.huffCounts[slot] = nullptr;
                return DecodeFail("out of memory");
            }
        }
        std::memcpy(d.huffCounts[slot], counts, 17);
        std::memcpy(d.huffValues[slot], values, 256);
    }
    return true;
}

bool ParseRestartInterval(JpegDecoder& d) {
    if (ReadWord(d) != 4) return DecodeFail("DRI length is not 4");
    d.restartInterval = ReadWord(d);
    return true;
}

bool ParseScanHeader(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    int len = ReadWord(d);
    int ns = ReadByte(lb);
    if (ns < 1 || ns > 4 || len != 6 + 2 * ns) return DecodeFail("bad scan header");
    d.scanCount = ns;
    for (int i = 0; i < ns; ++i) {
        int cs = ReadByte(lb);
        int t = ReadByte(lb);
        int found = -1;
        for (int c = 0; c < d.componentCount; ++c) {
            if (d.comp[c].id == cs) {
                found = c;
                break;
            }
        }
        if (found < 0) return DecodeFail("scan names a component the frame lacks");
        d.scanComp[i] = found;
        d.dcSlot[found] = t >> 4;
        d.acSlot[found] = (t & 15) + 4;
    }
    d.ss = ReadByte(lb);
    d.se = ReadByte(lb);
    int a = ReadByte(lb);
    d.ah = a >> 4;
    d.al = a & 15;
    if (!d.progressive) {
        d.ss = 0;
        d.se = 63;
    }
    return true;
}

namespace {

struct LayoutRow {
    int32_t kind, blocksPerMcu, mcuWidth, mcuHeight;
};

bool FindLayout(const JpegDecoder& d, LayoutRow* row) {
    if (d.componentCount == 1) {
        // Sampling factors of a lone component mean nothing for its blocks,
        // but 0 would later divide: refuse it.
        if (d.comp[0].h == 0 || d.comp[0].v == 0) return false;
        *row = {kLayoutGray, 1, 8, 8};
        return true;
    }
    if (d.componentCount != 3) return false;
    for (int c = 1; c < 3; ++c)
        if (d.comp[c].h != 1 || d.comp[c].v != 1) return false;
    int h = d.comp[0].h, v = d.comp[0].v;
    if (h == 1 && v == 1)
        *row = {kLayoutH1V1, 3, 8, 8};
    else if (h == 2 && v == 1)
        *row = {kLayoutH2V1, 4, 16, 8};
    else if (h == 1 && v == 2)
        *row = {kLayoutH1V2, 4, 8, 16};
    else if (h == 2 && v == 2)
        *row = {kLayoutH2V2, 6, 16, 16};
    else
        return false;
    return true;
}

} // namespace

bool ClassifyLayout(JpegDecoder& d) {
    LayoutRow row;
    if (!FindLayout(d, &row)) return DecodeFail("component layout not supported");
    d.layoutKind = row.kind;
    d.frameBlocksPerMcu = row.blocksPerMcu;
    d.mcuWidth = row.mcuWidth;
    d.mcuHeight = row.mcuHeight;
    d.frameMcusPerRow = (d.width + d.mcuWidth - 1) / d.mcuWidth;
    d.frameMcuRows = (d.height + d.mcuHeight - 1) / d.mcuHeight;
    d.blocksPerMcuRow = d.frameBlocksPerMcu * d.frameMcusPerRow;
    if (d.blocksPerMcuRow > kJpegMaxBlocksPerMcuRow) return DecodeFail("MCU row too wide");
    d.blockStore =
        static_cast<int16_t*>(WorkAlloc(d, 128 * static_cast<int64_t>(d.blocksPerMcuRow)));
    if (!d.blockStore) return DecodeFail("out of memory");
    for (int32_t i = 0; i < kJpegMaxBlocksPerMcuRow; ++i)
        d.blockEnd[i] = 64;
    d.sampleBuffer =
        static_cast<uint8_t*>(WorkAlloc(d, 64 * static_cast<int64_t>(d.blocksPerMcuRow)));
    if (!d.sampleBuffer) return DecodeFail("out of memory");
    BuildColourTables(d);
    return true;
}
