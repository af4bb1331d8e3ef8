#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "support/Mounts.h"
#include "support/Places.h"

class QAction;
class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolBar;

namespace engine {
class RunController;
}

namespace app {

class DebugCheckBox;
class TabPages;
class TextProgressBar;
class WindowHost;

// The only window: the three folder fields with their browse buttons, the PACS system and the debug
// switch on two pages, the toolbar with "Migrieren" and "Beenden", and the progress display of a run.
// The run itself executes inside the tick of tmrMig; the window stays usable while it processes
// pending events after each file.
class FrmMain : public QWidget
{
    Q_OBJECT

public:
    // Settings.ini and Logs/ are those of places.
    explicit FrmMain(support::Places places, QWidget* parent = nullptr);
    ~FrmMain() override;

    // Opening: fills the PACS list, loads the five fields from Settings.ini, brings page
    // "Einstellungen" to the front and centres the window. The single-instance check comes before.
    void Open();

    // The toolbar's handler; buttons are told apart by their caption.
    void OnToolbarButtonClick(const QString& caption);
    // The browse buttons' handler: index 0 source, 1 destination, 2 temp folder.
    void OnBrowse(int index);

    const engine::RunController& Engine() const { return *m_engine; }
    // Where the window's eject request goes after a run with Auswerfen=1; tests set their own. The
    // default (also after an empty request) ejects the mount's drive when it is an optical one.
    using EjectRequest = std::function<void(const support::Mount& disc)>;
    static void SetEjectRequest(EjectRequest request);

protected:
    // Closing, by "Beenden" or the window's close box: saves the fields. A run in progress ends after
    // the file in hand and removes its work folder; the window closes at once.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildToolbar();
    void SetTabOrder();
    void LoadFields();
    void SaveFields();
    void OnTmrMigTimer();
    // AutoStart: presses "Migrieren" for a disc newly mounted at or below the source folder.
    void LookForDisc();

    support::Places m_places;
    QToolBar* m_toolbar = nullptr;
    QAction* m_migrateButton = nullptr;
    QAction* m_quitButton = nullptr;
    QTimer* m_tmrMig = nullptr;
    QTimer* m_discTimer = nullptr; // with AutoStart=1: looks for a disc below the source folder
    support::MountWatch m_discs; // mounts a run was started for
    bool m_ejectAfterRun = false;
    TabPages* m_tabPages = nullptr;
    QLineEdit* m_txtSource = nullptr;
    QLineEdit* m_txtDest = nullptr;
    QLineEdit* m_txtTemp = nullptr;
    QComboBox* m_cboPACS = nullptr;
    DebugCheckBox* m_chkDebug = nullptr;
    QLabel* m_lblLoadInfo = nullptr;
    TextProgressBar* m_progBar = nullptr;
    std::unique_ptr<WindowHost> m_host;
    std::unique_ptr<engine::RunController> m_engine;
};

} // namespace app
