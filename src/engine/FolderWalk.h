#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "engine/Profile.h"
#include "engine/RunHost.h"
#include "engine/RunState.h"
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

// The walk over the source tree, one step at a time: the files of a folder in name order, then its
// sub-folders, depth first. Each step drives the progress display (the bar restarts for every folder,
// the status line names the file), counts the file as scanned and, when the profile selects it, as
// checked. Symbolic links to folders are not followed, and folders that hold the run's own output are
// not read. A folder that cannot be listed is logged and ends in a step of its own; the walk goes on
// with its next sibling.
class FolderWalk
{
public:
    using IsOwnOutput = std::function<bool(const std::string& folder)>;

    FolderWalk(RunHost& host, RunState& state, const support::Log& log, Profile profile, std::string root,
        IsOwnOutput isOwnOutput);

    // The next step; nothing once the whole tree has been walked.
    std::optional<WalkStep> Next();

private:
    struct Folder
    {
        std::string path;
        support::FolderListing listing;
        std::size_t file = 0; // the next file to hand out
        std::size_t folder = 0; // the next sub-folder to enter
        bool linksNoted = false;
    };

    std::optional<WalkStep> Enter(const std::string& path);
    WalkStep FileStep(Folder& folder);
    std::string Relative(const std::string& path) const;

    RunHost& m_host;
    RunState& m_state;
    const support::Log& m_log;
    Profile m_profile;
    std::string m_root;
    IsOwnOutput m_isOwnOutput;
    std::vector<Folder> m_folders; // the folders being walked, the innermost last
    bool m_started = false;
};

} // namespace engine
