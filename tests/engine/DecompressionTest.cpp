#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempTree.h"
#include "engine/decode/Decompression.h"

using namespace testing_support;
using engine::DecompressError;
namespace fs = std::filesystem;

namespace {

std::string Noise(std::size_t size, std::uint64_t seed)
{
    std::string bytes(size, '\0');
    for (auto& c : bytes) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        c = static_cast<char>(seed >> 56);
    }
    return bytes;
}

std::string Text(std::size_t size)
{
    static const char* words[]
        = {"Thorax ", "p.a. ", "Befund ", "unauffällig ", "Patient ", "Aufnahme ", "CT ", "\r\n"};
    std::string text;
    std::uint64_t seed = 7;
    while (text.size() < size) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        text += words[(seed >> 60) % 8];
    }
    return text;
}

struct Payload
{
    const char* name;
    std::string bytes;
};

// Payloads that drive both decoders through their corners: empty, one byte, long runs (the code
// that names itself), text (codes widen to 16 bits), noise (the table is cleared), and a real image.
const std::vector<Payload>& Payloads()
{
    static const std::vector<Payload> payloads = {
        {"empty", ""},
        {"one byte", "x"},
        {"runs", std::string(3 << 20, 'a')},
        {"text", Text(2 << 20)},
        {"noise then text", Noise(700000, 3) + Text(900000) + Noise(300000, 4)},
        {"CT image", ReadFile(ZP_PYDICOM_DATA "/test_files/CT_small.dcm")},
    };
    return payloads;
}

std::string Decompressed(
    const std::string& compressed, std::error_code& error, std::uint64_t cap = engine::DefaultMaxDecompressedBytes)
{
    std::string out;
    error = engine::DecompressBytes(compressed, out, cap);
    return out;
}

} // namespace

// Debian's compress writes -b9 files that its own uncompress (and gunzip) cannot read, so the
// narrowest width tried is 10 bits.
TEST(Decompress, MatchesWhatGzipAndCompressMade)
{
    for (const auto& payload : Payloads()) {
        for (const char* command :
            {"gzip -c -1", "gzip -c -9", "compress -c -f", "compress -c -f -b10", "compress -c -f -b13"}) {
            SCOPED_TRACE(std::string(payload.name) + " / " + command);
            std::error_code error;
            const std::string out = Decompressed(Filter(command, payload.bytes), error);
            ASSERT_FALSE(error) << error.message();
            ASSERT_EQ(out.size(), payload.bytes.size());
            ASSERT_TRUE(out == payload.bytes);
        }
    }
}

TEST(Decompress, GzipMembersAndWhatFollowsThem)
{
    const std::string first = Text(100000), second = Noise(50000, 9);
    const std::string gz1 = Filter("gzip -c", first), gz2 = Filter("gzip -c -9", second);
    std::error_code error;

    EXPECT_TRUE(Decompressed(gz1 + gz2, error) == first + second);
    EXPECT_FALSE(error);
    EXPECT_TRUE(Decompressed(gz1 + "trailing garbage", error) == first) << "ignored, as gzip does";
    EXPECT_FALSE(error);
    EXPECT_TRUE(Decompressed(gz1 + std::string(512, '\0'), error) == first) << "tape padding";
    EXPECT_FALSE(error);

    Decompressed(gz1 + gz2.substr(0, gz2.size() / 2), error);
    EXPECT_EQ(error, DecompressError::UnexpectedEnd) << "a second member cut short";
}

