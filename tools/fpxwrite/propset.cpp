// Property-set serializer: each property becomes a type word and its value
// padded to 4 bytes; the section lists (identifier, offset) pairs followed by
// the values in the same order.
#include "propset.h"

#include <cstring>

namespace fpxw {

void put_u16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void put_u32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t(value >> shift));
}

void put_f32(std::vector<uint8_t> &out, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put_u32(out, bits);
}

void put_guid(std::vector<uint8_t> &out, const Guid &guid)
{
    out.insert(out.end(), guid.begin(), guid.end());
}

void put_lpstr(std::vector<uint8_t> &out, const std::string &text)
{
    put_u32(out, uint32_t(text.size() + 1));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

void PropertySet::add(uint32_t id, uint32_t type, const std::vector<uint8_t> &payload)
{
    Property prop{id, {}};
    prop.value.reserve(4 + payload.size() + 3);
    put_u32(prop.value, type);
    prop.value.insert(prop.value.end(), payload.begin(), payload.end());
    while (prop.value.size() % 4 != 0)
        prop.value.push_back(0);
    props_.push_back(std::move(prop));
}

void PropertySet::add_i2(uint32_t id, int16_t value)
{
    std::vector<uint8_t> v;
    put_u16(v, uint16_t(value));
    add(id, kVtI2, v);
}

void PropertySet::add_i4(uint32_t id, int32_t value)
{
    std::vector<uint8_t> v;
    put_u32(v, uint32_t(value));
    add(id, kVtI4, v);
}

void PropertySet::add_ui4(uint32_t id, uint32_t value)
{
    std::vector<uint8_t> v;
    put_u32(v, value);
    add(id, kVtUi4, v);
}

void PropertySet::add_r4(uint32_t id, float value)
{
    std::vector<uint8_t> v;
    put_f32(v, value);
    add(id, kVtR4, v);
}

void PropertySet::add_filetime(uint32_t id, uint64_t ticks)
{
    std::vector<uint8_t> v;
    put_u32(v, uint32_t(ticks));
    put_u32(v, uint32_t(ticks >> 32));
    add(id, kVtFiletime, v);
}

void PropertySet::add_lpstr(uint32_t id, const std::string &text)
{
    std::vector<uint8_t> v;
    put_lpstr(v, text);
    add(id, kVtLpstr, v);
}

void PropertySet::add_clsid(uint32_t id, const Guid &clsid)
{
    std::vector<uint8_t> v;
    put_guid(v, clsid);
    add(id, kVtClsid, v);
}

void PropertySet::add_blob(uint32_t id, const std::vector<uint8_t> &bytes)
{
    std::vector<uint8_t> v;
    put_u32(v, uint32_t(bytes.size()));
    v.insert(v.end(), bytes.begin(), bytes.end());
    add(id, kVtBlob, v);
}

namespace {

// A counted vector: the element count, then the elements.
template <typename T>
std::vector<uint8_t> counted(const std::vector<T> &values, void (*put)(std::vector<uint8_t> &, T))
{
    std::vector<uint8_t> v;
    put_u32(v, uint32_t(values.size()));
    for (T x : values)
        put(v, x);
    return v;
}

} // namespace

void PropertySet::add_vector_ui4(uint32_t id, const std::vector<uint32_t> &values)
{
    add(id, kVtVector | kVtUi4, counted(values, put_u32));
}

void PropertySet::add_vector_r4(uint32_t id, const std::vector<float> &values)
{
    add(id, kVtVector | kVtR4, counted(values, put_f32));
}

std::vector<uint8_t> PropertySet::serialize(const Guid &fmtid) const
{
    const uint32_t section_offset = kPropHeaderSize + kPropSectionEntrySize;
    uint32_t section_size = kPropSectionHeaderSize + uint32_t(props_.size()) * kPropPairSize;
    for (const Property &p : props_)
        section_size += uint32_t(p.value.size());

    std::vector<uint8_t> out;
    out.reserve(section_offset + section_size);
    put_u16(out, kPropByteOrder);
    put_u16(out, kPropFormatVersion);
    put_u32(out, kPropOsVersion);
    put_guid(out, fmtid);            // class identifier
    put_u32(out, 1);                 // one section
    put_guid(out, fmtid);
    put_u32(out, section_offset);

    put_u32(out, section_size);
    put_u32(out, uint32_t(props_.size()));
    uint32_t value_offset = kPropSectionHeaderSize + uint32_t(props_.size()) * kPropPairSize;
    for (const Property &p : props_) {
        put_u32(out, p.id);
        put_u32(out, value_offset);
        value_offset += uint32_t(p.value.size());
    }
    for (const Property &p : props_)
        out.insert(out.end(), p.value.begin(), p.value.end());
    return out;
}

} // namespace fpxw
