#include <filesystem>
#include <set>
#include <sstream>
#ifndef _WIN32
#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#endif

#include <QtTest>
#include <QtWidgets>
#undef MessageBox // windows.h, which Qt Test brings along, makes it the system's MessageBoxW

#include "app/AppFonts.h"
#include "app/BrowseFolder.h"
#include "app/Controls.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "app/WindowHost.h"
#include "cli/CliMain.h"
#include "common/TempTree.h"
#include "engine/run/RunController.h"
#include "support/Settings.h"

using namespace testing_support;

namespace {

// The window as the program opens it, on a program folder of the test's own, active, so that keys
// and focus behave as on a desktop.
std::unique_ptr<app::FrmMain> ShowWindow(const TempDir& programFolder)
{
    app::LoadWindowFonts();
    QApplication::setFont(app::WindowFont());
    auto window = std::make_unique<app::FrmMain>(programFolder.Path());
    window->Open();
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get());
    return window;
}

// A control's name as the layout gives it: its object name, with the index for members of an array.
QString NameOf(const QWidget* widget)
{
    const QVariant index = widget->property("index");
    return widget->objectName() + (index.isValid() ? QStringLiteral("(%1)").arg(index.toInt()) : QString());
}

template <typename T = QWidget> T* Control(QWidget* window, const char* name)
{
    for (T* widget : window->findChildren<T*>()) {
        if (NameOf(widget) == QLatin1String(name)) {
            return widget;
        }
    }
    return nullptr;
}

QString place(const QRect& r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Toolbar button 0 "Migrieren" or 1 "Beenden".
QToolButton* Button(QWidget* window, int index)
{
    auto* toolbar = Control<QToolBar>(window, "Toolbar");
    return qobject_cast<QToolButton*>(toolbar->widgetForAction(toolbar->actions().at(index)));
}

// A disc of plain images for "HIPAX", every fourth in a sub-folder, with the fields pointing at it.
struct Disc
{
    TempDir root;
    std::multiset<std::string> images;

    Disc(int count, QWidget* window)
    {
        for (int i = 0; i < count; ++i) {
            WriteFile(root / ((i % 4 == 3 ? "src/sub/IMG" : "src/IMG") + std::to_string(i)),
                *images.insert("image " + std::to_string(i)));
        }
        for (const auto& [field, folder] : {std::pair {"txtSource", "src"}, {"txtDest", "dest"}, {"txtTemp", "temp"}}) {
            MakeFolders(root / folder);
            Control<QLineEdit>(window, field)->setText(QString::fromStdString(root / folder));
        }
        Control<QComboBox>(window, "cboPACS")->setCurrentIndex(2);
    }
    int Migrated() const // -1 when a destination file is no image of the disc
    {
        std::multiset<std::string> found;
        for (const auto& [name, bytes] : Snapshot(root / "dest")) {
            found.insert(name.ends_with(".dcm") && images.contains(bytes) ? bytes : "stray");
        }
        return found.contains("stray") ? -1 : static_cast<int>(found.size());
    }
};

// DCMTK's storescp on a port of its own, which acknowledges every image and keeps none: up once it
// answers C-ECHO; one that ends at once found its port taken. A Windows program under Wine can start
// this Linux program but not stop it, so there scripts/windows.sh starts it and names its port.
int StartStorescp(QProcess& storescp)
{
#ifdef _WIN32
    (void)storescp;
    return qEnvironmentVariableIntValue("ZP_STORESCP_PORT");
#else
    for (int tries = 0; tries < 20; ++tries) {
        const int candidate = 20000 + QRandomGenerator::global()->bounded(30000);
        storescp.start(QStringLiteral("storescp"), {QStringLiteral("--ignore"), QString::number(candidate)});
        if (!storescp.waitForStarted()) {
            qWarning("storescp is missing: scripts/install-deps.sh installs dcmtk");
            return 0;
        }
        for (int echo = 0; echo < 100 && storescp.state() == QProcess::Running; ++echo) {
            if (QProcess::execute(QStringLiteral("echoscu"), {QStringLiteral("127.0.0.1"), QString::number(candidate)})
                == 0) {
                return candidate;
            }
        }
        storescp.kill();
        storescp.waitForFinished();
    }
    return 0;
#endif
}

} // namespace

