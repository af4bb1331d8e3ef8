#include "common/TestKit.h"
#include "support/ProcessWatch.h"

TEST(FindProcess, FindsARunningProcessByAPartOfItsExecutableNameInAnyLetterCase)
{
    const std::uint32_t found = support::FindProcess("EST_SUPPOR"); // this very test program is one
    ASSERT_GT(found, 0u);
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(found) + "/exe").filename(), "test_support");
    EXPECT_EQ(support::FindProcess("zet-pelta-no-such-program"), 0u);
}
