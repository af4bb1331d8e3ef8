// The "Arzt und Praxis" container cut on any content: the result, if any, must be the part from the
// first zero byte up to the first end marker after it, and the streaming cut, fed in chunks of a size
// taken from the input, must agree with it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/decode/ImageContainer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const auto zero = content.find('\0');
    const auto marker = zero == std::string_view::npos ? zero : content.find("#*lastfile*#", zero);
    const auto cut = engine::CorrectImage(content);
    if (cut.has_value() != (marker != std::string_view::npos)
        || (cut && (cut->data() != content.data() + zero || cut->size() != marker - zero))) {
        std::abort();
    }
    const std::size_t chunk = size == 0 ? 1 : 1 + data[size - 1] % 40;
    engine::ContainerCut stream;
    std::string image;
    for (std::size_t offset = 0; offset < size; offset += chunk) {
        stream.Feed(content.substr(offset, chunk), [&image](std::string_view bytes) {
            image.append(bytes);
            return std::error_code {};
        });
    }
    if (stream.Found() != cut.has_value() || (cut && image != *cut)) {
        std::abort();
    }
    return 0;
}
