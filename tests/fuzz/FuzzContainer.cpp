// The "Arzt und Praxis" container cut on any content: the result, if any, must be the part from the
// first zero byte up to the first end marker after it, and the streaming cut, fed in chunks of a size
// taken from the input, must agree with it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/decode/ImageContainer.h"

namespace {

void CheckWholeCut(std::string_view content)
{
    constexpr std::string_view Marker = "#*lastfile*#";
    const auto zero = content.find('\0');
    const auto marker = zero == std::string_view::npos ? std::string_view::npos : content.find(Marker, zero);
    const auto cut = engine::CorrectImage(content);
    if (marker == std::string_view::npos) {
        if (cut) {
            std::abort();
        }
        return;
    }
    if (!cut || cut->data() != content.data() + zero || cut->size() != marker - zero) {
        std::abort();
    }
}

void CheckStreamingCut(std::string_view content)
{
    const std::size_t chunk = content.empty() ? 1 : 1 + static_cast<unsigned char>(content.back()) % 40;
    engine::ContainerCut stream;
    std::string image;
    const engine::ContainerCut::Sink sink = [&image](std::string_view bytes) {
        image.append(bytes);
        return std::error_code {};
    };
    for (std::size_t offset = 0; offset < content.size(); offset += chunk) {
        stream.Feed(content.substr(offset, chunk), sink);
    }
    const auto whole = engine::CorrectImage(content);
    if (stream.Found() != whole.has_value() || (whole && image != *whole)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    CheckWholeCut(content);
    CheckStreamingCut(content);
    return 0;
}