class FrmMainTest : public QObject
{
    Q_OBJECT

private slots:
    // The run tests watch the window after every file, so pending events are processed on every request.
    void initTestCase() { app::WindowHost::SetEventInterval(std::chrono::milliseconds(0)); }
    void layoutTextsAndFonts();
    void pacsBoxTakesNoTypedCharacters();
    void settingsLoadedAndSavedWhole();
    void browseButtonsAndToolbar();
    void runsThroughTheWindow();
    void sendsEachRunToTheNodeSettingsName();
#ifndef _WIN32 // a run killed by the fault shim, and a disc mounted in a namespace of the test's own
    void resumesAKilledRunWithJaAndWarnsOfAnotherSystemsDisc();
    void autoStartsForADiscBelowTheSourceAndEjectsIt();
#endif
};

void FrmMainTest::layoutTextsAndFonts()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder);
    auto* tabs = Control<app::TabPages>(window.get(), "tabPages");
    // Each control in its container, with the caption and font the operator reads.
    const std::tuple<const char*, const char*, const char*> rows[] = {{"Toolbar", "frmMain", " Tahoma 8.25"},
        {"tabPages", "frmMain", " Tahoma 8.25"}, {"Frame2(0)", "page 0", " Tahoma 8.25"},
        {"Picture2", "Frame2(0)", " Tahoma 8.25"}, {"Label1", "Picture2", "Quellverzeichnis: Tahoma 8.25"},
        {"txtSource", "Picture2", " Tahoma 8.25"}, {"cmdSrcFolder(0)", "Picture2", "... Tahoma 9.75 bold"},
        {"Label2", "Picture2", "Zielverzeichnis: Tahoma 8.25"}, {"txtDest", "Picture2", " Tahoma 8.25"},
        {"cmdSrcFolder(1)", "Picture2", "... Tahoma 9.75 bold"}, {"Frame2(1)", "page 1", " Tahoma 8.25"},
        {"Picture3", "Frame2(1)", " Tahoma 8.25"}, {"Label3(1)", "Picture3", "Tempverzeichnis: Tahoma 8.25"},
        {"txtTemp", "Picture3", " Tahoma 8.25"}, {"cmdSrcFolder(2)", "Picture3", "... Tahoma 9.75 bold"},
        {"Label3(0)", "Picture3", "PACS - System: Tahoma 8.25"}, {"cboPACS", "Picture3", " Tahoma 8.25"},
        {"chkDebug", "Picture3", "Debug Tahoma 8.25"}, {"lblLoadInfo", "frmMain", " Tahoma 8.25"},
        {"ProgBar", "frmMain", " Tahoma 8.25 bold"}};
    std::vector<const QWidget*> placed;
    for (const auto& [name, container, text] : rows) {
        QWidget* widget = Control(window.get(), name);
        QVERIFY2(widget, name);
        const QWidget* parent = widget->parentWidget();
        const QString in = parent == tabs->Page(0) ? "page 0" : parent == tabs->Page(1) ? "page 1" : NameOf(parent);
        const auto* label = qobject_cast<const QLabel*>(widget);
        const auto* button = qobject_cast<const QAbstractButton*>(widget);
        const QString caption = label ? label->text() : button ? button->text() : QString();
        const QFont font = widget->font();
        QCOMPARE(QStringLiteral("%1 in %2: %3 %4 %5%6")
                     .arg(name, in, caption, QFontInfo(font).family())
                     .arg(font.pointSizeF())
                     .arg(font.bold() ? " bold" : ""),
            QStringLiteral("%1 in %2: %3").arg(name, container, text));
        // Within its container, its caption within itself, and clear of the controls beside it.
        QVERIFY2(parent->rect().contains(widget->geometry()), name);
        QVERIFY2(QFontMetrics(font).horizontalAdvance(caption) <= widget->width(), name);
        for (const QWidget* other : placed) {
            QVERIFY2(other->parentWidget() != parent || !other->geometry().intersects(widget->geometry()),
                qPrintable(QStringLiteral("%1 over %2").arg(name, NameOf(other))));
        }
        placed.push_back(widget);
    }
    QCOMPARE(window->size(), QSize(406, 292));
    QVERIFY((window->geometry().center() - window->screen()->availableGeometry().center()).manhattanLength() <= 2);
    QCOMPARE(tabs->CurrentIndex(), 1);
    for (int index : {0, 1}) { // toolbar buttons of 765 x 780 twips, side by side
        auto* button = Button(window.get(), index);
        QCOMPARE(
            button->text() + " " + place(button->geometry()), index ? "Beenden 51,0 51x52" : "Migrieren 0,0 51x52");
    }
}

