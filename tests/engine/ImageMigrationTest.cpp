#include "common/TestKit.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <random>

#include "engine/run/ImageMigration.h"
#include "support/FileSystem.h"
#include "support/Log.h"
#include "support/Sha256.h"

using engine::Outcome;
using engine::Profile;

namespace {

std::string Image(int n)
{
    return "\0\0\0\0DICM image "s + std::to_string(n) + std::string(20000 + n, static_cast<char>('a' + n));
}

std::string Container(const std::string& image)
{
    return "APX header without zero bytes;" + image + "#*lastfile*#trailer";
}

std::string Sha(const std::string& bytes)
{
    support::Sha256 digest;
    digest.Update(bytes);
    return digest.HexDigest();
}

// One file at a time on its bytes: a source folder, a destination and a program folder for the logs,
// destination names "n1", "n2", ... and a debug log that is always on.
class ImageMigrationTest : public ::testing::Test
{
protected:
    TempDir root;
    support::Log log {root / "program", [] { return true; }, [] { return std::string("S"); }};
    int names = 0;
    engine::ImageMigration migration {log, [this] { return std::string("n").append(std::to_string(++names)); }, [] {}};

    void SetUp() override
    {
        MakeFolders(root / "program");
        MakeFolders(root / "dest");
    }

    engine::FileRecord Migrate(Profile profile, const std::string& name, const std::string& bytes)
    {
        WriteFile(root / "src/" + name, bytes);
        return MigrateExisting(profile, name);
    }
    engine::FileRecord MigrateExisting(Profile profile, const std::string& name)
    {
        auto done
            = migration.Migrate({root / "src/" + name, name, "rel/" + name, support::FileSize(root / "src/" + name)},
                {profile, root / "dest", root / "work"});
        migration.Commit({&done, 1});
        return std::move(done.record);
    }
    std::vector<std::string> Lines(const char* file) const { return LogLines(root / "program/Logs/" + file); }
};

} // namespace

TEST_F(ImageMigrationTest, EachProfileTurnsAFileIntoItsImageOrItsQuarantineCopy)
{
    const std::string gzipped = Filter("gzip -c", Image(2)), cut = gzipped.substr(0, gzipped.size() / 2);
    const auto Z = Profile::ArztUndPraxis, S = Profile::Starc;
    // Profile, name, bytes, outcome, the destination file's content (or the quarantine copy's name), and
    // the error log's lines, then the debug log's, each ending in "|".
    const std::tuple<Profile, const char*, std::string, Outcome, std::string, std::string> cases[] = {
        {Profile::Hipax, "IMG 1.dcm", Image(1), Outcome::Migrated, Image(1), ""},
        {Profile::Gemed, "0001", Image(1), Outcome::Migrated, Image(1), ""},
        {Profile::Gemed, "0001.dcm", Image(1), Outcome::Skipped, "", ""},
        {Z, "IMG1.Z", Filter("gzip -c -9", Container(Image(1))), Outcome::Migrated, Image(1), "IMG1.Z is migrated.|"},
        {Z, "IMG2.R", Filter("compress -c -f", Container(Image(2))), Outcome::Migrated, Image(2),
            "IMG2.R is migrated.|"},
        {Z, "IMG3.Z", Filter("gzip -c", "lead\0"s + Image(3)), Outcome::Rejected, "BadObjects/IMG3.err",
            "-1 - File IMG3.Z could not be migrated. - CorrectImage|ERROR: -1 - File IMG3.Z could not be migrated.|"},
        {Z, "IMG4.Z", "not compressed", Outcome::Rejected, "BadObjects/IMG4.err",
            "-1 - File IMG4.Z could not be migrated. - CorrectImage|IMG4.Z: not in gzip format|ERROR: -1 - File IMG4.Z "
            "could not be migrated.|"},
        {S, "1.AR", gzipped, Outcome::Migrated, Image(2), ""},
        {S, "2.ar", Filter("compress -c -f", Image(3)), Outcome::Migrated, Image(3), ""},
        {S, "3.AR", cut, Outcome::Rejected, "BadObjects/3.err",
            "-1 - File 3.AR could not be migrated. - CorrectImage|3.AR: unexpected end of file|ERROR: -1 - File 3.AR "
            "could not be migrated.|"}};
    for (const auto& [profile, name, bytes, outcome, written, logged] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(root / "program/Logs");
        const int namesBefore = names;
        const engine::FileRecord record = Migrate(profile, name, bytes);
        std::string lines;
        for (const char* file : {"Error.txt", "DebugPelta.log"}) {
            for (const std::string& line : Lines(file)) {
                lines += line.substr(4) + "|"; // without the stamp
            }
        }
        EXPECT_EQ(lines, logged);
        EXPECT_EQ(record.path + " " + std::to_string(names - namesBefore) + " " + record.error,
            "rel/" + std::string(name) + " 1 ")
            << "every selected file of the plain profiles and every compressed one takes a name";
        EXPECT_EQ(record.outcome, outcome);
        if (outcome == Outcome::Skipped) {
            EXPECT_EQ(record.selected ? "selected" : record.notSelectedBecause + record.writtenFile, "dot rule");
            continue;
        }
        const std::string out = outcome == Outcome::Rejected ? bytes : written;
        const std::string file
            = outcome == Outcome::Rejected ? written : std::string("n").append(std::to_string(names)) + ".dcm";
        EXPECT_TRUE(record.writtenFile == file && ReadFile(root / "dest/" + file) == out) << record.writtenFile;
        EXPECT_EQ(record.sourceSha256.get() + std::to_string(record.bytesRead) + record.writtenSha256.get()
                + std::to_string(record.bytesWritten),
            Sha(bytes) + std::to_string(bytes.size()) + Sha(out) + std::to_string(out.size()));
        EXPECT_EQ(record.dicom.valid() && !record.dicom.get().Parsed(), outcome == Outcome::Migrated)
            << "checked: no DICOM";
    }
}

