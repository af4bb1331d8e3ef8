#include "app/WindowHost.h"

#include <algorithm>
#include <limits>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "app/Controls.h"
#include "app/MessageBox.h"

namespace app {

namespace {

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int ToBarRange(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<int>::max()));
}

std::chrono::milliseconds g_eventInterval = WindowHost::DefaultEventInterval;

} // namespace

WindowHost::WindowHost(WindowControls controls)
    : m_controls(controls)
{ }

std::string WindowHost::SourceText()
{
    return m_controls.txtSource->text().toStdString();
}

std::string WindowHost::DestText()
{
    return m_controls.txtDest->text().toStdString();
}

std::string WindowHost::TempText()
{
    return m_controls.txtTemp->text().toStdString();
}

std::string WindowHost::PacsText()
{
    return m_controls.cboPACS->currentText().toStdString();
}

int WindowHost::DebugValue()
{
    return m_controls.chkDebug->Value();
}

void WindowHost::SetProgressMax(std::int64_t maximum)
{
    // A maximum below the current value is fine: the bar resets its value until the next one comes.
    m_controls.progBar->setMaximum(ToBarRange(maximum));
}

void WindowHost::SetProgressValue(std::int64_t value)
{
    // QProgressBar repaints at once on a visible change, which cost more than a small file's whole
    // migration. Between the passes of the event loop the value waits; the first and the last of a
    // folder are shown as they come.
    m_pendingValue = ToBarRange(value);
    if (m_pendingValue == 0 || m_pendingValue >= m_controls.progBar->maximum()
        || std::chrono::steady_clock::now() - m_lastEvents >= g_eventInterval) {
        ShowPendingValue();
    }
}

void WindowHost::ShowPendingValue()
{
    if (m_pendingValue >= 0) {
        m_controls.progBar->setValue(m_pendingValue);
        m_pendingValue = -1;
    }
}

void WindowHost::SetProgressText(std::string_view text)
{
    m_controls.progBar->SetText(FromUtf8(text));
}

void WindowHost::SetStatusLine(std::string_view text)
{
    m_controls.lblLoadInfo->setText(FromUtf8(text));
}

void WindowHost::ShowMessage(engine::MessageKind kind, std::string_view text, std::string_view caption)
{
    // The engine ends lines with CR LF; a Qt label shows a lone CR as a character of its own.
    QString shown = FromUtf8(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const MessageBox::Icon icon = kind == engine::MessageKind::Stop ? MessageBox::Icon::Stop
        : kind == engine::MessageKind::Warning                      ? MessageBox::Icon::Warning
                                                                    : MessageBox::Icon::Information;
    MessageBox::Show(m_controls.window, icon, shown, FromUtf8(caption));
}

engine::Answer WindowHost::AskQuestion(std::string_view text, std::string_view caption)
{
    switch (MessageBox::Ask(m_controls.window, FromUtf8(text), FromUtf8(caption))) {
    case MessageBox::Reply::Yes:
        return engine::Answer::Yes;
    case MessageBox::Reply::No:
        return engine::Answer::No;
    default:
        return engine::Answer::Cancel;
    }
}

void WindowHost::SetEventInterval(std::chrono::milliseconds interval)
{
    g_eventInterval = interval;
}

void WindowHost::ProcessPendingMessages()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastEvents < g_eventInterval) {
        return;
    }
    ShowPendingValue();
    QCoreApplication::processEvents();
    m_lastEvents = std::chrono::steady_clock::now();
}

void WindowHost::SetQuitEnabled(bool enabled)
{
    m_controls.quitButton->setEnabled(enabled);
}

void WindowHost::SetTimerEnabled(bool enabled)
{
    if (enabled) {
        m_controls.tmrMig->start();
    } else {
        m_controls.tmrMig->stop();
    }
}

} // namespace app
