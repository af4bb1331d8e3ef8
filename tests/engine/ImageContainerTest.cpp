#include <gtest/gtest.h>

#include "engine/decode/ImageContainer.h"

using engine::CorrectImage;
using namespace std::string_literals;

TEST(CorrectImage, CutsFromTheFirstZeroToTheFirstMarkerAfterIt)
{
    struct Case
    {
        const char* name;
        std::string content;
        std::optional<std::string> image;
    };
    const std::vector<Case> cases = {
        {"layout", "ABC\0\0DICM data#*lastfile*#XYZ"s, "\0\0DICM data"s},
        {"zero first", "\0DICM#*lastfile*#"s, "\0DICM"s},
        {"marker right after the zero", "head\0#*lastfile*#"s, "\0"s},
        {"later markers belong to the trailer", "h\0a#*lastfile*#b#*lastfile*#"s, "\0a"s},
        {"empty", "", std::nullopt},
        {"no zero", "ABC#*lastfile*#DEF", std::nullopt},
        {"no marker after the zero", "ABC\0DICM data"s, std::nullopt},
        {"marker only before the zero", "#*lastfile*#ABC\0DICM"s, std::nullopt},
        {"marker split by the zero", "#*last\0file*#"s, std::nullopt},
        {"marker in other letter case", "A\0B#*LASTFILE*#"s, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = CorrectImage(c.content);
        ASSERT_EQ(image.has_value(), c.image.has_value());
        if (image) {
            EXPECT_EQ(std::string(*image), *c.image);
        }
    }
}
