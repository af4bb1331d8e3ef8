#include "support/Sha256Context.h"

#include <algorithm>

#include "support/windows/WindowsApi.h"

#include <bcrypt.h>

namespace support {

namespace {

// The algorithm's provider is opened once for the process; each computation gets a hash object.
BCRYPT_ALG_HANDLE Provider()
{
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        ::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        return opened;
    }();
    return provider;
}

} // namespace

Sha256::Context::Context()
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    // With no object buffer given, the system keeps the hash object's memory itself.
    ::BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0);
    state = hash;
}

Sha256::Context::~Context()
{
    if (state != nullptr) {
        ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(state));
    }
}

void Sha256::Context::Update(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
        ::BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(state),
            reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), chunk, 0);
        bytes.remove_prefix(chunk);
    }
}

Sha256::Context::Digest Sha256::Context::Final()
{
    Digest digest {};
    ::BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(state), digest.data(), static_cast<ULONG>(digest.size()), 0);
    return digest;
}

} // namespace support
