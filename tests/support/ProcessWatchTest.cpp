#include "common/TestKit.h"

#include <csignal>
#include <thread>

#include "support/ProcessWatch.h"

TEST(FindProcess, FindsARunningProcessByAPartOfItsExecutableNameInAnyLetterCase)
{
    TempDir dir; // a copy of sleep whose name has capitals and is longer than the kernel's short name
    const std::string program = dir / "ZetPelta-WatchedProgram";
    ASSERT_EQ(std::system(("cp /bin/sleep '" + program + "' && ('" + program + "' 60 &)").c_str()), 0);
    std::uint32_t found = 0;
    for (int i = 0; i < 500 && found == 0; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        found = support::FindProcess("zetpelta-watchedPROG");
    }
    ASSERT_GT(found, 0u);
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(found) + "/exe"), program);
    ::kill(static_cast<pid_t>(found), SIGKILL);
    EXPECT_EQ(support::FindProcess("zetpelta-no-such-program"), 0u);
}
