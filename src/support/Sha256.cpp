#include "support/Sha256.h"

#include <algorithm>

#include "support/Background.h"
#include "support/InputFile.h"
#include "support/Sha256Context.h"

namespace support {

namespace {

std::string Hex(const Sha256::Context::Digest& bytes)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

} // namespace

Sha256::Sha256()
    : m_context(std::make_shared<Context>())
{ }

Sha256::~Sha256()
{
    if (m_batch.capacity() >= Background::BufferBytes) {
        Background::Instance().GiveBack(std::move(m_batch));
    }
}

// Hashing costs as much as decompressing a third of the data, so it runs on the background thread
// while the run goes on: the bytes are copied into its buffers, and a digest is a future that the
// thread fulfils after the file's last buffer.
void Sha256::Update(std::string_view bytes)
{
    // Small pieces (the LZW decoder's) are gathered; full buffers go to the background thread.
    Background& background = Background::Instance();
    while (!bytes.empty()) {
        if (m_batch.capacity() < Background::BufferBytes) {
            m_batch = background.TakeBuffer();
        }
        const std::size_t taken = std::min(bytes.size(), Background::BufferBytes - m_batch.size());
        m_batch.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        if (m_batch.size() == Background::BufferBytes) {
            background.Submit(std::move(m_batch), [context = m_context](std::string_view full) {
                context->Update(full);
            });
            m_batch = std::string();
        }
    }
}

std::shared_future<std::string> Sha256::Finish()
{
    auto digest = std::make_shared<std::promise<std::string>>();
    std::shared_future<std::string> result = digest->get_future().share();
    Background::Instance().Submit(std::move(m_batch), [context = m_context, digest](std::string_view batch) {
        context->Update(batch);
        digest->set_value(Hex(context->Final()));
    });
    m_batch = std::string();
    m_context = std::make_shared<Context>();
    return result;
}

std::optional<std::string> Sha256OfFile(const std::string& path, const std::function<void()>& pump)
{
    InputFile in;
    if (in.Open(path)) {
        return std::nullopt;
    }
    Sha256 digest;
    std::string buffer(FilePieceBytes, '\0');
    std::size_t got = 0;
    do {
        if (in.Read(buffer, got)) {
            return std::nullopt;
        }
        digest.Update(std::string_view(buffer).substr(0, got));
        if (pump) {
            pump();
        }
    } while (got > 0);
    return digest.HexDigest();
}

} // namespace support
