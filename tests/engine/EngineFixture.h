#pragma once

#include <functional>

#include "common/TestKit.h"
#include "engine/run/RunController.h"
#include "engine/run/RunHost.h"

// A front end without a display: fields are plain members a test may change at any time, every output
// call is kept in order ("max N", "value N", "text T", "status T", "message T", "quit 0/1", "timer 0/1"),
// and onPump runs at every pending-messages call (press "Migrieren" again, close, edit a field).
struct RecordingHost : engine::RunHost
{
    std::string source, dest, temp, pacs = "HIPAX";
    int debug = 0;
    std::vector<std::string> calls;
    struct Message
    {
        engine::MessageKind kind;
        std::string text, caption;
    };
    std::vector<Message> messages;
    bool quitEnabled = true;
    int pumps = 0;
    std::function<void(int pump)> onPump;

    std::string SourceText() override { return source; }
    std::string DestText() override { return dest; }
    std::string TempText() override { return temp; }
    std::string PacsText() override { return pacs; }
    int DebugValue() override { return debug; }
    void SetProgressMax(std::int64_t maximum) override { calls.push_back("max " + std::to_string(maximum)); }
    void SetProgressValue(std::int64_t value) override { calls.push_back("value " + std::to_string(value)); }
    void SetProgressText(std::string_view text) override { calls.push_back("text " + std::string(text)); }
    void SetStatusLine(std::string_view text) override { calls.push_back("status " + std::string(text)); }
    void ShowMessage(engine::MessageKind kind, std::string_view text, std::string_view caption) override
    {
        messages.push_back({kind, std::string(text), std::string(caption)});
        calls.push_back("message " + std::string(text));
    }
    // The summary box's findings are kept apart, so that a box's text is what the run's counts make it.
    std::string findings;
    void ShowRunSummary(engine::MessageKind kind, std::string_view text, std::string_view shownFindings,
        std::string_view caption) override
    {
        findings = shownFindings;
        ShowMessage(kind, text, caption);
    }
    engine::Answer answer = engine::Answer::No; // to every question: the disc again is migrated whole
    engine::Answer AskQuestion(std::string_view text, std::string_view) override
    {
        calls.push_back("question " + std::string(text));
        return answer;
    }
    void ProcessPendingMessages() override { onPump ? onPump(++pumps) : void(); }
    void SetQuitEnabled(bool enabled) override { calls.push_back((quitEnabled = enabled) ? "quit 1" : "quit 0"); }
    void SetTimerEnabled(bool enabled) override { calls.push_back(enabled ? "timer 1" : "timer 0"); }
};

// A program folder, a source tree, a destination and a temp folder of the test's own, and an engine
// behind a recording host whose log lines carry the stamp "S".
struct EngineWorld
{
    testing_support::TempDir root;
    RecordingHost host;
    engine::RunController engine {host, root / "program", [] { return std::string("S"); }};

    EngineWorld()
    {
        for (const char* folder : {"program", "src", "dest", "temp"}) {
            MakeFolders(root / folder);
        }
        host.source = root / "src";
        host.dest = root / "dest";
        host.temp = root / "temp";
    }
    void Migrate()
    {
        engine.StartRun();
        engine.RunUntilIdle();
    }
    std::vector<std::string> ErrorLines() const { return testing_support::LogLines(root / "program/Logs/Error.txt"); }
    std::vector<std::string> DebugLines() const
    {
        return testing_support::LogLines(root / "program/Logs/DebugPelta.log");
    }
    std::string LastMessage() const { return host.messages.empty() ? "" : host.messages.back().text; }
};

class EngineFixture : public ::testing::Test, public EngineWorld
{ };

inline std::string Summary(int migrated, int checked)
{
    return std::to_string(migrated) + " von " + std::to_string(checked)
        + " Dateien konnten erfolgreich migriert werden.\r\n\r\nBitte legen Sie die nächste CD / DVD ein.";
}
