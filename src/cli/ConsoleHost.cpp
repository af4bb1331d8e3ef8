#include "cli/ConsoleHost.h"

#include <algorithm>

#include "engine/common/Texts.h"

namespace cli {

namespace {

constexpr auto RedrawInterval = std::chrono::milliseconds(100);
constexpr int BarWidth = 20;

// Keeps the end of a text, which holds the file name, when it is too long for the line; never
// starts inside a UTF-8 sequence.
std::string TailThatFits(std::string_view text, size_t width)
{
    if (text.size() <= width) {
        return std::string(text);
    }
    size_t start = text.size() - width + 3;
    while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
        ++start;
    }
    return "..." + std::string(text.substr(start));
}

} // namespace

std::string BoxTextAsLines(std::string_view text)
{
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        lines += text[i];
    }
    if (lines.empty() || lines.back() != '\n') {
        lines += '\n';
    }
    return lines;
}

ConsoleHost::ConsoleHost(support::Settings fields, Output output)
    : m_fields(std::move(fields))
    , m_output(output)
{ }

void ConsoleHost::SetInterruptCheck(std::function<bool()> interrupted, std::function<void()> onInterrupt)
{
    m_interrupted = std::move(interrupted);
    m_onInterrupt = std::move(onInterrupt);
}

void ConsoleHost::SetCountsSource(std::function<std::string()> counts)
{
    m_counts = std::move(counts);
}

void ConsoleHost::SetProgressMax(std::int64_t maximum)
{
    m_maximum = maximum;
}

void ConsoleHost::SetProgressValue(std::int64_t value)
{
    m_value = value;
}

void ConsoleHost::SetStatusLine(std::string_view text)
{
    // "Datei <path> wird migriert...": the live line shows the path alone.
    constexpr std::string_view prefix = "Datei ";
    constexpr std::string_view suffix = " wird migriert...";
    if (text.starts_with(prefix) && text.ends_with(suffix)) {
        text = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    }
    m_currentFile = text;
}

void ConsoleHost::ShowMessage(engine::MessageKind kind, std::string_view text, std::string_view)
{
    EndLiveLine();
    auto& stream = kind == engine::MessageKind::Stop ? m_output.err : m_output.out;
    stream << BoxTextAsLines(text) << std::flush;
}

engine::Answer ConsoleHost::AskQuestion(std::string_view text, std::string_view)
{
    EndLiveLine();
    if (m_onlyMissing) {
        return engine::Answer::Yes; // as asked; the summary counts what was there already
    }
    // The window's question, told as what the console program does: it has nobody to ask.
    std::string told(text);
    if (told.ends_with(engine::texts::OnlyMissingQuestion)) {
        told.resize(told.size() - engine::texts::OnlyMissingQuestion.size());
    }
    m_output.err << "Hinweis: " << told
                 << " Sie wird ganz migriert; nur die fehlenden Dateien migriert ein Aufruf mit --only-missing.\n";
    return engine::Answer::No;
}

void ConsoleHost::ProcessPendingMessages()
{
    if (m_interrupted && m_interrupted() && m_onInterrupt) {
        m_onInterrupt();
    }
    DrawLiveLine();
}

void ConsoleHost::DrawLiveLine()
{
    if (!m_output.liveProgress) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_lineShown && now - m_lastDraw < RedrawInterval) {
        return;
    }
    m_lastDraw = now;

    const std::int64_t maximum = std::max<std::int64_t>(m_maximum, 1);
    const auto filled = static_cast<int>(std::clamp<std::int64_t>(m_value * BarWidth / maximum, 0, BarWidth));
    std::string line(1, '[');
    line.append(static_cast<size_t>(filled), '#').append(static_cast<size_t>(BarWidth - filled), '.');
    line.append("] ").append(std::to_string(m_value)).append("/").append(std::to_string(m_maximum));
    if (m_counts) {
        line += "  " + m_counts();
    }
    line += "  ";
    const size_t room = m_output.columns > static_cast<int>(line.size()) + 8
        ? static_cast<size_t>(m_output.columns) - line.size() - 1
        : 8;
    line += TailThatFits(m_currentFile, room);
    m_output.err << "\r\x1b[K" << line << std::flush;
    m_lineShown = true;
}

void ConsoleHost::EndLiveLine()
{
    if (m_lineShown) {
        m_output.err << "\r\x1b[K" << std::flush;
        m_lineShown = false;
    }
}

} // namespace cli
