#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/Decompression.h"

// Shared by the gzip and the LZW target: decodes the input whole, again in chunks of a size taken from
// the input, and once more as a file held in memory, and requires the same bytes and the same verdict
// every way, so that a decoder state that breaks across read boundaries, or a difference between the
// stream and the whole-file decoder, shows up, not only crashes.
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

    // And as a file held whole, which may take another decoder: it must agree byte for byte, also
    // in what it passes on before an error.
    std::string held;
    const std::error_code heldError = engine::DecompressWhole(
        input,
        [&](std::string_view bytes) {
            held.append(bytes);
            return std::error_code {};
        },
        Cap);

    if (wholeError != chunkedError || (!wholeError && whole != chunked) || whole.size() > Cap || heldError != wholeError
        || held != whole) {
        std::abort();
    }
}
