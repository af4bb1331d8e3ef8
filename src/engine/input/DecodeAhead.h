#pragma once

#include <cstdint>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "engine/input/DiscReader.h"

namespace engine {

// Decodes the next compressed image on a thread of its own, which lives as long as this object (the
// run's), while the run handles the current one, so that both processor cores decompress. It takes the image's bytes
// from the disc reader once that has read them whole, and decodes only: the run takes the result and writes, logs and
// counts exactly as if it had decoded the file itself. A file that cannot be read or is larger than the limits below is
// left to the run.
class DecodeAhead
{
public:
    // Two images in hand at once (this one's and the run's) must keep the process well under 100 MiB.
    static constexpr std::uint64_t MaxInputBytes = std::uint64_t {4} << 20;
    static constexpr std::uint64_t MaxOutputBytes = std::uint64_t {16} << 20;

    struct Result
    {
        std::shared_ptr<const DiscReader::File> source; // the file decoded
        std::string decoded; // the output up to the error, or all of it
        std::error_code error; // the decoder's verdict with MaxOutputBytes as the cap
    };

    DecodeAhead() = default;
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // Starts decoding the file the reader has after the one the run took last, unless a file is
    // being decoded already.
    void Start(DiscReader& reader);
    // The decoded file, if it was this one; waits for it. Whatever else was started is waited for
    // and dropped.
    std::unique_ptr<Result> Take(const DiscReader::File* file);
    // Waits for a file in flight and drops it; at the end of a run, so that nothing is left running.
    void Cancel();

private:
    void Work();

    std::mutex m_lock;
    std::condition_variable m_changed;
    DiscReader* m_reader = nullptr; // a file to decode was asked for, not yet taken up by the thread
    bool m_busy = false; // asked for, and not yet decoded
    std::unique_ptr<Result> m_result; // decoded, not yet taken
    bool m_stopping = false;
    std::thread m_thread; // started with the first file
};

} // namespace engine
