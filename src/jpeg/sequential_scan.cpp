// The sequential scan: set-up (geometry from the caller's chroma subsampling,
// destination check, tables, expansion modes, output mode, planes), then MCU
// by MCU: restart search, Huffman decoding of each block with dequantization
// (T.81 F.2.2), the inverse transform, expansion into one band of planes,
// and the band written out. Entropy data is read through BitReader, which
// keeps the bit-serial results and stream position.
#include "jpeg/sequential_scan.h"

#include "jpeg/band_output.h"
#include "jpeg/bit_reader.h"
#include "jpeg/decoder_tables.h"
#include "jpeg/handle_owner.h"
#include "jpeg/jpeg_format.h"
#include "jpeg/sample_rows.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kxfpx::jpeg {

namespace {

// Bands of planes up to this size live on the stack (a 64 x 64 tile needs at
// most 16 rows of 64 bytes); larger frames take zero-filled blocks.
constexpr uint32_t kStackPlaneBytes = 4 * 1024;
// The block buffer: a component has at most 4 x 4 blocks, and mode 0 reads
// block (y / 8) * 2 + b for b < H, up to block 2 (V - 1) + H - 1 < 2 * 15 + 15.
constexpr uint32_t kMaxBlocks = 2 * 15 + 15;

struct ScanComponentState {
    const HuffmanTable *dc = nullptr;
    const HuffmanTable *ac = nullptr;
    const QuantTable *quant = nullptr;
    const HuffmanLookup *dcLookup = nullptr;
    const HuffmanLookup *acLookup = nullptr;
    uint16_t predictor = 0;
    uint16_t blockCount = 0;
};

// Reads and drops n bits (a DC size category above 15 is read, then refused).
void skip_bits(BitReader &reader, BitState &bits, uint32_t n)
{
    while (n > 16) {
        reader.bits(bits, 16);
        n -= 16;
    }
    reader.bits(bits, int(n));
}

// T.81 F.12 for sizes 1 to 15 without a branch: a value below 2^(t-1) gets
// 1 - 2^t added (the EXTEND_TEST / EXTEND_OFFSET tables in arithmetic form).
inline int32_t extend(uint32_t v, uint32_t t)
{
    const int32_t x = int32_t(v);
    return x + ((x - int32_t(1u << (t - 1))) >> 31 & (int32_t(~0u << t) + 1));
}

// 64 coefficients set to zero with eight 16-byte stores (a memset of this
// size becomes a string instruction whose start-up costs more than the
// stores).
inline void clear_block(int16_t *block)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block) + i, zero);
#else
    std::memset(block, 0, 64 * sizeof(int16_t));
#endif
}

