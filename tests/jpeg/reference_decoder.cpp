// The literal reference decoder of baseline tiles (see jpeg_support.h).
#include "jpeg/jpeg_support.h"

#include <kxfpx/memory.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

using kxfpx::jpeg::HuffmanTable;
using kxfpx::jpeg::JpegTableSet;
using kxfpx::jpeg::QuantTable;

namespace jpegtest {

namespace {

struct Bits {
    uint8_t left = 0;
    uint16_t buffer = 0;
};

// The next byte, 0 past the end.
uint8_t byte_or_zero(QorFile f)
{
    uint8_t v = 0;
    return qorReadChar(f, &v, 1) == 1 ? v : 0;
}

int16_t next_bit(Bits &b, int16_t code, QorFile f)
{
    if (b.left == 0) {
        b.left = 8;
        b.buffer |= byte_or_zero(f);
        if ((b.buffer & 0xFF) == 0xFF && byte_or_zero(f) != 0)
            b.left = 0;
    }
    b.buffer = uint16_t((b.buffer & 0xFF) << 1);
    b.left = uint8_t(b.left - 1);
    return int16_t(uint16_t(uint16_t(code) << 1) | (b.buffer >> 8));
}

// 0, -23 (symbol unchanged) or 21 (no code up to 16 bits).
int32_t get_next_code(uint16_t &symbol, const HuffmanTable &t, Bits &b, QorFile f)
{
    int16_t code = 0;
    for (int l = 1; l <= 16; ++l) {
        code = next_bit(b, code, f);
        if (code <= t.maxCode[l - 1]) {
            const uint16_t index = uint16_t(code + t.valPtr[l - 1] - t.minCode[l - 1]);
            if (index >= std::accumulate(std::begin(t.bits), std::end(t.bits), 0))
                return -23;
            symbol = t.values[index];
            return 0;
        }
    }
    return 21;
}

int16_t receive(Bits &b, uint32_t s, QorFile f)
{
    int16_t v = 0;
    for (uint32_t i = 0; i < s; ++i)
        v = next_bit(b, v, f);
    return v;
}

// s received bits as a signed value (s <= 15).
int32_t extend(int32_t v, uint32_t s) { return v < (1 << s >> 1) ? v - (1 << s) + 1 : v; }

// The range table: entries 1025..1278 hold 1..254, 1279..1407 hold 255, the rest 0, indexed at 1152 + v.
uint8_t range(int v)
{
    const int i = 1152 + v;
    return i >= 1025 && i <= 1278 ? uint8_t(i - 1024) : i >= 1279 && i <= 1407 ? 255 : 0;
}

constexpr uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// One 1-D pass as written, each sum reduced to signed 32 bits.
void pass(const int64_t i[8], int32_t s[8])
{
    const int64_t z = (i[2] + i[6]) * 4433;
    const int64_t e2 = z - i[6] * 15137, e3 = z + i[2] * 6270;
    const int64_t e0 = (i[0] + i[4]) * 8192, e1 = (i[0] - i[4]) * 8192;
    const int64_t t10 = e0 + e3, t13 = e0 - e3, t11 = e1 + e2, t12 = e1 - e2;
    const int64_t a = i[7] + i[1], b = i[5] + i[3], c = i[7] + i[3], d = i[5] + i[1];
    const int64_t m = (c + d) * 9633;
    const int64_t a2 = a * -7373, b2 = b * -20995, c2 = c * -16069 + m, d2 = d * -3196 + m;
    const int64_t o0 = i[7] * 2446 + a2 + c2, o1 = i[5] * 16819 + b2 + d2;
    const int64_t o2 = i[3] * 25172 + b2 + c2, o3 = i[1] * 12299 + a2 + d2;
    const int64_t sums[8] = {t10 + o3, t11 + o2, t12 + o1, t13 + o0, t13 - o0, t12 - o1, t11 - o2, t10 - o3};
    for (int k = 0; k < 8; ++k)
        s[k] = int32_t(uint32_t(uint64_t(sums[k])));
}

} // namespace

void reference_idct(int16_t *block)
{
    int64_t in[8];
    int32_t s[8];
    for (int r = 0; r < 8; ++r) {
        int16_t *row = block + 8 * r;
        if (std::all_of(row + 1, row + 8, [](int16_t v) { return v == 0; })) {
            std::fill(row, row + 8, int16_t(row[0] * 4));
            continue;
        }
        for (int k = 0; k < 8; ++k)
            in[k] = row[k];
        pass(in, s);
        for (int k = 0; k < 8; ++k)
            row[k] = int16_t(int32_t(uint32_t(s[k]) + 1024u) >> 11);
    }
    for (int c = 0; c < 8; ++c) {
        for (int k = 0; k < 8; ++k)
            in[k] = block[8 * k + c];
        pass(in, s);
        for (int k = 0; k < 8; ++k)
            block[8 * k + c] = int16_t(int32_t(uint32_t(s[k]) + 131072u) >> 18);
    }
}

namespace {

struct Comp {
    uint8_t id, sampling, quantId;
};
struct Frame {
    uint16_t height = 0, width = 0;
    std::vector<Comp> comps;
};

bool u8(QorFile f, uint8_t &v) { return qorReadChar(f, &v, 1) == 1; }
bool u16(QorFile f, uint16_t &v) { return qorReadShort(f, &v, 1) == 1; }

// The table handles locked for one scan, unlocked on every path.
struct Locks {
    std::vector<HGLOBAL> held;
    const void *lock(HGLOBAL h)
    {
        void *p = h ? GlobalLock(h) : nullptr;
        if (p)
            held.push_back(h);
        return p;
    }
    ~Locks()
    {
        for (HGLOBAL h : held)
            GlobalUnlock(h);
    }
};

int32_t sequential_scan(QorFile f, const Frame &fr, int ns, const uint8_t *tablesByte, JpegTableSet *tables,
                        uint16_t restart, uint8_t *&dest, int32_t &size, uint8_t chroma,
                        int16_t **slots, int32_t extra)
{
    const uint32_t H = chroma >> 4, V = chroma & 15;
    auto div0 = [](uint32_t a, uint32_t b) { return b ? a / b : 0; };
    const uint16_t W = uint16_t(div0(fr.width + 8 * H - 1, 8 * H) * H * 8);
    const uint16_t PH = uint16_t(div0(fr.height + 8 * V - 1, 8 * V) * V * 8);
    const uint32_t mcuCols = div0(W / 8u, H), mcuRows = div0(PH / 8u, V);
    if (ns == 0 || size_t(ns) > fr.comps.size())
        return 21;
    const uint32_t b = ns <= 2 ? 1 : 3;
    const uint64_t S = uint64_t(W) * b;
    if (int64_t(size) < int64_t(S * PH))
        return 21;
    Locks locks;
    const HuffmanTable *dc[4], *ac[4];
    const QuantTable *qt[4];
    uint32_t mode[4] = {}, count[4];
    uint16_t pred[4] = {};
    uint32_t blocks = 2 * (V ? V - 1 : 0) + H;
    for (int i = 0; i < ns; ++i) {
        const uint32_t td = tablesByte[i] >> 4, ta = tablesByte[i] & 15;
        if (td > 3 || ta > 3)
            return 21;
        dc[i] = static_cast<const HuffmanTable *>(locks.lock(tables->slots[td]));
        ac[i] = static_cast<const HuffmanTable *>(locks.lock(tables->slots[4 + ta]));
        qt[i] = static_cast<const QuantTable *>(locks.lock(tables->slots[8 + fr.comps[size_t(i)].quantId]));
        const uint8_t s = fr.comps[size_t(i)].sampling;
        const uint32_t h = s >> 4, v = s & 15;
        count[i] = h * v;
        if (count[i] > blocks)
            blocks = count[i];
        if (s != 0x11 && s != 0x21 && s != 0x22)
            return 21;
        if (h == H && v == V)
            mode[i] = 0;
        else if (h + 1 == H)
            mode[i] = v + 1 == V ? 3 : 1;
        if (h > H || v > V || (mode[i] == 3 && 2 * v > V))
            return 21;
    }
    int outMode = ns <= 2 ? (count[0] == 1 ? 1 : 3) : 3;
    if (extra)
        outMode = 5;
    if ((outMode == 3 && ns < 3) || (outMode == 5 && ns < 4))
        return 21;
    if (outMode == 5)
        for (int t = 0; t < 5; ++t)
            if (!slots || !slots[t])
                return 21;
    std::vector<std::vector<uint8_t>> planes(size_t(ns), std::vector<uint8_t>(size_t(V) * W * 8));
    std::vector<int16_t> blockBuf(size_t(blocks) * 64);
    const uint16_t interval = restart ? restart : 65535;
    uint16_t counter = 0, symbol = 0;
    Bits bits;
    for (uint32_t r = 0; r < mcuRows; ++r) {
        uint8_t *ptr[4];
        for (int i = 0; i < ns; ++i)
            ptr[i] = planes[size_t(i)].data();
        for (uint32_t c = 0; c < mcuCols; ++c) {
            if (counter == interval) {
                bits = Bits();
                for (;;) {
                    uint8_t x;
                    if (!u8(f, x))
                        return 21;
                    if (x != 0xFF)
                        continue;
                    if (!u8(f, x))
                        return 21;
                    if (x != 0)
                        break;
                }
                counter = 0;
                for (uint16_t &p : pred)
                    p = 0;
            }
            for (int i = 0; i < ns; ++i) {
                if (!dc[i] || !ac[i] || !qt[i])
                    return 21;
                for (uint32_t k = 0; k < count[i]; ++k) {
                    int16_t *blk = blockBuf.data() + 64 * k;
                    if (get_next_code(symbol, *dc[i], bits, f) == 21)
                        return 21;
                    const uint32_t s = symbol;
                    int16_t diff = 0;
                    if (s) {
                        const int32_t v = receive(bits, s, f);
                        if (s > 15)
                            return 21;
                        diff = int16_t(extend(v, s));
                    }
                    std::memset(blk, 0, 128);
                    pred[i] = uint16_t(pred[i] + diff);
                    blk[0] = int16_t(uint32_t(pred[i]) * qt[i]->q[0]);
                    uint32_t kk = 1;
                    for (;;) {
                        if (get_next_code(symbol, *ac[i], bits, f) == 21)
                            return 21;
                        const uint32_t R = symbol >> 4, Sz = symbol & 15;
                        if (Sz == 0) {
                            if (R != 15)
                                break;
                            kk += 16;
                            if (kk > 63)
                                break;
                            continue;
                        }
                        kk += R;
                        const int32_t v = extend(receive(bits, Sz, f), Sz);
                        if (kk > 63)
                            return 21;
                        blk[kZigzag[kk]] = int16_t(uint32_t(v) * qt[i]->q[kk]);
                        if (++kk > 63)
                            break;
                    }
                    reference_idct(blk);
                }
                // Expansion, sample by sample.
                const uint32_t rows = 8 * (fr.comps[size_t(i)].sampling & 15);
                uint8_t *p = ptr[i];
                for (uint32_t y = 0; y < rows; ++y) {
                    if (mode[i] == 0) {
                        for (uint32_t bb = 0; bb < H; ++bb)
                            for (int x = 0; x < 8; ++x)
                                p[y * W + 8 * bb + size_t(x)] =
                                    range(blockBuf[64 * ((y / 8) * 2 + bb) + 8 * (y % 8) + size_t(x)]);
                    } else {
                        for (int x = 0; x < 16; ++x) {
                            const uint8_t v = range(blockBuf[8 * y + size_t(x / 2)]);
                            if (mode[i] == 1)
                                p[y * W + size_t(x)] = v;
                            else if (mode[i] == 3)
                                p[2 * y * W + size_t(x)] = p[(2 * y + 1) * W + size_t(x)] = v;
                        }
                    }
                }
                ptr[i] += 8 * H;
            }
            counter = uint16_t(counter + 1);
        }
        for (uint32_t y = 0; y < 8 * V; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                uint8_t *d = dest + y * S + x * b;
                const size_t at = size_t(y) * W + x;
                if (outMode == 1) {
                    d[0] = planes[0][at];
                } else if (outMode == 3) {
                    for (int k = 0; k < 3; ++k)
                        d[k] = planes[size_t(k)][at];
                } else {
                    const double a = planes[3][at] / 255.0;
                    if (a == 0) {
                        d[0] = d[1] = d[2] = 0;
                        continue;
                    }
                    int c[3];
                    for (int k = 0; k < 3; ++k) {
                        c[k] = int(planes[size_t(k)][at] / a);
                        if (c[k] > 255)
                            c[k] = 255;
                    }
                    const int L = slots[4][c[0]];
                    const int P[3] = {L + slots[0][c[2]], L + slots[2][c[2]] + slots[3][c[1]], L + slots[1][c[1]]};
                    for (int k = 0; k < 3; ++k) {
                        const int16_t v = int16_t(int(P[k] * a));
                        d[k] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
                    }
                }
            }
        dest += 8 * V * S;
    }
    size = int32_t(size - int64_t(S * PH));
    return 0;
}

} // namespace

int32_t reference_read_jpeg(QorFile f, JpegTableSet *tables, uint8_t *dest, int32_t size, uint8_t chroma,
                            int16_t **slots, int32_t extra)
{
    uint16_t m;
    uint16_t frameType = 0, restart = 0;
    Frame fr;
    uint8_t *cursor = dest;
    if (!u16(f, m))
        return 21;
    for (;;) {
        if (!u16(f, m))
            return 21;
        if ((m >= 0xFFE0 && m <= 0xFFEF) || m == 0xFFFE) {
            uint16_t len;
            if (!u16(f, len) || len < 2)
                return 21;
            qorSeek(f, len - 2, 1);
            continue;
        }
        if (m < 0xFFC0 || m > 0xFFDF)
            return 21;
        if (m == 0xFFC2)
            return kReferenceUnsupported;
        if (m == 0xFFC0) {
            uint16_t len;
            uint8_t precision, n;
            if (!u16(f, len) || !u8(f, precision) || !u16(f, fr.height) || !u16(f, fr.width) || !u8(f, n))
                return 21;
            fr.comps.assign(n, Comp{});
            for (Comp &c : fr.comps)
                if (!u8(f, c.id) || !u8(f, c.sampling) || !u8(f, c.quantId))
                    return 21;
            for (const Comp &c : fr.comps)
                if ((c.sampling >> 4) < 1 || (c.sampling >> 4) > 4 || (c.sampling & 15) < 1 ||
                    (c.sampling & 15) > 4 || c.quantId > 3)
                    return 21;
            if (precision != 8 || fr.width == 0 || fr.height == 0)
                return 21;
            frameType = m;
        } else if (m == 0xFFC4) {
            (void)kxfpx::jpeg::ReadHuffman(f, tables);
        } else if (m == 0xFFDB) {
            (void)kxfpx::jpeg::ReadQuantization(f, &tables->slots[8]);
        } else if (m == 0xFFDD) {
            uint16_t len;
            if (!u16(f, len) || !u16(f, restart))
                return 21;
        } else if (m == 0xFFDA) {
            uint16_t len;
            uint8_t ns, t[4], skip;
            if (!u16(f, len) || !u8(f, ns) || ns > 4)
                return 21;
            for (int i = 0; i < ns; ++i)
                if (!u8(f, skip) || !u8(f, t[i]))
                    return 21;
            for (int i = 0; i < 3; ++i)
                if (!u8(f, skip))
                    return 21;
            if (frameType == 0xFFC0 &&
                sequential_scan(f, fr, ns, t, tables, restart, cursor, size, chroma, slots, extra) != 0)
                return 21;
        } else if (m == 0xFFD9) {
            return 0;
        } else if (m != 0xFFCC) {
            return -23;
        }
    }
}

} // namespace jpegtest
