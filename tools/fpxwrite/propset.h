// Property-set serializer: collects typed properties in the order they are
// added and lays them out as one property-set stream with a single section,
// the way the FlashPix sets and the summary information are stored.
#pragma once

#include "fpx/fpx_format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fpxw {

using namespace kxfpx::fpx;

class PropertySet {
public:
    void add_i2(uint32_t id, int16_t value);
    void add_i4(uint32_t id, int32_t value);
    void add_ui4(uint32_t id, uint32_t value);
    void add_r4(uint32_t id, float value);
    void add_filetime(uint32_t id, uint64_t ticks);
    void add_lpstr(uint32_t id, const std::string &text);
    void add_clsid(uint32_t id, const Guid &clsid);
    void add_blob(uint32_t id, const std::vector<uint8_t> &bytes);
    void add_vector_ui4(uint32_t id, const std::vector<uint32_t> &values);
    void add_vector_r4(uint32_t id, const std::vector<float> &values);

    size_t size() const { return props_.size(); }

    // The whole stream: header (class identifier = format identifier, as
    // real files have it), one section entry, the section.
    std::vector<uint8_t> serialize(const Guid &fmtid) const;

private:
    struct Property {
        uint32_t id;
        std::vector<uint8_t> value;  // type word and value, padded to 4
    };
    void add(uint32_t id, uint32_t type, const std::vector<uint8_t> &payload);
    std::vector<Property> props_;
};

// Little-endian appenders shared by the serializers of the writer.
void put_u16(std::vector<uint8_t> &out, uint16_t value);
void put_u32(std::vector<uint8_t> &out, uint32_t value);
void put_f32(std::vector<uint8_t> &out, float value);
void put_guid(std::vector<uint8_t> &out, const Guid &guid);
// An 8-bit string: its length counting the NUL, the text, the NUL.
void put_lpstr(std::vector<uint8_t> &out, const std::string &text);

} // namespace fpxw
