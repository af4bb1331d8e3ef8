// Gzip or Unix compress input, as an "Arzt und Praxis" or "STARC" disc may hold it: any bytes after the
// magic bytes, which the build chooses (ZP_FUZZ_MAGIC: 0x8B gzip, 0x9D compress). The input is decoded
// in one piece and again in chunks of a size taken from it, and both ways must give the same bytes and
// the same verdict, so that a decoder state that breaks across read boundaries shows up, not only
// crashes. The run's whole-file path (libdeflate first for one gzip member) must agree with them, or
// accept a stream they refuse: libdeflate has checked its CRC-32 and length.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/decode/Decompression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    // Small, so that a bomb ends quickly and the fuzzer tries many inputs a second; the decoders'
    // corners (members, table resets, widening codes) lie well within it.
    constexpr std::uint64_t Cap = 1u << 16;
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string input = std::string {'\x1f', static_cast<char>(ZP_FUZZ_MAGIC)}
        + std::string(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string whole, chunked, fast;
    const auto decode = [&input](std::size_t piece, std::string& out) {
        std::size_t offset = 0;
        return engine::Decompress(
            [&](std::span<char> buffer, std::size_t& got) {
                got = input.copy(buffer.data(), std::min(buffer.size(), piece), offset);
                offset += got;
                return std::error_code {};
            },
            [&](std::string_view bytes) {
                out.append(bytes);
                return std::error_code {};
            },
            Cap);
    };
    const std::error_code wholeError = decode(input.size(), whole);
    const std::error_code chunkedError = decode(chunk, chunked);
    const std::error_code fastError = engine::DecompressBytes(input, fast, Cap);
    const bool fastAgrees
        = fastError == wholeError ? fastError || fast == whole : !fastError && engine::IsDataError(wholeError);
    if (wholeError != chunkedError || (!wholeError && whole != chunked) || whole.size() > Cap || !fastAgrees) {
        std::abort();
    }
    return 0;
}
