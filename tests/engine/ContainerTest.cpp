#include "common/TestKit.h"

#include "engine/decode/ImageContainer.h"

namespace {

// Content, and the image cut out of it.
const std::vector<std::pair<std::string, std::optional<std::string>>> Cases = {
    {"ABC\0\0DICM data#*lastfile*#XYZ"s, "\0\0DICM data"s},
    {"\0DICM#*lastfile*#"s, "\0DICM"s},
    {"head\0#*lastfile*#"s, "\0"s},
    {"h\0a#*lastfile*#b#*lastfile*#"s, "\0a"s},
    {"h\0#*last#*lastfile#*lastfile*#t"s, "\0#*last#*lastfile"s},
    {"h\0"s + std::string(100, 'd') + "#*lastfile*#", "\0"s + std::string(100, 'd')},
    {"", std::nullopt},
    {"ABC#*lastfile*#DEF", std::nullopt},
    {"ABC\0DICM data"s, std::nullopt},
    {"#*lastfile*#ABC\0DICM"s, std::nullopt},
    {"#*last\0file*#"s, std::nullopt},
    {"A\0B#*lastfile*"s, std::nullopt},
    {"A\0B#*LASTFILE*#"s, std::nullopt},
};

} // namespace

// The cut from the first zero byte to the first marker after it, on the whole container and streaming:
// the streaming cut takes the container in pieces as they come from the decoder, and cut into three
// at every pair of split points, it must give the same.
TEST(ContainerCut, CutsFromTheFirstZeroToTheFirstMarkerAfterItWhereverThePiecesEnd)
{
    for (const auto& [whole, expected] : Cases) {
        const auto cutWhole = engine::CorrectImage(whole);
        EXPECT_EQ(cutWhole ? std::optional(std::string(*cutWhole)) : std::nullopt, expected) << whole;
        const std::string_view content = whole;
        for (std::size_t first = 0; first <= content.size(); ++first) {
            for (std::size_t second = first; second <= content.size(); ++second) {
                engine::ContainerCut cut;
                std::string image;
                const engine::ContainerCut::Sink sink = [&image](std::string_view bytes) {
                    image.append(bytes);
                    return std::error_code {};
                };
                cut.Feed(content.substr(0, first), sink);
                cut.Feed(content.substr(first, second - first), sink);
                cut.Feed(content.substr(second), sink);
                ASSERT_EQ(cut.Found() ? std::optional(image) : std::nullopt, expected)
                    << whole << ", split at " << first << " and " << second;
            }
        }
    }
}