void FrmMainTest::pacsBoxTakesNoTypedCharacters()
{
    TempDir programFolder;
    WriteFile(programFolder / "Settings.ini", "[PACS]\r\nPACS=HIPAX\r\n");
    auto window = ShowWindow(programFolder);
    // No typed characters, Backspace, Enter and pasting included; Delete removes the character after the
    // cursor; the arrows choose from the list.
    auto* pacs = Control<QComboBox>(window.get(), "cboPACS");
    pacs->setFocus(Qt::TabFocusReason);
    QWidget* edit = QApplication::focusWidget();
    QTest::keyClicks(edit, QStringLiteral("ab 1"));
    QInputMethodEvent composed; // a dead key or an input method
    composed.setCommitString(QStringLiteral("é"));
    QApplication::sendEvent(edit, &composed);
    QApplication::clipboard()->setText(QStringLiteral("GEMED"));
    for (const auto& [key, modifier] : {std::pair {Qt::Key_Backspace, Qt::NoModifier}, {Qt::Key_Return, Qt::NoModifier},
             {Qt::Key_Enter, Qt::NoModifier}, {Qt::Key_V, Qt::ControlModifier}, {Qt::Key_X, Qt::ControlModifier}}) {
        QTest::keyClick(edit, key, modifier);
    }
    QCOMPARE(pacs->currentText() + " " + QString::number(pacs->count()), QStringLiteral("HIPAX 4"));
    QTest::keyClick(edit, Qt::Key_Home);
    // Delete with the text a keyboard sends with it.
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Delete, QString(QChar(0x7f)), {});
    QCOMPARE(pacs->currentText(), QStringLiteral("IPAX"));
    pacs->setCurrentIndex(2);
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(pacs->currentText(), QStringLiteral("STARC"));
}

void FrmMainTest::settingsLoadedAndSavedWhole()
{
    TempDir programFolder;
    // Two byte-order marks before the first section, as some editors leave a file after two saves.
    const std::string written
        = "\xEF\xBB\xBF\xEF\xBB\xBF[Path]\r\nDestinationPath=/srv/Röntgen Ziel\r\nSourcePath=/media/"
        + std::string(300, 'x')
        + "\r\n; by hand\r\n[Temp]\r\nTempPath=\"/var/tmp\"\r\n[Debug]\r\nDebugValue=2\r\n[PACS]\r\nPACS=gemed\r\n";
    WriteFile(programFolder / "Settings.ini", written);
    auto window = ShowWindow(programFolder);
    const auto text = [&](const char* name) { return Control<QLineEdit>(window.get(), name)->text().toStdString(); };
    QCOMPARE(text("txtSource") + text("txtDest") + text("txtTemp"),
        "/media/" + std::string(300, 'x') + "/srv/Röntgen Ziel\"/var/tmp\"");
    QCOMPARE(Control<QComboBox>(window.get(), "cboPACS")->currentText(), QStringLiteral("gemed")); // as stored
    auto* debug = Control<app::DebugCheckBox>(window.get(), "chkDebug");
    window->close();
    QCOMPARE(ReadFile(programFolder / "Settings.ini"), written); // unchanged fields, in place
    // A click leads out of the dimmed third state to on, then off, as a two-state box does.
    QString states = QString::number(debug->Value());
    for (int i = 0; i < 3; ++i) {
        debug->click();
        states += QString::number(debug->Value());
    }
    QCOMPARE(states, QStringLiteral("2101"));
    Control<QComboBox>(window.get(), "cboPACS")->setEditText({});
    window->show();
    window->close();
    QVERIFY(ReadFile(programFolder / "Settings.ini").ends_with("[Debug]\r\nDebugValue=1\r\n[PACS]\r\nPACS=\r\n"));

    // What the window saves, the console program reads: it migrates the disc the window chose.
    Disc disc(1, window.get());
    window->show();
    window->close();
    QVERIFY(ReadFile(programFolder / "Settings.ini").starts_with("\xEF\xBB\xBF\xEF\xBB\xBF[Path]\r\n"));
    std::ostringstream out, err;
    QVERIFY(cli::RunCli({"--quiet"}, {programFolder.Path(), out, err, false, 80, [] { return false; }})
        == cli::ExitStatus::Completed);
    QCOMPARE(disc.Migrated(), 1);
}

