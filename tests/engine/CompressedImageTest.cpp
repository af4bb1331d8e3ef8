#include "EngineFixture.h"

#include <filesystem>
#include <set>

#include "engine/decode/DecodeAhead.h"

using namespace testing_support;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string Image(int n)
{
    return "\0\0\0\0DICM image "s + std::to_string(n) + std::string(20000 + n, static_cast<char>('a' + n));
}

std::string Container(const std::string& image)
{
    return "APX header without zero bytes;" + image + "#*lastfile*#trailer";
}

} // namespace

using CompressedImages = EngineFixture;

TEST_F(CompressedImages, ArztUndPraxisUnwrapsGoodContainersAndQuarantinesTheRest)
{
    const std::string noMarker = Filter("gzip -c", "lead\0"s + Image(3));
    WriteFile(root / "src/IMG0001.Z", Filter("gzip -c -9", Container(Image(1))));
    WriteFile(root / "src/IMG0002.R", Filter("compress -c -f", Container(Image(2))));
    WriteFile(root / "src/IMG0003.Z", noMarker);
    WriteFile(root / "src/IMG0004.Z", "not compressed at all");
    WriteFile(root / "src/NOEXTZ", Filter("gzip -c", Container(Image(5))));
    WriteFile(root / "src/scan.dcm", "not selected");
    WriteFile(root / "src/sub/IMG0003.Z", noMarker);
    WriteFile(root / "src/sub2/IMG0003.Z", "also bad");
    MakeFolders(root / "dest/BadObjects"); // an existing quarantine folder is used as it is
    const auto sourceBefore = Snapshot(root / "src");
    host.pacs = "Arzt und Praxis";
    host.debug = 1;
    std::vector<std::string> leftInWork;
    host.onPump = [&](int) {
        // Nothing of an image is put into the work folder (nor the run's own folder inside it).
        for (const auto& entry : fs::recursive_directory_iterator(root / "temp/TempPelta")) {
            if (!entry.is_directory()) {
                leftInWork.push_back(entry.path().filename().string());
            }
        }
    };

    Migrate();

    EXPECT_EQ(LastMessage(), Summary(3, 7));
    std::vector<std::string> images;
    for (const auto& name : Names(root / "dest")) {
        if (name != "BadObjects") {
            images.push_back(ReadFile(root / "dest/" + name));
        }
    }
    std::sort(images.begin(), images.end());
    EXPECT_EQ(images, (std::vector<std::string> {Image(1), Image(2), Image(5)}));
    EXPECT_EQ(Names(root / "dest/BadObjects"),
        (std::vector<std::string> {"IMG0003.err", "IMG00032.err", "IMG00033.err", "IMG0004.err"}));
    EXPECT_EQ(ReadFile(root / "dest/BadObjects/IMG0003.err"), noMarker);
    EXPECT_EQ(ReadFile(root / "dest/BadObjects/IMG00033.err"), "also bad");
    EXPECT_EQ(ErrorLines(),
        (std::vector<std::string> {"S - -1 - File IMG0003.Z could not be migrated. - CorrectImage",
            "S - -1 - File IMG0004.Z could not be migrated. - CorrectImage",
            "S - -1 - File IMG0003.Z could not be migrated. - CorrectImage",
            "S - -1 - File IMG0003.Z could not be migrated. - CorrectImage"}));
    const auto debug = DebugLines();
    for (const char* line : {"S - IMG0001.Z is migrated.", "S - IMG0002.R is migrated.", "S - NOEXTZ is migrated.",
             "S - IMG0004.Z: not in gzip format", "S - ERROR: -1 - File IMG0004.Z could not be migrated."}) {
        EXPECT_NE(std::find(debug.begin(), debug.end(), line), debug.end()) << line;
    }
    EXPECT_TRUE(leftInWork.empty()) << "nothing of an image waits in the work folder";
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
    EXPECT_EQ(Snapshot(root / "src"), sourceBefore);
    EXPECT_EQ(engine->LastRun().rejected, 4);
}

