#include "engine/report/KnownImages.h"

#include <cstring>
#include <functional>

namespace engine {

KnownImages::KnownImages()
    : m_uids(0, TextHash {&m_texts}, TextEqual {&m_texts})
{ }

void KnownImages::Clear()
{
    m_uids.clear();
    m_contents.clear();
    m_texts.clear();
}

std::string_view KnownImages::TextAt(const std::string& texts, Offset offset)
{
    Offset length = 0;
    std::memcpy(&length, texts.data() + offset, sizeof length);
    return std::string_view(texts).substr(offset + sizeof length, length);
}

std::size_t KnownImages::TextHash::operator()(Offset offset) const
{
    return std::hash<std::string_view> {}(KnownImages::TextAt(*texts, offset));
}

bool KnownImages::TextEqual::operator()(Offset a, Offset b) const
{
    return KnownImages::TextAt(*texts, a) == KnownImages::TextAt(*texts, b);
}

std::size_t KnownImages::DigestHash::operator()(const std::array<unsigned char, 32>& digest) const
{
    std::size_t value = 0; // a SHA-256 is evenly spread: its first bytes are a hash as good as any
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

KnownImages::Offset KnownImages::Store(std::string_view text)
{
    const auto offset = static_cast<Offset>(m_texts.size());
    const auto length = static_cast<Offset>(text.size());
    m_texts.append(reinterpret_cast<const char*>(&length), sizeof length);
    m_texts.append(text);
    return offset;
}

std::optional<std::string> KnownImages::RememberUid(std::string_view uid, std::string_view file)
{
    const std::size_t before = m_texts.size();
    const Offset key = Store(uid);
    const auto [entry, added] = m_uids.emplace(key, 0);
    if (!added) {
        m_texts.resize(before); // known already: the text goes again
        return std::string(TextAt(entry->second));
    }
    entry->second = Store(file);
    return std::nullopt;
}

std::optional<std::string> KnownImages::RememberContent(std::string_view sha256Hex, std::string_view file)
{
    std::array<unsigned char, 32> digest {};
    if (sha256Hex.size() != 2 * digest.size()) {
        return std::nullopt; // no digest (a report edited by hand, say): nothing to compare
    }
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const auto nibble = [](char c) {
            return c >= '0' && c <= '9' ? c - '0'
                : c >= 'a' && c <= 'f'  ? c - 'a' + 10
                : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                        : -1;
        };
        const int high = nibble(sha256Hex[2 * i]), low = nibble(sha256Hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    if (const auto known = m_contents.find(digest); known != m_contents.end()) {
        return std::string(TextAt(known->second));
    }
    m_contents.emplace(digest, Store(file));
    return std::nullopt;
}

} // namespace engine
