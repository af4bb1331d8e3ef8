#include "common/TestKit.h"

#include <regex>

#include "engine/run/UniqueNameSource.h"

TEST(UniqueNameSource, RisingLowerCaseVersion7NamesManyWithinAMillisecond)
{
    engine::UniqueNameSource names;
    const std::regex v7("[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen {""};
    for (int i = 0; i < 20000; ++i) {
        const std::string name = names.Next();
        ASSERT_TRUE(std::regex_match(name, v7) && name > *seen.rbegin() && seen.insert(name).second) << name;
    }
}
