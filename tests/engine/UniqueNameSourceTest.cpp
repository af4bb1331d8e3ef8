#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "engine/UniqueNameSource.h"

using engine::UniqueNameSource;

TEST(UniqueNameSource, CanonicalLowerCaseVersion7)
{
    UniqueNameSource names;
    const std::regex v7("[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    std::string previous;
    for (int i = 0; i < 20000; ++i) {
        const std::string name = names.Next();
        ASSERT_TRUE(std::regex_match(name, v7)) << name;
        ASSERT_GT(name, previous) << "names of one source rise, so a folder lists in migration order";
        ASSERT_TRUE(seen.insert(name).second);
        previous = name;
    }
}

TEST(UniqueNameSource, TimePrefixAndCounterWithinOneMillisecond)
{
    std::uint64_t now = 0x0123456789ABull;
    UniqueNameSource names([&] { return now; }, [] { return std::uint64_t {0}; });
    EXPECT_EQ(names.Next(), "01234567-89ab-7000-8000-000000000000");
    EXPECT_EQ(names.Next(), "01234567-89ab-7001-8000-000000000000");
    now -= 5; // the clock steps back: still rising
    EXPECT_EQ(names.Next(), "01234567-89ab-7002-8000-000000000000");
    now += 10;
    EXPECT_EQ(names.Next(), "01234567-89b0-7000-8000-000000000000");
}

TEST(UniqueNameSource, CounterOverflowMovesToTheNextMillisecond)
{
    UniqueNameSource names([] { return std::uint64_t {1}; }, [] { return ~std::uint64_t {0}; });
    std::string last;
    for (int i = 0; i < 0x1000 - 0x7FF + 1; ++i) {
        const std::string name = names.Next();
        ASSERT_GT(name, last);
        last = name;
    }
    EXPECT_EQ(last, "00000000-0002-7000-bfff-ffffffffffff");
}
