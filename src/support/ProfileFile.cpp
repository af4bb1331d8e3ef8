#include "support/ProfileFile.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "support/Ascii.h"
#include "support/AtomicFile.h"
#include "support/FileSystem.h"

namespace support {

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(Blanks);
    return text.substr(first, last - first + 1);
}

// One line of the file, kept with its own line end so that a rewrite changes only what it must.
struct Line
{
    std::string text;
    std::string ending;
};

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// The lines of the content; marks, the byte-order marks that editors may have put at its front
// (one, or one more on every save by some), go into marks when asked for.
std::vector<Line> SplitLines(const std::string& content, std::string* marks = nullptr)
{
    std::vector<Line> lines;
    size_t start = 0;
    while (std::string_view(content).substr(start).starts_with(ByteOrderMark)) {
        start += ByteOrderMark.size();
    }
    if (marks != nullptr) {
        *marks = content.substr(0, start);
    }
    while (start < content.size()) {
        const auto newline = content.find('\n', start);
        const size_t end = newline == std::string::npos ? content.size() : newline;
        Line line {content.substr(start, end - start), newline == std::string::npos ? "" : "\n"};
        if (!line.ending.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.ending = "\r\n";
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (!line.starts_with('[')) {
        return std::nullopt;
    }
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

struct Entry
{
    std::string_view key;
    std::string_view value;
};

std::optional<Entry> EntryOf(std::string_view line)
{
    const auto trimmed = Trim(line);
    const auto equals = trimmed.find('=');
    if (trimmed.starts_with(';') || equals == std::string_view::npos) {
        return std::nullopt;
    }
    return Entry {Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1))};
}

// Index of the first header line of the section, if any.
std::optional<size_t> FindSection(const std::vector<Line>& lines, std::string_view section)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i].text); name && EqualsIgnoringCase(*name, Trim(section))) {
            return i;
        }
    }
    return std::nullopt;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

std::optional<std::string> FindIniValue(const std::string& content, std::string_view section, std::string_view key)
{
    const auto lines = SplitLines(content);
    const auto header = FindSection(lines, section);
    if (!header) {
        return std::nullopt;
    }
    for (size_t i = *header + 1; i < lines.size() && !SectionName(lines[i].text); ++i) {
        if (auto entry = EntryOf(lines[i].text); entry && EqualsIgnoringCase(entry->key, Trim(key))) {
            return std::string(entry->value);
        }
    }
    return std::nullopt;
}

std::string ReadIniValue(
    std::string_view section, std::string_view key, std::string_view defaultValue, const std::string& file)
{
    std::string content;
    if (ReadWholeFile(file, content)) {
        return std::string(defaultValue);
    }
    return FindIniValue(content, section, key).value_or(std::string(defaultValue));
}

std::optional<std::string> SetIniValue(
    const std::string& content, std::string_view section, std::string_view key, std::string_view value)
{
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) || section.find(']') != std::string_view::npos
        || key.find('=') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string marks;
    auto lines = SplitLines(content, &marks);
    if (!lines.empty() && lines.back().ending.empty()) {
        lines.back().ending = "\r\n";
    }
    const Line entryLine {std::string(key) + "=" + std::string(value), "\r\n"};

    const auto header = FindSection(lines, section);
    if (!header) {
        lines.push_back({"[" + std::string(section) + "]", "\r\n"});
        lines.push_back(entryLine);
    } else {
        size_t insertAt = *header + 1;
        bool replaced = false;
        for (size_t i = *header + 1; i < lines.size() && !SectionName(lines[i].text); ++i) {
            if (auto entry = EntryOf(lines[i].text); entry && EqualsIgnoringCase(entry->key, Trim(key))) {
                lines[i].text = std::string(entry->key) + "=" + std::string(value); // the stored spelling stays
                replaced = true;
                break;
            }
            if (!Trim(lines[i].text).empty()) {
                insertAt = i + 1;
            }
        }
        if (!replaced) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entryLine);
        }
    }

    std::string result = marks; // the file keeps its front as the editor left it
    for (const auto& line : lines) {
        result += line.text;
        result += line.ending;
    }
    // What cannot be read back is not written: the operator's choice would be lost without a word.
    if (FindIniValue(result, section, key) != Trim(value)) {
        return std::nullopt;
    }
    return result;
}

bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value, const std::string& file)
{
    std::string content;
    if (PathExists(file) && ReadWholeFile(file, content)) {
        return false; // never replace a file that exists but cannot be read
    }
    const auto result = SetIniValue(content, section, key, value);
    AtomicFile out;
    return result && !out.Create(file) && !out.Write(*result) && !out.Commit(Replace::Allowed);
}

} // namespace support
