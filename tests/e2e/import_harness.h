// The one harness of the end-to-end tests: writes FlashPix files with
// fpxwrite, loads the filter with dlopen and fltLoadPointers as a host does,
// runs ImportFile or GetFileInfo from a path, a memory handle or the host's
// I/O procedure, and hands back the result code, the codes reported to the
// host, the output library's call log and the PNG it wrote.
#pragma once

#include "support.h"

#include "fpxwrite.h"

#include <kxfpx/records.h>

#include <functional>
#include <string>
#include <vector>

namespace kxtest {

enum class InputSource { path, memory, callback };

struct ImportRequest {
    InputSource source = InputSource::path;
    int16_t resolutionChoice = 2;   // escape 84: 0 lowest, 1 middle, other highest
    bool withoutMemoryHandle = false;  // memory input whose host record has no handle
    bool withStatusProc = true;
    std::string outputName;         // empty: a PNG in a scratch directory
    // Answers of the status procedure, in order of the calls; 0 once used up.
    std::vector<int32_t> statusAnswers;
};

struct StatusEvent {
    int32_t kind, code, value1, value2, style;
};

struct ImportOutcome {
    int32_t code = 0;
    std::vector<StatusEvent> status;   // every call of the status procedure
    std::vector<std::string> calls;    // the output library's call log, one call per line
    fpxw::Image picture;               // the PNG written; width 0 when none was

    std::vector<int32_t> reported() const;  // codes sent as errors (kind 3)
    // The log lines whose first word is one of `names`, in order.
    std::vector<std::string> only(const std::vector<std::string> &names) const;
    // The log lines without the output library's own bookkeeping (entry
    // look-ups, error queries).
    std::vector<std::string> output_calls() const;
};

// Imports `path` into a PNG in a scratch directory.
ImportOutcome import_file(const std::string &path, const ImportRequest &request = {});

// GetFileInfo over one input source into `info` (its size set by the caller).
int32_t file_info(const std::string &path, InputSource source, FileInfo &info);

// Builds a FlashPix document, lets `edit` change it, writes it into `dir`.
std::string make_fpx(const TempDir &dir, const std::string &name, const fpxw::WriteOptions &options,
                     const fpxw::Image &image,
                     const std::function<void(fpxw::Document &)> &edit = {});

// Edits of a document's property sets ("\005Image Contents" and the like, by
// path): a 32-bit value `offset` bytes into a property's value, and a
// property's identifier. A missing stream or property fails the test.
inline const std::string kImageContentsPath = "Data Object Store 000001/\005Image Contents";
void put_property(fpxw::Document &doc, const std::string &stream, uint32_t id, size_t offset, uint32_t value);
void renumber_property(fpxw::Document &doc, const std::string &stream, uint32_t id, uint32_t newId);
// Byte offset of a property's value (past its type word) in a property set.
size_t property_value_at(const std::vector<uint8_t> &set, uint32_t id);
// A 32-bit value into a stream's bytes.
void put_u32_at(fpxw::Document &doc, const std::string &stream, size_t at, uint32_t value);

// A grey or RGB test picture of the given size (fpxwrite's synthetic one).
fpxw::Image picture(int width, int height, bool grey = false);

} // namespace kxtest
