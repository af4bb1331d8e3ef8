#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/Predecoder.h"
#include "engine/RunHost.h"
#include "engine/RunReport.h"
#include "engine/RunState.h"
#include "engine/UniqueNameSource.h"
#include "support/AtomicFile.h"
#include "support/FileSystem.h"
#include "support/Log.h"
#include "support/Sha256.h"

namespace engine {

// One migration run at a time, driven by a front end through RunHost on a single thread:
//
//   StartRun()      the "Migrieren" command: checks the folders and the PACS system, creates the work
//                   folder and arms the timer; a failed check logs, shows a stop box and arms nothing.
//   OnTimerTick()   the timer's tick: walks the whole source tree, then FinishRun shows the summary.
//
// A headless front end calls RunUntilIdle() after StartRun(). "Migrieren" while a run executes queues
// one further run, which starts with its own checks when the current one has ended; the running run
// keeps its profile and work folder. RequestStop() (the window closes) ends the run after the file in
// hand, removes the work folder and shows no summary.
class MigrationEngine
{
public:
    // Logs go to programFolder + "/Logs", stamped by timeStamp.
    MigrationEngine(RunHost& host, std::string programFolder, support::Log::Clock timeStamp = support::LocalTimeStamp);

    void StartRun();
    void OnTimerTick();
    void RunUntilIdle();
    void RequestStop();

    bool TimerEnabled() const { return m_timerEnabled; }
    bool Running() const { return m_running; }
    bool RunQueued() const { return m_runQueued; }
    const RunState& State() const { return m_state; }
    const RunSummary& LastRun() const { return m_lastRun; }
    const support::Log& Log() const { return m_log; }

private:
    void Refuse(std::string_view logMessage, std::string_view boxText);
    void SetTimer(bool enabled);
    void ScanFolder(const std::string& folder);
    void HandleSelectedFile(const std::string& sourcePath, const std::string& name);
    std::error_code MigratePlainImage(const std::string& sourcePath);
    // A compressed source file as the run has it in hand.
    struct CompressedInput
    {
        support::InputFile* file = nullptr; // open
        std::optional<std::string_view> whole; // its bytes, when it was read whole
        const Predecoder::Result* predecoded = nullptr; // and its output, when it was decoded ahead
    };
    // Decompresses the source and writes the image ("STARC") or its unwrapped content ("Z"); logs
    // its own errors and rejects what cannot be converted.
    void MigrateCompressedImage(const CompressedInput& input, const std::string& sourcePath, const std::string& name);
    std::error_code ConvertCompressedImage(
        const CompressedInput& input, const std::string& sourcePath, const std::string& name);
    // Logs the image and copies its source file unchanged into the destination's BadObjects folder.
    void RejectImage(const std::string& sourcePath, const std::string& name);
    std::error_code QuarantineImage(const std::string& sourcePath, const std::string& name);
    std::string DestinationPath();
    std::error_code CommitUnique(support::AtomicFile& file);
    // Records the final name and size in the current file's report row.
    std::error_code CopyToDestination(
        const std::string& sourcePath, const std::string& target, support::Sha256* digest);
    bool IsOwnOutput(const std::string& folder) const;
    void RemoveLeftovers();
    // Counts the current image as migrated and checks what was written as DICOM.
    void Migrated();
    std::string RelativePath(const std::string& path) const;
    void FinishRun();
    void RemoveWorkFolder();
    std::string WorkFolder() const;
    std::string RunFolder() const;
    bool CreateWorkFolders();
    void RemoveStaleRunFolders();
    std::string NextUniqueName();
    enum class ErrorExtra { FileName, SystemErrorsOnly };
    void LogFileError(const std::error_code& error, ErrorExtra extra);
    bool DebugOn();

    RunHost& m_host;
    std::string m_programFolder;
    support::Log m_log;
    RunReport m_report;
    FileRecord m_record; // the report row of the file in hand
    std::string m_sourceRoot;
    RunState m_state;
    RunSummary m_lastRun;
    std::unique_ptr<UniqueNameSource> m_names; // created on first use
    std::string m_compressed; // the compressed file read whole; kept for the next one
    Predecoder m_predecoder;
    std::string m_nextCompressed; // the folder's next selected file, when images are compressed
    bool m_timerEnabled = false;
    bool m_running = false;
    bool m_runQueued = false;
    bool m_stopRequested = false;
};

} // namespace engine