void FrmMainTest::browseButtonsAndToolbar()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder);
    QStringList titles;
    QString answer;
    app::SetBrowseFolderAnswerer([&](const QString& title) {
        titles << title;
        return answer;
    });
    for (const auto& [button, page, name] : {std::tuple {"cmdSrcFolder(0)", 0, "txtSource"},
             {"cmdSrcFolder(1)", 0, "txtDest"}, {"cmdSrcFolder(2)", 1, "txtTemp"}}) {
        Control<app::TabPages>(window.get(), "tabPages")->SetCurrentIndex(page);
        for (const QString& chosen : {QString(), QStringLiteral("/media/Ordner mit Leerzeichen/") + name}) {
            answer = chosen; // the empty text is a cancelled dialog, which changes nothing
            QTest::mouseClick(Control<QAbstractButton>(window.get(), button), Qt::LeftButton);
        }
        QCOMPARE(Control<QLineEdit>(window.get(), name)->text(), answer);
    }
    QCOMPARE(titles, QStringList(6, QStringLiteral("Wählen Sie Ihren Ordner ...")));
    app::SetBrowseFolderAnswerer({});

    std::vector<app::MessageBox::Request> boxes;
    app::MessageBox::SetAnswerer([&](const app::MessageBox::Request& request) {
        boxes.push_back(request);
        return app::MessageBox::Reply::Ok;
    });
    window->OnToolbarButtonClick(QStringLiteral("migrieren")); // captions compare exactly
    window->OnToolbarButtonClick(QStringLiteral("Beenden "));
    QVERIFY(boxes.empty() && window->isVisible());
    QTest::mouseClick(Button(window.get(), 0), Qt::LeftButton);
    app::MessageBox::SetAnswerer({});
    QCOMPARE(boxes.size(), std::size_t {1});
    QCOMPARE(boxes[0].text + "|" + boxes[0].caption, QStringLiteral("Quellverzeichnis exestiert nicht.|Zet-Pelta"));
    QVERIFY(boxes[0].icon == app::MessageBox::Icon::Stop && Button(window.get(), 1)->isEnabled());
    QTest::mouseClick(Button(window.get(), 1), Qt::LeftButton);
    QVERIFY(!window->isVisible());
}

