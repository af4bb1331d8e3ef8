#include "engine/report/OtherRuns.h"

#include "engine/records/DiscJournal.h"
#include "engine/records/RunsFolder.h"
#include "support/ProcessWatch.h"

namespace engine {

namespace {

constexpr std::size_t PieceBytes = 64 * 1024;

} // namespace

void OtherRuns::Clear()
{
    m_runsFolder.clear();
    m_seen.clear();
    m_followed.clear();
    m_journal.reset();
}

void OtherRuns::Begin(const std::string& runsFolder, const std::string& destination, const std::string& ownRows,
    RowTake take, const std::function<void()>& pump)
{
    Clear();
    m_runsFolder = runsFolder;
    m_destination = destination;
    m_ownRows = ownRows;
    m_take = std::move(take);
    // First: a run that begins from here on writes its journal row after its summary, and is found by
    // that row if its summary is not listed now.
    m_journal = support::StampOf(JournalPath(runsFolder));
    for (const ReportOfRun& run : RunsInto(runsFolder, destination)) {
        // A run killed before it could end never writes again. Many earlier discs into one destination
        // take a while to read.
        Follow(run.rows, !run.summary.Ended() && !support::IsLeftoverOfDeadProcess(run.summary.writer), pump);
    }
}

void OtherRuns::CatchUp()
{
    if (m_runsFolder.empty()) {
        return;
    }
    if (auto journal = support::StampOf(JournalPath(m_runsFolder)); journal != m_journal) {
        m_journal = journal;
        const auto target = support::IdentityOf(m_destination);
        for (const JournalRow& run : ReadJournal(m_runsFolder)) {
            if (target && support::IdentityOf(run.destination) == target) {
                Follow(m_runsFolder + "/" + run.report, run.ended.empty());
            }
        }
    }
    for (Followed& report : m_followed) {
        ReadOn(report);
    }
}

void OtherRuns::Follow(const std::string& rows, bool mayGrow, const std::function<void()>& pump)
{
    if (support::NameOf(rows) == m_ownRows || !m_seen.insert(support::NameOf(rows)).second) {
        return;
    }
    Followed report {rows, 0, std::make_unique<RowParser>(m_take)};
    ReadOn(report, pump);
    if (mayGrow) {
        m_followed.push_back(std::move(report));
    }
}

void OtherRuns::ReadOn(Followed& report, const std::function<void()>& pump)
{
    const auto size = support::FileSize(report.rows);
    if (!size || *size <= report.offset) {
        return;
    }
    support::InputFile in;
    if (in.Open(report.rows) || in.Seek(report.offset)) {
        return;
    }
    thread_local std::string piece(PieceBytes, '\0');
    std::size_t got = 0;
    while (!in.Read(piece, got) && got > 0) {
        report.parser->Feed(std::string_view(piece).substr(0, got));
        report.offset += got;
        if (pump) {
            pump();
        }
    }
}

} // namespace engine
