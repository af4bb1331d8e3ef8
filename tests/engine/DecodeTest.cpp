#include "common/TestKit.h"

#include "engine/decode/Decompression.h"

using engine::DecompressError;

namespace {

// Pseudo-random bytes (noise) or words (text) of the given size.
std::string Random(std::size_t size, std::uint64_t seed, bool words)
{
    static const char* dictionary[]
        = {"Thorax ", "p.a. ", "Befund ", "unauffällig ", "Patient ", "CT ", "\r\n", "Bild "};
    std::string bytes;
    while (bytes.size() < size) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        bytes += words ? std::string(dictionary[(seed >> 60) % 8]) : std::string(1, static_cast<char>(seed >> 56));
    }
    return bytes;
}

std::string Decompressed(const std::string& in, std::error_code& error, std::uint64_t cap = 1ull << 32)
{
    std::string out;
    error = engine::DecompressBytes(in, out, cap);
    return out;
}

// What gzip -d itself makes of the bytes: its output when it accepts them (trailing garbage is only
// a warning), nothing when it refuses them.
std::optional<std::string> Gzip(const std::string& in)
{
    FilterRun run = RunFilter("gzip -dc 2>/dev/null", in);
    return run.status == 1 ? std::nullopt : std::optional(std::move(run.output));
}

} // namespace

// Debian's compress writes -b9 files that its own uncompress (and gunzip) cannot read, so the narrowest
// width tried is 10 bits. The payloads reach the decoders' corners: the code that names itself (runs),
// codes widening to 16 bits (text), a cleared table (noise), a real image.
TEST(Decompress, GivesBackWhatGzipAndCompressMade)
{
    const std::pair<const char*, std::string> payloads[]
        = {{"empty", ""}, {"one byte", "x"}, {"runs", std::string(3 << 20, 'a')},
            {"noise then text", Random(700000, 3, false) + Random(900000, 7, true) + Random(300000, 4, false)},
            {"CT image", ReadFile(ZP_PYDICOM_DATA "/test_files/CT_small.dcm")}};
    for (const auto& [name, payload] : payloads) {
        for (const char* command : {"gzip -c -1", "gzip -c -9", "compress -c -f", "compress -c -f -b10"}) {
            std::error_code error;
            const std::string out = Decompressed(Filter(command, payload), error);
            ASSERT_FALSE(error) << name << " / " << command << ": " << error.message();
            ASSERT_TRUE(out == payload) << name << " / " << command;
        }
    }
}

TEST(Decompress, WhatFollowsAGzipMemberIsReadAsGzipReadsIt)
{
    const std::string first = Random(100000, 7, true), second = Random(50000, 9, false);
    const std::string gz = Filter("gzip -c", first), gz2 = Filter("gzip -c -9", second);
    const std::pair<const char*, std::string> cases[] = {{"a second member", gz2},
        {"a compress member", Filter("compress -c -f", second)}, {"garbage", "trailing garbage"},
        {"zero padding", std::string(512, '\0')}, {"one zero byte", std::string(1, '\0')}, {"one magic byte", "\x1f"},
        {"one other byte", "X"}, {"a magic byte and a zero", std::string("\x1f\0", 2)},
        {"a second member cut short", gz2.substr(0, gz2.size() / 2)}, {"a lone header", gz2.substr(0, 10)}};
    for (const auto& [name, suffix] : cases) {
        std::error_code error;
        const std::string out = Decompressed(gz + suffix, error);
        const auto gzip = Gzip(gz + suffix);
        EXPECT_EQ(!error, gzip.has_value()) << name << ": " << error.message();
        if (gzip && !error) {
            EXPECT_TRUE(out == *gzip) << name;
        } else {
            EXPECT_EQ(error, DecompressError::UnexpectedEnd) << name;
        }
    }
}

TEST(Decompress, DamagedGzipIsRefusedWhereGzipRefusesIt)
{
    const std::string gz = Filter("gzip -c -n", Random(200000, 7, true));
    const auto changed = [&](std::size_t at, char byte) {
        std::string copy = gz;
        copy[at] = byte;
        return copy;
    };
    const std::tuple<const char*, std::string, DecompressError> cases[] = {
        {"empty", "", DecompressError::UnexpectedEnd}, {"one byte", gz.substr(0, 1), DecompressError::UnexpectedEnd},
        {"header only", gz.substr(0, 10), DecompressError::UnexpectedEnd},
        {"cut in the middle", gz.substr(0, gz.size() / 2), DecompressError::UnexpectedEnd},
        {"no trailer", gz.substr(0, gz.size() - 8), DecompressError::UnexpectedEnd},
        {"last byte missing", gz.substr(0, gz.size() - 1), DecompressError::UnexpectedEnd},
        {"CRC changed", changed(gz.size() - 8, static_cast<char>(gz[gz.size() - 8] ^ 0x10)), DecompressError::CrcError},
        {"length changed", changed(gz.size() - 2, static_cast<char>(gz[gz.size() - 2] ^ 0x10)),
            DecompressError::LengthError},
        {"unknown method", changed(2, 7), DecompressError::FormatViolated},
        {"second magic byte wrong", changed(1, '\x8c'), DecompressError::NotCompressed},
        {"first magic byte wrong", changed(0, '\x1e'), DecompressError::NotCompressed},
        {"header CRC wrong", gz.substr(0, 3) + '\x02' + gz.substr(4, 6) + std::string("\0\0", 2) + gz.substr(10),
            DecompressError::FormatViolated},
        {"not compressed", "DICM plain bytes", DecompressError::NotCompressed}};
    for (const auto& [name, input, expected] : cases) {
        std::error_code error;
        Decompressed(input, error);
        EXPECT_EQ(error, expected) << name << ": " << error.message();
        EXPECT_TRUE(engine::IsDataError(error)) << name;
        EXPECT_FALSE(Gzip(input)) << name << ": gzip accepts it";
    }
    for (std::size_t at = 0; at < gz.size(); at += 37) { // cut anywhere, it is refused, never passed on
        std::error_code cut;
        Decompressed(gz.substr(0, at), cut);
        ASSERT_TRUE(engine::IsDataError(cut)) << "cut at " << at;
    }
}

TEST(Decompress, DamagedLzwGivesABeginningOfTheDataOrAnError)
{
    const std::string text = Random(300000, 7, true);
    const std::string z = Filter("compress -c -f", text);
    // No checksum: cut anywhere, it decodes to a beginning of the data or fails, never to other bytes.
    for (std::size_t cut = 3; cut < z.size(); cut += 97) {
        std::error_code error;
        const std::string out = Decompressed(z.substr(0, cut), error);
        ASSERT_TRUE(error ? engine::IsDataError(error) : text.starts_with(out) && out.size() < text.size()) << cut;
    }
}

TEST(Decompress, OutputStopsAtTheCap)
{
    for (const char* command : {"gzip -c", "compress -c -f"}) {
        const std::string bomb = Filter(command, std::string(8 << 20, '\0'));
        std::error_code error;
        EXPECT_LE(Decompressed(bomb, error, (1 << 20) + 1).size(), std::size_t {1} << 20);
        EXPECT_EQ(error, DecompressError::TooLarge) << command;
        EXPECT_EQ(Decompressed(bomb, error, 8 << 20).size(), std::size_t {8} << 20);
        EXPECT_FALSE(error) << command;
    }
}
