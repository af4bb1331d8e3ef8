#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "engine/decode/Decompression.h"

namespace engine {

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

} // namespace engine
