// One progressive scan (T.81 Annex G: spectral selection and successive
// approximation) decoded into the whole-image coefficient buffer, written
// once over any bit source: DC first and refinement scans (interleaved or
// not), AC first and refinement scans with EOB runs, restart markers.
// progressive_scans.cpp runs it over the fast bit reader; the tests run it
// over the literal bit-serial reader below and compare.
#pragma once

#include "jpeg/bit_reader.h"
#include "jpeg/handle_owner.h"
#include "jpeg/jpeg_format.h"
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

namespace kxfpx::jpeg::prog {

inline constexpr int kMaxCategory = 15;       // coefficient size categories 1..15
inline constexpr int kNibbleShift = 4;        // RS: run in bits 4-7, size in bits 0-3
inline constexpr uint8_t kZeroRun16 = 15;     // R = 15, S = 0: sixteen zeros (ZRL)
inline constexpr int32_t kScanEnded = 0;      // a scan cut short by corrupt data

// The bit-serial reader of the sequential path, one NextBit per bit and one
// GetNextCode per symbol: the reference every faster source must equal.
class LiteralBits {
public:
    using Table = HuffmanTable *;
    static void prepare(Table &view, HuffmanTable *table) { view = table; }
    // The bit-serial reader keeps its state itself.
    struct State {};
    State take() { return {}; }
    void put(State) {}

    explicit LiteralBits(QorFile data) : data_(data) {}
    // 0, or non-zero when the code leads to no symbol.
    int32_t decode(State &, HuffmanTable *table, uint16_t *symbol)
    {
        return GetNextCode(symbol, table, &bitsLeft_, &bitBuffer_, data_);
    }
    // n bits (n <= 16) as an unsigned number, first bit highest.
    uint32_t bits(State &, int n)
    {
        int16_t code = 0;
        for (int i = 0; i < n; ++i)
            code = NextBit(&bitsLeft_, &bitBuffer_, code, data_);
        return uint16_t(code);
    }
    void skip(State &, int n)
    {
        for (int i = 0; i < n; ++i)
            (void)NextBit(&bitsLeft_, &bitBuffer_, 0, data_);
    }
    // At a restart point: the bit reader is emptied and bytes are read up to
    // and including the next marker (0xFF followed by a non-zero byte; the
    // marker's number is not looked at). False when the data ends first.
    bool restart()
    {
        bitsLeft_ = 0;
        bitBuffer_ = 0;
        uint8_t byte = 0;
        for (;;) {
            if (qorReadChar(data_, &byte, 1) != 1)
                return false;
            while (byte == kMarkerPrefix) {
                if (qorReadChar(data_, &byte, 1) != 1)
                    return false;
                if (byte != kStuffedZero)
                    return true;
            }
        }
    }
    // Nothing is read ahead, so the stream already stands where the scan
    // stopped.
    void finish() {}

private:
    QorFile data_;
    uint8_t bitsLeft_ = 0;
    uint16_t bitBuffer_ = 0;
};

// T.81 F.12: a size-s magnitude v (s = 1..15) becomes the value it codes.
inline int32_t extend(int32_t v, int s)
{
    return v < EXTEND_TEST[s] ? v + EXTEND_OFFSET[s] : v;
}

// The fast reader of the decoder with the same interface: Huffman tables
// through their lookahead views, the restart search of the sequential path.
class FastBits {
public:
    using Table = HuffmanLookup;
    static void prepare(Table &view, HuffmanTable *table) { view.build(*table); }
    // The bit buffer, held by the scan loops in registers between take() and
    // put().
    using State = BitState;
    State take() { return in_.take(); }
    void put(State s) { in_.put(s); }

