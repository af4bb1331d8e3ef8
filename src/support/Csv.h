#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Comma-separated values as RFC 4180 has them, for the run reports: a field with a comma, a quote,
// CR or LF is quoted and its quotes doubled; lines end in CR LF. Report files are UTF-8: a byte that
// is not part of valid UTF-8 (a file name from an old disc) is written as the four characters \xHH.
namespace support {

std::string CsvField(std::string_view text);
std::string CsvLine(const std::vector<std::string>& fields);
// Reads records from a file's content fed in pieces as they are read, so that a large file is never
// held whole; quoted fields may hold line breaks. A leading byte-order mark is skipped.
class CsvParser
{
public:
    using Take = std::function<void(std::vector<std::string>& record)>;
    explicit CsvParser(Take take);

    void Feed(std::string_view piece);
    // The content has ended: takes a last record without a line break.
    void Finish();

private:
    void Parse(std::string_view piece);
    void EndField();
    void EndRecord();

    Take m_take;
    std::string m_head; // the first bytes, until they are known not to be a byte-order mark
    std::vector<std::string> m_record;
    std::string m_field;
    bool m_started = false;
    bool m_quoted = false;
    bool m_quoteInQuoted = false; // a quote inside quotes: the first of a doubled pair, or the end
    bool m_afterCr = false; // a CR ended the last record; an LF right after it belongs to it
    bool m_any = false; // a byte since the last record ended
};

// The records of a whole file's content.
std::vector<std::vector<std::string>> ParseCsv(std::string_view content);

} // namespace support
