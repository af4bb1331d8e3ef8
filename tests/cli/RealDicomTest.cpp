#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "cli/CliMain.h"
#include "common/CliOutput.h"
#include "common/TempTree.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Every DICOM file Debian's python3-pydicom ships for its own tests.
std::vector<std::string> RealDicomFiles()
{
    std::vector<std::string> files;
    for (const char* folder : {"/test_files", "/charset_files"}) {
        for (const auto& entry : fs::directory_iterator(std::string(ZP_PYDICOM_DATA) + folder)) {
            if (entry.path().extension() == ".dcm") {
                files.push_back(entry.path().string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

char Name(std::size_t i)
{
    return static_cast<char>('0' + i % 10);
}

class RealDicomDisc : public ::testing::Test
{
protected:
    TempDir root;
    std::ostringstream out, err;

    void SetUp() override
    {
        for (const char* folder : {"program", "src", "dest", "temp"}) {
            MakeFolders(root / folder);
        }
        ASSERT_GT(RealDicomFiles().size(), 50u);
    }

    int Migrate(const std::string& pacs)
    {
        const cli::Environment env {root / "program", out, err, false, 80, [] { return false; }};
        return cli::RunCli(
            {"--pacs", pacs, "--source", root / "src", "--dest", root / "dest", "--temp", root / "temp"}, env);
    }

    std::vector<std::string> Migrated() const
    {
        std::vector<std::string> contents;
        for (const auto& entry : fs::directory_iterator(root / "dest")) {
            if (entry.is_regular_file()) {
                contents.push_back(ReadFile(entry.path().string()));
            }
        }
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    std::vector<std::string> ErrorMessages() const
    {
        std::vector<std::string> messages;
        for (const auto& line : LogLines(root / "program/Logs/Error.txt")) {
            messages.push_back(line.substr(line.find(" - ") + 3)); // without the time stamp
        }
        return messages;
    }
};

} // namespace

TEST_F(RealDicomDisc, ArztUndPraxisImagesUnwrapToTheirDicomData)
{
    std::vector<std::string> expected;
    std::size_t i = 0;
    for (const auto& file : RealDicomFiles()) {
        const std::string dicom = ReadFile(file);
        const std::string container = "APX 3.1;Bild " + std::to_string(i) + ";" + dicom + "#*lastfile*#IMG;ENDE";
        // Gzip mostly, some Unix compress; in folders of ten, as the system stores them.
        const bool lzw = i % 4 == 3;
        const std::string name
            = "Patient " + std::string(1, Name(i / 10)) + "/IMG" + std::to_string(10000 + i) + (lzw ? ".R" : ".Z");
        WriteFile(root / "src/" + name, Filter(lzw ? "compress -c -f" : "gzip -c -9", container));
        // Some files' preambles are not all zeros: the image starts at the first zero byte all the same.
        expected.push_back(dicom.substr(dicom.find('\0')));
        ++i;
    }
    const std::string noMarker = Filter("gzip -c", ReadFile(RealDicomFiles().front()));
    const std::string plain = ReadFile(RealDicomFiles().back());
    WriteFile(root / "src/BAD1.Z", noMarker);
    WriteFile(root / "src/BAD2.Z", plain);
    WriteFile(root / "src/PATIENT.DB", "index, not selected");
    std::sort(expected.begin(), expected.end());

    EXPECT_EQ(Migrate("Arzt und Praxis"), cli::ExitWithFailures);
    EXPECT_EQ(SummaryPart(out.str()),
        std::to_string(i) + " von " + std::to_string(i + 2)
            + " Dateien konnten erfolgreich migriert werden.\n\nBitte legen Sie die nächste CD / DVD ein.\n");
    const auto migrated = Migrated();
    ASSERT_EQ(migrated.size(), expected.size());
    for (std::size_t n = 0; n < expected.size(); ++n) {
        EXPECT_TRUE(migrated[n] == expected[n]) << "image " << n << " differs";
    }
    EXPECT_TRUE(ReadFile(root / "dest/BadObjects/BAD1.err") == noMarker);
    EXPECT_TRUE(ReadFile(root / "dest/BadObjects/BAD2.err") == plain);
    EXPECT_EQ(ErrorMessages(),
        (std::vector<std::string> {"-1 - File BAD1.Z could not be migrated. - CorrectImage",
            "-1 - File BAD2.Z could not be migrated. - CorrectImage"}));
}

TEST_F(RealDicomDisc, StarcImagesArriveByteForByte)
{
    std::vector<std::string> expected;
    std::size_t i = 0;
    for (const auto& file : RealDicomFiles()) {
        const std::string dicom = ReadFile(file);
        WriteFile(root / "src/" + std::to_string(20000000 + i) + ".AR", Filter("gzip -c", dicom));
        expected.push_back(dicom);
        ++i;
    }
    const std::string cut = Filter("gzip -c", ReadFile(RealDicomFiles().front())).substr(0, 200);
    WriteFile(root / "src/CUT.AR", cut);
    std::sort(expected.begin(), expected.end());

    EXPECT_EQ(Migrate("STARC"), cli::ExitWithFailures);
    const auto migrated = Migrated();
    ASSERT_EQ(migrated.size(), expected.size());
    for (std::size_t n = 0; n < expected.size(); ++n) {
        EXPECT_TRUE(migrated[n] == expected[n]) << "image " << n << " differs";
    }
    EXPECT_TRUE(ReadFile(root / "dest/BadObjects/CUT.err") == cut);
    EXPECT_EQ(ErrorMessages(), std::vector<std::string> {"-1 - File CUT.AR could not be migrated. - CorrectImage"});
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
}
