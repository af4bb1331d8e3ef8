#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "engine/run/RunHost.h"
#include "support/Settings.h"

namespace cli {

// The engine's front end on a console. The folder fields come from the options (or Settings.ini);
// the summary goes to out line by line, stop messages to err. With a terminal on err and not quiet,
// a live line shows the folder's progress, the run's counts and the current file.
class ConsoleHost : public engine::RunHost
{
public:
    struct Output
    {
        std::ostream& out;
        std::ostream& err;
        bool liveProgress = false; // err is a terminal and --quiet was not given
        int columns = 80;
    };

    ConsoleHost(support::Settings fields, Output output);

    // Asked at every pending-messages call; true ends the run after the current file (Ctrl+C).
    void SetInterruptCheck(std::function<bool()> interrupted, std::function<void()> onInterrupt);
    // Counts shown on the live line.
    void SetCountsSource(std::function<std::string()> counts);
    // The answer to "only the missing files?" when a disc was migrated before: yes with --only-missing;
    // otherwise no, with a note on err.
    void SetOnlyMissing(bool onlyMissing) { m_onlyMissing = onlyMissing; }
    // Clears the live line, so that what follows starts at the left edge.
    void EndLiveLine();

    std::string SourceText() override { return m_fields.sourcePath; }
    std::string DestText() override { return m_fields.destinationPath; }
    std::string TempText() override { return m_fields.tempPath; }
    std::string PacsText() override { return m_fields.pacs; }
    int DebugValue() override { return m_fields.debugValue; }

    void SetProgressMax(std::int64_t maximum) override;
    void SetProgressValue(std::int64_t value) override;
    void SetProgressText(std::string_view) override { }
    void SetStatusLine(std::string_view text) override;
    void ShowMessage(engine::MessageKind kind, std::string_view text, std::string_view caption) override;
    // The findings follow the summary as lines of their own, with the studies (see RunCli).
    void ShowRunSummary(
        engine::MessageKind kind, std::string_view text, std::string_view, std::string_view caption) override
    {
        ShowMessage(kind, text, caption);
    }
    engine::Answer AskQuestion(std::string_view text, std::string_view caption) override;
    void ProcessPendingMessages() override;
    void SetQuitEnabled(bool) override { }
    void SetTimerEnabled(bool) override { }

private:
    void DrawLiveLine();

    support::Settings m_fields;
    Output m_output;
    bool m_onlyMissing = false;
    std::function<bool()> m_interrupted;
    std::function<void()> m_onInterrupt;
    std::function<std::string()> m_counts;
    std::int64_t m_maximum = 0;
    std::int64_t m_value = 0;
    std::string m_currentFile;
    bool m_lineShown = false;
    std::chrono::steady_clock::time_point m_lastDraw {};
};

// The lines of a message box's text: CR LF and LF both end a line.
std::string BoxTextAsLines(std::string_view text);

} // namespace cli
