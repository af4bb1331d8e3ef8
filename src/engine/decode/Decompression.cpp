#include "engine/decode/Decompression.h"

#include <libdeflate.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <zlib.h>

#include "engine/decode/ByteReader.h"
#include "engine/decode/GzipDecoder.h"
#include "engine/decode/LzwDecoder.h"
#include "engine/decode/OutputBuffer.h"

namespace engine {

namespace {

class DecompressErrorCategoryImpl : public std::error_category
{
public:
    const char* name() const noexcept override { return "decompression"; }
    std::string message(int value) const override
    {
        switch (static_cast<DecompressError>(value)) {
        case DecompressError::NotCompressed:
            return "not in gzip format";
        case DecompressError::UnexpectedEnd:
            return "unexpected end of file";
        case DecompressError::CrcError:
            return "invalid compressed data--crc error";
        case DecompressError::LengthError:
            return "invalid compressed data--length error";
        case DecompressError::FormatViolated:
            return "invalid compressed data--format violated";
        case DecompressError::LzwCorrupt:
            return "corrupt input";
        case DecompressError::LzwTooManyBits:
            return "compressed with more than 16 bits";
        case DecompressError::TooLarge:
            return "decompressed data larger than the limit";
        }
        return "unknown decompression error";
    }
};

} // namespace

namespace {

ByteSource MemorySource(std::string_view in)
{
    return [in](std::span<char> buffer, std::size_t& got) mutable {
        got = std::min(buffer.size(), in.size());
        std::memcpy(buffer.data(), in.data(), got);
        in.remove_prefix(got);
        return std::error_code {};
    };
}

// A whole gzip file of one member, decoded by libdeflate, two to three times faster than zlib. Taken
// only where its answer is gzip's: libdeflate checks the decoded bytes' CRC-32 and length against the
// member's trailer, and the member must end the file. Anything else (several members, bytes after
// the member, an output larger than the cap or than is worth holding whole, any failure) gives
// nothing, and zlib decodes the file as always, with gzip's verdicts. A malformed stream that gzip
// refuses but whose checksums match is accepted here: its bytes are the ones the sender compressed.
// The output goes into the memory that room gives for the decoded length; false: nothing decided.
bool DecodeWholeFast(std::string_view in, std::uint64_t maxOutputBytes, const std::function<char*(std::size_t)>& room)
{
    constexpr std::size_t TrailerBytes = 8;
    constexpr std::uint32_t MaxWholeOutputBytes = 32u << 20; // larger images stream through zlib
    const auto byte = [&in](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(in[at])); };
    // A header with its own CRC (or with flags gzip does not know) is left to zlib, which checks it:
    // libdeflate skips the header's CRC.
    constexpr std::uint32_t HeaderCrcOrUnknownFlags = 0xE2;
    if (in.size() < 10 + TrailerBytes || byte(0) != GzipMagic[0] || byte(1) != GzipMagic[1] || byte(2) != Z_DEFLATED
        || (byte(3) & HeaderCrcOrUnknownFlags) != 0) {
        return false;
    }
    const std::size_t end = in.size();
    const std::uint32_t length = byte(end - 4) | byte(end - 3) << 8 | byte(end - 2) << 16 | byte(end - 1) << 24;
    if (length > MaxWholeOutputBytes || length > maxOutputBytes) {
        return false;
    }
    // One per image: its few KiB cost nothing beside the image, and an object that lives per thread
    // would have to be destroyed at the thread's end, which some systems' runtimes get wrong at exit.
    const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> decompressor(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!decompressor) {
        return false;
    }
    std::size_t read = 0;
    std::size_t written = 0;
    return libdeflate_gzip_decompress_ex(
               decompressor.get(), in.data(), in.size(), room(length), length, &read, &written)
        == LIBDEFLATE_SUCCESS
        && read == in.size() && written == length;
}

std::optional<std::error_code> DecompressWholeFast(
    std::string_view in, const ByteSink& out, std::uint64_t maxOutputBytes)
{
    std::unique_ptr<char[]> buffer;
    std::size_t length = 0;
    if (!DecodeWholeFast(in, maxOutputBytes, [&](std::size_t size) {
            length = size;
            buffer = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(size, 1));
            return buffer.get();
        })) {
        return std::nullopt;
    }
    return length == 0 ? std::error_code {} : out(std::string_view(buffer.get(), length));
}

} // namespace

const std::error_category& DecompressErrorCategory()
{
    static const DecompressErrorCategoryImpl category;
    return category;
}

std::error_code make_error_code(DecompressError e)
{
    return {static_cast<int>(e), DecompressErrorCategory()};
}

bool IsDataError(const std::error_code& error)
{
    return error.category() == DecompressErrorCategory();
}

std::error_code Decompress(const ByteSource& in, const ByteSink& out, std::uint64_t maxOutputBytes)
{
    ByteReader reader(in);
    OutputBuffer buffer(out, maxOutputBytes);
    if (auto error = reader.Fill(2)) {
        return error;
    }
    if (reader.Available() < 2) {
        return DecompressError::UnexpectedEnd;
    }
    std::error_code error;
    const unsigned char* magic = reader.Data();
    if (magic[0] == GzipMagic[0] && magic[1] == GzipMagic[1]) {
        error = DecodeGzip(reader, buffer);
    } else if (magic[0] == LzwMagic[0] && magic[1] == LzwMagic[1]) {
        reader.Consume(2);
        error = DecodeLzw(reader, buffer);
    } else {
        error = DecompressError::NotCompressed;
    }
    return error ? error : buffer.Flush();
}

std::error_code DecompressWhole(std::string_view in, const ByteSink& out, std::uint64_t maxOutputBytes)
{
    if (auto fast = DecompressWholeFast(in, out, maxOutputBytes)) {
        return *fast;
    }
    return Decompress(MemorySource(in), out, maxOutputBytes);
}

std::error_code DecompressBytes(std::string_view in, std::string& out, std::uint64_t maxOutputBytes)
{
    // libdeflate decodes straight into out, sized once; a second image-sized buffer would be churned
    // through for every image.
    if (DecodeWholeFast(in, maxOutputBytes, [&out](std::size_t size) {
            out.resize(size);
            return out.data();
        })) {
        return {};
    }
    out.clear();
    return Decompress(
        MemorySource(in),
        [&out](std::string_view bytes) {
            out.append(bytes);
            return std::error_code {};
        },
        maxOutputBytes);
}

} // namespace engine
