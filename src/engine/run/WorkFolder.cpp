#include "engine/run/WorkFolder.h"

#include "engine/common/Texts.h"
#include "support/AtomicFile.h"
#include "support/FileSystem.h"
#include "support/Log.h"
#include "support/ProcessWatch.h"

namespace engine {

WorkFolder::WorkFolder(const std::string& tempRoot)
    : m_path(tempRoot + "/" + std::string(texts::WorkFolderName))
{ }

std::string WorkFolder::RunFolder() const
{
    return m_path + "/" + support::ProcessTag();
}

bool WorkFolder::Create() const
{
    // Another run that ends at this moment may remove the work folder between the two steps.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!support::FolderExists(m_path)) {
            support::CreateFolder(m_path);
        }
        if (support::FolderExists(RunFolder()) || !support::CreateFolder(RunFolder())) {
            return true;
        }
    }
    return false;
}

void WorkFolder::RemoveStaleRunFolders() const
{
    support::FolderListing listing;
    if (support::ListFolder(m_path, listing)) {
        return;
    }
    for (const std::string& name : listing.folders) {
        if (!support::IsProcessTag(name) || support::IsLeftoverOfDeadProcess(name)) {
            support::RemoveTree(m_path + "/" + name);
        }
    }
}

void WorkFolder::Remove() const
{
    if (!support::IsRealFolder(m_path)) {
        return;
    }
    if (support::IsRealFolder(RunFolder())) {
        support::RemoveTree(RunFolder());
    }
    if (!support::IsOwnerWritable(m_path)) {
        return;
    }
    RemoveStaleRunFolders();
    support::FolderListing listing;
    if (!support::ListFolder(m_path, listing)) {
        for (const auto* names : {&listing.files, &listing.linkedFolders}) {
            for (const std::string& name : *names) {
                support::DeleteFile(m_path + "/" + name);
            }
        }
    }
    support::RemoveEmptyFolder(m_path); // another run still working here keeps it
}

void RemoveUnfinishedFiles(const std::string& destination, const support::Log& log)
{
    for (const std::string& folder : {destination, destination + "/" + std::string(texts::QuarantineFolder)}) {
        if (const std::size_t removed = support::RemoveStaleTempFiles(folder); removed > 0) {
            log.WriteDebug(std::to_string(removed) + " unfinished file(s) of an earlier run removed from " + folder);
        }
    }
}

} // namespace engine
