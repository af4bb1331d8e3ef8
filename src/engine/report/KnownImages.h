#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace engine {

// The images already written into a destination, by SOP Instance UID and by content, each with the
// name of the first file that had it. A disc may hold 100,000 images, so it is kept compact: digests as
// 32 bytes, every text once in one arena, entries as offsets into it.
class KnownImages
{
public:
    KnownImages();
    KnownImages(const KnownImages&) = delete; // the maps' functors point at this object's arena
    KnownImages& operator=(const KnownImages&) = delete;
    void Clear();
    // Remembers the file under the key; returns the earlier file's name when the key was known.
    std::optional<std::string> RememberUid(std::string_view uid, std::string_view file);
    std::optional<std::string> RememberContent(std::string_view sha256Hex, std::string_view file);

private:
    using Offset = std::uint32_t;
    struct TextHash
    {
        const std::string* texts;
        std::size_t operator()(Offset offset) const;
    };
    struct TextEqual
    {
        const std::string* texts;
        bool operator()(Offset a, Offset b) const;
    };
    struct DigestHash
    {
        std::size_t operator()(const std::array<unsigned char, 32>& digest) const;
    };

    Offset Store(std::string_view text);
    std::string_view TextAt(Offset offset) const { return TextAt(m_texts, offset); }
    static std::string_view TextAt(const std::string& texts, Offset offset);

    std::string m_texts; // each text as its length (4 bytes) and its bytes
    std::unordered_map<Offset, Offset, TextHash, TextEqual> m_uids; // UID -> file name
    std::unordered_map<std::array<unsigned char, 32>, Offset, DigestHash> m_contents; // digest -> file name
};

} // namespace engine
