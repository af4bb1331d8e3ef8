#include "engine/records/RunsFolder.h"

#include "support/FileLock.h"
#include "support/FileSystem.h"
#include "support/Log.h"

namespace engine {

namespace {

std::string WithoutSuffix(const std::string& path, std::string_view suffix)
{
    return path.ends_with(suffix) ? path.substr(0, path.size() - suffix.size()) : path;
}

} // namespace

std::string RunsFolder(const std::string& logsHome)
{
    return support::LogsFolder(logsHome) + "/Runs";
}

void CreateRunsFolder(const std::string& logsHome)
{
    support::CreateFolder(support::LogsFolder(logsHome));
    support::CreateFolder(RunsFolder(logsHome));
}

std::string JournalPath(const std::string& runsFolder)
{
    return runsFolder + "/discs.csv";
}

std::string PacsFileOf(const std::string& rowsPath)
{
    return WithoutSuffix(rowsPath, RowsSuffix) + std::string(PacsSuffix);
}

std::string UnreportedPacsFile(const std::string& runsFolder)
{
    return support::JoinPath(runsFolder, "unreported" + std::string(PacsSuffix));
}

std::string RowsFileOf(const std::string& summaryPath)
{
    return WithoutSuffix(summaryPath, SummarySuffix) + std::string(RowsSuffix);
}

std::string DiscOf(const std::string& rowsPath)
{
    return WithoutSuffix(support::NameOf(rowsPath), RowsSuffix);
}

std::string LocksFile(const std::string& runsFolder)
{
    return runsFolder + "/.locks";
}

std::uint64_t DestinationLockSlot(const std::string& destination)
{
    return support::LockSlot("destination " + FolderKey(destination));
}

std::uint64_t DiscLockSlot(const std::string& fingerprint, const std::string& destination)
{
    return support::LockSlot("disc " + fingerprint + " " + FolderKey(destination));
}

std::uint64_t UnreportedLockSlot()
{
    return support::LockSlot("unreported send records");
}

std::string FolderKey(const std::string& folder)
{
    const auto identity = support::IdentityOf(folder);
    return identity ? std::to_string(identity->device) + ":" + std::to_string(identity->inode) : folder;
}

} // namespace engine
