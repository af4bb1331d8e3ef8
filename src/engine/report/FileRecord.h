#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <string>

#include "engine/decode/DiscLook.h"
#include "engine/check/DicomCheck.h"
#include "engine/records/ReportRows.h"

namespace engine {

// A SHA-256 in lower-case hex, as the background thread delivers it; empty (not valid) when nothing was hashed.
using Digest = std::shared_future<std::string>;

// One row of a run's report: a file the walk saw (or a folder it could not read) and what became of it.
struct FileRecord
{
    std::string path; // relative to the source folder
    std::optional<std::uint64_t> size;
    Digest sourceSha256; // of the bytes read while copying; none when the file was not read
    bool selected = false;
    std::string notSelectedBecause; // "profile" or "dot rule"
    Outcome outcome = Outcome::Skipped;
    std::string writtenFile; // the destination file's name, or "BadObjects/<name>"
    Digest writtenSha256;
    std::string error;
    std::shared_future<DicomInfo> dicom; // for migrated images; parsed on the background thread
    std::string duplicate; // "SOP Instance UID", "content" or both, when an earlier image had them
    std::string duplicateOf;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    // The disc failed to deliver the file's bytes (an input/output error): it is tried once more at
    // the end of the run, when the drive has settled, and the row says so.
    bool unreadable = false;
    bool retried = false;
    std::optional<Look> look; // what the file's bytes are, when they were read
};

} // namespace engine
