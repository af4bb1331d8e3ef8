#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/check/DicomCheck.h"

namespace engine {

// Checks a destination against every finished report that wrote into it, one disc after another:
// every file a report lists is there with the same SHA-256 and the same DICOM verdict, every file in
// the destination (sub-folders included) is listed by some report, and no temporary file of a writer
// that died is left behind.
struct DiscVerification
{
    std::string name; // "2026-12-06_10-05-03 HIPAX": the run's start and its PACS system
    std::string report; // the rows file
    std::int64_t listed = 0;
    std::int64_t present = 0; // with the same SHA-256 and verdict
};

struct Verification
{
    std::vector<DiscVerification> discs; // oldest first; empty when no report wrote into the destination
    std::int64_t rowsChecked = 0; // rows of the reports that list a file: a disc run twice lists a file twice
    std::int64_t filesInFolder = 0; // every file below the destination, whoever wrote it
    std::int64_t missing = 0;
    std::int64_t changed = 0;
    std::int64_t verdictChanged = 0; // same bytes, but no longer what the report said as DICOM
    std::int64_t added = 0; // in the destination, listed by no report
    std::int64_t leftovers = 0; // temporary files of writers that no longer run
    std::int64_t inProgress = 0; // temporary files of writers still running: not a mismatch
    std::vector<std::string> problems; // a line per file that does not match, or is still being written

    bool Matches() const { return !discs.empty() && missing + changed + verdictChanged + added + leftovers == 0; }
};
Verification VerifyDestination(const std::string& logsHome, const std::string& destination);

// The images a PACS files (DICOM verdict ok or no Part 10 header) among the files below destination that
// listed does not name (paths relative to destination, as the reports write them): those another copy of
// the program wrote, or someone put there by hand. Left out are the quarantine folder BadObjects, whose
// files are what could not be made into images, and temporary files of writers. Each such file is read
// once, for its UIDs.
struct FolderImage
{
    std::string relative;
    DicomInfo info;
};
std::vector<FolderImage> UnlistedImages(const std::string& destination, const std::set<std::string>& listed);

} // namespace engine
