// The Unix compress format, decoded by hand because zlib does not read it and the result must match
// what gunzip makes of a ".Z" file byte for byte.
//
// After the magic bytes 1F 9D, one flag byte: its low five bits give the widest code (9 to 16 bits),
// bit 7 "block mode" (code 256 clears the table). Codes are packed least significant bit first and
// start 9 bits wide; a code gets one bit wider when the next table entry would not fit. The encoder
// writes codes in groups of eight, so a group is exactly as many bytes as the code has bits; when the
// width changes or the table is cleared, the rest of the current group is padding and is skipped.
#include "engine/decode/LzwDecoder.h"

#include <algorithm>
#include <memory>

#include "engine/decode/ByteReader.h"
#include "engine/decode/OutputBuffer.h"

namespace engine {

namespace {

constexpr unsigned InitialBits = 9;
constexpr unsigned MaxBits = 16;
constexpr std::uint32_t ClearCode = 256;
constexpr unsigned char BlockModeFlag = 0x80;
constexpr unsigned char BitsMask = 0x1F;

// The start of the next group of eight codes of the given width, counted from groupStart.
std::uint64_t NextGroup(std::uint64_t bitPos, std::uint64_t groupStart, unsigned bits)
{
    const std::uint64_t groupBits = bits * 8u;
    return groupStart + (bitPos - groupStart + groupBits - 1) / groupBits * groupBits;
}

} // namespace

std::error_code DecodeLzw(ByteReader& in, OutputBuffer& out)
{
    if (auto error = in.Fill(1)) {
        return error;
    }
    if (in.Available() == 0) {
        return DecompressError::UnexpectedEnd;
    }
    const unsigned char flags = in.Data()[0];
    in.Consume(1);
    const unsigned maxBits = flags & BitsMask;
    const bool blockMode = (flags & BlockModeFlag) != 0;
    if (maxBits > MaxBits) {
        return DecompressError::LzwTooManyBits;
    }
    if (maxBits < InitialBits) {
        return DecompressError::LzwCorrupt;
    }
    const std::uint32_t maxMaxCode = 1u << maxBits;

    // Left uninitialised: an entry is only read once it is defined (codes at or beyond the next free
    // entry are refused or handled before the table is walked), and clearing 200 KiB cost more than
    // decoding a small image.
    const auto prefix = std::make_unique_for_overwrite<std::uint16_t[]>(1u << MaxBits);
    const auto suffix = std::make_unique_for_overwrite<unsigned char[]>(1u << MaxBits);
    for (unsigned i = 0; i < 256; ++i) {
        suffix[i] = static_cast<unsigned char>(i);
    }
    // A string is at most one byte per table entry long, plus the repeated first byte.
    constexpr std::size_t StackBytes = (1u << MaxBits) + 2;
    const auto stack = std::make_unique_for_overwrite<unsigned char[]>(StackBytes);

    unsigned bits = InitialBits;
    std::uint32_t maxCode = (1u << bits) - 1;
    std::uint32_t freeEntry = blockMode ? ClearCode + 1 : ClearCode;
    std::uint64_t bitPos = in.Offset() * 8;
    std::uint64_t groupStart = bitPos;
    std::int64_t oldCode = -1;
    unsigned char firstChar = 0;

    for (;;) {
        if (freeEntry > maxCode) {
            bitPos = groupStart = NextGroup(bitPos, groupStart, bits);
            ++bits;
            maxCode = bits == maxBits ? maxMaxCode : (1u << bits) - 1;
        }

        // The next code: up to three bytes hold its bits.
        const std::uint64_t skip = bitPos / 8 - in.Offset();
        if (auto error = in.Fill(static_cast<std::size_t>(skip) + 3)) {
            return error;
        }
        if (in.Available() < skip) {
            break; // padding ran past the end of the input
        }
        in.Consume(static_cast<std::size_t>(skip));
        const unsigned shift = bitPos % 8;
        if (in.Available() * 8 < shift + bits) {
            break; // fewer bits left than a code has: the end of the data
        }
        const unsigned char* d = in.Data();
        std::uint32_t window = d[0];
        window |= in.Available() > 1 ? static_cast<std::uint32_t>(d[1]) << 8 : 0;
        window |= in.Available() > 2 ? static_cast<std::uint32_t>(d[2]) << 16 : 0;
        std::uint32_t code = (window >> shift) & ((1u << bits) - 1);
        bitPos += bits;

        if (oldCode < 0) {
            if (code >= 256) {
                return DecompressError::LzwCorrupt;
            }
            oldCode = code;
            firstChar = static_cast<unsigned char>(code);
            if (auto error = out.Put(&firstChar, 1)) {
                return error;
            }
            continue;
        }
        if (code == ClearCode && blockMode) {
            // Entry 256 is filled by the next code, as the encoder lags one entry behind.
            freeEntry = ClearCode;
            bitPos = groupStart = NextGroup(bitPos, groupStart, bits);
            bits = InitialBits;
            maxCode = (1u << bits) - 1;
            continue;
        }

        const std::uint32_t inCode = code;
        std::size_t top = 0;
        if (code >= freeEntry) {
            if (code > freeEntry) {
                return DecompressError::LzwCorrupt;
            }
            stack[top++] = firstChar; // the entry being defined: old string plus its own first byte
            code = static_cast<std::uint32_t>(oldCode);
        }
        while (code >= 256) {
            if (top >= StackBytes - 1) {
                return DecompressError::LzwCorrupt;
            }
            stack[top++] = suffix[code];
            code = prefix[code];
        }
        firstChar = suffix[code];
        stack[top++] = firstChar;
        std::reverse(stack.get(), stack.get() + top);
        if (auto error = out.Put(stack.get(), top)) {
            return error;
        }

        if (freeEntry < maxMaxCode) {
            prefix[freeEntry] = static_cast<std::uint16_t>(oldCode);
            suffix[freeEntry] = firstChar;
            ++freeEntry;
        }
        oldCode = inCode;
    }
    return {};
}

} // namespace engine
