#include "engine/decode/OutputBuffer.h"

#include "engine/common/Limits.h"

namespace engine {

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