// One block: DC difference, AC run/size pairs, dequantized in natural order.
// `symbol` is the scan's one symbol variable: a code whose index lies beyond
// its table leaves it as it was, and decoding goes on with it. Each step
// needs at most 16 bits of code and 15 of value, so one check for 32 bits
// per coefficient covers it.
inline bool decode_block(BitReader &reader, BitState &bits, ScanComponentState &c, uint16_t &symbol,
                         int16_t *block, bool &acWritten)
{
    reader.ensure(bits, 32);
    if (BitReader::decode_unchecked(bits, *c.dcLookup, &symbol) == KX_BAD_DATA)
        return false;
    const uint32_t s = symbol;
    uint16_t diff = 0;
    if (s != 0) {
        if (s > 15) {
            skip_bits(reader, bits, s);
            return false;  // size category above 15
        }
        const uint32_t v = BitReader::peek_unchecked(bits, int(s));
        BitReader::skip_unchecked(bits, int(s));
        diff = uint16_t(extend(v, s));
    }
    clear_block(block);
    c.predictor = uint16_t(c.predictor + diff);
    const uint16_t *q = c.quant->q;
    block[0] = int16_t(uint16_t(uint32_t(c.predictor) * q[0]));

    const HuffmanLookup &ac = *c.acLookup;
    acWritten = false;
    for (uint32_t k = 1;;) {
        reader.ensure(bits, 32);
        const uint32_t p = BitReader::peek_unchecked(bits, HuffmanLookup::kBits);
        if (const uint16_t e = ac.acEntry[p]) {
            // Code and value bits in one step; the same bits, value and run.
            symbol = uint8_t(e);
            BitReader::skip_unchecked(bits, e >> 8);
            k += symbol >> 4;
            if (k > 63)
                return false;
            block[DE_ZIGZAG[k]] = int16_t(uint16_t(uint32_t(int32_t(ac.acValue[p])) * q[k]));
            acWritten = true;
            if (++k > 63)
                break;
            continue;
        }
        if (BitReader::decode_unchecked(bits, ac, &symbol) == KX_BAD_DATA)
            return false;
        const uint32_t r = symbol >> 4, size = symbol & 15;
        if (size == 0) {
            if (r != 15)
                break;  // EOB (any run 0 to 14)
            k += 16;    // ZRL
            if (k > 63)
                break;
            continue;
        }
        k += r;
        const uint32_t v = BitReader::peek_unchecked(bits, int(size));
        BitReader::skip_unchecked(bits, int(size));
        // A run that takes k beyond 63 is corrupt data: the scan fails (the
        // value's bits are read first, as for a DC size above 15).
        if (k > 63)
            return false;
        block[DE_ZIGZAG[k]] = int16_t(uint16_t(uint32_t(extend(v, size)) * q[k]));
        acWritten = true;
        if (++k > 63)
            break;
    }
    return true;
}

// The decoding views of a scan's tables, one per distinct table record.
class LookupSet {
public:
    const HuffmanLookup *get(const HuffmanTable *table, bool ac)
    {
        if (!table)
            return nullptr;
        for (int i = 0; i < used_; ++i)
            if (tables_[i] == table)
                return &lookups_[i];
        tables_[used_] = table;
        lookups_[used_].build(*table, ac);
        return &lookups_[used_++];
    }

private:
    const HuffmanTable *tables_[2 * kMaxScanComponents] = {};
    HuffmanLookup lookups_[2 * kMaxScanComponents];
    int used_ = 0;
};

// The transform of a block whose only coefficient is the DC value D, as
// IDCT8x8Block computes it: row 0 becomes D * 4 (16 bits), the other rows 0,
// and every column then (D * 4 * 8192 + 131072) >> 18.
inline void fill_dc_only(int16_t *block)
{
    const int16_t dc4 = int16_t(uint32_t(int32_t(block[0])) * 4u);
    const int16_t v = int16_t(int32_t(uint32_t(int32_t(dc4)) * 8192u + 131072u) >> 18);
    for (int i = 0; i < 64; ++i)
        block[i] = v;
}

// A band plane: on the stack when small, else a zero-filled locked block.
class Plane {
public:
    bool make(uint32_t bytes, uint8_t *stack)
    {
        if (bytes <= kStackPlaneBytes) {
            std::memset(stack, 0, bytes);
            data_ = stack;
            return true;
        }
        owner_.reset(GlobalAlloc(KX_GHND, bytes));
        data_ = owner_.get() ? static_cast<uint8_t *>(lock_.lock(owner_.get())) : nullptr;
        return data_ != nullptr;
    }
    uint8_t *data() const { return data_; }

private:
    HandleOwner owner_;
    LockedHandle lock_;
    uint8_t *data_ = nullptr;
};

bool checked_mul(uint64_t a, uint64_t b, uint64_t &out) { return !__builtin_mul_overflow(a, b, &out); }

} // namespace

