#include <set>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "WindowTestUtil.h"
#include "app/BrowseFolder.h"
#include "app/Controls.h"
#include "app/WindowHost.h"
#include "common/TempTree.h"
#include "engine/RunController.h"

using namespace testing_support;

namespace {

const QString NoSettingsFile = QStringLiteral("[Temp]\r\nTempPath=\r\n[Path]\r\nSourcePath=\r\nDestinationPath=\r\n"
                                              "[Debug]\r\nDebugValue=0\r\n[PACS]\r\nPACS=Arzt und Praxis\r\n");

QString Utf8(const std::string& text)
{
    return QString::fromStdString(text);
}

// The name a control carries in the layout: object name, and the index for members of an array.
QString ControlName(const QWidget* widget)
{
    const QVariant index = widget->property("index");
    return widget->objectName() + (index.isValid() ? QStringLiteral("(%1)").arg(index.toInt()) : QString());
}

// The control that holds the focus widget: itself, or the named control it belongs to (the tab
// strip of tabPages, the line edit of cboPACS).
QString FocusedControl()
{
    for (QWidget* widget = QApplication::focusWidget(); widget != nullptr; widget = widget->parentWidget()) {
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_"))) {
            return ControlName(widget);
        }
    }
    return QStringLiteral("(none)");
}

// A source tree of plain images for "HIPAX", one of them in a sub-folder.
struct Disc
{
    TempDir root;
    std::map<std::string, std::string> files;

    explicit Disc(int count)
    {
        for (int i = 0; i < count; ++i) {
            const std::string name = (i % 4 == 3 ? "sub/IMG" : "IMG") + std::to_string(i);
            files[name] = "image " + std::to_string(i) + std::string(1000, static_cast<char>('a' + i % 26));
            WriteFile(root / ("src/" + name), files[name]);
        }
        MakeFolders(root / "dest");
        MakeFolders(root / "temp");
    }

    // Every destination file must be one of the source images, whole.
    int CheckDestination() const
    {
        std::multiset<std::string> wanted;
        for (const auto& [name, bytes] : files) {
            wanted.insert(bytes);
        }
        int count = 0;
        for (const auto& [name, bytes] : Snapshot(root / "dest")) {
            if (!QString::fromStdString(name).endsWith(QLatin1String(".dcm")) || wanted.count(bytes) == 0) {
                return -1;
            }
            ++count;
        }
        return count;
    }
};

void FillFields(QWidget* window, const Disc& disc, const QString& pacs)
{
    Control<QLineEdit>(window, "txtSource")->setText(Utf8(disc.root / "src"));
    Control<QLineEdit>(window, "txtDest")->setText(Utf8(disc.root / "dest"));
    Control<QLineEdit>(window, "txtTemp")->setText(Utf8(disc.root / "temp"));
    auto* pacsBox = Control<QComboBox>(window, "cboPACS");
    pacsBox->setCurrentIndex(pacsBox->findText(pacs));
}

QToolButton* ToolbarButton(QWidget* window, const QString& caption)
{
    auto* toolbar = Control<QToolBar>(window, "Toolbar");
    for (QAction* action : toolbar->actions()) {
        if (action->text() == caption) {
            return qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
        }
    }
    return nullptr;
}

} // namespace

class FrmMainTest : public QObject
{
    Q_OBJECT

private slots:
    // The run tests watch the window after every file, so pending events are processed on every
    // request rather than at most every few milliseconds.
    void initTestCase() { app::WindowHost::SetEventInterval(std::chrono::milliseconds(0)); }
    void layoutMatchesTheTable();
    void textsFontsAndStartState();
    void tabOrderFollowsTheTable();
    void pacsBoxTakesNoTypedCharacters();
    void firstStartWithoutSettingsFile();
    void settingsRoundTripKeepsEveryValue();
    void debugSwitchThirdState();
    void browseButtonsFillTheirFields();
    void toolbarDispatchByCaption();
    void fullRunThroughTheWindow();
    void migrateDuringRunQueuesOneFurtherRun();
    void closingDuringRunStopsAndSaves();
};

