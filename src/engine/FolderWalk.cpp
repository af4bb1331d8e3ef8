#include "engine/FolderWalk.h"

#include <algorithm>

#include "engine/Texts.h"
#include "support/Log.h"

namespace engine {

FolderWalk::FolderWalk(
    RunHost& host, RunState& state, const support::Log& log, Profile profile, std::string root, IsOwnOutput isOwnOutput)
    : m_host(host)
    , m_state(state)
    , m_log(log)
    , m_profile(profile)
    , m_root(std::move(root))
    , m_isOwnOutput(std::move(isOwnOutput))
{ }

std::optional<WalkStep> FolderWalk::Next()
{
    if (!m_started) {
        m_started = true;
        if (auto failed = Enter(m_root)) {
            return failed;
        }
    }
    while (!m_folders.empty()) {
        Folder& folder = m_folders.back();
        if (folder.file < folder.listing.files.size()) {
            return FileStep(folder);
        }
        if (!folder.linksNoted) {
            folder.linksNoted = true;
            for (const std::string& name : folder.listing.linkedFolders) {
                if (m_log.DebugOn()) {
                    m_log.WriteDebug("Symbolic link to a folder not followed: " + support::JoinPath(folder.path, name));
                }
            }
        }
        if (folder.folder < folder.listing.folders.size()) {
            const std::string path = support::JoinPath(folder.path, folder.listing.folders[folder.folder++]);
            if (!m_isOwnOutput(path)) {
                if (auto failed = Enter(path)) {
                    return failed;
                }
            }
            continue;
        }
        m_folders.pop_back();
    }
    return std::nullopt;
}

std::optional<WalkStep> FolderWalk::Enter(const std::string& path)
{
    Folder folder;
    folder.path = path;
    if (auto error = support::ListFolder(path, folder.listing)) {
        // The folder vanished or cannot be read: say which, and go on with its next sibling.
        m_log.WriteError(support::ErrorNumber(error), support::ErrorDescription(error), texts::SourceScanFolder, path);
        WalkStep failed;
        failed.path = path;
        failed.relative = Relative(path) + "/";
        failed.folderError = error;
        return failed;
    }
    m_state.FolderFileCount = static_cast<std::int64_t>(folder.listing.files.size());
    if (m_state.FolderFileCount > 0) {
        m_host.SetProgressMax(m_state.FolderFileCount); // an empty folder leaves the bar as it was
    }
    m_state.ScanPosition = -1;
    m_folders.push_back(std::move(folder));
    return std::nullopt;
}

WalkStep FolderWalk::FileStep(Folder& folder)
{
    const std::vector<std::string>& files = folder.listing.files;
    const std::size_t index = folder.file++;
    WalkStep step;
    step.name = files[index];
    step.path = support::JoinPath(folder.path, step.name);
    ++m_state.ScanPosition;
    m_host.SetProgressText(texts::ScanProgress(m_state.ScanPosition, m_state.FolderFileCount));
    m_host.SetProgressValue(static_cast<std::int64_t>(index) + 1);
    m_host.ProcessPendingMessages();
    m_host.SetStatusLine(texts::Status(step.path));
    m_state.CurrentFileName = step.name;
    ++m_state.ScannedCount;

    step.relative = Relative(step.path);
    step.size = support::FileSize(step.path);
    step.selected = IsSelected(m_profile, step.name);
    if (step.selected) {
        ++m_state.CheckedCount;
    }
    return step;
}

std::string FolderWalk::Relative(const std::string& path) const
{
    if (path.size() > m_root.size() + 1 && path.starts_with(m_root) && path[m_root.size()] == '/') {
        return path.substr(m_root.size() + 1);
    }
    return path == m_root ? "." : path;
}

} // namespace engine
