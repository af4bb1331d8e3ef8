#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "engine/decode/DiscLook.h"
#include "engine/run/FolderWalk.h"
#include "engine/run/ImageMigration.h"
#include "engine/run/OutputBatch.h"
#include "engine/run/RunHost.h"
#include "engine/run/RunState.h"
#include "engine/run/UniqueNameSource.h"
#include "engine/run/WorkFolder.h"
#include "engine/records/DiscJournal.h"
#include "engine/report/MigratedBefore.h"
#include "engine/report/RunReport.h"
#include "engine/send/SendPlan.h"
#include "support/FileLock.h"
#include "support/Log.h"

namespace engine {

struct DiscIdentity;

// One migration run at a time, driven by a front end through RunHost on a single thread; the only part
// of the engine that talks to the front end about the run as a whole:
//
//   StartRun()      the "Migrieren" command: checks the folders and the PACS system, creates the work
//                   folder and arms the timer; a failed check logs, shows a stop box and arms nothing.
//   OnTimerTick()   the timer's tick: identifies the disc (refused when another program is migrating
//                   it into the same destination; asks, when the destination has it from an earlier
//                   run, whether only the missing files are to be migrated), walks the whole source
//                   tree, then FinishRun shows the summary.
//
// A headless front end calls RunUntilIdle() after StartRun(). "Migrieren" while a run executes queues
// one further run, which starts with its own checks when the current one has ended; the running run
// keeps its profile and work folder. RequestStop() (the window closes) ends the run after the file in
// hand, removes the work folder and shows no summary. With a DICOM node set, a run that ends sends its
// images there before the summary, which then tells how many the node confirmed.
class RunController
{
public:
    // Logs and reports go to Logs/ in logsHome (Places::logs), stamped by timeStamp.
    RunController(RunHost& host, std::string logsHome, support::Log::Clock timeStamp = support::LocalTimeStamp);

    void StartRun();
    void OnTimerTick();
    void RunUntilIdle();
    void RequestStop();
    // The node each run's images go to after the run; none: nothing is sent.
    void SetPacsTarget(std::optional<SendSettings> target) { m_pacs = std::move(target); }

    bool TimerEnabled() const { return m_timerEnabled; }
    bool Running() const { return m_running; }
    bool RunQueued() const { return m_runQueued; }
    const RunState& State() const { return m_state; }
    // The running run's counts so far: of the files delivered to its report.
    const RunTally& Counts() const { return m_report.Counts(); }
    const RunSummary& LastRun() const { return m_lastRun; }
    const support::Log& Log() const { return m_log; }
    // Compressed files of the last run that the run read itself, not the reader ahead of it. The reader
    // reads the walk's own list: a file it did not have was changed during the run, or something is
    // amiss, and a drive then jumps between files.
    std::int64_t ReadByRun() const { return m_readByRun; }

private:
    // A check before the run failed: its log line (extra: the folder it names) and its stop box.
    void Refuse(std::string_view logMessage, std::string_view boxText, const std::string& extra = {});
    void SetTimer(bool enabled);
    void Walk(DiscTree tree);
    ImageMigration::Migration Handle(const WalkStep& step);
    // Files wait with their outputs until a batch of them is made durable and named (see OutputPipeline),
    // while the run goes on. Only then are they counted and reported. With all, Flush waits for every
    // file queued so far.
    void Queue(WalkStep step, ImageMigration::Migration migration);
    void Flush(bool all = false);
    // The run's journal row, with its counts so far.
    void WriteJournal();
    // What the file's bytes tell of the disc's system.
    void NoteLook(const WalkStep& step, const FileRecord& record);
    // Takes the disc's lock for the destination; false when another run holds it.
    bool TakeDisc(const DiscIdentity& disc, const std::string& destination);
    bool IsOwnOutput(const std::string& folder) const;
    // Asks whether to migrate only the missing files when the destination has the disc from an
    // earlier run; false when the operator cancels.
    bool AskAboutEarlierRun(const DiscIdentity& disc, const std::string& destination);
    void FinishRun();
    PacsTally SendToPacs();
    std::string NextUniqueName();

    RunHost& m_host;
    std::string m_logsHome;
    support::Log m_log;
    RunReport m_report;
    JournalRow m_journal; // the running run's row in the journal
    std::chrono::steady_clock::time_point m_journalWritten;
    MigratedBefore m_migratedBefore; // with m_onlyMissing: what earlier runs of the disc left
    bool m_onlyMissing = false;
    support::FileLock m_discLock; // the disc into the destination, while the run goes on
    DiscLook m_look; // whether the disc fits the run's system
    RunState m_state;
    RunSummary m_lastRun;
    WorkFolder m_work;
    std::unique_ptr<UniqueNameSource> m_names; // created on first use
    ImageMigration m_migration;
    OutputPipeline m_outputs;
    bool m_timerEnabled = false;
    bool m_running = false;
    bool m_runQueued = false;
    bool m_stopRequested = false;
    std::int64_t m_readByRun = 0;
    std::optional<SendSettings> m_pacs;
};

} // namespace engine
