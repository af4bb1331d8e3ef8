#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/TempTree.h"
#include "support/ProcessWatch.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// A child running a copy of sleep under the given file name, ended when the object goes.
class Sleeper
{
public:
    explicit Sleeper(const std::string& executable)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(executable.c_str(), executable.c_str(), "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // The child shows under its new name only once exec has happened.
        for (int i = 0; i < 500 && fs::read_symlink("/proc/" + std::to_string(m_pid) + "/exe") != executable; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Sleeper() { Stop(); }
    void Stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }
    std::uint32_t Pid() const { return static_cast<std::uint32_t>(m_pid); }

private:
    pid_t m_pid = 0;
};

} // namespace

TEST(FindProcess, FindsTheFirstProcessWhoseExecutableNameContainsTheText)
{
    TempDir dir;
    // Longer than the kernel's 15-character short name, so a match needs the whole name.
    const std::string executable = dir / "ZetPeltaWatch-Sleeper.exe";
    fs::copy_file("/bin/sleep", executable);
    Sleeper first(executable);
    Sleeper second(executable);
    const std::uint32_t earlier = std::min(first.Pid(), second.Pid());

    EXPECT_EQ(support::FindProcess("ZetPeltaWatch-Sleeper.exe"), earlier);
    EXPECT_EQ(support::FindProcess("zetpeltawatch-sleeper.EXE"), earlier) << "letter case ignored";
    EXPECT_EQ(support::FindProcess("watch-sleeper.e"), earlier) << "a part of the name is enough";
    EXPECT_EQ(support::FindProcess("sleeper.exe.old"), 0u);

    first.Stop();
    second.Stop();
    EXPECT_EQ(support::FindProcess("zetpeltawatch-sleeper.exe"), 0u) << "ended processes are gone";
}

TEST(FindProcess, AnEmptyNameMatchesTheFirstProcessListed)
{
    const std::uint32_t first = support::FindProcess("");
    EXPECT_GT(first, 0u);
    EXPECT_LE(first, static_cast<std::uint32_t>(::getpid())) << "the list is in ascending order";
}

TEST(ProcessTag, TellsLeftoversOfDeadProcessesFromLiveOnes)
{
    const std::string own = support::ProcessTag();
    EXPECT_TRUE(support::IsProcessTag(own));
    EXPECT_FALSE(support::IsLeftoverOfDeadProcess(own + "-0123.part")) << "this process runs";

    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    const std::string host = own.substr(0, own.find('-'));
    EXPECT_TRUE(support::IsLeftoverOfDeadProcess(host + "-" + std::to_string(child) + "-0123.part"));
    EXPECT_TRUE(support::IsProcessTag(host + "-" + std::to_string(child)));

    // Another machine's files, and names that are no tags, are never taken for leftovers.
    const std::string otherHost = host == "00000000" ? "00000001" : "00000000";
    EXPECT_FALSE(support::IsLeftoverOfDeadProcess(otherHost + "-" + std::to_string(child)));
    for (const char* name : {"", "-", "IMG0001.dcm.z", "zzzzzzzz-12", "0000000-12"}) {
        EXPECT_FALSE(support::IsProcessTag(name)) << name;
        EXPECT_FALSE(support::IsLeftoverOfDeadProcess(name)) << name;
    }
}