TEST(Decompress, DamagedGzipFails)
{
    const std::string gz = Filter("gzip -c", Text(200000));
    auto flipped = [&](std::size_t at) {
        std::string copy = gz;
        copy[at] = static_cast<char>(copy[at] ^ 0x10);
        return copy;
    };
    struct Case
    {
        const char* name;
        std::string input;
        DecompressError expected;
    };
    const std::vector<Case> cases = {
        {"empty", "", DecompressError::UnexpectedEnd},
        {"one byte", gz.substr(0, 1), DecompressError::UnexpectedEnd},
        {"header only", gz.substr(0, 10), DecompressError::UnexpectedEnd},
        {"cut in the middle", gz.substr(0, gz.size() / 2), DecompressError::UnexpectedEnd},
        {"no trailer", gz.substr(0, gz.size() - 8), DecompressError::UnexpectedEnd},
        {"last byte missing", gz.substr(0, gz.size() - 1), DecompressError::UnexpectedEnd},
        {"CRC flipped", flipped(gz.size() - 8), DecompressError::CrcError},
        {"length flipped", flipped(gz.size() - 2), DecompressError::LengthError},
        {"unknown method",
            [&] {
                std::string c = gz;
                c[2] = 7;
                return c;
            }(),
            DecompressError::FormatViolated},
        {"not compressed", "DICM plain bytes", DecompressError::NotCompressed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code error;
        Decompressed(c.input, error);
        EXPECT_EQ(error, c.expected) << error.message();
        EXPECT_TRUE(engine::IsDataError(error));
    }
    // A flipped bit inside the deflate data: caught by the format or by the CRC, never passed.
    for (std::size_t at = 20; at < gz.size() - 8; at += gz.size() / 17) {
        std::error_code error;
        Decompressed(flipped(at), error);
        EXPECT_TRUE(error == DecompressError::CrcError || error == DecompressError::FormatViolated
            || error == DecompressError::LengthError)
            << "flip at " << at << ": " << error.message();
    }
}

TEST(Decompress, DamagedLzw)
{
    const std::string text = Text(300000);
    const std::string z = Filter("compress -c -f", text);
    std::error_code error;
    // No checksum: a cut .Z decodes to a shorter beginning of the data.
    for (const std::size_t cut : {z.size() / 3, z.size() - 1}) {
        const std::string out = Decompressed(z.substr(0, cut), error);
        EXPECT_FALSE(error);
        EXPECT_LT(out.size(), text.size());
        EXPECT_TRUE(text.starts_with(out));
    }
    EXPECT_EQ(Decompressed(std::string("\x1f\x9d\x90", 3), error), "");
    EXPECT_FALSE(error) << "a header without codes is an empty file";

    Decompressed(std::string("\x1f\x9d", 2), error);
    EXPECT_EQ(error, DecompressError::UnexpectedEnd);
    Decompressed(std::string("\x1f\x9d\x91\x61\x00", 5), error);
    EXPECT_EQ(error, DecompressError::LzwTooManyBits);
    Decompressed(std::string("\x1f\x9d\x90\x61\x58\x02", 6), error); // 'a', then code 300 of 257 known
    EXPECT_EQ(error, DecompressError::LzwCorrupt);
    Decompressed(std::string("\x1f\x9d\x90\x01\x01", 5), error); // first code 257
    EXPECT_EQ(error, DecompressError::LzwCorrupt);
}

TEST(Decompress, OutputStopsAtTheCap)
{
    for (const char* command : {"gzip -c", "compress -c -f"}) {
        SCOPED_TRACE(command);
        const std::string bomb = Filter(command, std::string(8 << 20, '\0'));
        std::error_code error;
        Decompressed(bomb, error, 1 << 20);
        EXPECT_EQ(error, DecompressError::TooLarge);
        EXPECT_EQ(Decompressed(bomb, error, 8 << 20).size(), std::size_t {8} << 20);
        EXPECT_FALSE(error);
    }
}

TEST(Decompress, GzipHeaderFields)
{
    // gzip's optional header fields are skipped, and a header CRC (FHCRC) that does not match is
    // damage, as gzip has it.
    const std::string deflated = [] {
        const std::string gz = Filter("gzip -c -n", Text(5000));
        return gz.substr(10); // deflate data, CRC and length
    }();
    const std::string plain("\x1f\x8b\x08", 3);
    const std::string rest = std::string(6, '\0');
    const std::string extra = plain + '\x04' + rest + std::string("\x03\x00", 2) + "abc" + deflated;
    const std::string named = plain + '\x08' + rest + std::string("name.dcm\0", 9) + deflated;
    const std::string badHeaderCrc = plain + '\x02' + rest + std::string("\x00\x00", 2) + deflated;
    for (const std::string* input : {&extra, &named}) {
        std::error_code error;
        EXPECT_TRUE(Decompressed(*input, error) == Text(5000));
        EXPECT_FALSE(error) << error.message();
    }
    std::error_code error;
    Decompressed(badHeaderCrc, error);
    EXPECT_EQ(error, DecompressError::FormatViolated);
}
