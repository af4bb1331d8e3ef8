#include "engine/run/RunController.h"

#include <algorithm>
#include <ctime>
#include <exception>

#include "engine/input/DiscIdentity.h"
#include "engine/run/RunSummaryText.h"
#include "engine/common/Texts.h"
#include "engine/records/RunsFolder.h"
#include "support/AtomicFile.h"
#include "support/FileSystem.h"
#include "support/LocalTime.h"

namespace engine {

RunController::RunController(RunHost& host, std::string logsHome, support::Log::Clock timeStamp)
    : m_host(host)
    , m_logsHome(logsHome)
    , m_log(
          std::move(logsHome), [&host] { return host.DebugValue() == 1; }, std::move(timeStamp))
    , m_migration(
          m_log, [this] { return NextUniqueName(); }, [&host] { host.ProcessPendingMessages(); })
{ }

void RunController::SetTimer(bool enabled)
{
    m_timerEnabled = enabled;
    m_host.SetTimerEnabled(enabled);
}

void RunController::OnTimerTick()
{
    SetTimer(false);
    if (m_running) {
        return; // never nested inside the run it would share its state with
    }
    m_running = true;
    m_stopRequested = false;
    RemoveUnfinishedFiles(m_host.DestText(), m_log);
    m_work.RemoveStaleRunFolders();
    const std::string source = m_host.SourceText();
    const std::string destination = m_host.DestText();
    const auto pump = [this] { m_host.ProcessPendingMessages(); };
    DiscIdentity disc = IdentifyDisc(
        source, *m_state.FileFilter, [this](const std::string& folder) { return IsOwnOutput(folder); }, pump);
    const bool busy = !TakeDisc(disc, destination);
    if (busy) {
        m_log.WriteError(-1, texts::DiscBusyLog, texts::SourceStart, "");
        m_host.ShowMessage(MessageKind::Stop, texts::DiscBusyBox, texts::AppTitle);
    }
    if (busy || !AskAboutEarlierRun(disc, destination)) {
        // Abbrechen, or the disc is in hand elsewhere: no run, no report, no summary.
        m_discLock.Unlock();
        m_work.Remove();
        m_running = m_runQueued = false;
        m_lastRun = RunSummary();
        m_lastRun.refused = true;
        m_host.SetQuitEnabled(true);
        return;
    }
    m_look.Clear();
    const std::string started = support::LocalIsoTime();
    m_report.Begin(m_logsHome,
        {m_state.RunPacs, source, destination, m_state.TempRoot, started, disc.label, disc.fingerprint}, pump);
    m_journal = JournalRow();
    m_journal.started = started;
    m_journal.pacs = m_state.RunPacs;
    m_journal.label = disc.label;
    m_journal.serial = disc.serial;
    m_journal.fingerprint = disc.fingerprint;
    m_journal.source = m_report.Description().source;
    m_journal.destination = m_report.Description().destination;
    m_journal.report = m_report.RowsName();
    m_journal.selected
        = disc.toMigrate; // known now, as the summary will count them: a killed run's row says how far it got
    // Before any row of the report: a run killed from here on reads as stopped, and other runs into the
    // destination find the report by this row.
    if (!m_journal.report.empty()) {
        WriteJournal();
    }
    if (m_onlyMissing) {
        // What a killed run wrote without its row is known by its bytes, and not written again.
        m_migration.SetExisting([this](std::string_view folder, std::uint64_t size, const Digest& digest) {
            return m_migratedBefore.Unlisted(folder, size, digest);
        });
    }
    if (IsCompressed(*m_state.FileFilter) && !m_onlyMissing) {
        // Read ahead of the walk by one thread. Not when most files are left alone as migrated before.
        m_migration.ReadAhead(disc.files);
    }
    try {
        Walk(std::move(disc.tree));
    } catch (const std::exception& e) {
        // Per-file errors never get here; this keeps an unexpected one from leaving the run open.
        m_log.WriteError(-1, e.what(), texts::SourceScanFolder, "");
        m_report.CountFailure();
    }
    FinishRun();
    m_running = false;
    m_host.SetQuitEnabled(true);
    if (m_runQueued) {
        m_runQueued = false;
        if (!m_stopRequested) {
            StartRun();
        }
    }
}

void RunController::RunUntilIdle()
{
    while (m_timerEnabled) {
        OnTimerTick();
    }
}

void RunController::RequestStop()
{
    m_runQueued = false;
    if (m_running) {
        m_stopRequested = true; // the walk ends after the file in hand; FinishRun cleans up
    } else if (m_timerEnabled) {
        SetTimer(false); // armed, not started: only the work folder to take back
        m_work.Remove();
        m_host.SetQuitEnabled(true);
    }
}

void RunController::Walk(DiscTree tree)
{
    FolderWalk walk(m_host, m_state, m_log, *m_state.FileFilter, std::move(tree));
    // Files the disc failed to deliver wait for a second try after the walk: a drive that struggled
    // with a scratch may read it once it has settled, and the walk does not wait for it meanwhile.
    std::vector<std::pair<WalkStep, FileRecord>> unreadable;
    while (!m_stopRequested) {
        std::optional<WalkStep> step = walk.Next();
        if (!step) {
            break;
        }
        ImageMigration::Migration migration = Handle(*step);
        const bool folderFailed = static_cast<bool>(step->folderError);
        if (migration.record.unreadable) {
            unreadable.emplace_back(std::move(*step), std::move(migration.record));
        } else {
            Queue(std::move(*step), std::move(migration));
        }
        if (!folderFailed) {
            m_host.ProcessPendingMessages();
        }
    }
    m_migration.CancelReadAhead();
    Flush(); // before the retried files' rows, which come last
    for (auto& [step, record] : unreadable) {
        ImageMigration::Migration migration {std::move(record), nullptr};
        if (!m_stopRequested) {
            m_host.SetStatusLine(texts::Status(step.path));
            m_state.CurrentFileName = step.name;
            migration = Handle(step);
            migration.record.retried = true;
            if (m_log.DebugOn() && migration.record.error.empty()) {
                m_log.WriteDebug(step.name + " was read on the second try.");
            }
            m_host.ProcessPendingMessages();
        }
        Queue(std::move(step), std::move(migration));
    }
    Flush();
}

void RunController::Queue(WalkStep step, ImageMigration::Migration migration)
{
    const bool due = m_outputs.Add(std::move(step), std::move(migration));
    m_report.WriteReady();
    if (due) {
        Flush();
    }
}

void RunController::Flush(bool all)
{
    m_outputs.Flush(
        m_migration,
        [this](OutputBatch& batch) {
            for (std::size_t i = 0; i < batch.Steps().size(); ++i) {
                NoteLook(batch.Steps()[i], batch.Migrations()[i].record);
                m_report.Add(std::move(batch.Migrations()[i].record));
            }
            m_state.MigratedCount = m_report.Counts().Migrated();
        },
        all);
    // The journal row of a run that goes on says now and then how far it got: a run killed later
    // reads so there, too.
    constexpr auto JournalInterval = std::chrono::seconds(10);
    if (!m_journal.report.empty() && std::chrono::steady_clock::now() - m_journalWritten >= JournalInterval) {
        WriteJournal();
    }
}

void RunController::WriteJournal()
{
    const RunTally& counts = m_report.Counts();
    m_journal.migrated = counts.Count(Outcome::Migrated);
    m_journal.alreadyMigrated = counts.Count(Outcome::AlreadyMigrated);
    m_journal.rejected = counts.Rejected();
    m_journal.failed = counts.withError;
    WriteJournalRow(RunsFolder(m_logsHome), m_journal);
    m_journalWritten = std::chrono::steady_clock::now();
}

ImageMigration::Migration RunController::Handle(const WalkStep& step)
{
    ImageMigration::Migration migration;
    FileRecord& record = migration.record;
    record.path = step.relative;
    if (step.selected && m_onlyMissing) {
        // The disc again: a file whose output an earlier run left in the destination stays as it is.
        if (auto earlier = m_migratedBefore.Find(
                step.relative, step.size, step.path, m_host.DestText(), [this] { m_host.ProcessPendingMessages(); })) {
            migration.record = std::move(*earlier);
            return migration;
        }
    }
    if (step.folderError) {
        record.outcome = Outcome::Failed;
        record.error = support::ErrorDescription(step.folderError);
        return migration;
    }
    if (step.selected) {
        return m_migration.Migrate(
            {step.path, step.name, step.relative, step.size}, {*m_state.FileFilter, m_host.DestText(), m_work.Path()});
    }
    record.size = step.size;
    record.notSelectedBecause = LeftOutByProfile;
    return migration;
}

void RunController::NoteLook(const WalkStep& step, const FileRecord& record)
{
    if (!step.folderError) {
        m_look.Note(step.name, step.path, record.look);
    }
    if (IsMigrated(record.outcome)) {
        m_look.Migrated(*m_state.FileFilter, step.name, record.look);
    }
}

void RunController::FinishRun()
{
    m_migration.CancelReadAhead(); // a stopped walk may have left the next file in decoding
    m_readByRun = m_migration.TakeReadByItself();
    Flush(true); // what the walk, or an unexpected failure of it, left waiting
    m_migration.SetExisting({});
    m_host.SetStatusLine(""); // no file is being migrated any more, while the summary waits or the send goes on
    // A disc that the run's system made no image of, or wrong ones, is told apart from a damaged one
    // of that system: the operator is to check the system rather than put the disc away.
    std::string looksLike;
    if (!m_stopRequested && m_report.Counts().scanned > 0 && m_look.Doubtful()) {
        if (const auto other = m_look.OtherSystem(*m_state.FileFilter, [this] { m_host.ProcessPendingMessages(); })) {
            looksLike = SystemName(*other);
        }
    }
    // First: it completes the counts.
    const std::string report = m_report.End(support::LocalIsoTime(), m_stopRequested, looksLike);
    // The report's counts are the run's: the summary, the journal and the front ends all read them.
    const RunTally& counts = m_report.Counts();
    m_lastRun = {counts.scanned, counts.checked, counts.Migrated(), counts.Count(Outcome::AlreadyMigrated),
        counts.withError, counts.Rejected(), counts.dotRule, m_stopRequested, false, looksLike, m_report.RunFindings(),
        report, std::nullopt};
    if (m_log.DebugOn() && !m_lastRun.report.empty()) {
        m_log.WriteDebug("Run report: " + support::ShownPath(m_lastRun.report));
    }
    if (!m_journal.report.empty()) {
        m_journal.ended = support::LocalIsoTime();
        m_journal.selected = counts.selected; // as the report's summary says
        m_journal.stopped = m_stopRequested;
        m_journal.looksLike = looksLike;
        WriteJournal();
    }
    m_discLock.Unlock();
    if (m_pacs && !m_stopRequested) {
        m_lastRun.pacs = SendToPacs();
    }
    if (!m_stopRequested) {
        m_host.SetProgressText(texts::ClosingProgress(m_lastRun.scanned));
        m_host.ShowRunSummary(SummaryWarns(m_lastRun) ? MessageKind::Warning : MessageKind::Information,
            SummaryText(m_lastRun), FindingsText(m_lastRun), texts::SummaryCaption);
    }
    m_work.Remove();
    m_state.MigratedCount = 0;
    m_state.CheckedCount = 0;
    m_host.SetProgressText("");
    m_host.SetProgressValue(0);
    m_host.SetStatusLine("");
}

PacsTally RunController::SendToPacs()
{
    // The folder is what the operator imports, so every image in it is sent and proven, not only the run's.
    const SendPlan plan = PlanOfDestination(RunsFolder(m_logsHome), m_report.Description().destination, m_pacs->node);
    m_host.SetProgressValue(0);
    const auto progress = [this](const SendProgress& now) {
        m_host.SetProgressText(SendProgressText(m_pacs->node, now));
        if (now.phase == SendProgress::Phase::Storing) {
            m_host.SetProgressMax(std::max<std::int64_t>(1, now.toStore));
            m_host.SetProgressValue(now.stored);
        }
        m_host.ProcessPendingMessages(); // the window stays alive, and can be closed
    };
    PacsTally tally = SendPlanned(*m_pacs, plan, SendMode::Send, m_log, progress, [this] { return m_stopRequested; });
    if (m_log.DebugOn()) {
        m_log.WriteDebug("Sent to " + m_pacs->node.Text() + ": " + texts::ConfirmedLine(tally.confirmed, tally.total));
    }
    return tally;
}

std::string RunController::NextUniqueName()
{
    if (!m_names) {
        m_names = std::make_unique<UniqueNameSource>();
    }
    return m_names->Next();
}

} // namespace engine
