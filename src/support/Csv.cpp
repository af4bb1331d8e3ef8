#include "support/Csv.h"

#include <cstdio>

#include "support/Utf8.h"

namespace support {

std::string CsvField(std::string_view text)
{
    std::string valid;
    while (!text.empty()) {
        const std::size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[0]));
            valid += escaped;
            text.remove_prefix(1);
        } else {
            valid.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    // A byte-order mark at a field's front would be taken for the file's own by a reader at the start
    // of the file: quoted, it is part of the field.
    if (valid.find_first_of(",\"\r\n") == std::string::npos && !valid.starts_with("\xEF\xBB\xBF")) {
        return valid;
    }
    std::string quoted = "\"";
    for (const char c : valid) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += CsvField(fields[i]);
    }
    return line + "\r\n";
}

CsvParser::CsvParser(Take take)
    : m_take(std::move(take))
{ }

void CsvParser::EndField()
{
    m_record.push_back(std::move(m_field));
    m_field.clear();
}

void CsvParser::EndRecord()
{
    EndField();
    m_take(m_record);
    m_record.clear();
    m_any = false;
}

void CsvParser::Feed(std::string_view piece)
{
    // The first bytes wait until it is clear whether they are a byte-order mark, which a piece may cut.
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    if (!m_started) {
        while (!piece.empty() && m_head.size() < Bom.size() && Bom.starts_with(m_head + piece.front())) {
            m_head += piece.front();
            piece.remove_prefix(1);
        }
        if (m_head.size() < Bom.size() && piece.empty()) {
            return; // still undecided
        }
        m_started = true;
        if (m_head != Bom) {
            Parse(m_head);
        }
    }
    Parse(piece);
}

void CsvParser::Parse(std::string_view piece)
{
    for (const char c : piece) {
        if (m_afterCr) {
            m_afterCr = false;
            if (c == '\n') {
                continue;
            }
        }
        if (m_quoteInQuoted) {
            m_quoteInQuoted = false;
            if (c == '"') {
                m_field += '"';
                continue;
            }
            m_quoted = false; // that quote ended the quoted part; c is read as outside it
        }
        m_any = true;
        if (m_quoted) {
            if (c == '"') {
                m_quoteInQuoted = true;
            } else {
                m_field += c;
            }
        } else if (c == '"') {
            m_quoted = true;
        } else if (c == ',') {
            EndField();
        } else if (c == '\r' || c == '\n') {
            m_afterCr = c == '\r';
            EndRecord();
        } else {
            m_field += c;
        }
    }
}

void CsvParser::Finish()
{
    if (!m_started) {
        m_started = true;
        Parse(m_head); // shorter than a byte-order mark
    }
    if (m_any) {
        EndRecord();
    }
}

std::vector<std::vector<std::string>> ParseCsv(std::string_view content)
{
    std::vector<std::vector<std::string>> records;
    CsvParser parser([&records](std::vector<std::string>& record) { records.push_back(std::move(record)); });
    parser.Feed(content);
    parser.Finish();
    return records;
}

} // namespace support
