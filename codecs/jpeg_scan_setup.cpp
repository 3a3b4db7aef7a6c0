// Scan set-up: geometry of a scan, the tables it needs, the Huffman lookups,
// and the sequence of progressive scans.
#include <cstring>

#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"

bool BuildHuffLookupTable(const uint8_t* counts, const uint8_t* values, int32_t* lookup) {
    // Canonical codes: consecutive within a length, shifted left by one bit
    // on each step to the next length. More codes than a length can hold
    // would overlap earlier codes and break the tree below.
    int32_t lengths[256];
    uint32_t codes[256];
    int n = 0;
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        if (code + counts[len] > (1u << len)) return false;
        for (int i = 0; i < counts[len]; ++i) {
            if (n >= 255) return false;
            lengths[n] = len;
            codes[n] = code++;
            ++n;
        }
        code <<= 1;
    }
    std::memset(lookup, 0, sizeof(int32_t) * kHuffLookupEntries);
    uint8_t* codeLength = reinterpret_cast<uint8_t*>(lookup + 256);
    int32_t nextNode = -1;
    for (int k = 0; k < n; ++k) {
        int v = values[k], len = lengths[k];
        uint32_t c = codes[k];
        codeLength[v] = static_cast<uint8_t>(len);
        if (len <= 8) {
            int span = 1 << (8 - len);
            for (int i = 0; i < span; ++i)
                lookup[c * span + i] = v;
            continue;
        }
        int32_t* entry = &lookup[(c >> (len - 8)) & 255];
        if (*entry == 0) {
            if (nextNode < -(2 * kHuffMaxNodes - 1)) return false;
            *entry = nextNode;
            nextNode -= 2;
        }
        int32_t e = *entry;
        if (e >= 0) return false; // cannot happen for a prefix code; never index with it
        for (int bit = 9; bit < len; ++bit) {
            int b = (c >> (len - bit)) & 1;
            int32_t* child = &lookup[kHuffTreeBase - e - b];
            if (*child == 0) {
                if (nextNode < -(2 * kHuffMaxNodes - 1)) return false;
                *child = nextNode;
                nextNode -= 2;
            }
            e = *child;
            if (e >= 0) return false;
        }
        lookup[kHuffTreeBase - e - static_cast<int>(c & 1)] = v;
    }
    return true;
}

namespace {

// Walks the tree of `lookup` from the first-level entry `first` with the
// bits that follow the first 8 of `index` (width `bits`). Returns the number
// of bits taken and the symbol, or 0 when the walk needs more bits.
int WalkFast(const int32_t* lookup, uint32_t index, int bits, int* symbol) {
    const uint8_t* codeLength = reinterpret_cast<const uint8_t*>(lookup + 256);
    int32_t v = lookup[index >> (bits - 8)];
    if (v >= 0) {
        *symbol = v;
        return codeLength[v]; // may exceed `bits` (symbol 0 of a long code): caller checks
    }
    int used = 8;
    while (v < 0) {
        if (used >= bits) return -1;
        int b = (index >> (bits - 1 - used)) & 1;
        v = lookup[kHuffTreeBase - v - b];
        ++used;
    }
    *symbol = v;
    return used;
}

// The AC symbol whose code begins the `bits` (1..16) low bits of `index`:
// its code length (0 when those bits hold no whole code) and position move
// (run + 1, 16 for a run of 16 zeros, 0 for the end of the block); `extra`
// gets its number of extra bits.
int AcCodeAt(const int32_t* lookup, uint32_t index, int bits, int* advance, int* extra) {
    int symbol = 0;
    // The first level needs 8 bits: fewer are padded with zeros, and a code
    // found that way counts only if it fits in the bits there are.
    const int used = bits >= 8 ? WalkFast(lookup, index, bits, &symbol)
                               : WalkFast(lookup, index << (8 - bits), 8, &symbol);
    if (used <= 0 || used > bits) return 0;
    const int run = symbol >> 4;
    *extra = symbol & 15;
    *advance = *extra || run == 15 ? run + 1 : 0;
    return used;
}

// The AC symbols the window `i` (kHuffPairBits bits) begins with, passed
// over together: each one's code lies in the window, and so do its extra
// bits, but for the last one's, which may run on beyond it. A code the
// window does not hold whole, or no code at all, ends the run; so does an
// end of block, taken into the entry (kHuffPairEnd) when its code lies in
// the window. With no symbol at all, or moves that reach position 64
// whatever the start, the entry is kHuffPairStop.
HuffSkipPair SkipPairAt(const int32_t* lookup, uint32_t i) {
    constexpr int kBits = kHuffPairBits;
    int used = 0, total = 0, moved = 0;
    bool ended = false;
    while (used < kBits && moved < 64) {
        int advance = 0, extra = 0;
        const int rest = kBits - used;
        const int code = AcCodeAt(lookup, i & ((1u << rest) - 1), rest, &advance, &extra);
        if (code == 0) break;
        if (advance == 0) { // the end of the block: its code alone
            total = used + code;
            ended = true;
            break;
        }
        used += code + extra;
        total = used;
        moved += advance;
    }
    if ((moved == 0 && !ended) || moved >= 64) return {0, kHuffPairStop};
    return {static_cast<uint8_t>(total), static_cast<uint8_t>(moved | (ended ? kHuffPairEnd : 0))};
}

// `dc`: the table codes DC difference categories (a symbol above 15 counts
// as category 0), so fastAc gives the difference itself.
void BuildFastTables(HuffLookupBlock& t, bool dc) {
    constexpr int kBits = kHuffFastBits;
    for (uint32_t i = 0; i < (1u << kBits); ++i) {
        HuffFast f = {0, 0, 0};
        HuffFast fa = {0, 0, 0};
        int symbol = 0;
        int used = WalkFast(t.lookup, i, kBits, &symbol);
        if (used >= 0 && used <= kBits) {
            // A length of 0 (no code for symbol 0) still decodes, taking no bits:
            // such entries stay on the slow path to keep the rule in one place.
            if (used > 0) {
                f = {static_cast<int16_t>(symbol), static_cast<uint8_t>(symbol),
                     static_cast<uint8_t>(used)};
                int s = dc ? (symbol > 15 ? 0 : symbol) : symbol & 15;
                if (s == 0) {
                    fa = f;
                    fa.value = 0;
                } else if (used + s <= kBits) {
                    uint32_t extra = (i >> (kBits - used - s)) & ((1u << s) - 1);
                    int32_t value = extra < (1u << (s - 1))
                                        ? static_cast<int32_t>(extra) + 1 - (1 << s)
                                        : static_cast<int32_t>(extra);
                    fa = {static_cast<int16_t>(value), static_cast<uint8_t>(symbol),
                          static_cast<uint8_t>(used + s)};
                }
            }
        }
        t.fast[i] = f;
        t.fastAc[i] = fa;
    }
    t.skipReady = 0; // built when a decode first passes blocks over
}

} // namespace

