#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

// In-process decompression, with gunzip's verdicts on every input. Two formats, told apart by their
// first two bytes: gzip (1F 8B; every member of a multi-member file, CRC and length checked) and Unix
// compress (1F 9D; LZW with 9 to 16 bit codes). Data is decoded as a stream, so memory stays small
// whatever the sizes; output beyond a cap is refused.
//
// gzip data goes through zlib, whose verdicts are gzip's. A whole file of one gzip member goes to
// libdeflate first, which decodes two to three times faster and checks the member's CRC-32 and
// length; where it refuses, zlib decides. libdeflate accepts some malformed streams that gzip
// refuses (codes for reserved symbols, extra code lengths): with a matching CRC-32 and length such a
// file is migrated, its bytes being the ones that were compressed.
namespace engine {

// Failures of the compressed data itself, as opposed to reading or writing files. The texts are
// gunzip's own.
enum class DecompressError {
    NotCompressed = 1,
    UnexpectedEnd,
    CrcError,
    LengthError,
    FormatViolated,
    LzwCorrupt,
    LzwTooManyBits,
    TooLarge,
};
const std::error_category& DecompressErrorCategory();
std::error_code make_error_code(DecompressError e);
// True for a failure of the compressed data (the image cannot be had from it), false for a failure
// of the file system (a full disk, a vanished file), which says nothing about the image.
bool IsDataError(const std::error_code& error);

// Fills buffer with the next compressed bytes and sets got; got is 0 at the end of the input.
using ByteSource = std::function<std::error_code(std::span<char> buffer, std::size_t& got)>;
// Takes the decompressed bytes in order.
using ByteSink = std::function<std::error_code(std::string_view bytes)>;

inline constexpr std::uint64_t DefaultMaxDecompressedBytes = std::uint64_t {4} << 30;

// Decodes the whole input into out. After the last gzip member, trailing bytes that do not begin
// another member are ignored, as gzip does ("trailing garbage ignored"), but for a single byte other
// than zero, which gzip refuses as a member cut short.
std::error_code Decompress(
    const ByteSource& in, const ByteSink& out, std::uint64_t maxOutputBytes = DefaultMaxDecompressedBytes);
// Decompress over a compressed file held whole in memory; DecompressBytes gathers the output.
std::error_code DecompressWhole(
    std::string_view in, const ByteSink& out, std::uint64_t maxOutputBytes = DefaultMaxDecompressedBytes);
std::error_code DecompressBytes(
    std::string_view in, std::string& out, std::uint64_t maxOutputBytes = DefaultMaxDecompressedBytes);

} // namespace engine

template <> struct std::is_error_code_enum<engine::DecompressError> : std::true_type
{ };
