#include "engine/decode/ByteReader.h"

#include <cstring>

namespace engine {

ByteReader::ByteReader(const ByteSource& source)
    : m_source(source)
    , m_buffer(std::make_unique_for_overwrite<char[]>(ChunkBytes))
    , m_capacity(ChunkBytes)
{ }

std::error_code ByteReader::Fill(std::size_t n)
{
    if (Available() >= n || m_ended) {
        return {};
    }
    std::memmove(m_buffer.get(), m_buffer.get() + m_start, Available());
    m_offset += m_start;
    m_end -= m_start;
    m_start = 0;
    if (m_capacity < n) {
        auto larger = std::make_unique_for_overwrite<char[]>(n);
        std::memcpy(larger.get(), m_buffer.get(), m_end);
        m_buffer = std::move(larger);
        m_capacity = n;
    }
    while (Available() < n) {
        std::size_t got = 0;
        if (auto error = m_source({m_buffer.get() + m_end, m_capacity - m_end}, got)) {
            return error;
        }
        if (got == 0) {
            m_ended = true;
            break;
        }
        m_end += got;
    }
    return {};
}

} // namespace engine
