#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

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

// Passes decompressed bytes to the sink in large pieces and refuses to pass the cap.
class OutputBuffer
{
public:
    OutputBuffer(const ByteSink& sink, std::uint64_t maxBytes);

    std::error_code Put(const unsigned char* data, std::size_t size);
    std::error_code Flush();

private:
    const ByteSink& m_sink;
    std::uint64_t m_maxBytes;
    std::uint64_t m_total = 0;
    std::string m_pending;
};

// The decoders of the two formats. The gzip decoder reads from the first magic byte; the Unix compress
// decoder from after its two magic bytes, and to the end of the input (the format has no end marker).
std::error_code DecodeGzip(ByteReader& in, OutputBuffer& out);
std::error_code DecodeLzw(ByteReader& in, OutputBuffer& out);

// How large the pieces are that the readers fill and the decoders hand on (the fuzzing build makes
// them smaller).
#ifndef ZP_CHUNK_BYTES
#define ZP_CHUNK_BYTES (256 * 1024)
#endif
inline constexpr std::size_t ChunkBytes = ZP_CHUNK_BYTES;

} // namespace engine
