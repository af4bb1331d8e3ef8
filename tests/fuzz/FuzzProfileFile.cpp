// Settings.ini content of any shape, as an editor or a damaged disk may leave it. Reading must not
// fail, and a value the program writes into it must read back unchanged (blanks at its ends aside),
// with every other entry of the program's five and the byte-order marks at its front left as they were.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "support/ProfileFile.h"

namespace {

// The program's five entries, section and key.
constexpr std::pair<std::string_view, std::string_view> Names[] = {{"Temp", "TempPath"}, {"Path", "DestinationPath"},
    {"Path", "SourcePath"}, {"Debug", "DebugValue"}, {"PACS", "PACS"}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    // First byte: which entry to write; then the value up to the first NUL; the rest is the file.
    const auto& target = Names[data[0] % std::size(Names)];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto split = rest.find('\0');
    const std::string_view value = split == std::string_view::npos ? rest : rest.substr(0, split);
    const std::string content(split == std::string_view::npos ? std::string_view {} : rest.substr(split + 1));

    std::optional<std::string> before[std::size(Names)];
    for (std::size_t i = 0; i < std::size(Names); ++i) {
        before[i] = support::FindIniValue(content, Names[i].first, Names[i].second);
    }
    const auto written = support::SetIniValue(content, target.first, target.second, value);
    if (!written) {
        if (value.find_first_of("\r\n") == std::string_view::npos) {
            std::abort(); // only a line break may be refused
        }
        return 0;
    }
    const std::size_t marks = std::min(content.find_first_not_of("\xEF\xBB\xBF"), content.size());
    if (written->compare(0, marks, content, 0, marks) != 0) {
        std::abort();
    }
    for (std::size_t i = 0; i < std::size(Names); ++i) {
        const auto after = support::FindIniValue(*written, Names[i].first, Names[i].second);
        const bool isTarget = &Names[i] == &target;
        const auto first = value.find_first_not_of(" \t"); // a value loses the blanks at its ends
        const std::string trimmed(
            first == value.npos ? "" : value.substr(first, value.find_last_not_of(" \t") + 1 - first));
        if (isTarget ? after != trimmed : after != before[i]) {
            std::abort();
        }
    }
    return 0;
}