TEST_F(CompressedImages, StarcCopiesDecompressedImagesAndQuarantinesUndecompressableOnes)
{
    const std::string whole = Filter("gzip -c", Image(2));
    const std::string truncated = whole.substr(0, whole.size() / 2);
    WriteFile(root / "src/00000001.AR", Filter("gzip -c", Image(1)));
    WriteFile(root / "src/00000002.ar", truncated);
    WriteFile(root / "src/00000003.AR", Filter("compress -c -f", Image(3)));
    WriteFile(root / "src/STUDY.IDX", "index");
    host.pacs = "STARC";
    host.debug = 1;
    Migrate();

    EXPECT_EQ(LastMessage(), Summary(2, 3));
    EXPECT_EQ(ReadFile(root / "dest/BadObjects/00000002.err"), truncated);
    fs::remove_all(root / "dest/BadObjects");
    EXPECT_EQ(DestContents(), (std::vector<std::string> {Image(1), Image(3)}));
    EXPECT_EQ(
        ErrorLines(), std::vector<std::string> {"S - -1 - File 00000002.ar could not be migrated. - CorrectImage"});
    for (const auto& line : DebugLines()) {
        EXPECT_FALSE(line.ends_with(" is migrated.")) << "STARC images add no debug line: " << line;
    }
}

TEST_F(CompressedImages, QuarantineStemsAreTheNameUpToItsLastDot)
{
    for (const char* name : {"IMAGE001.Z", "IMAGE002.Z", "a.b.Z", ".Z", "NODOTZ", "IMAGE001.DCZ"}) {
        WriteFile(root / "src/" + name, "bad");
    }
    host.pacs = "Arzt und Praxis";
    Migrate();
    EXPECT_EQ(Names(root / "dest/BadObjects"),
        (std::vector<std::string> {".err", "IMAGE001.err", "IMAGE0012.err", "IMAGE002.err", "NODOTZ.err", "a.b.err"}));
    EXPECT_EQ(ErrorLines().size(), 6u) << "one line per rejected image";
}

TEST_F(CompressedImages, FileSystemFailuresAreLoggedNotQuarantined)
{
    WriteFile(root / "src/BIG.Z", Filter("gzip -c", Container(Image(1) + std::string(300000, 'x'))));
    {
        const FileSizeLimit fullDisk(100 * 1024);
        host.pacs = "Arzt und Praxis";
        Migrate();
    }
    EXPECT_EQ(ErrorLines(), std::vector<std::string> {"S - 27 - File too large - ScanFolder - BIG.Z"});
    EXPECT_TRUE(Names(root / "dest").empty());
    EXPECT_EQ(LastMessage(), Summary(0, 1));
    Migrate();
    EXPECT_EQ(LastMessage(), Summary(1, 1)) << "with room again, a rerun migrates it";

    // A quarantine that cannot be written: the rejection and the reason, each on its line.
    fs::remove_all(root / "dest");
    MakeFolders(root / "dest");
    WriteFile(root / "dest/BadObjects", "a file in the way");
    WriteFile(root / "src/BIG.Z", "bad");
    Migrate();
    const auto lines = ErrorLines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
        (std::vector<std::string> {"S - -1 - File BIG.Z could not be migrated. - CorrectImage",
            "S - 20 - Not a directory - ScanFolder - BIG.Z"}));
    EXPECT_EQ(engine->LastRun().failed, 1);
}

TEST_F(CompressedImages, FilesDecodedAheadAreTakenOnlyAsTheyAreAtTheirTurn)
{
    // Each file is decoded ahead while the one before it is handled. One that is replaced meanwhile
    // is read again at its turn; one whose image is larger than a decode ahead takes is decoded then.
    const std::string large = "\0\0\0\0DICM"s + std::string(engine::DecodeAhead::MaxOutputBytes + 5, 'z');
    WriteFile(root / "src/00000001.AR", Filter("gzip -c", Image(1)));
    WriteFile(root / "src/00000002.AR", Filter("gzip -c", Image(2)));
    WriteFile(root / "src/00000003.AR", Filter("gzip -c", large));
    WriteFile(root / "src/00000004.AR", Filter("compress -c -f", Image(4)));
    host.pacs = "STARC";
    bool replaced = false;
    host.onPump = [&](int) {
        // After the first image: its handling has started the second one's decoding.
        if (!replaced && engine->State().MigratedCount == 1) {
            WriteFile(root / "src/00000002.AR", Filter("gzip -c", Image(7)));
            replaced = true;
        }
    };

    Migrate();

    ASSERT_TRUE(replaced);
    EXPECT_EQ(LastMessage(), Summary(4, 4));
    std::multiset<std::string> images;
    for (const auto& name : Names(root / "dest")) {
        images.insert(ReadFile(root / "dest/" + name));
    }
    EXPECT_EQ(images, (std::multiset<std::string> {Image(1), Image(7), large, Image(4)}));
    EXPECT_TRUE(ErrorLines().empty());
}