void FrmMainTest::runsThroughTheWindow()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder);
    Disc disc(12, window.get());
    auto* quit = Button(window.get(), 1);
    auto* bar = Control<app::TextProgressBar>(window.get(), "ProgBar");
    auto* status = Control<QLabel>(window.get(), "lblLoadInfo");
    const engine::RunController& engine = window->Engine();
    QStringList seen; // what the window showed during the run, and the boxes it showed
    int clicks = 0;
    QMessageBox::StandardButton reply = QMessageBox::No; // to "only the missing files?"
    QTimer watch; // every pass of the event loop, also inside a run's pending-message calls
    watch.callOnTimeout([&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
            const bool question = box->button(QMessageBox::Ok) == nullptr;
            if (!question && !status->text().isEmpty()) {
                seen << "status beside the summary: " + status->text(); // no file is in hand any more
            }
            seen << QStringLiteral("%1 %2 %3: %4")
                        .arg(question ? "question" : "box")
                        .arg(box->icon())
                        .arg(box->windowTitle(), box->text());
            box->button(question ? reply : QMessageBox::Ok)->click(); // a real modal box, as an operator would
        } else if (engine.Running()) {
            seen << bar->text() << status->text() << (quit->isEnabled() ? "Beenden enabled" : "");
            if (clicks++ < 2) {
                QTest::mouseClick(Button(window.get(), 0), Qt::LeftButton); // twice: one further run
            }
        }
    });
    watch.start(0);
    QTest::mouseClick(Button(window.get(), 0), Qt::LeftButton);
    QVERIFY(!quit->isEnabled());
    QTRY_VERIFY(seen.filter(QStringLiteral("box ")).size() == 2 && !engine.Running() && !engine.RunQueued());
    QTest::qWait(50);
    // The system's box, and below it what the report found: the disc's files are no DICOM, and the
    // second run's are the first run's again.
    const QStringList boxes = seen.filter(QStringLiteral("box "));
    const QString summary = QStringLiteral("box %1 Migration abgeschlossen: 12 von 12 Dateien konnten erfolgreich "
                                           "migriert werden.\n\nBitte legen Sie die nächste CD / DVD ein.\n\n12 "
                                           "Dateien sind kein gültiges DICOM (keine Bilder, etwa Textdateien) "
                                           "(siehe Bericht).\n")
                                .arg(QMessageBox::Information);
    const QString report = "Bericht: " + QString::fromStdString(Shown(programFolder / "Logs/Runs/"));
    QVERIFY2(boxes.size() == 2 && boxes[0].startsWith(summary + report), qPrintable(boxes.join("|")));
    QVERIFY(boxes[1].startsWith(summary + "12 Bilder waren schon einmal migriert worden (siehe Bericht).\n" + report));
    QVERIFY2(seen.filter(QStringLiteral("status beside the summary")).isEmpty(), qPrintable(seen.join("|")));
    QCOMPARE(disc.Migrated(), 24);
    for (const QString& text :
        {QStringLiteral("0 von 9 Dateien durchsucht ..."), QStringLiteral("2 von 3 Dateien durchsucht ..."),
            "Datei " + QString::fromStdString(disc.root / "src/sub/IMG3") + " wird migriert..."}) {
        QVERIFY2(seen.contains(text), qPrintable(text));
    }
    QVERIFY(!seen.contains(QStringLiteral("Beenden enabled")) && quit->isEnabled());
    QCOMPARE(bar->text() + status->text(), QString());
    // The queued run found the disc migrated before and asked; "Nein" gave the full run above. "Ja"
    // writes nothing new, and counts what is there as migrated.
    const QStringList questions = seen.filter(QStringLiteral("question "));
    QVERIFY2(questions.size() == 1 && questions[0].contains("bereits migriert (12 von 12 Dateien)"),
        qPrintable(questions.join("|")));
    seen.clear();
    reply = QMessageBox::Yes;
    clicks = 2;
    QTest::mouseClick(Button(window.get(), 0), Qt::LeftButton);
    QTRY_VERIFY(seen.filter(QStringLiteral("box ")).size() == 1 && !engine.Running());
    QVERIFY(seen.filter(QStringLiteral("box ")).at(0).contains("12 von 12 Dateien konnten erfolgreich"));
    QCOMPARE(disc.Migrated(), 24);
}