void EnsureSkipTables(HuffLookupBlock& t) {
    if (t.skipReady) return;
    for (uint32_t i = 0; i < (1u << kHuffSkipBits); ++i) {
        HuffSkip k = {0, 0, 0, 0};
        int symbol = 0;
        const int used = WalkFast(t.lookup, i, kHuffSkipBits, &symbol);
        if (used > 0 && used <= kHuffSkipBits) {
            const int run = symbol >> 4, s = symbol & 15;
            k.codeLength = static_cast<uint8_t>(used);
            k.totalLength = static_cast<uint8_t>(used + s);
            k.advance = static_cast<uint8_t>(s || run == 15 ? run + 1 : 0);
        }
        t.skip[i] = k;
    }
    for (uint32_t i = 0; i < (1u << kHuffPairBits); ++i)
        t.skipPair[i] = SkipPairAt(t.lookup, i);
    t.skipReady = 1;
}

bool BuildHuffLookup(JpegDecoder& d, int slot) {
    if (!d.huffLookup[slot]) {
        d.huffLookup[slot] = static_cast<HuffLookupBlock*>(WorkAlloc(d, sizeof(HuffLookupBlock)));
        if (!d.huffLookup[slot]) return DecodeFail("out of memory");
    }
    HuffLookupBlock& t = *d.huffLookup[slot];
    if (!BuildHuffLookupTable(d.huffCounts[slot], d.huffValues[slot], t.lookup))
        return DecodeFail("invalid Huffman code lengths");
    BuildFastTables(t, slot < 4);
    return true;
}

bool ComputeScanGeometry(JpegDecoder& d) {
    int hmax = 0, vmax = 0;
    for (int c = 0; c < d.componentCount; ++c) {
        if (d.comp[c].h > hmax) hmax = d.comp[c].h;
        if (d.comp[c].v > vmax) vmax = d.comp[c].v;
    }
    if (hmax == 0 || vmax == 0) return DecodeFail("sampling factors of 0");
    for (int c = 0; c < d.componentCount; ++c) {
        JpegComponent& k = d.comp[c];
        k.widthInBlocks = ((k.h * d.width + hmax - 1) / hmax + 7) / 8;
        k.heightInBlocks = ((k.v * d.height + vmax - 1) / vmax + 7) / 8;
    }
    if (d.scanCount == 1) {
        const JpegComponent& k = d.comp[d.scanComp[0]];
        d.mcusPerRow = k.widthInBlocks;
        d.mcuRows = k.heightInBlocks;
        d.blocksPerMcu = 1;
        d.mcuBlockList[0] = d.scanComp[0];
        return true;
    }
    d.mcusPerRow = ((d.width + 7) / 8 + hmax - 1) / hmax;
    d.mcuRows = ((d.height + 7) / 8 + vmax - 1) / vmax;
    int blocks = 0;
    for (int i = 0; i < d.scanCount; ++i) {
        const JpegComponent& k = d.comp[d.scanComp[i]];
        blocks += k.h * k.v;
    }
    if (blocks > kJpegMaxBlocksPerMcu) return DecodeFail("more than 10 blocks in an MCU");
    d.blocksPerMcu = blocks;
    int j = 0;
    for (int i = 0; i < d.scanCount; ++i) {
        const JpegComponent& k = d.comp[d.scanComp[i]];
        for (int b = 0; b < k.h * k.v; ++b)
            d.mcuBlockList[j++] = d.scanComp[i];
    }
    return true;
}

