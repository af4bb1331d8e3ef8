// Hostile input: damaged compressed data, decompression bombs, and a disc that changes while it is
// read. Bounds are checked by what is left on disk and by the program's peak memory, never by time.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/mount.h>

#include "Reliability.h"
#include "common/RecordingHost.h"
#include "common/TempTree.h"
#include "engine/decode/Decompression.h"
#include "engine/RunController.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// A gzip file of many members, each inflating to a run of one byte: a few megabytes that expand to
// more than the cap.
std::string GzipBomb(char byte, std::uint64_t totalBytes)
{
    constexpr std::uint64_t MemberBytes = 64ull << 20;
    const std::string member = Filter("head -c " + std::to_string(MemberBytes) + " /dev/zero | tr '\\0' '"
            + std::string(1, byte) + "' | gzip -c -1 -n",
        "");
    std::string bomb;
    for (std::uint64_t made = 0; made < totalBytes; made += MemberBytes) {
        bomb += member;
    }
    return bomb;
}

} // namespace

TEST(Hostile, TruncatedCompressedDataAtEveryOffset)
{
    const std::string text = Filter("seq 1 3000", "");
    const std::string gz = Filter("gzip -c -n", text);
    for (std::size_t cut = 0; cut < gz.size(); ++cut) {
        std::string out;
        const auto error = engine::DecompressBytes(gz.substr(0, cut), out);
        ASSERT_TRUE(engine::IsDataError(error)) << "gzip cut at " << cut;
    }
    // LZW has no checksum: cut anywhere, it fails or gives a beginning of the data, never other bytes.
    const std::string z = Filter("compress -c -f", text);
    for (std::size_t cut = 0; cut < z.size(); ++cut) {
        std::string out;
        const auto error = engine::DecompressBytes(z.substr(0, cut), out);
        ASSERT_TRUE(error ? engine::IsDataError(error) : text.starts_with(out)) << "compress cut at " << cut;
    }
}

TEST(Hostile, DecompressionBombStopsAtTheCapWithBoundedMemory)
{
    Prepared run("Arzt und Praxis", 3, 4000);
    // A container without a zero byte that inflates to 4.2 GiB: nothing of it may be written.
    WriteFile(run.place.src + "/BOMB.Z", GzipBomb('A', (4ull << 30) + (256ull << 20)));
    run.disc.files.push_back({"BOMB.Z", ReadFile(run.place.src + "/BOMB.Z"), true, false, {}});
    run.before = Snapshot(run.place.src);

    const RunResult result = RunCli(run.place, "Arzt und Praxis", {.timeoutSeconds = 600});
    ExpectInvariant(run.place, run.disc, result, run.before);
    const Tally tally = Count(run.place, run.disc);
    EXPECT_EQ(tally.migrated, 3);
    EXPECT_EQ(tally.quarantined, 3); // the bomb and the disc's two bad containers
    EXPECT_NE(ReadFile(run.place.ErrorLog()).find(" - -1 - File BOMB.Z could not be migrated. - CorrectImage"),
        std::string::npos);
#ifndef ZP_SANITIZED // the sanitizers' own bookkeeping would dominate the figure
    EXPECT_LT(result.peakKiB, 100 * 1024) << "peak memory " << result.peakKiB << " KiB";
#endif
}

TEST(Hostile, BombsBeyondTheFreeSpaceAreRefusedBeforeTheDiskIsFull)
{
    ASSERT_TRUE(PrivateMounts()) << "no mount namespace: run the reliability tests as root";
    struct Case
    {
        const char* pacs;
        const char* bomb; // file name
        std::string content; // before compression
        const char* smallFolder;
    };
    const Case cases[] = {
        {"STARC", "BOMB.AR", std::string(24 << 20, '\0'), "temp"},
        {"Arzt und Praxis", "BOMB.Z", "HEADER" + std::string(24 << 20, '\0') + "#*lastfile*#", "dest"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pacs);
        Prepared run(c.pacs, 4, 4000);
        const std::string bomb = Filter("gzip -c -9 -n", c.content);
        WriteFile(run.place.src + "/" + c.bomb, bomb);
        run.disc.files.push_back({c.bomb, bomb, true, false, {}});
        run.before = Snapshot(run.place.src);
        MountTmpfs(run.place.root / c.smallFolder, "2m");

        const RunResult result = RunCli(run.place, c.pacs);
        ExpectInvariant(run.place, run.disc, result, run.before);
        const Tally tally = Count(run.place, run.disc);
        EXPECT_EQ(tally.migrated, 4);
        EXPECT_EQ(tally.missing, 0) << ReadFile(run.place.ErrorLog());
        EXPECT_NE(ReadFile(run.place.ErrorLog()).find("File " + std::string(c.bomb) + " could not be migrated."),
            std::string::npos);
        ::umount2((run.place.root / c.smallFolder).c_str(), MNT_DETACH);
    }
}

TEST(Hostile, DiscThatChangesWhileItIsRead)
{
    // Between the listing of a folder and the copy of its files, one file vanishes, one shrinks and a
    // whole sub-folder goes: each is logged, everything else arrives.
    Prepared run("HIPAX", 12, 3000);
    RecordingHost host;
    host.pacs = "HIPAX";
    host.source = run.place.src;
    host.dest = run.place.dest;
    host.temp = run.place.temp;
    const std::string vanishedName = run.disc.files[8].Name();
    const std::string vanishing = run.place.src + "/" + run.disc.files[8].path;
    const std::string shrinking = run.place.src + "/" + run.disc.files[4].path;
    ASSERT_EQ(run.disc.files[8].path.find('/'), std::string::npos); // both in the top folder
    ASSERT_EQ(run.disc.files[4].path.find('/'), std::string::npos);
    host.onPump = [&](int pump) {
        if (pump == 1) {
            fs::remove(vanishing);
            WriteFile(shrinking, "short");
            fs::remove_all(run.place.src + "/PAT2");
        }
    };
    engine::RunController engine(host, run.place.root / "prog");
    engine.StartRun();
    engine.RunUntilIdle();

    run.disc.files[4].bytes = "short"; // copied as it is when it is opened
    run.disc.files[4].image = "short";
    std::erase_if(run.disc.files, [](const DiscFile& file) { return file.path.starts_with("PAT2/"); });
    const auto log = LogLines(run.place.ErrorLog());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find(vanishedName), std::string::npos) << log[0];
    EXPECT_NE(log[1].find(run.place.src + "/PAT2"), std::string::npos) << log[1];
    const Tally tally = Count(run.place, run.disc);
    EXPECT_EQ(tally.missing, 1);
    EXPECT_EQ(tally.migrated, static_cast<int>(run.disc.files.size()) - 1);
    EXPECT_FALSE(fs::exists(run.place.temp + "/TempPelta"));
}