// [Senden] in Settings.ini: after the run the images go to the node, the progress bar says so, and the
// summary box counts what the node confirmed: here DCMTK's storescp, which acknowledges and keeps
// nothing, so nothing is confirmed and the box is a warning. A node the window cannot use is told at once.
void FrmMainTest::sendsEachRunToTheNodeSettingsName()
{
    TempDir programFolder, root;
    QProcess storescp;
    const int port = StartStorescp(storescp);
    QVERIFY2(port != 0, "storescp did not answer C-ECHO on any port tried, or ZP_STORESCP_PORT is not set");
    for (const char* folder : {"src", "dest", "temp"}) {
        MakeFolders(root / folder);
    }
    WriteFile(root / "src/IMG1", ReadFile(ZP_PYDICOM_DATA "/test_files/CT_small.dcm"));
    WriteFile(root / "src/IMG2", ReadFile(ZP_PYDICOM_DATA "/test_files/MR_small.dcm"));
    const std::string fields = "[Temp]\r\nTempPath=" + root / "temp" + "\r\n[Path]\r\nSourcePath=" + root / "src"
        + "\r\nDestinationPath=" + root / "dest"
        + "\r\n[PACS]\r\nPACS=HIPAX\r\n[Senden]\r\nEmpfangsport=" + std::to_string(port + 1) + "\r\nKnoten=";
    WriteFile(programFolder / "Settings.ini", fields + "STORESCP@127.0.0.1:" + std::to_string(port) + "\r\n");
    std::vector<app::MessageBox::Request> boxes;
    app::MessageBox::SetAnswerer([&](const app::MessageBox::Request& request) {
        boxes.push_back(request);
        return app::MessageBox::Reply::Ok;
    });
    auto window = ShowWindow(programFolder);
    auto* bar = Control<app::TextProgressBar>(window.get(), "ProgBar");
    QStringList seen;
    QTimer watch;
    watch.callOnTimeout([&] { seen << bar->text(); });
    watch.start(0);
    QTest::mouseClick(Button(window.get(), 0), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!boxes.empty() && !window->Engine().Running(), 60000);
    if (storescp.state() != QProcess::NotRunning) {
        storescp.kill();
        storescp.waitForFinished();
    }
    QCOMPARE(boxes.size(), std::size_t {1});
    QVERIFY2(boxes[0].icon == app::MessageBox::Icon::Warning
            && boxes[0].text.startsWith("2 von 2 Dateien konnten erfolgreich migriert werden.")
            && boxes[0].text.contains("\n\n0 von 2 Bildern im PACS bestätigt.")
            && boxes[0].text.contains("weder Speicherbestätigung noch Suche"),
        qPrintable(boxes[0].text));
    QVERIFY2(!seen.filter(QStringLiteral("PACS STORESCP: ")).isEmpty(), qPrintable(seen.join("|")));
    watch.stop(); // it reads the bar of this window
    window.reset();

    boxes.clear();
    WriteFile(programFolder / "Settings.ini", fields + "STORESCP@127.0.0.1\r\n");
    window = ShowWindow(programFolder);
    app::MessageBox::SetAnswerer({});
    QVERIFY2(boxes.size() == 1 && boxes[0].icon == app::MessageBox::Icon::Stop
            && boxes[0].text.startsWith("Settings.ini, Abschnitt [Senden]: PACS-Knoten \"STORESCP@127.0.0.1\""),
        qPrintable(boxes.empty() ? QString() : boxes[0].text));
}

#ifndef _WIN32
// A run of the console program killed between an output's rename and its row; "Migrieren" and "Ja"
// in the window migrate the rest, and nothing twice. Then a disc that is not the chosen system's.
void FrmMainTest::resumesAKilledRunWithJaAndWarnsOfAnotherSystemsDisc()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder);
    Disc disc(40, window.get());
    std::filesystem::copy_file(ZP_CLI_PROGRAM, programFolder / "zet-pelta-cli"); // the window's program folder
    // In the sanitizers' build the shim comes before their runtime, which is fine here.
    const std::string killed = "ZP_FAULTS='renameat2:killafter:/dest/:9:1' LD_PRELOAD='" ZP_FAULT_SHIM
                               "' ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" '"
        + programFolder / "zet-pelta-cli" + "' -q --pacs HIPAX --source '" + disc.root / "src" + "' --dest '"
        + disc.root / "dest" + "' --temp '" + disc.root / "temp" + "' 2>/dev/null";
    const int status = std::system(killed.c_str());
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL, "the console program was killed");
    // With a row or not, each is known again and not written twice (a .part file may be left too).
    const auto written = std::ranges::count_if(
        Names(disc.root / "dest"), [](const std::string& name) { return name.ends_with(".dcm"); });
    QVERIFY(written > 0 && written < 40);
    std::vector<app::MessageBox::Request> boxes;
    app::MessageBox::SetAnswerer([&](const app::MessageBox::Request& request) {
        boxes.push_back(request);
        return request.icon == app::MessageBox::Icon::Question ? app::MessageBox::Reply::Yes
                                                               : app::MessageBox::Reply::Ok;
    });
    QTest::mouseClick(Button(window.get(), 0), Qt::LeftButton);
    QTRY_VERIFY(boxes.size() == 2 && !window->Engine().Running());
    QVERIFY2(boxes[0].text.contains("bereits migriert (") && boxes[1].text.startsWith("40 von 40 Dateien konnten"),
        qPrintable(boxes[0].text + "|" + boxes[1].text));
    QVERIFY2(boxes[1].text.contains(QStringLiteral("ein.\n\n%1 Bilder waren schon im Zielordner und wurden nicht noch "
                                                   "einmal geschrieben.")
                                        .arg(written)),
        qPrintable(boxes[1].text));
    QCOMPARE(disc.Migrated(), 40); // every image once
    std::ostringstream out, err;
    QVERIFY(
        cli::RunCli({"--verify", disc.root / "dest"}, {programFolder.Path(), out, err, false, 80, [] { return false; }})
        == cli::ExitStatus::Completed);

    // Images without a ".": GEMED's, whose images HIPAX would migrate just as well; "Arzt und Praxis"
    // selects none of them.
    boxes.clear();
    for (int i = 0; i < 3; ++i) {
        WriteFile(disc.root / "gemed/IMG" + std::to_string(i), ReadFile(ZP_PYDICOM_DATA "/test_files/CT_small.dcm"));
    }
    Control<QLineEdit>(window.get(), "txtSource")->setText(QString::fromStdString(disc.root / "gemed"));
    Control<QComboBox>(window.get(), "cboPACS")->setCurrentIndex(0);
    QTest::mouseClick(Button(window.get(), 0), Qt::LeftButton);
    QTRY_VERIFY(boxes.size() == 1 && !window->Engine().Running());
    app::MessageBox::SetAnswerer({});
    QCOMPARE(boxes[0].icon, app::MessageBox::Icon::Warning);
    QCOMPARE(boxes[0].text.section('\n', 0, 4),
        QStringLiteral("0 von 0 Dateien konnten erfolgreich migriert werden.\n\nBitte legen Sie die nächste CD / DVD "
                       "ein.\n\nDie CD / DVD sieht aus wie eine von GEMED; bitte das PACS-System prüfen."));
}

