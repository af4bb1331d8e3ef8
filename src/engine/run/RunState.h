#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/common/Profile.h"
#include "engine/report/Findings.h"
#include "engine/send/SendPlan.h" // PacsTally

namespace engine {

// The state of the current run, alive as long as the engine. The counters are 64-bit: a disc with
// more than 32767 images must not fail from its 32768th file on.
struct RunState
{
    std::optional<Profile> FileFilter; // the run's profile; none before the first run
    std::string RunPacs; // the PACS text the run started with, as its report names it
    std::string TempRoot; // the temp field's text when the run was started
    std::string CurrentFileName; // name of the source file being handled, for the error log
    std::int64_t FolderFileCount = 0;
    std::int64_t ScanPosition = 0;
    std::int64_t CheckedCount = 0; // files selected in this run, as the walk reaches them
    // Destination files completed in this run, as the report has counted them so far: its tally is the
    // run's one count of what became of the files, which the summary, the journal and the front ends read.
    std::int64_t MigratedCount = 0;
};

// What a finished run leaves for its front end after the counters were reset.
struct RunSummary
{
    std::int64_t scanned = 0;
    std::int64_t checked = 0;
    std::int64_t migrated = 0; // written now, or there already
    std::int64_t alreadyThere = 0; // of those: written by an earlier run of the disc, not again
    std::int64_t failed = 0;
    std::int64_t rejected = 0;
    std::int64_t skipped = 0;
    bool stopped = false; // ended early by RequestStop
    // No run: the disc is being migrated into the destination already, or the operator cancelled.
    bool refused = false;
    std::string looksLike; // the PACS system the disc looks like, when the run's did not fit it
    Findings findings;
    std::string report; // the run report's path; empty when none could be written
    std::optional<PacsTally> pacs; // what the DICOM node confirmed, when the run's images were sent to one
};

} // namespace engine
