#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Logs/Runs, the folder of a run's records: the reports of each run (<start>_<PACS>.csv, -summary.csv,
// -studies.csv, -pacs.csv), the journal discs.csv, the send records of images no report lists, and the
// lock file that programs sharing the folder take turns by. Only the records part names these files.
namespace engine {

inline constexpr std::string_view RowsSuffix = ".csv";
inline constexpr std::string_view SummarySuffix = "-summary.csv";
inline constexpr std::string_view StudiesSuffix = "-studies.csv";
inline constexpr std::string_view PacsSuffix = "-pacs.csv";

// The folder of the reports, Logs/Runs, in the folder that holds Logs/ (Places::logs).
std::string RunsFolder(const std::string& logsHome);
// Makes Logs/ and Logs/Runs where they are missing; what fails, writing a record there tells.
void CreateRunsFolder(const std::string& logsHome);
std::string JournalPath(const std::string& runsFolder);
// The send records that belong to a rows file, and those of images no run report lists.
std::string PacsFileOf(const std::string& rowsPath);
std::string UnreportedPacsFile(const std::string& runsFolder);
// The rows file that a summary file belongs to.
std::string RowsFileOf(const std::string& summaryPath);
// A run as its files are named: "2026-12-06_10-05-03_HIPAX" for its rows file.
std::string DiscOf(const std::string& rowsPath);

// The lock file of programs that share the folder, and its slots: one for the journal, one per
// destination for the reports' rows, one per disc and destination for the run, one for the send records
// of images no report lists.
std::string LocksFile(const std::string& runsFolder);
inline constexpr std::uint64_t JournalLockSlot = 0;
std::uint64_t DestinationLockSlot(const std::string& destination);
std::uint64_t DiscLockSlot(const std::string& fingerprint, const std::string& destination);
std::uint64_t UnreportedLockSlot();
// A folder as a lock key: the same folder under any path.
std::string FolderKey(const std::string& folder);

} // namespace engine
