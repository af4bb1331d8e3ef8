#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/records/ReportRows.h"
#include "support/FileSystem.h"

namespace engine {

// The reports of the other runs into one destination, read for what they wrote (duplicates across
// runs are flagged by it): reports of runs that ended or were killed before this one began are read
// once; reports still being written, by another program on the same destination, are followed as they
// grow; and reports of runs that begin later are found by their journal row, which a run writes
// before any row of its report. The journal is rewritten whole, so a new row shows as a new file.
class OtherRuns
{
public:
    // Reads the reports in runsFolder that write into destination, but the one named ownRows; take gets
    // every row, pump is called now and then on many reports.
    void Begin(const std::string& runsFolder, const std::string& destination, const std::string& ownRows, RowTake take,
        const std::function<void()>& pump);
    // Hands take the rows that other runs wrote since, and those of runs that began since.
    void CatchUp();
    void Clear();

private:
    struct Followed
    {
        std::string rows;
        std::uint64_t offset = 0; // read up to here
        std::unique_ptr<RowParser> parser;
    };

    // Reads the report from its start; follows it on while its writer may still write. pump, when
    // given, is called between the pieces read.
    void Follow(const std::string& rows, bool mayGrow, const std::function<void()>& pump = {});
    void ReadOn(Followed& report, const std::function<void()>& pump = {});

    std::string m_runsFolder;
    std::string m_destination;
    std::string m_ownRows;
    RowTake m_take;
    std::set<std::string> m_seen; // rows files read
    std::vector<Followed> m_followed; // reports whose writers may still write
    std::optional<support::FileStamp> m_journal; // as it was when last read: another file after every rewrite
};

} // namespace engine