    explicit FastBits(QorFile data) : in_(data) {}
    int32_t decode(State &s, const HuffmanLookup &table, uint16_t *symbol)
    {
        return in_.decode(s, table, symbol);
    }
    uint32_t bits(State &s, int n) { return in_.bits(s, n); }
    void skip(State &s, int n)
    {
        for (; n > 16; n -= 16)
            (void)in_.bits(s, 16);
        (void)in_.bits(s, n);
    }
    bool restart()
    {
        in_.reset();
        return in_.skip_to_marker();
    }
    void finish() { in_.finish(); }

private:
    BitReader in_;
};

// Everything one scan needs besides the bit source.
template <typename Bits> struct ScanPlan {
    int ns = 0;                                     // scan components
    int component[kMaxScanComponents] = {};         // frame component of each
    // DC (DC first scan) or AC table of each scan component; only those the
    // scan uses are set (a lookahead view is large: no clearing per scan).
    typename Bits::Table table[kMaxScanComponents];
    int16_t *plane[kProgMaxComponents] = {};        // plane of each frame component
    uint32_t ss = 0, se = 0, ah = 0, al = 0;
    int32_t p1 = 0, m1 = 0;
    uint32_t restartInterval = 0;                   // 0: no restart markers
};

// Counts the restart intervals of a scan and consumes the marker that ends
// each one: it resets the DC predictions and the EOB run of the scan.
template <typename Bits> class RestartClock {
public:
    explicit RestartClock(uint32_t interval) : interval_(interval) {}
    // Before each MCU (a block in a one-component scan): false when the
    // marker due here cannot be found.
    template <typename Reset> bool before_unit(Bits &in, typename Bits::State &s, Reset reset)
    {
        if (interval_ == 0)
            return true;
        if (left_ == 0) {
            if (started_) {
                in.put(s);
                const bool found = in.restart();
                s = in.take();
                if (!found)
                    return false;
                reset();
            }
            left_ = interval_;
        }
        started_ = true;
        --left_;
        return true;
    }

private:
    uint32_t interval_;
    uint32_t left_ = 0;
    bool started_ = false;
};

// Hands a scan loop's local bit buffer back to its caller on every return.
template <typename Bits> struct StateWriteBack {
    typename Bits::State &out;
    typename Bits::State &local;
    ~StateWriteBack() { out = local; }
};

// --- DC scans ---------------------------------------------------------------

// One DC coefficient: the first scan adds the decoded difference to the
// predictor and stores it scaled by 2^Al; a refinement sets bit Al.
template <typename Bits>
inline bool dc_block(Bits &in, typename Bits::State &s, const ScanPlan<Bits> &p, int i, uint16_t *pred, int16_t *block)
{
    if (p.ah == 0) {
        uint16_t size = 0;
        if (in.decode(s, p.table[i], &size) != 0)
            return false;
        int32_t diff = 0;
        if (size != 0) {
            // The s bits are read before the size is checked, as the
            // sequential path reads them: the stream position depends on it.
            if (size > kMaxCategory) {
                in.skip(s, size);
                return false;
            }
            diff = extend(int32_t(in.bits(s, size)), size);
        }
        pred[i] = uint16_t(pred[i] + diff);
        block[0] = int16_t(uint16_t(uint32_t(pred[i]) * uint32_t(p.p1)));
    } else if (in.bits(s, 1)) {
        block[0] = int16_t(block[0] | p.p1);
    }
    return true;
}

template <typename Bits>
int32_t dc_scan(Bits &in, typename Bits::State &state, const ScanPlan<Bits> &p, const ProgGeometry &g,
            const ProgFactors &f)
{
    // A local copy of the bit buffer stays in registers; it goes back on
    // every return.
    typename Bits::State s = state;
    StateWriteBack<Bits> back{state, s};
    uint16_t pred[kMaxScanComponents] = {};
    RestartClock<Bits> clock(p.restartInterval);
    auto reset = [&pred] { pred[0] = pred[1] = pred[2] = pred[3] = 0; };
    if (p.ns == 1) {
        // A one-component scan codes the component's own block grid row by
        // row (T.81 A.2.2), only the blocks inside the image, and the DC
        // values go to their places in MCU order in that component's plane.
        const int c = p.component[0];
        const bool full = prog_full_grid(g, f, c);
        const uint32_t cols = full ? g.blocksW : g.mcuCols;
        const uint32_t rows = full ? g.blocksH : g.mcuRows;
        const uint32_t hfac = f.hfac[c], vfac = f.vfac[c];
        for (uint32_t by = 0; by < rows; ++by)
            for (uint32_t bx = 0; bx < cols; ++bx) {
                if (!clock.before_unit(in, s, reset))
                    return KX_BAD_DATA;
                const uint32_t mcu = (by / vfac) * g.mcuCols + bx / hfac;
                const uint32_t index = mcu * hfac * vfac + (by % vfac) * hfac + bx % hfac;
                if (!dc_block(in, s, p, 0, pred, p.plane[c] + index * kBlockCoefficients))
                    return kScanEnded;
            }
        return KX_OK;
    }
    // Interleaved: every MCU in raster order, each scan component's vfac rows
    // of hfac blocks, dummy blocks at the edges included.
    for (uint32_t mcu = 0; mcu < g.mcuCount(); ++mcu) {
        if (!clock.before_unit(in, s, reset))
            return KX_BAD_DATA;
        for (int i = 0; i < p.ns; ++i) {
            const int c = p.component[i];
            int16_t *block = p.plane[c] + mcu * f.blocks(c) * kBlockCoefficients;
            for (uint32_t b = 0; b < f.blocks(c); ++b, block += kBlockCoefficients)
                if (!dc_block(in, s, p, i, pred, block))
                    return kScanEnded;
        }
    }
    return KX_OK;
}

// --- AC scans ---------------------------------------------------------------

// Outcome of one block of an AC scan.
enum class BlockResult { Done, Ended };

// The band of an AC scan, copied into locals so that the hot loops keep it
// in registers (the bit reader's stores could otherwise alias it).
template <typename Bits> struct AcBand {
    const typename Bits::Table *table;
    uint32_t ss, se;
    int32_t p1, m1;
};

// First AC scan of one block (T.81 G.1.2.2): runs, values scaled by 2^Al,
// EOB runs over the following blocks.
template <typename Bits>
inline BlockResult ac_first_block(Bits &in, typename Bits::State &s, const AcBand<Bits> b, uint32_t *eobrun, int16_t *block)
{
    if (*eobrun > 0) {
        --*eobrun;
        return BlockResult::Done;
    }
    uint32_t k = b.ss;
    if (b.se < b.ss)
        return BlockResult::Done;
    for (;;) {
        uint16_t rs = 0;
        if (in.decode(s, *b.table, &rs) != 0)
            return BlockResult::Ended;
        const uint32_t r = rs >> kNibbleShift, size = rs & kNibbleMask;
        if (size == 0) {
            if (r != kZeroRun16) {
                *eobrun = (1u << r) + (r ? in.bits(s, int(r)) : 0) - 1;
                return BlockResult::Done;
            }
            k += 16;
        } else {
            k += r;
            const int32_t v = extend(int32_t(in.bits(s, int(size))), int(size));
            // A run past the block's last coefficient ends the scan; inside
            // the block the value is stored where the run put it.
            if (k >= uint32_t(kBlockCoefficients))
                return BlockResult::Ended;
            block[DE_ZIGZAG[k]] = int16_t(uint32_t(v) * uint32_t(b.p1));
            ++k;
        }
        if (k > b.se)
            return BlockResult::Done;
    }
}

// A correction bit for a coefficient that already has a value: bit Al is
// added away from zero when it is not yet set.
template <typename Bits> inline void refine(Bits &in, typename Bits::State &s, const AcBand<Bits> b, int16_t *coef)
{
    if (in.bits(s, 1) && (*coef & b.p1) == 0)
        *coef = int16_t(*coef + (*coef >= 0 ? b.p1 : b.m1));
}

// AC refinement of one block (T.81 G.1.2.3): new coefficients of +-2^Al
// placed after R zero-history coefficients, correction bits for the others,
// EOB runs that only correct.
template <typename Bits>
inline BlockResult ac_refine_block(Bits &in, typename Bits::State &s, const AcBand<Bits> b, uint32_t *eobrun, int16_t *block)
{
    uint32_t k = b.ss;
    if (*eobrun == 0) {
        while (k <= b.se) {
            uint16_t rs = 0;
            if (in.decode(s, *b.table, &rs) != 0)
                return BlockResult::Ended;
            int32_t r = rs >> kNibbleShift;
            const uint32_t size = rs & kNibbleMask;
            int32_t value = 0;
            if (size == 1) {
                value = in.bits(s, 1) ? b.p1 : b.m1;
            } else if (size == 0) {
                if (r != kZeroRun16) {
                    *eobrun = (1u << r) + (r ? in.bits(s, r) : 0);
                    break;
                }
            } else {
                return BlockResult::Ended;
            }
            for (; k <= b.se; ++k) {
                int16_t *coef = block + DE_ZIGZAG[k];
                if (*coef != 0)
                    refine(in, s, b, coef);
                else if (--r < 0)
                    break;
            }
            if (value != 0) {
                // A new value that the walk carried past the block's end
                // ends the scan.
                if (k >= uint32_t(kBlockCoefficients))
                    return BlockResult::Ended;
                block[DE_ZIGZAG[k]] = int16_t(value);
            }
            ++k;
        }
    }
    if (*eobrun > 0) {
        for (; k <= b.se; ++k) {
            int16_t *coef = block + DE_ZIGZAG[k];
            if (*coef != 0)
                refine(in, s, b, coef);
        }
        --*eobrun;
    }
    return BlockResult::Done;
}

template <typename Bits>
int32_t ac_scan(Bits &in, typename Bits::State &state, const ScanPlan<Bits> &p, const ProgGeometry &g,
            const ProgFactors &f)
{
    // A local copy of the bit buffer stays in registers; it goes back on
    // every return.
    typename Bits::State s = state;
    StateWriteBack<Bits> back{state, s};
    // One component, its own block grid row by row (T.81 A.2.2): a
    // full-resolution component fills its plane in raster order of a grid
    // gridCols blocks wide (ReorderAC brings it to MCU order later), any other
    // has one block per MCU, so raster order is MCU order.
    const int c = p.component[0];
    const bool full = prog_full_grid(g, f, c);
    const uint32_t cols = full ? g.blocksW : g.mcuCols;
    const uint32_t rows = full ? g.blocksH : g.mcuRows;
    const uint32_t stride = full ? g.gridCols() : g.mcuCols;
    uint32_t eobrun = 0;
    RestartClock<Bits> clock(p.restartInterval);
    auto reset = [&eobrun] { eobrun = 0; };
    const AcBand<Bits> band{&p.table[0], p.ss, p.se, p.p1, p.m1};
    for (uint32_t by = 0; by < rows; ++by) {
        int16_t *block = p.plane[c] + by * stride * kBlockCoefficients;
        for (uint32_t bx = 0; bx < cols; ++bx, block += kBlockCoefficients) {
            if (!clock.before_unit(in, s, reset))
                return KX_BAD_DATA;
            const BlockResult r = p.ah == 0 ? ac_first_block(in, s, band, &eobrun, block)
                                            : ac_refine_block(in, s, band, &eobrun, block);
            if (r == BlockResult::Ended)
                return kScanEnded;
        }
    }
    return eobrun != 0 ? KX_BAD_DATA : KX_OK;
}

// Sets up and decodes one scan; the tables it names are locked for the scan.
template <typename Bits>
int32_t decode_scan(Bits &in, int16_t *coefficients, const FrameHeader &frame,
                    const ScanHeader &scan, JpegTableSet *tables, uint32_t N,
                    uint32_t restartInterval)
{
    const ProgGeometry g(frame);
    const ProgFactors f(frame);
    ScanPlan<Bits> p;
    p.ns = std::min<int>(scan.componentCount, kMaxScanComponents);
    p.ss = scan.spectralStart;
    p.se = scan.spectralEnd;
    p.ah = scan.approximation >> kNibbleShift;
    p.al = scan.approximation & kNibbleMask;
    p.p1 = int32_t(1) << p.al;
    p.m1 = -p.p1;
    p.restartInterval = restartInterval;
    const bool dc = p.ss == 0 && p.se == 0;

    // Components without block factors end the scan, as does an empty grid;
    // a scan without components decodes nothing.
    if (!f.ok || g.mcuRows == 0 || p.ns == 0)
        return kScanEnded;
    // Every plane must hold the full-resolution grid (a planned N does).
    if (uint64_t(g.gridCols()) * g.gridRows() * kBlockCoefficients > plane_size(N, frame))
        return KX_BAD_DATA;
    // A band ending beyond coefficient 63 would place values outside the
    // block: such a scan header is refused (21).
    if (!dc && p.se >= uint32_t(kBlockCoefficients))
        return KX_BAD_DATA;
    for (int c = 0; c < prog_component_count(frame); ++c)
        p.plane[c] = coefficients + plane_start(N, frame, c);

    // Scan components are matched with frame components by identifier (a
    // selector that names none refuses the scan, 21); an AC scan has one
    // component (only its first pair is used). A table id above 3 or an
    // empty table slot refuses the scan (21), as a sequential scan does.
    if (!dc)
        p.ns = 1;
    LockedHandle locks[kMaxScanComponents];
    for (int i = 0; i < p.ns; ++i) {
        p.component[i] = prog_component_index(frame, scan.components[i].componentId);
        if (p.component[i] < 0)
            return KX_BAD_DATA;
        if (dc && p.ah != 0)
            continue;  // DC refinement bits need no table
        const uint8_t id = dc ? scan.components[i].tables >> kNibbleShift
                              : scan.components[i].tables & kNibbleMask;
        if (id > kTableIdMax)
            return KX_BAD_DATA;
        auto *table = static_cast<HuffmanTable *>(
            locks[i].lock(tables->slots[(dc ? 0 : kHuffmanSlotsPerClass) + id]));
        if (!table)
            return KX_BAD_DATA;
        Bits::prepare(p.table[i], table);
    }
    typename Bits::State s = in.take();
    const int32_t result = dc ? dc_scan(in, s, p, g, f) : ac_scan(in, s, p, g, f);
    in.put(s);
    in.finish();
    return result;
}

} // namespace kxfpx::jpeg::prog
