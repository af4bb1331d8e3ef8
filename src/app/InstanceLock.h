#pragma once

#include <memory>
#include <string>

#include <QString>

class QLockFile;

namespace app {

// Tells whether another copy of the window program runs from the same program folder: both would
// share Settings.ini and the logs. The lock is a file naming the holder's process, so a copy that
// crashed does not keep later ones out.
class InstanceLock
{
public:
    explicit InstanceLock(const QString& lockFile);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this copy is now the only one. False only when a live copy holds the lock; when no
    // lock can be made at all (no writable runtime folder), the program is let through.
    bool TryAcquire();

    // The lock file for the folder of a settings file (the program folder, or the user's settings
    // folder of an installed program), in the user's runtime folder (the temp folder without one). The
    // folder is named by its identity on the disk where it has one: one folder has many spellings (on
    // Windows in either case, with either slash, or by its short 8.3 name), and each must find the lock.
    static QString PathFor(const std::string& settingsFolder);

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace app
