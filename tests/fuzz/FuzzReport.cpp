// Run reports as later runs and --verify read them back. Any bytes must parse the same whole and fed
// in pieces (the reader takes a large report in pieces); and records the writer writes must read back
// as written: fields with commas, quotes, line breaks and any characters, as names on discs have them.
// Bytes that are not UTF-8 are written escaped on purpose; such a field must read back as valid UTF-8
// that writes and reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/Csv.h"
#include "support/Utf8.h"

using Records = std::vector<std::vector<std::string>>;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::size_t piece = 1 + data[0] % 16;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    Records pieces;
    support::CsvParser parser([&pieces](std::vector<std::string>& record) { pieces.push_back(record); });
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        parser.Feed(bytes.substr(at, piece));
    }
    parser.Finish();
    if (pieces != support::ParseCsv(bytes)) {
        std::abort();
    }

    // The same bytes as records to write: 0x1E ends a record, 0x1F a field.
    Records records(1, std::vector<std::string>(1));
    for (const char c : bytes) {
        if (c == '\x1e') {
            records.emplace_back(1);
        } else if (c == '\x1f') {
            records.back().emplace_back();
        } else {
            records.back().back() += c;
        }
    }
    std::string written;
    for (const auto& record : records) {
        written += support::CsvLine(record);
    }
    const Records read = support::ParseCsv(written);
    bool same = read.size() == records.size();
    for (std::size_t r = 0; same && r < read.size(); ++r) {
        same = read[r].size() == records[r].size();
        for (std::size_t f = 0; same && f < read[r].size(); ++f) {
            const std::string& field = read[r][f];
            same = support::IsValidUtf8(records[r][f])
                ? field == records[r][f]
                : support::IsValidUtf8(field) && support::ParseCsv(support::CsvLine({field})) == Records {{field}};
        }
    }
    if (!same) {
        std::abort();
    }
    return 0;
}
