#pragma once

#include <string>

namespace support {
class Log;
}

namespace engine {

// The run's work folder, <temp>/TempPelta. Runs that share a temp folder (two programs started with
// the same settings) each keep a folder of their own inside it, named by their process tag, which
// marks the work folder as in use; the last run to end removes it.
class WorkFolder
{
public:
    explicit WorkFolder(const std::string& tempRoot = {});

    const std::string& Path() const { return m_path; }
    std::string RunFolder() const;

    // Creates the work folder where it is missing, and the run's own folder in it; false when that
    // cannot be done.
    bool Create() const;
    // Takes back what this run made: its own folder, the folders of runs that were killed, and the
    // work folder once it is empty. Never through a symbolic link (the temp field may name another
    // folder by now), never a folder the operator made read-only; what cannot be removed stays.
    void Remove() const;
    // Folders of runs that were killed; those of runs that still go on (here or on another machine
    // sharing the folder) stay.
    void RemoveStaleRunFolders() const;

private:
    std::string m_path;
};

// A run that was killed leaves its unfinished files in the destination and its quarantine folder
// under hidden temporary names; they never became images, so they go before a run writes there.
void RemoveUnfinishedFiles(const std::string& destination, const support::Log& log);

} // namespace engine
