#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/RunHost.h"

namespace testing_support {

// A front end without a display: fields are plain members a test may change at any time, every
// output call is kept in order, and a scripted action can run at the N-th pending-messages call
// (press "Migrieren" again, close the window, edit a field, delete a folder).
class RecordingHost : public engine::RunHost
{
public:
    struct Message
    {
        engine::MessageKind kind;
        std::string text;
        std::string caption;
    };

    std::string source, dest, temp, pacs = "HIPAX";
    int debug = 0;

    // "max N", "value N", "text T", "status T", "message T", "quit 0/1", "timer 0/1" in call order;
    // pending-messages calls are only counted.
    std::vector<std::string> calls;
    std::vector<Message> messages;
    std::vector<std::string> progressTexts;
    std::int64_t progressMax = 0;
    std::int64_t progressValue = 0;
    std::string progressText;
    std::string statusLine;
    bool quitEnabled = true;
    bool timerEnabled = false;
    int pumps = 0;
    std::function<void(int pump)> onPump;

    std::string SourceText() override { return source; }
    std::string DestText() override { return dest; }
    std::string TempText() override { return temp; }
    std::string PacsText() override { return pacs; }
    int DebugValue() override { return debug; }

    void SetProgressMax(std::int64_t maximum) override;
    void SetProgressValue(std::int64_t value) override;
    void SetProgressText(std::string_view text) override;
    void SetStatusLine(std::string_view text) override;
    void ShowMessage(engine::MessageKind kind, std::string_view text, std::string_view caption) override;
    void ProcessPendingMessages() override;
    void SetQuitEnabled(bool enabled) override;
    void SetTimerEnabled(bool enabled) override;
};

} // namespace testing_support
