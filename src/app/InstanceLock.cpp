#include "app/InstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include "support/FileSystem.h"

namespace app {

InstanceLock::InstanceLock(const QString& lockFile)
    : m_lock(std::make_unique<QLockFile>(lockFile))
{
    // Never treat a held lock as stale because of its age: only a holder that no longer runs frees it.
    m_lock->setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::TryAcquire()
{
    if (m_lock->tryLock(0)) {
        return true;
    }
    return m_lock->error() != QLockFile::LockFailedError;
}

QString InstanceLock::PathFor(const std::string& settingsFolder)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    const auto identity = support::IdentityOf(settingsFolder);
    const std::string name
        = identity ? std::to_string(identity->device) + ":" + std::to_string(identity->inode) : settingsFolder;
    const QByteArray key
        = QCryptographicHash::hash(QByteArray::fromStdString(name), QCryptographicHash::Sha256).toHex().left(16);
    return folder + QStringLiteral("/zet-pelta-") + QString::fromLatin1(key) + QStringLiteral(".lock");
}

} // namespace app
