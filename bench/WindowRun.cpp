// One migration driven through the window, for the benchmark: opens frmMain (on whatever Qt platform
// the environment names; the benchmark sets "offscreen"), fills in the fields, clicks "Migrieren" and
// waits for the summary box. Prints the run's wall time from the click to the summary, the longest gap
// between two passes of the event loop during the run, and the number of passes:
//
//   zet-pelta-bench-window PROGRAM_FOLDER PACS SOURCE DEST TEMP
//   -> "seconds=12.345 longest_gap_ms=8.1 passes=40213"
//
// Exit status 1 if the run showed a stop box or ended without a summary.
#include <chrono>
#include <cstdio>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include "app/AppFonts.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PROGRAM_FOLDER PACS SOURCE DEST TEMP\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    app::LoadWindowFonts();
    QApplication::setFont(app::WindowFont());
    app::FrmMain window {std::string(argv[1])};
    window.Open();
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cboPACS"))->setCurrentText(QString::fromUtf8(argv[2]));
    window.findChild<QLineEdit*>(QStringLiteral("txtSource"))->setText(QString::fromUtf8(argv[3]));
    window.findChild<QLineEdit*>(QStringLiteral("txtDest"))->setText(QString::fromUtf8(argv[4]));
    window.findChild<QLineEdit*>(QStringLiteral("txtTemp"))->setText(QString::fromUtf8(argv[5]));

    Clock::time_point start, end, lastPass;
    bool running = false, summary = false, stopBox = false;
    double longestGapMs = 0;
    long passes = 0;
    app::MessageBox::SetAnswerer([&](const app::MessageBox::Request& request) {
        if (request.icon == app::MessageBox::Icon::Stop) {
            stopBox = true;
            std::fprintf(stderr, "stop box: %s\n", request.text.toUtf8().constData());
        } else {
            summary = true;
        }
        end = Clock::now();
        running = false;
        QTimer::singleShot(0, &application, &QApplication::quit);
        return app::MessageBox::Reply::No; // a disc migrated before is migrated whole again
    });
    // A zero timer fires on every pass of the event loop, also inside the run's pending-message calls.
    QTimer everyPass;
    everyPass.setInterval(0);
    QObject::connect(&everyPass, &QTimer::timeout, [&] {
        if (!running) {
            return;
        }
        const auto now = Clock::now();
        longestGapMs = std::max(longestGapMs, Milliseconds(now - lastPass));
        lastPass = now;
        ++passes;
    });
    everyPass.start();
    QTimer::singleShot(50, [&] {
        start = lastPass = Clock::now();
        running = true;
        window.OnToolbarButtonClick(QStringLiteral("Migrieren"));
    });
    QApplication::exec();
    window.close();
    if (!summary || stopBox) {
        return 1;
    }
    std::printf(
        "seconds=%.4f longest_gap_ms=%.2f passes=%ld\n", Milliseconds(end - start) / 1000, longestGapMs, passes);
    return 0;
}
