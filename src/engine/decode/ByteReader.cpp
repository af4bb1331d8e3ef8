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

OutputBuffer::OutputBuffer(const ByteSink& sink, std::uint64_t maxBytes)
    : m_sink(sink)
    , m_maxBytes(maxBytes)
{ }

std::error_code OutputBuffer::Put(const unsigned char* data, std::size_t size)
{
    if (size > m_maxBytes - m_total) {
        return DecompressError::TooLarge;
    }
    m_total += size;
    if (m_pending.empty() && size >= ChunkBytes / 2) {
        // Whole inflate chunks go on as they are; only the LZW decoder's short strings are gathered.
        return m_sink({reinterpret_cast<const char*>(data), size});
    }
    m_pending.append(reinterpret_cast<const char*>(data), size);
    return m_pending.size() >= ChunkBytes ? Flush() : std::error_code {};
}

std::error_code OutputBuffer::Flush()
{
    if (m_pending.empty()) {
        return {};
    }
    auto error = m_sink(m_pending);
    m_pending.clear();
    return error;
}

} // namespace engine
