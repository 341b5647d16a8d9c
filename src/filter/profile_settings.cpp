// Profile-driven settings: xLoadProfile fills a setup from its mode section
// (driver, colour table source, colour list, font list, resolution option)
// and SetDriverMode picks the mode section whose driver has a given number.
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/profile.h>
#include <kxfpx/strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "filter/filter_codes.h"
#include "filter/string_resource.h"
#include "port/field_copy.h"

namespace {

using namespace kxfpx::filter;

// Read sizes of the mode section's values. A value as long as its size or
// longer fills it without a terminator; every buffer below has one byte
// more, so such a value is kept cut to that size.
constexpr int32_t kDriverReadSize = 13;        // at most 12 characters and a NUL
constexpr int32_t kColourSourceReadSize = 10;  // at most 9 characters and a NUL
constexpr int32_t kColourEntrySize = 50;
constexpr int32_t kFontEntrySize = 150;
constexpr int32_t kDriverValueSize = 13;       // SetDriverMode's reads of the mode list
constexpr int32_t kKeyListSize = 4096;

// What the setup record holds.
constexpr int32_t kMaxColours = 256;
constexpr int32_t kMaxFonts = 32;
constexpr int32_t kFirstColourIndex = 0;
constexpr int32_t kFirstFontIndex = 1;

constexpr const char *kIndexedKeyFormat = "%s[%03d]";
constexpr const char *kDriverNameFormat = "%s.%d";
constexpr int kDecimalBase = 10;

// Delimiters of the colour entry (r, g, b), "name" and the font entry
// "name","second","value" (after the reader removed the outer quotes).
constexpr const char *kRedDelims = "( ,";
constexpr const char *kGreenDelims = ", ";
constexpr const char *kBlueDelims = ", )";
constexpr const char *kSeparatorDelims = ",\"";
constexpr const char *kNameDelims = "\"";
constexpr const char *kFontNameDelims = ",";
constexpr const char *kFontFieldDelims = ",\"";

constexpr char kModeListAsterisk = '*';
constexpr char kModeListTilde = '~';

// Reads key `stem`[index] of the mode section into `entry` (size + 1 bytes).
int32_t read_indexed(const FilterSetup &setup, const char *stem, int32_t index, char *entry,
                     int32_t size)
{
    char key[kStringBufferSize + 16];
    std::snprintf(key, sizeof key, kIndexedKeyFormat, stem, index);
    std::memset(entry, 0, static_cast<size_t>(size) + 1);
    return GetPrivateProfileString(setup.modeName, key, "", entry, size, setup.profileName);
}

// (r, g, b), "name": each number kept as its low byte. A missing number
// ends the entry with the numbers read so far and the old name; without a
// character other than a comma or quote before the name, the name is lost.
void parse_colour(char *text, uint8_t (&rgb)[3], char (&name)[17])
{
    rgb[0] = rgb[1] = rgb[2] = 0;
    char *rest = nullptr;
    const char *delims[3] = {kRedDelims, kGreenDelims, kBlueDelims};
    for (int i = 0; i < 3; ++i) {
        const char *token = strtok_r(i == 0 ? text : nullptr, delims[i], &rest);
        if (!token)
            return;
        rgb[i] = static_cast<uint8_t>(std::strtol(token, nullptr, kDecimalBase));
    }
    const char *separator = strtok_r(nullptr, kSeparatorDelims, &rest);
    const char *label = separator ? strtok_r(nullptr, kNameDelims, &rest) : nullptr;
    kxfpx::port::copy_field(name, label ? label : "");
}

// "name","second","value": the first field without its closing quote (an
// empty first field gives an empty name) and the third field.
void parse_font(char *text, char (&name)[65], char (&value)[65])
{
    char *rest = nullptr;
    char *first = strtok_r(text, kFontNameDelims, &rest);
    if (!first || first[0] == '"') {
        name[0] = '\0';
    } else {
        first[std::strlen(first) - 1] = '\0';
        kxfpx::port::copy_field(name, first);
    }
    const char *second = strtok_r(nullptr, kFontFieldDelims, &rest);
    const char *third = second ? strtok_r(nullptr, kFontFieldDelims, &rest) : nullptr;
    kxfpx::port::copy_field(value, third ? third : "");
}

// Reads the entries stem[first], stem[first + 1], ... until a key is missing
// or empty or `capacity` entries were read, handing each to `parse` with its
// position in the list; returns the number read.
template <typename Parse>
int32_t load_list(const FilterSetup &setup, int16_t stem_id, int32_t first, int32_t capacity,
                  int32_t entry_size, Parse parse)
{
    const StringResource stem(stem_id);
    char entry[kFontEntrySize + 1];
    static_assert(kColourEntrySize <= kFontEntrySize, "the buffer holds either entry");
    int32_t count = 0;
    while (count < capacity &&
           read_indexed(setup, stem.text, first + count, entry, entry_size) != 0) {
        parse(entry, count);
        ++count;
    }
    return count;
}

void load_colours(FilterSetup &setup)
{
    setup.colourEntryCount = load_list(
        setup, kStrColourStem, kFirstColourIndex, kMaxColours, kColourEntrySize,
        [&setup](char *entry, int32_t i) {
            parse_colour(entry, setup.colours[i], setup.colourNames[i]);
        });
}

void load_fonts(FilterSetup &setup)
{
    setup.fontCount = load_list(setup, kStrFontStem, kFirstFontIndex, kMaxFonts, kFontEntrySize,
                                [&setup](char *entry, int32_t i) {
                                    parse_font(entry, setup.fontNames[i], setup.fontValues[i]);
                                });
}

// Frees a memalloc block on every path.
struct ScratchBlock {
    explicit ScratchBlock(uint32_t size) : data(static_cast<char *>(memalloc(size))) {}
    ~ScratchBlock() { if_free(reinterpret_cast<void **>(&data)); }
    ScratchBlock(const ScratchBlock &) = delete;
    ScratchBlock &operator=(const ScratchBlock &) = delete;
    char *data;
};

// Looks through the filter's section for a mode whose driver is `wanted`:
// keys with an asterisk first, wherever they stand, then the plain keys;
// "~" keys are never modes. True when one was found and loaded.
bool find_mode(FilterSetup &setup, const char *wanted)
{
    ScratchBlock list(kKeyListSize);
    if (!list.data ||
        GetPrivateProfileString(szIM_Filter, nullptr, "", list.data, kKeyListSize,
                                setup.profileName) == 0)
        return false;
    const char *const end = list.data + kKeyListSize;
    for (const bool asterisk_pass : {true, false}) {
        for (const char *key = list.data; key < end && *key;
             key += ::strnlen(key, static_cast<size_t>(end - key)) + 1) {
            const bool asterisk = key[0] == kModeListAsterisk;
            if (asterisk_pass ? !asterisk : (asterisk || key[0] == kModeListTilde))
                continue;
            char driver[kDriverValueSize + 1] = {};
            GetPrivateProfileString(szIM_Filter, key, "", driver, kDriverValueSize,
                                    setup.profileName);
            if (stricmp(driver, wanted) == 0) {
                kxfpx::port::copy_field(setup.modeName, key);
                xLoadProfile(&setup, 1, 1);
                return true;
            }
        }
    }
    return false;
}

} // namespace

