#include "support/FileLock.h"

namespace support {

std::uint64_t LockSlot(std::string_view key)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a, 64 bits
    for (const char c : key) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    // Below 2^62, so that the slot is a valid file offset; the first 16 are for fixed uses.
    return 16 + (hash >> 2);
}

} // namespace support
