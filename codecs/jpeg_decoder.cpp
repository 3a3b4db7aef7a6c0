// The JPEG decoder's entries: one whole file into the 24-bit SourceRaster.
#include "codecs/jpeg_decoder.h"

#include "codecs/decode_failure.h"

const size_t kJpegDecoderBytes = sizeof(JpegDecoder);

namespace {

// The raster test of SetUpRaster, made before the scans are decoded: a
// frame whose raster would be refused anyway is refused before its
// coefficient buffers are allocated and filled. The outcome is the same.
bool RasterWouldFit(const JpegDecoder& d) {
    int64_t pixelBytes = static_cast<int64_t>(d.width) * d.height * 3;
    int64_t stride = (static_cast<int64_t>(d.width) * 24 + 31) / 32 * 4;
    return pixelBytes <= kMaxRasterPixelBytes &&
           40 + stride * d.height <= static_cast<int64_t>(kDecodeBufferSize);
}

int Fail(JpegDecoder& d, const char* reason) {
    FreeAllWork(d);
    return reason ? DecodeFail(reason) : 0;
}

bool FirstScanCarriesAllComponents(const JpegDecoder& d) {
    if (d.scanCount != d.componentCount) return false;
    for (int i = 0; i < d.scanCount; ++i)
        if (d.scanComp[i] != i) return false;
    return true;
}

// The rest of a DC-only decode, once its scans are ready: the eighth-size
// picture, one MCU row of block colours at a time.
int DecodeEighth(JpegDecoder& d) {
    if (!SetUpRaster(*d.buffers, (d.width + 7) / 8, (d.height + 7) / 8, 24))
        return Fail(d, "picture too large");
    for (int32_t row = 0; row < d.mcuRows && !JpegStop(d); ++row) {
        if (d.progressive)
            AssembleMcuRowProgressive(d);
        else
            DecodeMcuRowSequential(d);
        if (!WriteEighthRow(d, row)) break;
    }
    FreeAllWork(d);
    ClearDecodeFailure();
    return 1;
}

// One decode; with masks and skipUnneeded, the blocks of sequential rows
// that no needed pixel lies in are read but not stored (d.skipMismatch then
// tells whether that left a needed block different from a full decode's).
int DecodeOnce(LoadBuffers& lb, JpegDecoder& d, const SampleMasks* masks, bool skipUnneeded) {
    ClearDecodeFailure();
    if (!lb.fileBuffer) return DecodeFail("no file buffer");
    ResetDecoder(d, lb);
    if (!PadInput(d)) return Fail(d, nullptr);
    if (!FindSoi(d)) return Fail(d, "no SOI marker in the first 513 bytes");
    int frame = ReadHeaderMarkers(d);
    if (frame == 0) return Fail(d, nullptr);
    if (frame == 0xC2)
        d.progressive = 1;
    else if (frame != 0xC0 && frame != 0xC1)
        return Fail(d, frame >= 0xC0 && frame <= 0xCF ? "frame type not supported"
                                                      : "no frame header before the scan data");
    if (!ParseFrameHeader(d) || !ClassifyLayout(d)) return Fail(d, nullptr);
    if (!RasterWouldFit(d)) return Fail(d, "picture too large");
    if (masks && masks->eighth && masks->eighth(masks->context, d.width, d.height)) d.dcOnly = 1;
    if (!d.progressive) {
        ScanStart s = StartScan(d);
        if (s == kNoMoreScans) return Fail(d, "no scan in the file");
        if (s != kScanReady) return Fail(d, nullptr);
        // The per-MCU-row buffers hold every component of an MCU row; a first
        // scan with fewer components (or another order) cannot be decoded into
        // them. This is decided and kept: a sequential first scan must list
        // every component in frame order, or the file is refused.
        if (!FirstScanCarriesAllComponents(d))
            return Fail(d, "sequential first scan does not carry all components interleaved");
    } else if (!DecodeAllScans(d)) {
        return Fail(d, nullptr);
    }
    if (JpegStop(d)) return Fail(d, "stopped");
    if (d.dcOnly) return DecodeEighth(d);
    if (!SetUpRaster(lb, d.width, d.height, 24)) return Fail(d, "picture too large");
    const bool sampled = masks && PrepareSampling(d, *masks);
    if (sampled && skipUnneeded && !d.progressive)
        d.blockStale = static_cast<uint8_t*>(WorkAlloc(d, d.blocksPerMcuRow));
    // One MCU row at a time, converted straight into the raster. A sampled
    // decode reads every MCU row's data the same way, and reconstructs only
    // the blocks that hold a needed pixel.
    for (int32_t r = 0; r < d.height && !JpegStop(d);) {
        int32_t rows = d.height - r < d.mcuHeight ? d.height - r : d.mcuHeight;
        const bool wanted = MarkNeededBlocks(d, r, rows);
        if (d.progressive)
            AssembleMcuRowProgressive(d);
        else
            DecodeMcuRowSequential(d);
        if (d.skipMismatch) break;
        if (wanted) {
            InverseDctMcuRow(d);
            if (!(sampled ? WriteSampledRows(d, r, rows) : WriteMcuRowToRaster(d, r, rows))) break;
            if (lb.rowWatcher && !sampled) lb.rowWatcher->RowsReady(lb, d.height - r - rows, rows);
        }
        r += rows;
    }
    if (!d.progressive) NoteScanEnd(d);
    FreeAllWork(d);
    // A table segment that failed between progressive scans only ended the
    // scan sequence; the picture itself decoded.
    ClearDecodeFailure();
    // Data that ran out in the first scan leaves the rest of the picture
    // flat; in a later one, only the detail that scan and those after it add.
    if (d.cutScan)
        NoteDecodeDamage(d.cutScan == 1 ? kDamageLowerPartEmpty : kDamageDetailMissing);
    else if (d.restartMissing)
        NoteDecodeDamage(kDamageDataDamaged);
    return 1;
}

} // namespace