// [Ablauf] AutoStart=1 and Auswerfen=1, in a mount namespace of the test's own: a disc mounted below
// the source folder starts one run, which is followed by the eject request (behind its seam).
void FrmMainTest::autoStartsForADiscBelowTheSourceAndEjectsIt()
{
    QVERIFY2(::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0,
        "mounting a disc needs a mount namespace of the test's own: run as root");
    TempDir programFolder, root;
    for (const char* folder : {"src/cd", "dest", "temp"}) {
        MakeFolders(root / folder);
    }
    WriteFile(root / "disc/IMG1", "one");
    WriteFile(root / "disc/IMG2", "two");
    WriteFile(programFolder / "Settings.ini",
        "[Temp]\r\nTempPath=" + root / "temp" + "\r\n[Path]\r\nSourcePath=" + root / "src" + "\r\nDestinationPath="
            + root / "dest" + "\r\n[PACS]\r\nPACS=HIPAX\r\n[Ablauf]\r\nAutoStart=1\r\nAuswerfen=1\r\n");
    std::vector<app::MessageBox::Request> boxes;
    app::MessageBox::SetAnswerer([&](const app::MessageBox::Request& request) {
        boxes.push_back(request);
        return app::MessageBox::Reply::Ok;
    });
    QStringList ejected;
    app::FrmMain::SetEjectRequest(
        [&](const support::Mount& disc) { ejected << QString::fromStdString(disc.mountPoint); });
    auto window = ShowWindow(programFolder);
    QCOMPARE(::mount((root / "disc").c_str(), (root / "src/cd").c_str(), nullptr, MS_BIND, nullptr), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!boxes.empty(), 10000);
    QTest::qWait(4500); // two more looks: the disc still in the drive is not started again
    ::umount2((root / "src/cd").c_str(), MNT_DETACH);
    app::MessageBox::SetAnswerer({});
    app::FrmMain::SetEjectRequest({});
    QCOMPARE(boxes.size(), std::size_t {1});
    QVERIFY(boxes[0].text.startsWith("2 von 2 Dateien konnten erfolgreich migriert werden."));
    QCOMPARE(ejected, QStringList {QString::fromStdString(root / "src/cd")});
}
#endif

QTEST_MAIN(FrmMainTest)
#include "FrmMainTest.moc"
