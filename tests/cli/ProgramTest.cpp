#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

#include "common/CliOutput.h"
#include "common/TempTree.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct Result
{
    int status;
    std::string out;
    std::string err;
};

// Runs the program from a working directory of its own, with output captured in files.
Result RunProgram(const std::string& program, const std::string& workDir, const std::string& args)
{
    const std::string command
        = "cd '" + workDir + "' && '" + program + "' " + args + " >'" + workDir + "/.out' 2>'" + workDir + "/.err'";
    const int raw = std::system(command.c_str());
    Result result {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(workDir + "/.out"), ReadFile(workDir + "/.err")};
    fs::remove(workDir + "/.out");
    fs::remove(workDir + "/.err");
    return result;
}

} // namespace

TEST(Program, RunsFromItsOwnFolderWithNonAsciiPaths)
{
    TempDir root;
    MakeFolders(root / "Programme");
    const std::string program = root / "Programme/zet-pelta-cli";
    fs::copy_file(ZP_CLI_PROGRAM, program);
    WriteFile(root / "Quelle Ä/Röntgen 1", "r1");
    WriteFile(root / "Quelle Ä/Ordner ß/Röntgen 2", "r2");
    MakeFolders(root / "Ziel ü");
    MakeFolders(root / "Temp");
    MakeFolders(root / "cwd");

    const std::string args = "--pacs HIPAX --source '" + root / "Quelle Ä" + "' --dest '" + root / "Ziel ü"
        + "' --temp '" + root / "Temp" + "'";
    const Result ok = RunProgram(program, root / "cwd", args);
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(SummaryPart(ok.out),
        "2 von 2 Dateien konnten erfolgreich migriert werden.\n\nBitte legen Sie die nächste CD / DVD ein.\n");
    EXPECT_EQ(Names(root / "Ziel ü").size(), 2u);

    // Logs go beside the program, never into the working directory.
    const Result refused = RunProgram(program, root / "cwd", "--pacs HIPAX --source '" + root / "fehlt" + "'");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "Quellverzeichnis exestiert nicht.\n");
    const auto lines = LogLines(root / "Programme/Logs/Error.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" - -1 - Source folder doesn´t exist. - Start")) << lines[0];
    EXPECT_TRUE(Names(root / "cwd").empty());
}
