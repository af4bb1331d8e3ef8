#include <QtTest>

#include "app/InstanceLock.h"
#include "common/TempTree.h"

using namespace testing_support;

class InstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyEndsAtOnceAndTouchesNothing();
#ifndef _WIN32 // a Windows session's end is no signal a test can send
    void endsWhenAskedWhileItsStartUpBoxIsOpen();
#endif
};

namespace {

// The program's copy in a program folder of the test's own, and where its lock lives: a runtime
// folder of the test's own, on a system that has one, without a display.
QString CopyOfTheProgram(const TempDir& root)
{
#ifndef _WIN32
    MakeFolders(root / "runtime");
    QFile::setPermissions(
        QString::fromStdString(root / "runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(root / "runtime"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    const QString program = QString::fromStdString(root / "Programme/zet-pelta" ZP_EXE_SUFFIX);
    MakeFolders(root / "Programme");
    return QFile::copy(QStringLiteral(ZP_APP_PROGRAM), program) ? program : QString();
}

} // namespace

// Copies of the real program in a program folder of their own, without a display. A second copy ends
// at once without reading or writing anything; a copy that crashed keeps no later one out.
void InstanceTest::secondCopyEndsAtOnceAndTouchesNothing()
{
    TempDir root;
    const QString program = CopyOfTheProgram(root);
    QVERIFY(!program.isEmpty());
    WriteFile(root / "Programme/Settings.ini", "[PACS]\r\nPACS=hipax\r\n");
    // One lock for the folder however it is spelt, another for another folder.
    const QString lock = app::InstanceLock::PathFor(root / "Programme");
    MakeFolders(root / "Elsewhere");
    QVERIFY(lock == app::InstanceLock::PathFor(root / "Elsewhere/../Programme"));
    QVERIFY(lock != app::InstanceLock::PathFor(root / "Elsewhere"));
    const auto holder = [&] {
        qint64 pid = 0;
        QString host, application;
        return QLockFile(lock).getLockInfo(&pid, &host, &application) ? pid : 0;
    };
    std::unique_ptr<QProcess> copies[3]; // the third after the first crashed
    for (auto& copy : copies) {
        copy = std::make_unique<QProcess>();
        copy->start(program, {});
        if (&copy == &copies[1]) {
            QVERIFY(copy->waitForFinished(20000) && copy->exitCode() == 0);
            QVERIFY(copy->readAllStandardError().contains("bereits"));
            QCOMPARE(holder(), copies[0]->processId());
            copies[0]->kill(); // as a crash: no chance to let go of the lock
            copies[0]->waitForFinished(10000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(holder(), copy->processId(), 20000);
        }
    }
    copies[2]->kill();
    copies[2]->waitForFinished(10000);
    QCOMPARE(ReadFile(root / "Programme/Settings.ini"), "[PACS]\r\nPACS=hipax\r\n");
    // no place for a lock: let through
}

// The session ends (SIGTERM) while the box about an unusable [Senden] node waits for OK: the window
// closes as "Beenden" closes it, its fields saved, rather than when somebody presses OK.
#ifndef _WIN32
void InstanceTest::endsWhenAskedWhileItsStartUpBoxIsOpen()
{
    TempDir root;
    const QString program = CopyOfTheProgram(root);
    QVERIFY(!program.isEmpty());
    WriteFile(root / "Programme/Settings.ini", "[PACS]\r\nPACS=GEMED\r\n[Senden]\r\nKnoten=PACS@host\r\n");
    QProcess window;
    window.start(program, {});
    // The box opens right after its reason is logged.
    const auto logged = [&root] {
        QFile log(QString::fromStdString(root / "Programme/Logs/Error.txt"));
        return log.open(QIODevice::ReadOnly) && log.readAll().contains("The PACS node in Settings.ini is not valid.");
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged(), 20000);
    window.terminate(); // SIGTERM
    QVERIFY2(window.waitForFinished(10000), "still waiting for its box");
    QCOMPARE(window.exitCode(), 0);
    const std::string saved = ReadFile(root / "Programme/Settings.ini");
    QVERIFY2(saved.find("[Path]") != std::string::npos && saved.find("PACS=GEMED") != std::string::npos, saved.c_str());
}
#endif

QTEST_MAIN(InstanceTest)
#include "InstanceTest.moc"
