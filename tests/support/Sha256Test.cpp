#include "common/TestKit.h"

#include "support/Background.h"
#include "support/Sha256.h"

// The digest that proves each copy is checked against answers from outside the program: the
// standard's known answers, and sha256sum over sizes on both sides of every boundary of the
// background thread's buffers, fed in pieces of several shapes.
TEST(Sha256, KnownAnswersAndSha256sumAcrossEveryBufferBoundary)
{
    support::Sha256 digest;
    EXPECT_EQ(digest.HexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    digest.Update("abc");
    EXPECT_EQ(digest.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")
        << "a digest starts afresh after Finish";
    for (std::size_t piece : {std::size_t {1000000}, std::size_t {999}, std::size_t {1} << 16}) {
        const std::string a(piece, 'a');
        for (std::size_t fed = 0; fed < 1000000; fed += piece) {
            digest.Update(std::string_view(a).substr(0, std::min(piece, 1000000 - fed)));
        }
        EXPECT_EQ(digest.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0") << piece;
    }

    TempDir dir;
    constexpr std::size_t Buffer = support::Background::BufferBytes;
    const std::string random = RandomBytes(3 * Buffer + 2, 2);
    for (const std::size_t size : {Buffer - 1, Buffer, Buffer + 1, 2 * Buffer - 1, 2 * Buffer, 2 * Buffer + 1,
             3 * Buffer + 2}) {
        const std::string bytes = random.substr(0, size);
        WriteFile(dir / "bytes", bytes);
#ifdef _WIN32
        // No sha256sum under Wine: the bytes hashed in one piece are the reference for the pieces.
        support::Sha256 whole;
        whole.Update(bytes);
        const std::string expected = whole.HexDigest();
#else
        const std::string expected = Filter("sha256sum '" + dir / "bytes" + "'", "").substr(0, 64);
#endif
        for (const std::size_t piece : {size, Buffer - 1, Buffer + 1, std::size_t {4093}}) {
            for (std::size_t fed = 0; fed < size; fed += piece) {
                digest.Update(std::string_view(bytes).substr(fed, piece));
            }
            EXPECT_EQ(digest.HexDigest(), expected) << size << " bytes in pieces of " << piece;
        }
        EXPECT_EQ(support::Sha256OfFile(dir / "bytes"), expected) << size;
    }
    EXPECT_EQ(support::Sha256OfFile(dir / "missing"), std::nullopt);
}
