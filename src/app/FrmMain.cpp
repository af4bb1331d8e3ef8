#include "app/FrmMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QApplication>
#include <QTimer>
#include <QToolBar>

#include "app/AppFonts.h"
#include "app/Artwork.h"
#include "app/BrowseFolder.h"
#include "app/Controls.h"
#include "app/WindowHost.h"
#include "engine/common/Profile.h"
#include "engine/common/Texts.h"
#include "engine/run/RunController.h"
#include "support/Log.h"
#include "support/Settings.h"

namespace app {

namespace {

const QString MigrateCaption = QStringLiteral("Migrieren");
const QString QuitCaption = QStringLiteral("Beenden");
const QString BrowseTitle = QStringLiteral("Wählen Sie Ihren Ordner ...");
constexpr int SettingsPage = 1;

// Positions and sizes below are in twips (1/1440 inch), the unit the window was designed in; at 96
// dots per inch 15 of them make a pixel.
QRect Twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

template <typename Widget> Widget* Place(Widget* widget, const char* name, const QRect& geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

// Members of a control array share their name and carry their index as the property "index".
template <typename Widget> Widget* Indexed(Widget* widget, int index)
{
    widget->setProperty("index", index);
    return widget;
}

// A label sized to its caption: only its position is fixed.
QLabel* CaptionLabel(QWidget* parent, const char* name, const QString& caption, int left, int top)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->adjustSize();
    label->move(left / 15, top / 15);
    return label;
}

QWidget* Panel(QWidget* parent, const char* name, const QRect& geometry)
{
    return Place(new QWidget(parent), name, geometry);
}

QGroupBox* Frame(QWidget* parent, int index, const QRect& geometry)
{
    return Indexed(Place(new QGroupBox(parent), "Frame2", geometry), index);
}

QLineEdit* FolderField(QWidget* parent, const char* name, const QRect& geometry)
{
    return Place(new QLineEdit(parent), name, geometry);
}

} // namespace

FrmMain::FrmMain(support::Places places, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint)
    , m_places(std::move(places))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Zet - Pelta"));
    setWindowIcon(WindowIcon());
    setFont(WindowFont());
    // A fixed client area; the window cannot be resized or maximised.
    setFixedSize(Twips(0, 0, 6090, 4380).size());
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    BuildToolbar();
    BuildControls();
    SetTabOrder();

    m_host = std::make_unique<WindowHost>(WindowControls {this, m_txtSource, m_txtDest, m_txtTemp, m_cboPACS,
        m_chkDebug, m_progBar, m_lblLoadInfo, m_quitButton, m_tmrMig});
    m_engine = std::make_unique<engine::RunController>(*m_host, m_places.logs);
}

FrmMain::~FrmMain() = default;

void FrmMain::BuildToolbar()
{
    m_toolbar = Place(new QToolBar(this), "Toolbar", Twips(0, 0, 6090, 780));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setIconSize(QSize(32, 32));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->layout()->setContentsMargins(0, 0, 0, 0);
    m_toolbar->layout()->setSpacing(0);

    m_migrateButton = m_toolbar->addAction(ToolbarIcon(MigrationImage()), MigrateCaption);
    m_quitButton = m_toolbar->addAction(ToolbarIcon(ExitImage()), QuitCaption);
    for (QAction* button : m_toolbar->actions()) {
        m_toolbar->widgetForAction(button)->setFixedSize(Twips(0, 0, 765, 780).size());
    }
    connect(
        m_toolbar, &QToolBar::actionTriggered, this, [this](QAction* button) { OnToolbarButtonClick(button->text()); });

    m_tmrMig = new QTimer(m_toolbar);
    m_tmrMig->setObjectName(QStringLiteral("tmrMig"));
    m_tmrMig->setInterval(1);
    connect(m_tmrMig, &QTimer::timeout, this, &FrmMain::OnTmrMigTimer);
}

