#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

enum class MessageKind { Stop, Information, Warning };
enum class Answer { Yes, No, Cancel };

// The engine's only view of its front end: the window, the console, or a test's recording host.
// Fields are read at the moment of use, never cached, because the operator may change them while a
// run is processing pending messages. All calls come from the one thread that runs the engine.
class RunHost
{
public:
    virtual ~RunHost() = default;

    virtual std::string SourceText() = 0;
    virtual std::string DestText() = 0;
    virtual std::string TempText() = 0;
    virtual std::string PacsText() = 0;
    // 1 = debug logging on; 0 and the third state 2 = off.
    virtual int DebugValue() = 0;

    // The progress bar: a maximum (each folder sets its own), a value and a text drawn on the bar.
    // The bar must accept a maximum below its current value.
    virtual void SetProgressMax(std::int64_t maximum) = 0;
    virtual void SetProgressValue(std::int64_t value) = 0;
    virtual void SetProgressText(std::string_view text) = 0;
    // The one-line status label below the pages.
    virtual void SetStatusLine(std::string_view text) = 0;

    // A modal box with an OK button; returns when the operator has closed it.
    virtual void ShowMessage(MessageKind kind, std::string_view text, std::string_view caption) = 0;
    // The box that ends a run: its text and, after an empty line, what the run's report found (empty
    // when it found nothing to say); an information box, or a warning when the disc looks like one of
    // another system. A front end that prints the findings its own way (the console) shows the text
    // alone.
    virtual void ShowRunSummary(
        MessageKind kind, std::string_view text, std::string_view findings, std::string_view caption)
    {
        std::string shown(text);
        if (!findings.empty()) {
            shown += "\r\n\r\n" + std::string(findings);
        }
        ShowMessage(kind, shown, caption);
    }

    // A question with the buttons Ja, Nein and Abbrechen; returns the operator's answer.
    virtual Answer AskQuestion(std::string_view text, std::string_view caption) = 0;

    // Lets the front end handle queued input and painting, then returns. The window's commands run
    // here during a run, so the engine may be re-entered through StartRun or RequestStop.
    virtual void ProcessPendingMessages() = 0;

    // Toolbar button "Beenden".
    virtual void SetQuitEnabled(bool enabled) = 0;
    // The run timer tmrMig: while enabled, the front end calls RunController::OnTimerTick from its
    // event loop. The engine disables it at the start of every tick and keeps it off during a run.
    virtual void SetTimerEnabled(bool enabled) = 0;
};

} // namespace engine
