// ReadJPEG: the marker loop of one tile's JPEG stream (T.81 B.2). Tables,
// restart interval and frame header are read as they come; each SOS of a
// baseline frame is decoded at once into the destination, each SOS of a
// progressive frame is accumulated into the whole-image coefficient buffer,
// which EOI reconstructs. Every buffer is released on every path.
#include "jpeg/read_jpeg.h"

#include "jpeg/handle_owner.h"
#include "jpeg/jpeg_format.h"
#include "jpeg/jpeg_internal.h"
#include "jpeg/progressive_buffers.h"
#include "jpeg/progressive_layout.h"
#include "jpeg/sequential_scan.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

namespace kxfpx::jpeg {

namespace {

// An owned, locked block.
struct OwnedBlock {
    HandleOwner owner;
    LockedHandle lock;
    void *data = nullptr;
    bool make(uint32_t bytes)
    {
        lock.unlock();
        owner.reset(GlobalAlloc(KX_GHND, bytes));
        data = owner.get() ? lock.lock(owner.get()) : nullptr;
        return data != nullptr;
    }
    void release()
    {
        lock.unlock();
        owner.reset();
        data = nullptr;
    }
};

// The state of one call: frame, buffers, destination.
struct Decoder {
    Decoder(QorFile d, JpegTableSet *t, const SequentialTarget &out, FilterSetup *s)
        : data(d), tables(t), target(out), setup(s)
    {
    }
    QorFile data;
    JpegTableSet *tables;
    SequentialTarget target;
    FilterSetup *setup;
    uint16_t frameType = 0;
    uint16_t restartInterval = 0;
    FrameHeader frame{};
    OwnedBlock components;
    // Progressive: N signed 16-bit coefficients and N sample bytes, the
    // caller's (kept across tiles) or this call's own.
    ProgressiveBuffers own;
    ProgressiveBuffers *buffers = &own;
    int32_t N = 0;
    RgbOutput *rgb = nullptr;
    bool wrote = false;  // a scan has written into the destination

