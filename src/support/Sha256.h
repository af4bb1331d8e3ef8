#pragma once

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace support {

// SHA-256 over bytes fed in pieces, through OpenSSL (which uses the processor's SHA instructions
// where there are any). Used to hash files while they are copied, never by reading them again.
//
// The hashing runs on a background thread of the process, so that it overlaps with reading,
// decompressing and writing: Update copies the bytes and returns, Finish hands back a future of the
// digest at once. Meant for one thread, the engine's.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(std::string_view bytes);
    // The digest (lower-case hex) of everything fed so far, when it is ready; starts afresh.
    std::shared_future<std::string> Finish();
    // The same, waited for.
    std::string HexDigest() { return Finish().get(); }

    struct Context;

private:
    std::shared_ptr<Context> m_context;
    std::string m_batch; // a buffer of the background thread's, being filled
};

// The digest of a file's content, read whole (for checking files written earlier); none when it
// cannot be read. pump is called after each piece: a file on a slow disc takes a while.
std::optional<std::string> Sha256OfFile(const std::string& path, const std::function<void()>& pump = {});

} // namespace support
