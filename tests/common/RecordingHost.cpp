#include "common/RecordingHost.h"

namespace testing_support {

void RecordingHost::SetProgressMax(std::int64_t maximum)
{
    progressMax = maximum;
    calls.push_back("max " + std::to_string(maximum));
}

void RecordingHost::SetProgressValue(std::int64_t value)
{
    progressValue = value;
    calls.push_back("value " + std::to_string(value));
}

void RecordingHost::SetProgressText(std::string_view text)
{
    progressText = text;
    progressTexts.emplace_back(text);
    calls.push_back("text " + std::string(text));
}

void RecordingHost::SetStatusLine(std::string_view text)
{
    statusLine = text;
    calls.push_back("status " + std::string(text));
}

void RecordingHost::ShowMessage(engine::MessageKind kind, std::string_view text, std::string_view caption)
{
    messages.push_back({kind, std::string(text), std::string(caption)});
    calls.push_back("message " + std::string(text));
}

void RecordingHost::ProcessPendingMessages()
{
    ++pumps;
    if (onPump) {
        onPump(pumps);
    }
}

void RecordingHost::SetQuitEnabled(bool enabled)
{
    quitEnabled = enabled;
    calls.push_back(enabled ? "quit 1" : "quit 0");
}

void RecordingHost::SetTimerEnabled(bool enabled)
{
    timerEnabled = enabled;
    calls.push_back(enabled ? "timer 1" : "timer 0");
}

} // namespace testing_support
