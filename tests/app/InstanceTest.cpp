#include <csignal>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTest>

#include "app/InstanceLock.h"
#include "common/TempTree.h"

using namespace testing_support;

namespace {

// A copy of the window program in a program folder of its own, run without a display.
class ProgramCopy
{
public:
    ProgramCopy()
    {
        MakeFolders(m_root / "Programme");
        MakeFolders(m_root / "runtime");
        QFile::setPermissions(
            QString::fromStdString(m_root / "runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::copy(QStringLiteral(ZP_APP_PROGRAM), Program());
        // The lock lives in the runtime folder; this test's own lookups must see the same one.
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_root / "runtime"));
    }

    QString Program() const { return QString::fromStdString(m_root / "Programme/zet-pelta"); }
    std::string Folder() const { return m_root / "Programme"; }
    QString LockFile() const { return app::InstanceLock::PathFor(Folder()); }

    std::unique_ptr<QProcess> Start() const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        process->start(Program(), {});
        return process;
    }

    // The process that holds the lock, or 0.
    qint64 LockHolder() const
    {
        qint64 pid = 0;
        QString host, application;
        QLockFile lock(LockFile());
        return lock.getLockInfo(&pid, &host, &application) ? pid : 0;
    }

private:
    TempDir m_root;
};

void Kill(QProcess& process)
{
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished(10000);
}

} // namespace

class InstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyEndsAtOnceAndTouchesNothing();
    void lockFollowsTheProgramFolder();
};

void InstanceTest::secondCopyEndsAtOnceAndTouchesNothing()
{
    ProgramCopy copy;
    const std::string settings = "[Temp]\r\nTempPath=/var/tmp\r\n[PACS]\r\nPACS=hipax\r\n";
    WriteFile(copy.Folder() + "/Settings.ini", settings);

    auto first = copy.Start();
    QVERIFY(first->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(copy.LockHolder(), first->processId(), 20000);

    auto second = copy.Start();
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(second->readAllStandardError().contains("already running"));
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(ReadFile(copy.Folder() + "/Settings.ini"), settings);
    QCOMPARE(copy.LockHolder(), first->processId());

    // A copy that crashed leaves no lock behind that keeps the next one out.
    Kill(*first);
    auto third = copy.Start();
    QVERIFY(third->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(copy.LockHolder(), third->processId(), 20000);
    QCOMPARE(third->state(), QProcess::Running);
    Kill(*third);
    QCOMPARE(ReadFile(copy.Folder() + "/Settings.ini"), settings);
}

void InstanceTest::lockFollowsTheProgramFolder()
{
    TempDir runtime;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.Path()));
    QFile::setPermissions(
        QString::fromStdString(runtime.Path()), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString one = app::InstanceLock::PathFor("/opt/zet-pelta");
    QVERIFY(one.startsWith(QString::fromStdString(runtime.Path()) + "/"));
    QVERIFY(one != app::InstanceLock::PathFor("/opt/zet-pelta-2"));

    app::InstanceLock holder(one);
    QVERIFY(holder.TryAcquire());
    app::InstanceLock again(one);
    QVERIFY(!again.TryAcquire());
    app::InstanceLock other(app::InstanceLock::PathFor("/opt/zet-pelta-2"));
    QVERIFY(other.TryAcquire());

    // No place for a lock at all: the program is let through rather than never starting.
    app::InstanceLock nowhere(QStringLiteral("/nonexistent-folder/zet-pelta.lock"));
    QVERIFY(nowhere.TryAcquire());
}

QTEST_MAIN(InstanceTest)
#include "InstanceTest.moc"
