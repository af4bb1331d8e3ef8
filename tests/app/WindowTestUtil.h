#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include "app/FrmMain.h"
#include "app/MessageBox.h"

namespace testing_support {

// Opens frmMain as the program does (fonts, Open, show) on a program folder of the test's own and
// waits until it is the active window, so key events and focus behave as on a desktop.
std::unique_ptr<app::FrmMain> ShowWindow(const std::string& programFolder);

// Control lookups by object name and, for control arrays, by index.
template <typename T> T* Control(QWidget* window, const char* name, int index = -1)
{
    for (T* widget : window->findChildren<T*>(QString::fromLatin1(name))) {
        if (index < 0 || widget->property("index").toInt() == index) {
            return widget;
        }
    }
    return nullptr;
}

// Keeps every box the window asks for, without opening one, while alive.
class RecordedBoxes
{
public:
    RecordedBoxes();
    ~RecordedBoxes();
    std::vector<app::MessageBox::Request> boxes;
};

// Answers real message boxes: while alive, every modal QMessageBox that opens is recorded and
// closed with OK, as an operator would.
class RealBoxAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QMessageBox::Icon icon;
        QString caption;
        QString text;
    };

    RealBoxAnswerer();
    std::vector<Box> boxes;

private:
    QTimer m_poll;
};

// Calls the action on every pass of the event loop while alive, also inside a run's pending-message
// calls: the test's view of the window during a run.
class EveryPass
{
public:
    explicit EveryPass(std::function<void()> action);

private:
    QTimer m_timer;
};

} // namespace testing_support