bool PrepareScanTables(JpegDecoder& d) {
    for (int i = 0; i < d.scanCount; ++i) {
        int c = d.scanComp[i];
        if (d.ss == 0 && (d.dcSlot[c] > 7 || !d.huffCounts[d.dcSlot[c]]))
            return DecodeFail("scan uses an undefined DC table");
        if (d.se > 0 && (d.acSlot[c] > 7 || !d.huffCounts[d.acSlot[c]]))
            return DecodeFail("scan uses an undefined AC table");
    }
    for (int slot = 0; slot < 8; ++slot) {
        if (JpegStop(d)) return DecodeFail("stopped");
        if (d.huffCounts[slot] && !BuildHuffLookup(d, slot)) return false;
    }
    for (int i = 0; i < d.scanCount; ++i) {
        int tq = d.comp[d.scanComp[i]].tq;
        if (tq > 3 || !d.quant[tq]) return DecodeFail("scan uses an undefined quantisation table");
    }
    return true;
}

ScanStart StartScan(JpegDecoder& d) {
    if (ReadHeaderMarkers(d) != 0xDA) return kNoMoreScans;
    if (!ParseScanHeader(d)) return kScanFailed;
    if (!ComputeScanGeometry(d)) return kScanFailed;
    if (!PrepareScanTables(d)) return kScanFailed;
    for (int c = 0; c < 4; ++c)
        d.dcPred[c] = 0;
    d.eobRun = 0;
    if (d.restartInterval != 0) {
        d.expectedRestart = 0;
        d.restartsLeft = d.restartInterval;
    }
    StartBitReader(d);
    d.scansStarted += 1;
    return kScanReady;
}

namespace {

bool ScanParametersValid(const JpegDecoder& d) {
    if (d.ss > d.se || d.se > 63) return false;
    if (d.ss == 0 && d.se != 0) return false;
    if (d.ss > 0 && d.scanCount != 1) return false;
    if (d.ah != 0 && d.al != d.ah - 1) return false;
    return true;
}

} // namespace

bool DecodeAllScans(JpegDecoder& d) {
    // A lone component's blocks are the MCUs whatever its sampling factors
    // say (up to 15 x 15, which would ask for 225 times the memory).
    const bool lone = d.componentCount == 1;
    for (int c = 0; c < d.componentCount; ++c) {
        int32_t w = (lone ? 1 : d.comp[c].h) * d.frameMcusPerRow;
        int32_t h = (lone ? 1 : d.comp[c].v) * d.frameMcuRows;
        if (!MakeCoefBuffer(d, d.dcCoef[c], w, h, 1) ||
            (!d.dcOnly && !MakeCoefBuffer(d, d.acCoef[c], w, h, 8)))
            return DecodeFail("out of memory for the coefficients");
    }
    for (;;) {
        if (JpegStop(d)) return DecodeFail("stopped");
        ScanStart s = StartScan(d);
        if (s == kScanFailed) return false;
        if (s == kNoMoreScans) {
            // The marker that ended the scans lies in the padding: the file
            // was cut after a whole scan, and the scans after it are missing.
            if (d.buffers->readPosition > d.dataEnd && !d.cutScan) d.cutScan = d.scansStarted + 1;
            d.scanCount = d.componentCount;
            for (int c = 0; c < d.componentCount; ++c)
                d.scanComp[c] = c;
            return ComputeScanGeometry(d);
        }
        if (!ScanParametersValid(d)) return DecodeFail("invalid progressive scan parameters");
        if (d.dcOnly && d.ss > 0) { // an AC scan: nothing of it is needed
            RewindBitReader(d);
            SkipScanData(d);
            continue;
        }
        ProgressiveProcedure p;
        if (d.ss == 0)
            p = d.ah == 0 ? kDcFirst : kDcRefine;
        else
            p = d.ah == 0 ? kAcFirst : kAcRefine;
        DecodeScanProgressive(d, p);
        NoteScanEnd(d);
        RewindBitReader(d);
    }
}