    int32_t frame_header(uint16_t marker);
    int32_t scan();
    int32_t end_of_image();
};

bool read_u8(QorFile data, uint8_t &v) { return qorReadChar(data, &v, 1) == 1; }
bool read_u16(QorFile data, uint16_t &v) { return qorReadShort(data, &v, 1) == 1; }

int32_t Decoder::frame_header(uint16_t marker)
{
    FrameHeader f{};
    if (!read_u16(data, f.length) || !read_u8(data, f.precision) || !read_u16(data, f.height) ||
        !read_u16(data, f.width) || !read_u8(data, f.componentCount))
        return KX_BAD_DATA;
    // A second frame header replaces the first; its buffers are released
    // here rather than kept until the end.
    frame = FrameHeader{};
    components.release();
    if (!components.make((3u * f.componentCount) & kComponentBytesMask))
        return KX_NO_MEMORY;
    f.componentHandle = components.owner.get();
    f.components = static_cast<FrameComponent *>(components.data);
    if (qorReadStruct(data, "3c", f.components, f.componentCount) < f.componentCount)
        return KX_BAD_DATA;
    for (uint32_t c = 0; c < f.componentCount; ++c) {
        const uint8_t h = uint8_t(f.components[c].sampling >> kSamplingHShift);
        const uint8_t v = f.components[c].sampling & kNibbleMask;
        if (h < kSamplingMin || h > kSamplingMax || v < kSamplingMin || v > kSamplingMax ||
            f.components[c].quantId > kQuantIdMax)
            return KX_BAD_DATA;
    }
    // Only 8-bit samples are decoded, and a frame must have an extent (no
    // DNL): refused once the whole segment has been read.
    if (f.precision != kSamplePrecision || f.width == 0 || f.height == 0)
        return KX_BAD_DATA;
    frame = f;
    frameType = marker;
    if (marker != kMarkerSOF2)
        return KX_OK;

    // The progressive plan: component counts (1, 3 or 4), samplings with
    // block factors, N with checked arithmetic (one full-resolution plane
    // per component) and a destination that holds what the reconstruction
    // writes, all refused with 21 before anything is allocated or decoded.
    uint32_t n = 0;
    if (const int32_t plan = ProgressiveFramePlan(frame, target.size, &n); plan != KX_OK)
        return plan;
    N = int32_t(n);
    if (!buffers->prepare(n))
        return KX_NO_MEMORY;
    return KX_OK;
}

int32_t Decoder::scan()
{
    ScanHeader s{};
    if (!read_u16(data, s.length) || !read_u8(data, s.componentCount))
        return KX_BAD_DATA;
    if (s.componentCount > kMaxScanComponents)
        return KX_BAD_DATA;
    if (qorReadStruct(data, "2c", s.components, s.componentCount) < s.componentCount)
        return KX_BAD_DATA;
    if (!read_u8(data, s.spectralStart) || !read_u8(data, s.spectralEnd) ||
        !read_u8(data, s.approximation))
        return KX_BAD_DATA;

    if (frameType == kMarkerSOF0) {
        uint32_t written = 0;
        // RGB is written on the way only by a first scan that fills the whole
        // destination: then every byte is converted once, as a pass after
        // the decoding would convert it.
        SequentialTarget t = target;
        t.toRgb = rgb && !wrote;
        t.rgbFlip = rgb && rgb->invert ? 0xFF : 0;
        bool converted = false;
        if (DecodeSequentialScan(data, frame, s, tables, restartInterval, t, &written, &converted) != KX_OK)
            return KX_BAD_DATA;
        if (rgb && !wrote)
            rgb->done = converted;
        wrote = true;
        target.destination += written;
        target.size = int32_t(int64_t(target.size) - written);
        return KX_OK;
    }
    if (frameType == kMarkerSOF2) {
        // A scan naming more components than its frame is refused.
        if (s.componentCount > frame.componentCount)
            return KX_BAD_DATA;
        return ProcessProgHufScans(data, buffers->coefficients(), &frame, s, tables, N,
                                   restartInterval);
    }
    return KX_OK;  // no frame yet: nothing is decoded
}

int32_t Decoder::end_of_image()
{
    if (frameType != kMarkerSOF2)
        return KX_OK;
    // ReorderAC for every full-resolution component, dequantization,
    // transform, expansion, interleave (grey, colour or opacity-weighted
    // colour) and row repacking; 21 when a quantization table is missing.
    return ReconstructProgressiveFrame(buffers->coefficients(), buffers->samples(), uint32_t(N), tables,
                                       target.destination, &frame, target.colourTableSlots,
                                       target.extraChannelFlag);
}

} // namespace

int32_t ReadJPEG(QorFile data, fpx::SubimageInfo *info, JpegTableSet *tables, uint8_t *destination,
                 int32_t size, FilterSetup *setup, uint8_t chromaSubsampling,
                 int16_t **colourTableSlots, int32_t extraChannelFlag)
{
    return ReadJPEG(data, info, tables, destination, size, setup, chromaSubsampling, colourTableSlots,
                    extraChannelFlag, nullptr, nullptr);
}

int32_t ReadJPEG(QorFile data, fpx::SubimageInfo *, JpegTableSet *tables, uint8_t *destination,
                 int32_t size, FilterSetup *setup, uint8_t chromaSubsampling,
                 int16_t **colourTableSlots, int32_t extraChannelFlag, ProgressiveBuffers *buffers,
                 RgbOutput *rgb)
{
    Decoder d(data, tables, {destination, size, chromaSubsampling, colourTableSlots, extraChannelFlag},
              setup);
    if (buffers)
        d.buffers = buffers;
    d.rgb = rgb;
    if (rgb)
        rgb->done = false;
    uint16_t marker = 0;
    if (!read_u16(data, marker))  // SOI; its value is not checked
        return KX_BAD_DATA;
    for (;;) {
        if (!read_u16(data, marker))
            return KX_BAD_DATA;  // also a stream that ends without EOI
        if ((marker >= kMarkerAPP0 && marker <= kMarkerAPP15) || marker == kMarkerCOM) {
            uint16_t length = 0;
            if (!read_u16(data, length))
                return KX_BAD_DATA;
            // A length below 2 cannot count its own field: refused rather
            // than skipping backwards.
            if (length < kLengthFieldBytes)
                return KX_BAD_DATA;
            (void)qorSeek(data, int32_t(length) - kLengthFieldBytes, 1);
            continue;
        }
        if (marker < kMarkerDispatchFirst || marker > kMarkerDispatchLast)
            return KX_BAD_DATA;
        int32_t r = KX_OK;
        switch (marker) {
        case kMarkerSOF0:
        case kMarkerSOF2:
            r = d.frame_header(marker);
            break;
        case kMarkerDHT:
            (void)ReadHuffman(data, tables);  // result not looked at: parsing goes on
            break;
        case kMarkerDQT:
            (void)ReadQuantization(data, &tables->slots[kQuantSlot0]);
            break;
        case kMarkerDRI: {
            uint16_t length = 0;
            if (!read_u16(data, length) || !read_u16(data, d.restartInterval))
                r = KX_BAD_DATA;
            break;
        }
        case kMarkerSOS:
            r = d.scan();
            break;
        case kMarkerEOI:
            return d.end_of_image();
        case kMarkerDAC:
            break;  // no segment skipped: the next word is read as a marker
        default:
            return KX_NOT_FLASHPIX;  // -23: an unsupported process or a stray marker
        }
        if (r != KX_OK)
            return r;
    }
}

} // namespace kxfpx::jpeg
