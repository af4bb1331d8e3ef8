#pragma once

#include <string>

namespace testing_support {

// The summary box's lines of the console program's output, without the report lines after them.
inline std::string SummaryPart(const std::string& out)
{
    const std::string end = "CD / DVD ein.\n";
    const auto at = out.find(end);
    return at == std::string::npos ? out : out.substr(0, at + end.size());
}

// The output's last line, without its line end.
inline std::string LastLine(const std::string& out)
{
    const std::string text = out.ends_with("\n") ? out.substr(0, out.size() - 1) : out;
    return text.substr(text.rfind('\n') + 1);
}

} // namespace testing_support