int32_t DecodeSequentialScan(QorFile data, const FrameHeader &frame, const ScanHeader &scan,
                             JpegTableSet *tables, uint16_t restartInterval,
                             const SequentialTarget &target, uint32_t *written, bool *convertedToRgb)
{
    FrameHeader geometry = frame;
    uint8_t H = uint8_t(target.chromaSubsampling >> kSamplingHShift);
    uint8_t V = target.chromaSubsampling & kNibbleMask;
    uint16_t W = 0, paddedHeight = 0, mcuCols = 0, mcuRows = 0;
    GetImageAttributes(&H, &V, &W, &paddedHeight, &mcuCols, &mcuRows, &geometry);

    const uint32_t ns = scan.componentCount;
    // A scan naming more components than its frame has (or none) is refused.
    if (ns == 0 || ns > frame.componentCount || ns > kMaxScanComponents)
        return KX_BAD_DATA;
    const uint32_t b = ns <= 2 ? 1 : 3;
    const uint64_t stride = uint64_t(W) * b;
    uint64_t needed = 0;
    if (!checked_mul(stride, paddedHeight, needed) || int64_t(target.size) < int64_t(needed))
        return KX_BAD_DATA;

    LookupSet lookups;
    ScanComponentState comps[kMaxScanComponents];
    LockedHandle locks[kMaxScanComponents][3];
    uint32_t modes[kMaxScanComponents] = {};
    uint32_t firstNull = ns;  // the first component lacking a table fails the scan when reached
    uint32_t blocksNeeded = 2u * (V ? V - 1u : 0u) + H;
    for (uint32_t i = 0; i < ns; ++i) {
        const uint8_t td = uint8_t(scan.components[i].tables >> kSamplingHShift);
        const uint8_t ta = scan.components[i].tables & kNibbleMask;
        if (td > kTableIdMax || ta > kTableIdMax)
            return KX_BAD_DATA;
        ScanComponentState &c = comps[i];
        const FrameComponent &fc = frame.components[i];
        c.dc = locks[i][0].lock(tables->slots[td]) ? locks[i][0].as<HuffmanTable>() : nullptr;
        c.ac = locks[i][1].lock(tables->slots[kHuffmanSlotsPerClass + ta])
                   ? locks[i][1].as<HuffmanTable>() : nullptr;
        c.quant = locks[i][2].lock(tables->slots[kQuantSlot0 + (fc.quantId & 3)])
                      ? locks[i][2].as<QuantTable>() : nullptr;
        if ((!c.dc || !c.ac || !c.quant) && firstNull == ns)
            firstNull = i;
        const uint8_t h = uint8_t(fc.sampling >> kSamplingHShift), v = fc.sampling & kNibbleMask;
        c.blockCount = uint16_t(h * v);
        if (c.blockCount > blocksNeeded)
            blocksNeeded = c.blockCount;
        if (DetermineExpansion(&modes[i], frame, uint16_t(i), H, V) == KX_BAD_DATA)
            return KX_BAD_DATA;
        // A component coded at more than the MCU's size, or doubled to more
        // rows than the band has (0x22 in an MCU of 0x33), would be written
        // beyond its band: refused.
        if (h > H || v > V || (modes[i] == kExpandBoth && 2u * v > V))
            return KX_BAD_DATA;
        c.dcLookup = lookups.get(c.dc, false);
        c.acLookup = lookups.get(c.ac, true);
    }

    int outputMode = ns <= 2 ? (comps[0].blockCount == 1 ? kOutputGrey : kOutputColour) : kOutputColour;
    if (target.extraChannelFlag)
        outputMode = kOutputOpacity;
    // Output modes that need planes the scan lacks are refused before decoding.
    if ((outputMode == kOutputColour && ns < 3) || (outputMode == kOutputOpacity && ns < 4))
        return KX_BAD_DATA;
    // Mode 5 without its five colour tables is refused too.
    if (outputMode == kOutputOpacity) {
        if (!target.colourTableSlots)
            return KX_BAD_DATA;
        for (int t = 0; t < kColourTables; ++t)
            if (!target.colourTableSlots[t])
                return KX_BAD_DATA;
    }

    // RGB on the way only when the scan writes every byte of the destination.
    const bool toRgb = target.toRgb && outputMode == kOutputColour && needed == uint64_t(target.size);
    // 4:2:0 colour written as RGB: the chroma blocks stay 8 x 8 in their
    // planes and the band writer doubles them as it converts.
    const bool chromaLater = toRgb && ns == 3 && modes[0] == kExpandNone && modes[1] == kExpandBoth &&
                             modes[2] == kExpandBoth;
    if (chromaLater)
        modes[1] = modes[2] = kExpandLater;

    uint64_t planeBytes = 0;
    if (!checked_mul(uint64_t(V) * 8u, W, planeBytes) || planeBytes > UINT32_MAX)
        return KX_BAD_DATA;
    alignas(16) uint8_t stackPlanes[kMaxScanComponents][kStackPlaneBytes];
    Plane planes[kMaxScanComponents];
    for (uint32_t i = 0; i < ns; ++i)
        if (!planes[i].make(uint32_t(planeBytes), stackPlanes[i]))
            return KX_BAD_DATA;
    alignas(32) int16_t blockBuffer[kMaxBlocks * 64];
    std::memset(blockBuffer, 0, sizeof(int16_t) * 64 * blocksNeeded);

    const uint16_t interval = restartInterval ? restartInterval : kNoRestartInterval;
    uint16_t restartCounter = 0;
    uint16_t symbol = 0;
    BitReader reader(data);
    BitState bits = reader.take();
    // The bit buffer goes back to the reader on every return, before the
    // reader sets the stream position.
    struct PutBack {
        BitReader &reader;
        BitState &bits;
        ~PutBack() { reader.put(bits); }
    } putBack{reader, bits};
    uint8_t *dest = target.destination;
    const uint32_t bandRows = 8u * V;
    uint8_t *planePtr[kMaxScanComponents];
    const uint8_t *planeStart[kMaxScanComponents];
    for (uint32_t i = 0; i < ns; ++i)
        planeStart[i] = planes[i].data();

    for (uint32_t r = 0; r < mcuRows; ++r) {
        for (uint32_t i = 0; i < ns; ++i)
            planePtr[i] = planes[i].data();
        for (uint32_t m = 0; m < mcuCols; ++m) {
            if (restartCounter == interval) {
                reader.put(bits);
                reader.reset();
                bits = reader.take();
                if (!reader.skip_to_marker())
                    return KX_BAD_DATA;
                restartCounter = 0;
                for (uint32_t i = 0; i < ns; ++i)
                    comps[i].predictor = 0;
            }
            for (uint32_t i = 0; i < ns; ++i) {
                if (i == firstNull)
                    return KX_BAD_DATA;
                ScanComponentState &c = comps[i];
                for (uint32_t k = 0; k < c.blockCount; ++k) {
                    int16_t *block = blockBuffer + 64 * k;
                    bool acWritten = false;
                    if (!decode_block(reader, bits, c, symbol, block, acWritten))
                        return KX_BAD_DATA;
                    if (acWritten)
                        IDCT8x8Block(block);
                    else
                        fill_dc_only(block);
                }
                ExpandBlock(planePtr, blockBuffer, modes, uint16_t(i), frame, W, H);
            }
            restartCounter = uint16_t(restartCounter + 1);
        }
        switch (outputMode) {
        case kOutputGrey:
            write_band_grey(planeStart, W, dest, size_t(stride), W, bandRows);
            break;
        case kOutputColour:
            if (chromaLater)
                write_band_rgb_h2v2(planeStart, W, dest, size_t(stride), W, bandRows, target.rgbFlip);
            else if (toRgb)
                write_band_rgb(planeStart, W, dest, size_t(stride), W, bandRows, target.rgbFlip);
            else
                write_band_colour(planeStart, W, dest, size_t(stride), W, bandRows);
            break;
        default:
            write_band_opacity(planeStart, W, dest, size_t(stride), W, bandRows,
                               target.colourTableSlots);
            break;
        }
        dest += size_t(bandRows) * size_t(stride);
    }
    *written = uint32_t(needed);
    if (convertedToRgb)
        *convertedToRgb = toRgb;
    return KX_OK;
}

} // namespace kxfpx::jpeg
