#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "support/AtomicFile.h"

namespace engine {

// Decodes the next compressed image of a folder on a thread of its own while the run handles the
// current one, so that both processor cores decompress. It only reads the disc: the run takes the
// result and writes, logs and counts exactly as if it had decoded the file itself. A file that cannot
// be read, is larger than the limits below, or has changed by its turn is left to the run, which
// opens and decodes it then as always.
class DecodeAhead
{
public:
    // Two images in hand at once (this one's and the run's) must keep the process well under 100 MiB.
    static constexpr std::uint64_t MaxInputBytes = std::uint64_t {4} << 20;
    static constexpr std::uint64_t MaxOutputBytes = std::uint64_t {16} << 20;

    struct Result
    {
        std::optional<support::InputFile> file; // open, and read to its end
        std::string buffer; // holds the compressed file at its front
        std::size_t length = 0;
        std::string decoded; // the output up to the error, or all of it
        std::error_code error; // the decoder's verdict with MaxOutputBytes as the cap
        bool usable = false; // false when the file could not be opened or read, or is too large
        std::string_view Compressed() const { return {buffer.data(), length}; }
    };

    DecodeAhead() = default;
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // Starts decoding the file at path, unless a file is being decoded already.
    void Start(const std::string& path);
    // The decoded file, if it was the one at path that was started, could be read and is unchanged
    // since; waits for it. Whatever else was started is waited for and dropped.
    std::unique_ptr<Result> Take(const std::string& path);
    // Hands a result's buffers back for the next file: their memory is reused, not their bytes.
    void Recycle(std::unique_ptr<Result> result);
    // Waits for a file in flight and drops it; at the end of a run, so that nothing reads on.
    void Cancel();

private:
    std::string m_path;
    std::future<std::unique_ptr<Result>> m_job;
    std::unique_ptr<Result> m_spare;
};

} // namespace engine
