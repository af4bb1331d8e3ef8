#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/common/Limits.h"
#include "support/InputFile.h"

namespace engine {

// The one thread that reads the disc. An optical drive serves one request at a time and pays for
// every jump of its head, so the run's files are read here, file after file in the order the walk
// will reach them, ahead of the run and within a memory budget, while the run decodes and writes on
// other threads: the drive never waits for the processor, and never jumps between two files. A file
// up to WholeFileLimit is read whole; a larger one streams through in pieces, so that memory stays
// bounded whatever a disc holds.
//
// The reader only reads, and holds no file open beyond the one it is reading: memory is its budget,
// descriptors are not. A file it cannot read keeps its error for the run, which reports it at the
// file's turn as if it had read the file itself; one it cannot open it leaves to the run, which opens
// it at its turn and meets its own verdict.
class DiscReader
{
public:
    static constexpr std::uint64_t BudgetBytes = std::uint64_t {8} << 20;
    static constexpr std::size_t BudgetFiles = 64; // small files in line at most

    // A file as the reader has it: open, and read to its end or to an error.
    class File
    {
    public:
        const std::string& Path() const { return m_path; }
        // Closed once it has been read: what it was at opening is still there to compare.
        support::InputFile& Input() { return m_input; }
        // True when the file was read whole into one piece: Whole() then has its bytes.
        bool IsWhole() const { return m_whole; }
        std::string_view Whole() const { return m_pieces.empty() ? std::string_view() : m_pieces.front(); }
        // The error that ended reading; for a whole file, set when Whole() holds nothing.
        std::error_code Error() const { return m_error; }

    private:
        friend class DiscReader;
        std::string m_path;
        support::InputFile m_input;
        std::size_t m_index = 0; // in the reader's list
        std::deque<std::string> m_pieces;
        std::uint64_t m_held = 0; // bytes counted against the budget for this file
        std::error_code m_error;
        bool m_whole = false;
        bool m_ended = false; // nothing more comes
        bool m_dropped = false; // nobody wants the rest
    };

    // Starts reading paths, in that order.
    explicit DiscReader(std::vector<std::string> paths);
    ~DiscReader();
    DiscReader(const DiscReader&) = delete;
    DiscReader& operator=(const DiscReader&) = delete;

    // The file at path, when it is among the next ones in line, once it is read whole or (a large
    // one) opened; the files in line before it are dropped. Nothing when the reader does not have it
    // in line: the caller reads that file itself, as it does one that is not as it was opened (or
    // could not be opened).
    std::shared_ptr<File> Take(const std::string& path);
    // The next piece of a file that streams: empty at its end; the file's error when reading failed.
    std::error_code NextPiece(File& file, std::string& piece);
    // The file after the one taken last, once it is read whole, for decoding it ahead; nothing when
    // it streams, the reader stops or nothing follows.
    std::shared_ptr<const File> PeekNextWhole();
    // Hands a file's memory back once nothing needs its bytes any more: fresh memory for every file
    // cost the reader more time than the drive takes to turn to the next one.
    void Recycle(std::shared_ptr<File> file);
    // Ends reading; whoever waits is woken with nothing.
    void Stop();

private:
    void ReadAll();
    void ReadWhole(const std::shared_ptr<File>& file, std::unique_lock<std::mutex>& lock);
    void ReadPieces(const std::shared_ptr<File>& file, std::unique_lock<std::mutex>& lock);
    // Waits until bytes more may be held for file and counts them; false when nobody wants it any more.
    bool Reserve(File& file, std::unique_lock<std::mutex>& lock, std::uint64_t bytes);
    void Release(File& file, std::uint64_t bytes);
    void Drop(File& file);

    std::vector<std::string> m_paths;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<File>> m_line; // read or being read, not yet taken; in path order
    std::shared_ptr<File> m_streaming; // taken, and still streaming through
    std::size_t m_wanted = 0; // m_paths index of the first file still wanted
    std::size_t m_toRead = 0; // m_paths index of the next file to open
    std::uint64_t m_held = 0; // bytes read (or being read) and not yet handed on
    std::vector<std::string> m_spare; // buffers of files handled, for the next ones
    bool m_stopping = false;
    std::atomic<bool> m_stopRequested {false};
    std::thread m_thread;
};

} // namespace engine
