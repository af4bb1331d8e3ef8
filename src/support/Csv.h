#pragma once

#include <string>
#include <string_view>
#include <vector>

// Comma-separated values as RFC 4180 has them, for the run reports: a field with a comma, a quote,
// CR or LF is quoted and its quotes doubled; lines end in CR LF. Report files are UTF-8: a byte that
// is not part of valid UTF-8 (a file name from an old disc) is written as the four characters \xHH.
namespace support {

std::string CsvField(std::string_view text);
std::string CsvLine(const std::vector<std::string>& fields);
// The records of a whole file; quoted fields may hold line breaks. A leading byte-order mark is skipped.
std::vector<std::vector<std::string>> ParseCsv(std::string_view content);

} // namespace support
