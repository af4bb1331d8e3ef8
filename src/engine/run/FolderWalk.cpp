#include "engine/run/FolderWalk.h"

#include <algorithm>

#include "engine/common/Texts.h"
#include "support/Log.h"

namespace engine {

FolderWalk::FolderWalk(RunHost& host, RunState& state, const support::Log& log, Profile profile, DiscTree tree)
    : m_host(host)
    , m_state(state)
    , m_log(log)
    , m_profile(profile)
    , m_tree(std::move(tree))
{ }

std::optional<WalkStep> FolderWalk::Next()
{
    while (m_folder < m_tree.size()) {
        const ListedFolder& folder = m_tree[m_folder];
        if (!m_entered) {
            m_entered = true;
            m_file = 0;
            if (auto failed = Enter(folder)) {
                // What was below it went with it: one line for the folder, as for one never listed.
                const std::string below = folder.relative;
                do {
                    ++m_folder;
                } while (m_folder < m_tree.size() && m_tree[m_folder].relative.starts_with(below));
                m_entered = false;
                return failed;
            }
        }
        if (m_file < folder.listing.files.size()) {
            return FileStep(folder);
        }
        NoteLinks(folder);
        ++m_folder;
        m_entered = false;
    }
    return std::nullopt;
}

std::optional<WalkStep> FolderWalk::Enter(const ListedFolder& folder)
{
    // Listed before the run, looked at again now: a folder that could not be read, or has vanished
    // since, is told and left; the walk goes on with the next one.
    const std::error_code error = folder.error ? folder.error : support::CheckFolder(folder.path);
    if (error) {
        m_log.WriteError(
            support::ErrorNumber(error), support::ErrorDescription(error), texts::SourceScanFolder, folder.path);
        WalkStep failed;
        failed.path = folder.path;
        failed.relative = folder.relative.empty() ? "./" : folder.relative;
        failed.folderError = error;
        return failed;
    }
    m_state.FolderFileCount = static_cast<std::int64_t>(folder.listing.files.size());
    if (m_state.FolderFileCount > 0) {
        m_host.SetProgressMax(m_state.FolderFileCount); // an empty folder leaves the bar as it was
    }
    m_state.ScanPosition = -1;
    return std::nullopt;
}

void FolderWalk::NoteLinks(const ListedFolder& folder) const
{
    if (m_log.DebugOn()) {
        for (const std::string& name : folder.listing.linkedFolders) {
            m_log.WriteDebug("Symbolic link to a folder not followed: " + support::JoinPath(folder.path, name));
        }
    }
}

WalkStep FolderWalk::FileStep(const ListedFolder& folder)
{
    const std::size_t index = m_file++;
    WalkStep step;
    step.name = folder.listing.files[index];
    step.path = support::JoinPath(folder.path, step.name);
    ++m_state.ScanPosition;
    m_host.SetProgressText(texts::ScanProgress(m_state.ScanPosition, m_state.FolderFileCount));
    m_host.SetProgressValue(static_cast<std::int64_t>(index) + 1);
    m_host.ProcessPendingMessages();
    m_host.SetStatusLine(texts::Status(step.path));
    m_state.CurrentFileName = step.name;

    step.relative = folder.relative + step.name;
    step.size = support::FileSize(step.path);
    step.selected = IsSelected(m_profile, step.name);
    if (step.selected) {
        ++m_state.CheckedCount;
    }
    return step;
}

} // namespace engine
