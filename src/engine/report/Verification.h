#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// Checks a destination against the latest finished report that wrote into it: every file the report
// lists is there with the same SHA-256, every image that parsed as DICOM still does, and no file is
// there that no report of this destination lists.
struct Verification
{
    std::string report; // the rows file checked against; empty when none wrote into the destination
    std::int64_t checked = 0;
    std::int64_t missing = 0;
    std::int64_t changed = 0;
    std::int64_t added = 0;
    std::int64_t notDicom = 0;
    std::vector<std::string> problems; // a line per file that does not match

    bool Matches() const { return !report.empty() && missing + changed + added + notDicom == 0; }
};
Verification VerifyDestination(const std::string& programFolder, const std::string& destination);

} // namespace engine