void FrmMain::BuildControls()
{
    m_tabPages = Place(new TabPages(this), "tabPages", Twips(45, 855, 5985, 2535));
    QWidget* general = m_tabPages->AddPage(QStringLiteral("Allgmein"));
    QWidget* settings = m_tabPages->AddPage(QStringLiteral("Einstellungen"));

    QWidget* picture2 = Panel(Frame(general, 0, Twips(45, 360, 5865, 2085)), "Picture2", Twips(45, 180, 5775, 1815));
    CaptionLabel(picture2, "Label1", QStringLiteral("Quellverzeichnis:"), 90, 90);
    m_txtSource = FolderField(picture2, "txtSource", Twips(90, 360, 4965, 345));
    auto* browseSource
        = Place(new QPushButton(QStringLiteral("..."), picture2), "cmdSrcFolder", Twips(5130, 360, 510, 360));
    CaptionLabel(picture2, "Label2", QStringLiteral("Zielverzeichnis:"), 90, 945);
    m_txtDest = FolderField(picture2, "txtDest", Twips(90, 1215, 4965, 345));
    auto* browseDest
        = Place(new QPushButton(QStringLiteral("..."), picture2), "cmdSrcFolder", Twips(5130, 1215, 510, 360));

    QWidget* picture3 = Panel(Frame(settings, 1, Twips(45, 360, 5865, 2085)), "Picture3", Twips(90, 180, 5730, 1860));
    Indexed(CaptionLabel(picture3, "Label3", QStringLiteral("Tempverzeichnis:"), 45, 90), 1);
    m_txtTemp = FolderField(picture3, "txtTemp", Twips(45, 360, 4965, 345));
    auto* browseTemp
        = Place(new QPushButton(QStringLiteral("..."), picture3), "cmdSrcFolder", Twips(5085, 360, 510, 360));
    Indexed(CaptionLabel(picture3, "Label3", QStringLiteral("PACS - System:"), 45, 990), 0);
    m_cboPACS = Place(new QComboBox(picture3), "cboPACS", Twips(1350, 945, 1905, 315));
    m_cboPACS->setEditable(true);
    m_cboPACS->setInsertPolicy(QComboBox::NoInsert);
    m_cboPACS->setCompleter(nullptr);
    m_cboPACS->setEditText(QStringLiteral("cboPACS"));
    auto* keyFilter = new PacsKeyFilter(m_cboPACS);
    m_cboPACS->installEventFilter(keyFilter);
    m_cboPACS->lineEdit()->installEventFilter(keyFilter);
    m_chkDebug = Place(new DebugCheckBox(QStringLiteral("Debug"), picture3), "chkDebug", Twips(45, 1395, 1320, 240));

    int index = 0;
    for (QPushButton* browse : {browseSource, browseDest, browseTemp}) {
        Indexed(browse, index);
        browse->setFont(BrowseButtonFont());
        connect(browse, &QPushButton::clicked, this, [this, index] { OnBrowse(index); });
        ++index;
    }

    m_lblLoadInfo = Place(new QLabel(this), "lblLoadInfo", Twips(135, 3465, 5865, 240));
    m_lblLoadInfo->setTextFormat(Qt::PlainText);
    m_lblLoadInfo->setWordWrap(false);
    m_progBar = Place(new TextProgressBar(this), "ProgBar", Twips(45, 3780, 6000, 555));
    m_progBar->setRange(0, 100);
    m_progBar->setValue(0);
}

void FrmMain::SetTabOrder()
{
    const auto browse = findChildren<QPushButton*>(QStringLiteral("cmdSrcFolder"));
    QWidget* chain[]
        = {m_tabPages, m_txtSource, m_txtDest, browse[0], browse[1], m_cboPACS, m_chkDebug, browse[2], m_txtTemp};
    for (std::size_t i = 1; i < std::size(chain); ++i) {
        setTabOrder(chain[i - 1], chain[i]);
    }
}

void FrmMain::Open()
{
    for (const engine::Profile profile : engine::Profiles) {
        m_cboPACS->addItem(QString::fromStdString(std::string(engine::SystemName(profile))));
    }
    LoadFields();
    if (m_engine->Log().DebugOn()) {
        m_engine->Log().WriteDebug("Settings: " + support::SettingsFilePath(m_places.settings)
            + "; logs: " + support::LogsFolder(m_places.logs));
    }
    m_tabPages->SetCurrentIndex(SettingsPage);
    if (const QScreen* shown = screen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), shown->availableGeometry()));
    }
}

