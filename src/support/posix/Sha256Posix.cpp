#include "support/Sha256Context.h"

#include <openssl/evp.h>

namespace support {

Sha256::Context::Context()
    : state(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(state), EVP_sha256(), nullptr);
}

Sha256::Context::~Context()
{
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state));
}

void Sha256::Context::Update(std::string_view bytes)
{
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(state), bytes.data(), bytes.size());
}

Sha256::Context::Digest Sha256::Context::Final()
{
    Digest digest {};
    unsigned int size = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(state), digest.data(), &size);
    return digest;
}

} // namespace support