void FrmMainTest::layoutMatchesTheTable()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder.Path());
    auto* tabs = Control<app::TabPages>(window.get(), "tabPages");
    QVERIFY(tabs);

    struct Row
    {
        const char* name;
        int index;
        QString container;
        int left, top, width, height;
        bool sizedToCaption;
    };
    // Twips, as the layout gives them; containers as "name(index)", "page N" or the window.
    const Row rows[] = {
        {"Toolbar", -1, "frmMain", 0, 0, 6090, 780, false},
        {"tabPages", -1, "frmMain", 45, 855, 5985, 2535, false},
        {"Frame2", 0, "page 0", 45, 360, 5865, 2085, false},
        {"Picture2", -1, "Frame2(0)", 45, 180, 5775, 1815, false},
        {"Label1", -1, "Picture2", 90, 90, 1215, 195, true},
        {"txtSource", -1, "Picture2", 90, 360, 4965, 345, false},
        {"cmdSrcFolder", 0, "Picture2", 5130, 360, 510, 360, false},
        {"Label2", -1, "Picture2", 90, 945, 1095, 195, true},
        {"txtDest", -1, "Picture2", 90, 1215, 4965, 345, false},
        {"cmdSrcFolder", 1, "Picture2", 5130, 1215, 510, 360, false},
        {"Frame2", 1, "page 1", 45, 360, 5865, 2085, false},
        {"Picture3", -1, "Frame2(1)", 90, 180, 5730, 1860, false},
        {"Label3", 1, "Picture3", 45, 90, 1245, 195, true},
        {"txtTemp", -1, "Picture3", 45, 360, 4965, 345, false},
        {"cmdSrcFolder", 2, "Picture3", 5085, 360, 510, 360, false},
        {"Label3", 0, "Picture3", 45, 990, 1125, 195, true},
        {"cboPACS", -1, "Picture3", 1350, 945, 1905, 315, false},
        {"chkDebug", -1, "Picture3", 45, 1395, 1320, 240, false},
        {"lblLoadInfo", -1, "frmMain", 135, 3465, 5865, 240, false},
        {"ProgBar", -1, "frmMain", 45, 3780, 6000, 555, false},
    };
    for (const Row& row : rows) {
        const QWidget* widget = Control<QWidget>(window.get(), row.name, row.index);
        const QString name
            = QString::fromLatin1(row.name) + (row.index >= 0 ? QStringLiteral("(%1)").arg(row.index) : "");
        QVERIFY2(widget, qPrintable(name));
        const QWidget* parent = widget->parentWidget();
        const QString container = parent == tabs->Page(0) ? QStringLiteral("page 0")
            : parent == tabs->Page(1)                     ? QStringLiteral("page 1")
                                                          : ControlName(parent);
        QCOMPARE(container + " holds " + name, row.container + " holds " + name);
        const QRect expected(row.left / 15, row.top / 15, row.width / 15, row.height / 15);
        if (row.sizedToCaption) {
            // Position from the table, size from the caption in the window font; the table's widths
            // came from Tahoma, so a caption set in it lands within a few pixels of them.
            const auto* label = qobject_cast<const QLabel*>(widget);
            QCOMPARE(widget->pos(), expected.topLeft());
            QCOMPARE(widget->size(), label->sizeHint());
            QVERIFY2(qAbs(widget->width() - expected.width()) <= 4,
                qPrintable(QStringLiteral("%1 is %2 wide").arg(name).arg(widget->width())));
        } else {
            QCOMPARE(
                name + ": " + QVariant(widget->geometry()).toString(), name + ": " + QVariant(expected).toString());
        }
    }

    // The window: a fixed client area of 6090 x 4380 twips, centred on the screen.
    QCOMPARE(window->size(), QSize(406, 292));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const QRect screen = window->screen()->availableGeometry();
    QVERIFY(qAbs(window->geometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(window->geometry().center().y() - screen.center().y()) <= 1);

    // Toolbar buttons 765 x 780 twips, "Migrieren" left of "Beenden", captions under 32 x 32 images.
    auto* migrate = ToolbarButton(window.get(), QStringLiteral("Migrieren"));
    auto* quit = ToolbarButton(window.get(), QStringLiteral("Beenden"));
    QVERIFY(migrate && quit);
    QCOMPARE(migrate->size(), QSize(51, 52));
    QCOMPARE(quit->size(), QSize(51, 52));
    QVERIFY(migrate->x() < quit->x());
    QCOMPARE(migrate->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(migrate->iconSize(), QSize(32, 32));
}

void FrmMainTest::textsFontsAndStartState()
{
    TempDir programFolder;
    app::FrmMain unopened(programFolder.Path());
    auto* pacsBefore = Control<QComboBox>(&unopened, "cboPACS");
    QCOMPARE(pacsBefore->currentText(), QStringLiteral("cboPACS"));
    QCOMPARE(pacsBefore->count(), 0);

    auto window = ShowWindow(programFolder.Path());
    QWidget* w = window.get();
    QCOMPARE(w->windowTitle(), QStringLiteral("Zet - Pelta"));
    QVERIFY(!w->windowIcon().isNull());
    QCOMPARE(w->windowIcon().availableSizes(), QList<QSize> {QSize(32, 32)});

    const std::pair<const char*, const char*> captions[]
        = {{"Label1", "Quellverzeichnis:"}, {"Label2", "Zielverzeichnis:"}, {"lblLoadInfo", ""}};
    for (const auto& [name, caption] : captions) {
        QCOMPARE(Control<QLabel>(w, name)->text(), QString::fromUtf8(caption));
    }
    QCOMPARE(Control<QLabel>(w, "Label3", 1)->text(), QStringLiteral("Tempverzeichnis:"));
    QCOMPARE(Control<QLabel>(w, "Label3", 0)->text(), QStringLiteral("PACS - System:"));
    for (int i = 0; i < 3; ++i) {
        auto* browse = Control<QPushButton>(w, "cmdSrcFolder", i);
        QCOMPARE(browse->text(), QStringLiteral("..."));
        QCOMPARE(QFontInfo(browse->font()).family(), QStringLiteral("Tahoma"));
        QCOMPARE(browse->font().pointSizeF(), 9.75);
        QVERIFY(browse->font().bold());
    }
    QCOMPARE(Control<QGroupBox>(w, "Frame2", 0)->title(), QString());
    QCOMPARE(Control<QGroupBox>(w, "Frame2", 1)->title(), QString());

    // The window font, Tahoma 8.25 pt, reaches every control without a font of its own.
    for (const char* name : {"Label1", "txtSource", "cboPACS", "chkDebug", "lblLoadInfo"}) {
        const QFont font = Control<QWidget>(w, name)->font();
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Tahoma"));
        QCOMPARE(font.pointSizeF(), 8.25);
        QVERIFY(!font.bold());
    }

    auto* tabs = Control<app::TabPages>(w, "tabPages");
    QCOMPARE(tabs->Bar()->count(), 2);
    QCOMPARE(tabs->Bar()->tabText(0), QStringLiteral("Allgmein"));
    QCOMPARE(tabs->Bar()->tabText(1), QStringLiteral("Einstellungen"));
    QCOMPARE(tabs->CurrentIndex(), 1);
    QVERIFY(!Control<QWidget>(w, "txtSource")->isVisible());
    QVERIFY(Control<QWidget>(w, "txtTemp")->isVisible());
    QTest::mouseClick(tabs->Bar(), Qt::LeftButton, {}, tabs->Bar()->tabRect(0).center());
    QCOMPARE(tabs->CurrentIndex(), 0);
    QVERIFY(Control<QWidget>(w, "txtSource")->isVisible());
    QVERIFY(!Control<QWidget>(w, "Frame2", 1)->isVisible());

    auto* pacs = Control<QComboBox>(w, "cboPACS");
    QCOMPARE(pacs->count(), 4);
    const QStringList systems = {"Arzt und Praxis", "GEMED", "HIPAX", "STARC"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(pacs->itemText(i), systems[i]);
    }
    QVERIFY(pacs->isEditable());
    auto* debug = Control<app::DebugCheckBox>(w, "chkDebug");
    QCOMPARE(debug->text(), QStringLiteral("Debug"));

    auto* bar = Control<app::TextProgressBar>(w, "ProgBar");
    QVERIFY(bar->isTextVisible());
    QCOMPARE(bar->text(), QString());
    QVERIFY(bar->font().bold());
    QCOMPARE(bar->font().pointSizeF(), 8.25);
    bar->SetText(QStringLiteral("100% von %p"));
    QCOMPARE(bar->text(), QStringLiteral("100% von %p"));

    auto* timer = w->findChild<QTimer*>(QStringLiteral("tmrMig"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 1);
    QVERIFY(!timer->isActive());

    // Both buttons enabled; the disabled image of each is a grey form of its image.
    for (const char* caption : {"Migrieren", "Beenden"}) {
        auto* button = ToolbarButton(w, QString::fromLatin1(caption));
        QVERIFY(button->isEnabled());
        const QImage normal = button->icon().pixmap(32, QIcon::Normal).toImage();
        const QImage grey = button->icon().pixmap(32, QIcon::Disabled).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(normal.size(), QSize(32, 32));
        bool coloured = false;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb c = normal.pixel(x, y);
                coloured = coloured || qRed(c) != qGreen(c) || qGreen(c) != qBlue(c);
                const QRgb g = grey.pixel(x, y);
                QVERIFY(qAlpha(g) == 0 || (qRed(g) == qGreen(g) && qGreen(g) == qBlue(g)));
            }
        }
        QVERIFY2(coloured, caption);
    }
}