namespace {

void EjectOpticalDrive(const support::Mount& disc)
{
    if (support::IsOpticalDrive(disc)) {
        support::EjectDisc(disc);
    }
}

FrmMain::EjectRequest& Ejector()
{
    static FrmMain::EjectRequest request = EjectOpticalDrive;
    return request;
}

// How often AutoStart looks for a disc: mounting one takes the system a few seconds anyway.
constexpr int DiscLookMilliseconds = 2000;

} // namespace

void FrmMain::SetEjectRequest(EjectRequest request)
{
    Ejector() = request ? std::move(request) : EjectOpticalDrive;
}

void FrmMain::LookForDisc()
{
    // Only when nothing is in the way: no run, none armed, no box open. A disc that arrives meanwhile
    // is found at the next look.
    if (m_engine->Running() || m_engine->TimerEnabled() || QApplication::activeModalWidget() != nullptr) {
        return;
    }
    if (!m_discs.Arrived(m_txtSource->text().toStdString()).empty()) {
        OnToolbarButtonClick(MigrateCaption); // one run walks the whole source folder
    }
}

void FrmMain::LoadFields()
{
    const support::Settings fields = support::LoadSettings(support::SettingsFilePath(m_places.settings));
    m_ejectAfterRun = fields.ejectAfterRun;
    // [Senden] names the new PACS: every run's images go there before its summary.
    std::optional<engine::SendSettings> send;
    if (!fields.sendNode.empty()) {
        std::string error;
        send = engine::MakeSendSettings(engine::SendTextsOf(fields), error);
        if (!send) {
            m_engine->Log().WriteError(-1, "The PACS node in Settings.ini is not valid.", "LoadSettings", error);
            m_host->ShowMessage(engine::MessageKind::Stop,
                "Settings.ini, Abschnitt [Senden]: " + error + "\r\nDie Bilder werden nicht an das PACS gesendet.",
                engine::texts::AppTitle);
        }
    }
    m_engine->SetPacsTarget(send);
    if (fields.autoStart && m_discTimer == nullptr) {
        m_discTimer = new QTimer(this);
        connect(m_discTimer, &QTimer::timeout, this, &FrmMain::LookForDisc);
        m_discTimer->start(DiscLookMilliseconds);
    }
    m_txtTemp->setText(QString::fromStdString(fields.tempPath));
    m_txtDest->setText(QString::fromStdString(fields.destinationPath));
    m_txtSource->setText(QString::fromStdString(fields.sourcePath));
    m_chkDebug->SetValue(fields.debugValue);
    // Shown as stored, whether the list holds it or not.
    m_cboPACS->setEditText(QString::fromStdString(fields.pacs));
}

void FrmMain::SaveFields()
{
    support::Settings fields;
    fields.tempPath = m_txtTemp->text().toStdString();
    fields.sourcePath = m_txtSource->text().toStdString();
    fields.destinationPath = m_txtDest->text().toStdString();
    fields.debugValue = m_chkDebug->Value();
    fields.pacs = m_cboPACS->currentText().toStdString();
    // A value that cannot be saved is named in the error log: the next start would show another.
    for (const std::string& key : support::SaveSettings(fields, support::SettingsFilePath(m_places.settings))) {
        m_engine->Log().WriteError(-1, "Setting could not be saved.", "SaveSettings", key);
    }
}

void FrmMain::OnToolbarButtonClick(const QString& caption)
{
    if (caption == MigrateCaption) {
        m_engine->StartRun();
    } else if (caption == QuitCaption) {
        close();
    }
}

void FrmMain::OnBrowse(int index)
{
    const QString folder = BrowseFolder(BrowseTitle);
    if (folder.isEmpty()) {
        return;
    }
    QLineEdit* fields[] = {m_txtSource, m_txtDest, m_txtTemp};
    if (index >= 0 && index < static_cast<int>(std::size(fields))) {
        fields[index]->setText(folder);
    }
}

void FrmMain::OnTmrMigTimer()
{
    m_engine->OnTimerTick();
    // Not after a stop, nor when no run started (the disc is another program's now, or was cancelled).
    if (m_ejectAfterRun && !m_engine->Running() && !m_engine->LastRun().stopped && !m_engine->LastRun().refused) {
        for (const support::Mount& disc : support::MountsAtOrBelow(m_txtSource->text().toStdString())) {
            Ejector()(disc);
        }
    }
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    SaveFields();
    m_engine->RequestStop();
    event->accept();
}

} // namespace app
