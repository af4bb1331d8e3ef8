#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "engine/common/Limits.h"
#include "engine/decode/Decompression.h"

namespace engine {

// Buffered pull from a ByteSource for the decoders: they look ahead a few bytes, consume what they
// used, and learn where the input ends.
class ByteReader
{
public:
    explicit ByteReader(const ByteSource& source);

    // Makes at least n unread bytes available unless the input ends first.
    std::error_code Fill(std::size_t n);
    const unsigned char* Data() const { return reinterpret_cast<const unsigned char*>(m_buffer.get()) + m_start; }
    std::size_t Available() const { return m_end - m_start; }
    void Consume(std::size_t n) { m_start += n; }
    // Absolute input offset of Data()[0].
    std::uint64_t Offset() const { return m_offset + m_start; }

private:
    const ByteSource& m_source;
    std::unique_ptr<char[]> m_buffer; // not cleared: only bytes read into it are ever looked at
    std::size_t m_capacity;
    std::size_t m_start = 0;
    std::size_t m_end = 0;
    std::uint64_t m_offset = 0; // absolute offset of m_buffer[0]
    bool m_ended = false;
};

} // namespace engine