void FrmMainTest::tabOrderFollowsTheTable()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder.Path());
    auto* tabs = Control<app::TabPages>(window.get(), "tabPages");

    // Tab walks the controls of the page in front in the table's order; the rest are hidden.
    const auto walk = [&](int page) {
        tabs->SetCurrentIndex(page);
        tabs->setFocus(Qt::TabFocusReason);
        QStringList order {FocusedControl()};
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << FocusedControl();
        }
        return order.join(QLatin1Char(' '));
    };
    QCOMPARE(walk(0), QStringLiteral("tabPages txtSource txtDest cmdSrcFolder(0) cmdSrcFolder(1) tabPages txtSource"));
    QCOMPARE(walk(1), QStringLiteral("tabPages cboPACS chkDebug cmdSrcFolder(2) txtTemp tabPages cboPACS"));
}

void FrmMainTest::pacsBoxTakesNoTypedCharacters()
{
    TempDir programFolder;
    WriteFile(programFolder / "Settings.ini", "[PACS]\r\nPACS=HIPAX\r\n");
    auto window = ShowWindow(programFolder.Path());
    auto* pacs = Control<QComboBox>(window.get(), "cboPACS");
    pacs->setFocus(Qt::TabFocusReason);
    QVERIFY(pacs->hasFocus() || pacs->lineEdit()->hasFocus());
    const auto focused = [] { return QApplication::focusWidget(); };
    pacs->lineEdit()->setCursorPosition(2);

    QTest::keyClicks(focused(), QStringLiteral("abc 123"));
    QTest::sendKeyEvent(QTest::Click, focused(), Qt::Key_Adiaeresis, QStringLiteral("ä"), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, focused(), Qt::Key_ssharp, QStringLiteral("ß"), Qt::ShiftModifier);
    QInputMethodEvent composed;
    composed.setCommitString(QStringLiteral("é"));
    QApplication::sendEvent(focused(), &composed);
    QCOMPARE(pacs->currentText(), QStringLiteral("HIPAX"));
    for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
        QTest::keyClick(focused(), key);
        QCOMPARE(pacs->currentText(), QStringLiteral("HIPAX"));
    }
    QApplication::clipboard()->setText(QStringLiteral("GEMED"));
    if (QApplication::clipboard()->text() == QStringLiteral("GEMED")) {
        QTest::keyClick(focused(), Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(focused(), Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(pacs->currentText(), QStringLiteral("HIPAX"));
    }
    QCOMPARE(pacs->count(), 4); // Enter added nothing to the list

    // Delete still removes the character after the cursor; Home and End move it.
    QTest::keyClick(focused(), Qt::Key_Home);
    QTest::keyClick(focused(), Qt::Key_Delete);
    QCOMPARE(pacs->currentText(), QStringLiteral("IPAX"));
    QTest::keyClick(focused(), Qt::Key_End);
    QTest::keyClick(focused(), Qt::Key_Delete);
    QCOMPARE(pacs->currentText(), QStringLiteral("IPAX"));

    // The arrow keys choose list entries.
    pacs->setCurrentIndex(1);
    QTest::keyClick(focused(), Qt::Key_Down);
    QCOMPARE(pacs->currentText(), QStringLiteral("HIPAX"));
    QTest::keyClick(focused(), Qt::Key_Up);
    QTest::keyClick(focused(), Qt::Key_Up);
    QCOMPARE(pacs->currentText(), QStringLiteral("Arzt und Praxis"));

    // F4 opens the list, where the arrows and Enter choose.
    QTest::keyClick(focused(), Qt::Key_F4);
    QTRY_VERIFY(pacs->view()->isVisible());
    QTest::keyClick(pacs->view(), Qt::Key_Down);
    QTest::keyClick(pacs->view(), Qt::Key_Down);
    QTest::keyClick(pacs->view(), Qt::Key_Down);
    QTest::keyClick(pacs->view(), Qt::Key_Return);
    QTRY_VERIFY(!pacs->view()->isVisible());
    QCOMPARE(pacs->currentText(), QStringLiteral("STARC"));

    // Emptied with Delete, the box is saved as an empty value.
    QTest::keyClick(focused(), Qt::Key_Home);
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(focused(), Qt::Key_Delete);
    }
    QCOMPARE(pacs->currentText(), QString());
    window->close();
    QVERIFY(ReadFile(programFolder / "Settings.ini").find("[PACS]\r\nPACS=\r\n") != std::string::npos);
}

