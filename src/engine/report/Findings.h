#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// What a run's report found beyond the counts of the summary box: what the new PACS will be given.
struct Findings
{
    std::int64_t images = 0; // migrated files a PACS can file under a study
    std::int64_t studies = 0;
    std::int64_t patients = 0;
    std::int64_t notDicom = 0; // migrated files that do not parse as DICOM
    std::int64_t damaged = 0; // of those, DICOM images that break off or are damaged
    std::int64_t noPart10Header = 0;
    std::int64_t notAnImage = 0;
    std::int64_t duplicates = 0; // migrated images that an earlier image repeats
    std::int64_t retried = 0; // files the disc failed to deliver the first time
};

// "182 Bilder aus 9 Studien von 7 Patienten."; empty when the run wrote no image of a study.
std::string StudiesLine(const Findings& findings);
// One line per kind of finding that occurred, in German, each pointing to the report.
std::vector<std::string> FindingLines(const Findings& findings);
// "Bericht: <path>", or that none could be written when the path is empty.
std::string ReportLine(const std::string& reportPath);

} // namespace engine