extern "C" {

KX_API int32_t xLoadProfile(FilterSetup *setup, int32_t fonts, int32_t colours)
{
    if (!setup)
        return 0;
    // The whole field is cleared so that a driver of 13 characters or more
    // keeps its first 13, terminated inside the 16-byte field.
    std::memset(setup->driverName, 0, sizeof setup->driverName);
    const StringResource driver_key(kStrDriverKey);
    if (GetPrivateProfileString(setup->modeName, driver_key.text, "", setup->driverName,
                                kDriverReadSize, setup->profileName) == 0)
        return 0;

    // Likewise a source of 10 characters or more keeps its first 10.
    std::memset(setup->colourTableSource, 0, sizeof setup->colourTableSource);
    const StringResource source_key(kStrColourSourceKey);
    GetPrivateProfileString(setup->modeName, source_key.text, "", setup->colourTableSource,
                            kColourSourceReadSize, setup->profileName);
    if (colours)
        load_colours(*setup);
    if (fonts)
        load_fonts(*setup);

    const StringResource file(kStrFile);
    setup->colourTableLength =
        stricmp(setup->colourTableSource, file.text) != 0 ? setup->colourEntryCount : 0;
    return qorSetOptions(setup);
}

KX_API int32_t SetDriverMode(int32_t driver, FilterSetup *setup)
{
    if (!setup)
        return 1;
    // Room for the filter's name, a dot and any 32-bit number.
    char wanted[sizeof szIM_Filter + 16];
    std::snprintf(wanted, sizeof wanted, kDriverNameFormat, szIM_Filter, driver);
    if (find_mode(*setup, wanted))
        return 0;
    // No mode has this driver: the name alone, cut to the 16-byte field.
    kxfpx::port::copy_field(setup->driverName, wanted);
    return 1;
}

} // extern "C"