void FrmMainTest::firstStartWithoutSettingsFile()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder.Path());
    for (const char* field : {"txtSource", "txtDest", "txtTemp"}) {
        QCOMPARE(Control<QLineEdit>(window.get(), field)->text(), QString());
    }
    QCOMPARE(Control<app::DebugCheckBox>(window.get(), "chkDebug")->checkState(), Qt::Unchecked);
    QCOMPARE(Control<QComboBox>(window.get(), "cboPACS")->currentText(), QStringLiteral("Arzt und Praxis"));
    QVERIFY(Names(programFolder.Path()).empty()); // opening writes nothing

    // Closing by the window's close box writes all five entries in the save order.
    window->close();
    QVERIFY(!window->isVisible());
    QCOMPARE(Utf8(ReadFile(programFolder / "Settings.ini")), NoSettingsFile);
}

void FrmMainTest::settingsRoundTripKeepsEveryValue()
{
    TempDir programFolder;
    const std::string longPath = "/media/" + std::string(300, 'x');
    WriteFile(programFolder / "Settings.ini",
        "; written by hand\r\n[Path]\r\nDestinationPath=/srv/Röntgen Ziel\r\nSourcePath=" + longPath
            + "\r\n[Temp]\r\nTempPath=\"/var/tmp\"\r\n[Debug]\r\nDebugValue=1\r\n[PACS]\r\nPACS=gemed\r\n");
    const std::string before = ReadFile(programFolder / "Settings.ini");
    {
        auto window = ShowWindow(programFolder.Path());
        QCOMPARE(Control<QLineEdit>(window.get(), "txtSource")->text(), Utf8(longPath));
        QCOMPARE(Control<QLineEdit>(window.get(), "txtDest")->text(), QStringLiteral("/srv/Röntgen Ziel"));
        QCOMPARE(Control<QLineEdit>(window.get(), "txtTemp")->text(), QStringLiteral("\"/var/tmp\""));
        QCOMPARE(Control<app::DebugCheckBox>(window.get(), "chkDebug")->checkState(), Qt::Checked);
        // A PACS value the list lacks is shown and kept as it is.
        QCOMPARE(Control<QComboBox>(window.get(), "cboPACS")->currentText(), QStringLiteral("gemed"));
        window->close();
    }
    // Unchanged fields write back the same values, in place.
    QCOMPARE(Utf8(ReadFile(programFolder / "Settings.ini")), Utf8(before));

    {
        auto window = ShowWindow(programFolder.Path());
        Control<QLineEdit>(window.get(), "txtTemp")->setText(QStringLiteral("/tmp/neu"));
        Control<app::DebugCheckBox>(window.get(), "chkDebug")->click();
        QTest::mouseClick(ToolbarButton(window.get(), QStringLiteral("Beenden")), Qt::LeftButton);
        QVERIFY(!window->isVisible());
    }
    auto window = ShowWindow(programFolder.Path());
    QCOMPARE(Control<QLineEdit>(window.get(), "txtTemp")->text(), QStringLiteral("/tmp/neu"));
    QCOMPARE(Control<QLineEdit>(window.get(), "txtSource")->text(), Utf8(longPath));
    QCOMPARE(Control<app::DebugCheckBox>(window.get(), "chkDebug")->checkState(), Qt::Unchecked);
    QVERIFY(ReadFile(programFolder / "Settings.ini").find("DebugValue=0\r\n") != std::string::npos);
}

