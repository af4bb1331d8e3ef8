#include "WindowTestUtil.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include "app/AppFonts.h"

namespace testing_support {

std::unique_ptr<app::FrmMain> ShowWindow(const std::string& programFolder)
{
    app::LoadWindowFonts();
    QApplication::setFont(app::WindowFont());
    auto window = std::make_unique<app::FrmMain>(programFolder);
    window->Open();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) {
        qWarning("the window did not become active");
    }
    return window;
}

RecordedBoxes::RecordedBoxes()
{
    app::MessageBox::SetAnswerer([this](const app::MessageBox::Request& request) { boxes.push_back(request); });
}

RecordedBoxes::~RecordedBoxes()
{
    app::MessageBox::SetAnswerer({});
}

RealBoxAnswerer::RealBoxAnswerer()
{
    m_poll.setInterval(5);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        boxes.push_back({box->icon(), box->windowTitle(), box->text()});
        box->button(QMessageBox::Ok)->click();
    });
    m_poll.start();
}

EveryPass::EveryPass(std::function<void()> action)
{
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, std::move(action));
    m_timer.start();
}

} // namespace testing_support