void NoteScanEnd(JpegDecoder& d) {
    // Bits come from the fetched bytes that are not yet wholly unused; the
    // first of those unused began where RewindBitReader would return. After
    // a rewind (virtual bytes pending) nothing was used since the restart.
    if (d.virtualPending || d.cutScan) return;
    const uint32_t untouched = static_cast<uint32_t>(d.bitCount) / 8;
    const int32_t next =
        untouched ? d.fetchStart[(d.fetchCount - untouched) & 15] : d.buffers->readPosition;
    if (next > d.dataEnd) d.cutScan = d.scansStarted;
}

bool NoteRestartMissing(JpegDecoder& d) {
    if (d.buffers->readPosition > d.dataEnd) {
        if (!d.cutScan) d.cutScan = d.scansStarted;
    } else {
        d.restartMissing = 1;
    }
    return false;
}

int DecodeJpegLoaded(LoadBuffers& lb, JpegDecoder& d, const SampleMasks* masks) {
    const int32_t length = lb.dataLength, start = lb.readPosition;
    int result = DecodeOnce(lb, d, masks, true);
    if (result && d.skipMismatch && !JpegStop(d)) {
        // Rare (damaged files only): the same decode again, every block stored.
        lb.dataLength = length;
        lb.readPosition = start;
        result = DecodeOnce(lb, d, masks, false);
    }
    return result;
}

int DecodeJpegFile(LoadBuffers& lb, JpegDecoder& jpeg, const char* path) {
    if (!path) return DecodeFail("no file name");
    if (!LoadWholeFile(lb, path)) return 0;
    return DecodeJpegLoaded(lb, jpeg);
}

int DecodeJpegSampled(LoadBuffers& lb, JpegDecoder& jpeg, const char* path,
                      const SampleMasks& masks) {
    if (!path) return DecodeFail("no file name");
    if (!LoadWholeFile(lb, path)) return 0;
    return DecodeJpegLoaded(lb, jpeg, &masks);
}