void FrmMainTest::debugSwitchThirdState()
{
    const std::pair<const char*, Qt::CheckState> stored[] = {{"2", Qt::PartiallyChecked}, {"1", Qt::Checked},
        {"0", Qt::Unchecked}, {"7", Qt::Unchecked}, {"", Qt::Unchecked}, {"ja", Qt::Unchecked}};
    for (const auto& [value, state] : stored) {
        TempDir programFolder;
        WriteFile(programFolder / "Settings.ini", std::string("[Debug]\r\nDebugValue=") + value + "\r\n");
        auto window = ShowWindow(programFolder.Path());
        auto* debug = Control<app::DebugCheckBox>(window.get(), "chkDebug");
        QCOMPARE(QStringLiteral("%1 -> %2").arg(value).arg(debug->checkState()),
            QStringLiteral("%1 -> %2").arg(value).arg(state));
    }

    // The third state is kept when saved, and a click leads out of it to on, then off.
    TempDir programFolder;
    WriteFile(programFolder / "Settings.ini", "[Debug]\r\nDebugValue=2\r\n");
    auto window = ShowWindow(programFolder.Path());
    window->close();
    QVERIFY(ReadFile(programFolder / "Settings.ini").find("DebugValue=2\r\n") != std::string::npos);
    auto* debug = Control<app::DebugCheckBox>(window.get(), "chkDebug");
    debug->click();
    QCOMPARE(debug->checkState(), Qt::Checked);
    debug->click();
    QCOMPARE(debug->checkState(), Qt::Unchecked);
    debug->click();
    QCOMPARE(debug->checkState(), Qt::Checked);
}

