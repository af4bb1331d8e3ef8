#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/decode/Decompression.h"

// Shared by the gzip and the LZW target: decodes the input whole and again in chunks of a size taken
// from the input, and requires the same bytes and the same verdict both ways, so that a decoder state
// that breaks across read boundaries shows up, not only crashes.
inline void CheckDecoder(std::string_view input, std::size_t chunk)
{
    constexpr std::uint64_t Cap = 1u << 20; // small, so that bombs end quickly
    std::string whole;
    const std::error_code wholeError = engine::DecompressBytes(input, whole, Cap);

    std::string chunked;
    std::size_t offset = 0;
    const engine::ByteSource source = [&](std::span<char> buffer, std::size_t& got) {
        got = std::min({buffer.size(), chunk, input.size() - offset});
        input.copy(buffer.data(), got, offset);
        offset += got;
        return std::error_code {};
    };
    const engine::ByteSink sink = [&](std::string_view bytes) {
        chunked.append(bytes);
        return std::error_code {};
    };
    const std::error_code chunkedError = engine::Decompress(source, sink, Cap);

    if (wholeError != chunkedError || (!wholeError && whole != chunked) || whole.size() > Cap) {
        std::abort();
    }
}
