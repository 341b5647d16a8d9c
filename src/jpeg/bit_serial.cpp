// The bit-serial reader of entropy-coded data: NextBit delivers one bit per
// call through qorReadChar (byte stuffing removed, a marker turns into 256
// bits of the 0xFF byte's ones and zeros), GetNextCode walks one Huffman
// code length by length (T.81 Figure F.16). The fast BitReader reproduces
// both exactly; these remain for callers that step bit by bit.
#include "jpeg/bit_reader.h"
#include "jpeg/jpeg_format.h"
#include "jpeg/jpeg_internal.h"

#include <kxfpx/codes.h>

namespace kxfpx::jpeg {

int16_t NextBit(uint8_t *bitsLeft, uint16_t *bitBuffer, int16_t code, QorFile data)
{
    if (*bitsLeft == 0) {
        *bitsLeft = 8;
        uint8_t byte = 0;  // a failed read leaves the byte 0
        if (qorReadChar(data, &byte, 1) != 1)
            byte = 0;
        *bitBuffer = uint16_t(*bitBuffer | byte);
        if ((*bitBuffer & 0xFF) == kMarkerPrefix) {
            // A failed read of the byte after 0xFF counts as the stuffed
            // zero: the data simply ended after a 0xFF byte.
            uint8_t next = kStuffedZero;
            if (qorReadChar(data, &next, 1) != 1)
                next = kStuffedZero;
            if (next != kStuffedZero)
                *bitsLeft = 0;  // a marker: wraps to 255 below
        }
    }
    *bitBuffer = uint16_t((*bitBuffer & 0xFF) << 1);
    *bitsLeft = uint8_t(*bitsLeft - 1);
    return int16_t(uint16_t(uint16_t(code) << 1) | (*bitBuffer >> 8));
}

int32_t GetNextCode(uint16_t *symbol, HuffmanTable *table, uint8_t *bitsLeft, uint16_t *bitBuffer,
                    QorFile data)
{
    int16_t code = 0;
    for (int l = 1; l <= kHuffmanCodeLengths; ++l) {
        code = NextBit(bitsLeft, bitBuffer, code, data);
        // Signed compare: a 16-bit code with its top bit set is negative and
        // matches any length-16 entry.
        if (int32_t(code) <= table->maxCode[l - 1]) {
            const uint16_t index =
                uint16_t(uint16_t(code) + table->valPtr[l - 1] - table->minCode[l - 1]);
            if (index >= huffman_symbol_count(*table))
                return KX_NOT_FLASHPIX;  // -23: no symbol, `symbol` unchanged
            *symbol = table->values[index];
            return KX_OK;
        }
    }
    // No code length up to 16 matched: corrupt data (the search is bounded
    // at 16 bits; the caller ends its scan).
    return KX_BAD_DATA;
}

} // namespace kxfpx::jpeg
