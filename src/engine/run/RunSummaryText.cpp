#include "engine/run/RunSummaryText.h"

#include <algorithm>

#include "engine/common/Texts.h"
#include "engine/report/Findings.h"

namespace engine {

namespace {

// A summary box names the first reasons why images are not in the PACS; the rest is in Error.txt.
constexpr std::size_t SummaryProblemLines = 3;

} // namespace

std::string SummaryText(const RunSummary& run)
{
    std::string summary = texts::Summary(run.migrated, run.checked);
    if (run.scanned == 0) {
        summary += "\r\n\r\n" + std::string(texts::EmptySource);
    }
    // Left out by the "." rule on a disc of this system: its index files, no failure. On a disc of
    // another system the line would mislead; the system's line below says what is wrong.
    if (run.skipped > 0 && run.looksLike.empty()) {
        summary += "\r\n\r\n" + texts::NotImagesOfTheSystem(run.skipped);
    }
    if (run.alreadyThere > 0) {
        summary += "\r\n\r\n" + texts::AlreadyThere(run.alreadyThere);
    }
    if (!run.looksLike.empty()) {
        summary += "\r\n\r\n" + texts::LooksLike(run.looksLike);
    }
    if (run.pacs) {
        summary += "\r\n\r\n" + texts::ConfirmedLine(run.pacs->confirmed, run.pacs->total);
        if (run.pacs->unreported > 0) {
            summary += "\r\n" + texts::UnreportedLine(run.pacs->unreported);
        }
        // Why not, in the node's own words and ours: the first lines; all of them are in Error.txt.
        const std::vector<std::string>& problems = run.pacs->problems;
        for (std::size_t i = 0; i < std::min<std::size_t>(problems.size(), SummaryProblemLines); ++i) {
            summary += "\r\n" + problems[i];
        }
    }
    return summary;
}

bool SummaryWarns(const RunSummary& run)
{
    const bool allInPacs = !run.pacs || run.pacs->confirmed == run.pacs->total;
    return !run.looksLike.empty() || !allInPacs || run.scanned == 0;
}

std::string FindingsText(const RunSummary& run)
{
    std::string text;
    for (const std::string& line : FindingLines(run.findings)) {
        text += line + "\r\n";
    }
    if (!text.empty()) {
        text += ReportLine(run.report);
    }
    return text;
}

} // namespace engine
