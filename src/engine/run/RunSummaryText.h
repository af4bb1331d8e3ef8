#pragma once

#include <string>

#include "engine/run/RunState.h"

// What the summary box of a finished run says: the counts the old tool always showed, then a line for
// each thing the operator must know before the next disc goes in, and below them what the report found.
namespace engine {

// The summary with its lines: no files at all, files of the "." rule, images there already, a disc
// of another system, and what the PACS confirmed (with the first reasons why not).
std::string SummaryText(const RunSummary& run);
// Whether the box is a warning rather than information: the disc must be looked at again.
bool SummaryWarns(const RunSummary& run);
// The report's finding lines and the report's path; empty when there is nothing to say.
std::string FindingsText(const RunSummary& run);

} // namespace engine