TEST_F(ImageMigrationTest, QuarantineCopiesAreNamedByTheNameUpToItsLastDotAndNumbered)
{
    for (const char* name : {"IMAGE001.Z", "IMAGE001.DCZ", "IMAGE002.Z", "IMAGE001.R", "a.b.Z", ".Z", "NODOTZ"}) {
        EXPECT_EQ(Migrate(Profile::ArztUndPraxis, name, std::string("bad ") + name).outcome, Outcome::Rejected);
    }
    EXPECT_EQ(Names(root / "dest/BadObjects"),
        (std::vector<std::string> {
            ".err", "IMAGE001.err", "IMAGE0012.err", "IMAGE0013.err", "IMAGE002.err", "NODOTZ.err", "a.b.err"}));
    EXPECT_EQ(ReadFile(root / "dest/BadObjects/IMAGE0013.err"), "bad IMAGE001.R");
}

#ifndef _WIN32 // Wine makes no links or FIFOs
TEST_F(ImageMigrationTest, FileSystemFailuresAreLoggedWithTheNameAndLeaveNothingBehind)
{
    WriteFile(root / "dest/n1.dcm", "an earlier disc's image");
    EXPECT_EQ(Migrate(Profile::Hipax, "TAKEN", "new").writtenFile, "n2.dcm") << "a taken name is replaced";
    EXPECT_EQ(ReadFile(root / "dest/n1.dcm"), "an earlier disc's image");

    fs::create_symlink(root / "nowhere", root / "src/dangling");
    ::mkfifo((root / "src/fifo").c_str(), 0644);
    EXPECT_EQ(MigrateExisting(Profile::Hipax, "dangling").error, "No such file or directory");
    EXPECT_EQ(MigrateExisting(Profile::Starc, "fifo").error, "Not a regular file.");
    EXPECT_EQ(Names(root / "dest"), (std::vector<std::string> {"n1.dcm", "n2.dcm"})) << "no partial file";
    // A quarantine that cannot be written: the rejection and the reason, each on its line.
    WriteFile(root / "dest/BadObjects", "a file in the way");
    const engine::FileRecord blocked = Migrate(Profile::ArztUndPraxis, "BAD.Z", "bad");
    EXPECT_EQ(blocked.outcome, Outcome::Rejected);
    EXPECT_EQ(blocked.error, "Not a directory");
    EXPECT_EQ(Lines("Error.txt"),
        (std::vector<std::string> {"S - 2 - No such file or directory - ScanFolder - dangling",
            "S - -1 - Not a regular file. - ScanFolder - fifo",
            "S - -1 - File BAD.Z could not be migrated. - CorrectImage",
            "S - 20 - Not a directory - ScanFolder - BAD.Z"}));
}
#endif

TEST_F(ImageMigrationTest, FilesReadAheadAreTakenOnlyAsTheyAreAtTheirTurn)
{
    // One thread reads the files ahead, and the file after the current one is decoded meanwhile. One
    // that is replaced after it was read is read again at its turn; one the run never reaches is passed
    // over; one larger than a decode ahead takes is decoded at its turn; one larger than is read whole
    // streams through the reader, trailing bytes and all; one the reader was not given is read by the run.
    std::mt19937 random(7);
    std::string noise(engine::WholeFileLimit + 3 * support::FilePieceBytes / 2, '\0');
    std::generate(noise.begin(), noise.end(), [&] { return static_cast<char>(random()); });
    const std::string large = "\0\0\0\0DICM"s + std::string(engine::DecodeAhead::MaxOutputBytes + 5, 'z');
    const std::string streamed = Filter("gzip -1 -c", noise) + "trailing";
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>> {
             {"1.AR", Filter("gzip -c", Image(1))}, {"2.AR", Filter("gzip -c", Image(2))}, {"3.AR", "never reached"},
             {"4.AR", Filter("gzip -c", large)}, {"5.AR", streamed}}) {
        WriteFile(root / "src/" + name, bytes);
        paths.push_back(root / "src/" + name);
    }
    migration.ReadAhead(paths);
    const auto image = [&](const engine::FileRecord& record) { return ReadFile(root / "dest/" + record.writtenFile); };
    EXPECT_EQ(image(MigrateExisting(Profile::Starc, "1.AR")), Image(1));
    WriteFile(root / "src/2.AR", Filter("gzip -c", Image(7)));
    EXPECT_EQ(image(MigrateExisting(Profile::Starc, "2.AR")), Image(7));
    EXPECT_TRUE(image(MigrateExisting(Profile::Starc, "4.AR")) == large);
    const engine::FileRecord five = MigrateExisting(Profile::Starc, "5.AR");
    EXPECT_TRUE(image(five) == noise);
    EXPECT_EQ(five.sourceSha256.get(), support::Sha256OfFile(root / "src/5.AR"));
    EXPECT_EQ(image(Migrate(Profile::Starc, "6.AR", Filter("gzip -c", Image(6)))), Image(6));
    migration.CancelReadAhead();
}
