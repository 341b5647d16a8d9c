// The filter loaded as a host loads it, ImportFile or GetFileInfo from one of the three input sources.
#pragma once

#include "support.h"

#include "fpxwrite.h"

#include <kxfpx/records.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace kxtest {

enum class InputSource { path, memory, callback };
inline const InputSource kSources[] = {InputSource::path, InputSource::memory, InputSource::callback};
using Lines = std::vector<std::string>;
using Edit = std::function<void(fpxw::Document &)>;

struct ImportRequest {
    InputSource source = InputSource::path;
    int16_t resolutionChoice = 2;        // escape 84: 0 lowest, 1 middle, other highest
    bool withoutMemoryHandle = false;    // memory input whose host record has no handle
    std::string outputName;              // empty: a PNG in a scratch directory
    std::vector<int32_t> statusAnswers;  // answers of the status procedure, then 0
    int32_t threads = -1;                // the profile's Threads key; -1: no profile
};

struct ImportOutcome {
    int32_t code = -1;            // -1: the filter did not load
    std::vector<int32_t> errors;  // codes the status procedure got as errors
    Lines calls;                  // the output library's call log
    fpxw::Image picture;          // the PNG written; width 0 when none was

    // The log lines whose first word is in `names` (keep) or is not.
    Lines only(const Lines &names, bool keep = true) const;
    Lines output_calls() const { return only({"C_OpenOutput", "C_GetOutputTable", "QueryError", "UnLoadOutput"}, false); }
};

ImportOutcome import_file(const std::string &path, const ImportRequest &request = {});
int32_t file_info(const std::string &path, InputSource source, FileInfo &info);

std::string make_fpx(const TempDir &dir, const std::string &name, const fpxw::WriteOptions &options,
                     const fpxw::Image &image, const Edit &edit = {});
ImportOutcome import_fpx(const fpxw::WriteOptions &options, const fpxw::Image &image, const Edit &edit = {},
                         const ImportRequest &request = {});  // through a scratch file
// Raw tiles, never single-colour.
fpxw::WriteOptions raw_options(int resolutions = 1, fpxw::ColourSpace colour = fpxw::ColourSpace::rgb);

// Calls edit(tile, entry bytes) for every tile-table entry of the full resolution.
Edit edit_tiles(const std::function<void(int, uint8_t *)> &edit);

inline const std::string kStorePath = "Data Object Store 000001";
inline const std::string kImageContentsPath = kStorePath + "/\005Image Contents";
inline const std::string kSubimageHeaderPath = kStorePath + "/Resolution 0000/Subimage 0000 Header";
inline const std::string kSubimageDataPath = kStorePath + "/Resolution 0000/Subimage 0000 Data";
// Document edits; a missing stream or property fails the test.
std::vector<uint8_t> &stream_bytes(fpxw::Document &doc, const std::string &stream);
Edit renamed(const std::string &path);  // the entry's name gets a suffix
// Where a property's value starts (past its type word), or its (id, offset) pair.
size_t property_at(const std::vector<uint8_t> &set, uint32_t id, bool value = true);
void put_u32(std::vector<uint8_t> &bytes, size_t at, uint32_t value);
void put_property(fpxw::Document &doc, const std::string &stream, uint32_t id, size_t offset, uint32_t value);

fpxw::Image picture(int width, int height, int channels = 3);  // fpxwrite's synthetic picture, 1, 3 or 4 channels
void expect_same(const fpxw::Image &got, const fpxw::Image &want, const std::string &what);

} // namespace kxtest