void FrmMainTest::browseButtonsFillTheirFields()
{
    TempDir programFolder;
    auto window = ShowWindow(programFolder.Path());
    auto* tabs = Control<app::TabPages>(window.get(), "tabPages");
    QStringList titles;
    QString answer;
    app::SetBrowseFolderAnswerer([&](const QString& title) {
        titles << title;
        return answer;
    });

    struct Case
    {
        int button;
        int page;
        const char* field;
    };
    for (const Case& c : {Case {0, 0, "txtSource"}, Case {1, 0, "txtDest"}, Case {2, 1, "txtTemp"}}) {
        tabs->SetCurrentIndex(c.page);
        auto* field = Control<QLineEdit>(window.get(), c.field);
        auto* button = Control<QPushButton>(window.get(), "cmdSrcFolder", c.button);
        field->setText(QStringLiteral("typed before"));
        answer = QString(); // cancelled
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(field->text(), QStringLiteral("typed before"));
        answer = QStringLiteral("/media/Ordner mit Leerzeichen/") + QString::number(c.button);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(field->text(), answer); // the whole text, exactly as picked
    }
    QCOMPARE(titles.size(), 6);
    QCOMPARE(titles.count(QStringLiteral("Wählen Sie Ihren Ordner ...")), 6);

    // An index outside the array changes no field.
    window->OnBrowse(3);
    QCOMPARE(Control<QLineEdit>(window.get(), "txtTemp")->text(), QStringLiteral("/media/Ordner mit Leerzeichen/2"));
    app::SetBrowseFolderAnswerer({});
}

