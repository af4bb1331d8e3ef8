#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/Csv.h"

// A CSV file of Logs/Runs as a table of typed rows: each column a name and how its cell is written from
// a row and read into one. The header is written from the table and rows are read back by the names in
// a file's own header, so a row never depends on a column's position. Spreadsheets and the operator's
// own scripts read these files: columns are only ever added at the end, never renamed, so a file keeps
// its header when a later version appends to it, and a cell beyond its header's names is the column at
// that place in today's table.
namespace engine {

template <class Row> struct Column
{
    std::string_view name;
    std::string (*write)(const Row& row);
    void (*read)(Row& row, std::string&& cell);
};

template <class Row> using Table = std::span<const Column<Row>>;

// The byte-order mark tells spreadsheets that the file is UTF-8.
inline constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

template <class Row> std::vector<std::string> ColumnNames(Table<Row> table)
{
    std::vector<std::string> names;
    for (const Column<Row>& column : table) {
        names.emplace_back(column.name);
    }
    return names;
}

// The first line of a new file: the mark and the column names.
template <class Row> std::string HeaderLine(Table<Row> table)
{
    return std::string(Utf8Mark) + support::CsvLine(ColumnNames(table));
}

template <class Row> std::vector<std::string> Cells(Table<Row> table, const Row& row)
{
    std::vector<std::string> cells;
    cells.reserve(table.size());
    for (const Column<Row>& column : table) {
        cells.push_back(column.write(row));
    }
    return cells;
}

template <class Row> std::string Line(Table<Row> table, const Row& row)
{
    return support::CsvLine(Cells(table, row));
}

// Reads the rows of one file: the first record is its header. A row with fewer than minimum cells, or
// more than the header and the table know, is not a row of the file (the start of a line whose writer
// was killed, with the next line run into it) and is left out.
template <class Row> class TableReader
{
public:
    TableReader(Table<Row> table, std::size_t minimum)
        : m_table(table)
        , m_minimum(minimum)
    { }
    bool HasHeader() const { return m_header; }
    // The header, or a row read into row; false for the header and for a record that is no row.
    bool Read(std::vector<std::string>& cells, Row& row)
    {
        if (!m_header) {
            m_header = true;
            for (const std::string& name : cells) {
                m_columnAt.push_back(Find(name));
            }
            return false;
        }
        if (cells.size() < m_minimum || cells.size() > std::max(m_columnAt.size(), m_table.size())) {
            return false;
        }
        row = Row();
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const Column<Row>* column = i < m_columnAt.size() ? m_columnAt[i]
                : i < m_table.size()                          ? &m_table[i]
                                                              : nullptr;
            if (column != nullptr) {
                column->read(row, std::move(cells[i]));
            }
        }
        return true;
    }

private:
    const Column<Row>* Find(std::string_view name) const
    {
        for (const Column<Row>& column : m_table) {
            if (column.name == name) {
                return &column;
            }
        }
        return nullptr; // a column of a later version: left alone
    }

    Table<Row> m_table;
    std::size_t m_minimum;
    bool m_header = false;
    std::vector<const Column<Row>*> m_columnAt; // by the file's own column order
};

// A count as the files write it: empty where it is not known.
inline std::string CountText(const std::optional<std::int64_t>& count)
{
    return count ? std::to_string(*count) : std::string();
}
inline std::optional<std::int64_t> CountOf(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? std::optional(value) : std::nullopt;
}

// Columns of the common kinds, for a member of a row.
template <class Row, auto Member> constexpr Column<Row> TextColumn(std::string_view name)
{
    return {name, [](const Row& row) { return std::string(row.*Member); },
        [](Row& row, std::string&& cell) { row.*Member = std::move(cell); }};
}
// A count that is always known; a cell that is no number reads as 0.
template <class Row, auto Member> constexpr Column<Row> CountColumn(std::string_view name)
{
    return {name, [](const Row& row) { return std::to_string(row.*Member); },
        [](Row& row, std::string&& cell) { row.*Member = CountOf(cell).value_or(0); }};
}
// A count that may be unknown: an empty cell.
template <class Row, auto Member> constexpr Column<Row> MaybeCountColumn(std::string_view name)
{
    return {name, [](const Row& row) { return CountText(row.*Member); },
        [](Row& row, std::string&& cell) { row.*Member = CountOf(cell); }};
}

} // namespace engine
