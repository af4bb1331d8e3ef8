#pragma once

#include <chrono>

#include "engine/run/RunHost.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QWidget;

namespace app {

class DebugCheckBox;
class TextProgressBar;

// The controls of frmMain that a run reads and writes.
struct WindowControls
{
    QWidget* window;
    QLineEdit* txtSource;
    QLineEdit* txtDest;
    QLineEdit* txtTemp;
    QComboBox* cboPACS;
    DebugCheckBox* chkDebug;
    TextProgressBar* progBar;
    QLabel* lblLoadInfo;
    QAction* quitButton;
    QTimer* tmrMig;
};

// The engine's front end in the window: fields are read from the controls at the moment of use, and
// pending messages are Qt's pending events, so the window stays painted and usable during a run.
class WindowHost : public engine::RunHost
{
public:
    explicit WindowHost(WindowControls controls);

    std::string SourceText() override;
    std::string DestText() override;
    std::string TempText() override;
    std::string PacsText() override;
    int DebugValue() override;

    void SetProgressMax(std::int64_t maximum) override;
    void SetProgressValue(std::int64_t value) override;
    void SetProgressText(std::string_view text) override;
    void SetStatusLine(std::string_view text) override;
    void ShowMessage(engine::MessageKind kind, std::string_view text, std::string_view caption) override;
    engine::Answer AskQuestion(std::string_view text, std::string_view caption) override;
    void ProcessPendingMessages() override;
    void SetQuitEnabled(bool enabled) override;
    void SetTimerEnabled(bool enabled) override;

    // Pending events are processed at most this often: a run asks after every file, and painting the
    // window each time cost more than a small file's whole migration. Far below what an operator
    // notices; tests that watch every file set zero.
    static constexpr std::chrono::milliseconds DefaultEventInterval {25};
    static void SetEventInterval(std::chrono::milliseconds interval);

private:
    void ShowPendingValue();

    WindowControls m_controls;
    std::chrono::steady_clock::time_point m_lastEvents {};
    int m_pendingValue = -1; // a progress value not shown yet
};

} // namespace app
