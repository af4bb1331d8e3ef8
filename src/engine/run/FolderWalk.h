#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "engine/input/DiscTree.h"
#include "engine/common/Profile.h"
#include "engine/run/RunHost.h"
#include "engine/run/RunState.h"
#include "support/FileSystem.h"

namespace support {
class Log;
}

namespace engine {

// A file the walk has reached, or a folder it could not read.
struct WalkStep
{
    std::string path;
    std::string name;
    std::string relative; // to the source folder, as the report names it; a folder's ends in "/"
    std::optional<std::uint64_t> size;
    bool selected = false; // by the run's profile
    std::error_code folderError; // set when path is a folder that could not be listed (logged already)
};

// The walk over the source tree as it was listed once (DiscTree), one step at a time: the files of a
// folder in name order, then its sub-folders, depth first. Each step drives the progress display (the
// bar restarts for every folder, the status line names the file), counts the file as scanned and, when
// the profile selects it, as checked. A folder that could not be listed is logged when the walk
// reaches it and ends in a step of its own; the walk goes on with the next folder.
class FolderWalk
{
public:
    FolderWalk(RunHost& host, RunState& state, const support::Log& log, Profile profile, DiscTree tree);

    // The next step; nothing once the whole tree has been walked.
    std::optional<WalkStep> Next();

private:
    std::optional<WalkStep> Enter(const ListedFolder& folder);
    WalkStep FileStep(const ListedFolder& folder);
    void NoteLinks(const ListedFolder& folder) const;

    RunHost& m_host;
    RunState& m_state;
    const support::Log& m_log;
    Profile m_profile;
    DiscTree m_tree;
    std::size_t m_folder = 0; // the folder being walked, in m_tree
    std::size_t m_file = 0; // its next file to hand out
    bool m_entered = false; // the folder at m_folder was entered
};

} // namespace engine
