#pragma once

#include <array>
#include <string_view>

#include "support/Sha256.h"

namespace support {

// One SHA-256 computation by the system's own cryptography library (OpenSSL here, the system's
// cryptography API on Windows): each platform implements it in a file of its own.
struct Sha256::Context
{
    using Digest = std::array<unsigned char, 32>;

    Context();
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    void Update(std::string_view bytes);
    Digest Final();

    void* state = nullptr;
};

} // namespace support