void FrmMainTest::toolbarDispatchByCaption()
{
    TempDir programFolder;
    RecordedBoxes recorded;
    auto window = ShowWindow(programFolder.Path());
    auto* quit = ToolbarButton(window.get(), QStringLiteral("Beenden"));

    // Captions compare exactly: other text does nothing.
    window->OnToolbarButtonClick(QStringLiteral("migrieren"));
    window->OnToolbarButtonClick(QStringLiteral("Beenden "));
    QVERIFY(recorded.boxes.empty());
    QVERIFY(window->isVisible());

    // "Migrieren" with no source folder: the check fails, a stop box, "Beenden" enabled again.
    QTest::mouseClick(ToolbarButton(window.get(), QStringLiteral("Migrieren")), Qt::LeftButton);
    QCOMPARE(recorded.boxes.size(), std::size_t {1});
    QCOMPARE(recorded.boxes[0].icon, app::MessageBox::Icon::Stop);
    QCOMPARE(recorded.boxes[0].text, QStringLiteral("Quellverzeichnis exestiert nicht."));
    QCOMPARE(recorded.boxes[0].caption, QStringLiteral("Zet-Pelta"));
    QVERIFY(quit->isEnabled());
    const auto log = LogLines(programFolder / "Logs/Error.txt");
    QCOMPARE(log.size(), std::size_t {1});
    QVERIFY(QString::fromStdString(log[0]).endsWith(QStringLiteral(" - -1 - Source folder doesn´t exist. - Start")));

    QTest::mouseClick(quit, Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QCOMPARE(Utf8(ReadFile(programFolder / "Settings.ini")), NoSettingsFile);
}

void FrmMainTest::fullRunThroughTheWindow()
{
    TempDir programFolder;
    Disc disc(12);
    auto window = ShowWindow(programFolder.Path());
    FillFields(window.get(), disc, QStringLiteral("HIPAX"));
    auto* quit = ToolbarButton(window.get(), QStringLiteral("Beenden"));
    auto* bar = Control<app::TextProgressBar>(window.get(), "ProgBar");
    auto* status = Control<QLabel>(window.get(), "lblLoadInfo");
    const engine::RunController& engine = window->Engine();

    RealBoxAnswerer answerer;
    QStringList barTexts;
    QStringList statusLines;
    bool quitEnabledDuringRun = false;
    EveryPass watch([&] {
        if (engine.Running()) {
            barTexts << bar->text();
            statusLines << status->text();
            quitEnabledDuringRun = quitEnabledDuringRun || quit->isEnabled();
        }
    });

    QTest::mouseClick(ToolbarButton(window.get(), QStringLiteral("Migrieren")), Qt::LeftButton);
    QVERIFY(!quit->isEnabled());
    QVERIFY(window->findChild<QTimer*>(QStringLiteral("tmrMig"))->isActive());
    QTRY_COMPARE(answerer.boxes.size(), std::size_t {1});
    QTRY_VERIFY(!engine.Running());

    QCOMPARE(disc.CheckDestination(), 12);
    QVERIFY(!quitEnabledDuringRun);
    QVERIFY(quit->isEnabled());
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(answerer.boxes[0].caption, QStringLiteral("Migration abgeschlossen"));
    QCOMPARE(answerer.boxes[0].text,
        QStringLiteral(
            "12 von 12 Dateien konnten erfolgreich migriert werden.\n\nBitte legen Sie die nächste CD / DVD ein."));
    // The progress display was live during the run and is cleared after it.
    QVERIFY2(barTexts.contains(QStringLiteral("0 von 9 Dateien durchsucht ...")), qPrintable(barTexts.join('|')));
    QVERIFY(barTexts.contains(QStringLiteral("2 von 3 Dateien durchsucht ...")));
    QVERIFY(statusLines.contains(QStringLiteral("Datei ") + Utf8(disc.root / "src/sub/IMG3") + " wird migriert..."));
    QCOMPARE(bar->text(), QString());
    QCOMPARE(status->text(), QString());
    QVERIFY(!QFileInfo::exists(Utf8(disc.root / "temp/TempPelta")));
}

void FrmMainTest::migrateDuringRunQueuesOneFurtherRun()
{
    TempDir programFolder;
    Disc disc(6);
    auto window = ShowWindow(programFolder.Path());
    FillFields(window.get(), disc, QStringLiteral("HIPAX"));
    auto* migrate = ToolbarButton(window.get(), QStringLiteral("Migrieren"));
    const engine::RunController& engine = window->Engine();
    RealBoxAnswerer answerer;

    int clicks = 0;
    EveryPass watch([&] {
        if (engine.Running() && clicks < 2) {
            ++clicks; // pressed twice during the first run: still only one further run
            QTest::mouseClick(migrate, Qt::LeftButton);
        }
    });
    QTest::mouseClick(migrate, Qt::LeftButton);
    QTRY_COMPARE(answerer.boxes.size(), std::size_t {2});
    QTRY_VERIFY(!engine.Running() && !engine.RunQueued());
    QTest::qWait(50);
    QCOMPARE(answerer.boxes.size(), std::size_t {2});
    QCOMPARE(disc.CheckDestination(), 12);
    QVERIFY(ToolbarButton(window.get(), QStringLiteral("Beenden"))->isEnabled());
}

void FrmMainTest::closingDuringRunStopsAndSaves()
{
    TempDir programFolder;
    Disc disc(40);
    auto window = ShowWindow(programFolder.Path());
    FillFields(window.get(), disc, QStringLiteral("HIPAX"));
    const engine::RunController& engine = window->Engine();
    RecordedBoxes recorded;

    bool closed = false;
    EveryPass watch([&] {
        if (engine.Running() && !closed && engine.State().ScannedCount >= 3) {
            closed = true;
            window->close(); // the close box: "Beenden" is disabled during a run
        }
    });
    QTest::mouseClick(ToolbarButton(window.get(), QStringLiteral("Migrieren")), Qt::LeftButton);
    QTRY_VERIFY(closed && !engine.Running());

    QVERIFY(!window->isVisible());
    QVERIFY(recorded.boxes.empty()); // no summary for a run that was stopped
    const int migrated = disc.CheckDestination();
    QVERIFY2(migrated >= 3 && migrated < 40, qPrintable(QString::number(migrated)));
    QVERIFY(!QFileInfo::exists(Utf8(disc.root / "temp/TempPelta")));
    const std::string settings = ReadFile(programFolder / "Settings.ini");
    QVERIFY(settings.find("SourcePath=" + (disc.root / "src") + "\r\n") != std::string::npos);
    QVERIFY(settings.find("PACS=HIPAX\r\n") != std::string::npos);
    QVERIFY(engine.LastRun().stopped);
}

QTEST_MAIN(FrmMainTest)
#include "FrmMainTest.moc"
