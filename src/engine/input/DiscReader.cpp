#include "engine/input/DiscReader.h"

#include <algorithm>

namespace engine {

namespace {

// How far past the file it expects next the reader looks for a file the run asks for: the walk may
// skip a few (a folder that vanished), never many.
constexpr std::size_t SearchAhead = 4 * DiscReader::BudgetFiles;
// Buffers kept for reuse: enough for the files in hand at once (the run's, the one decoded ahead).
constexpr std::size_t SpareBuffers = 4;

} // namespace

DiscReader::DiscReader(std::vector<std::string> paths)
    : m_paths(std::move(paths))
{
    try {
        m_thread = std::thread([this] { ReadAll(); });
    } catch (const std::system_error&) {
        // No thread to be had: nothing is read ahead, and the run reads every file itself.
        m_stopping = true;
    }
}

DiscReader::~DiscReader()
{
    Stop();
}

void DiscReader::Stop()
{
    m_stopRequested = true; // seen between two pieces of a file, without the lock
    {
        const std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void DiscReader::ReadAll()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_line.size() < BudgetFiles; });
        if (m_stopping || m_toRead >= m_paths.size()) {
            return;
        }
        auto file = std::make_shared<File>();
        file->m_index = m_toRead++;
        file->m_path = m_paths[file->m_index];
        lock.unlock();
        const std::error_code opened = file->m_input.Open(file->m_path);
        lock.lock();
        if (file->m_index < m_wanted) {
            continue; // the run has gone past it meanwhile
        }
        // Out of descriptors, say, where the run would not be: the run finds the file not as it was
        // opened (never opened), and opens it itself.
        file->m_error = opened;
        file->m_whole = !opened && file->m_input.SizeAtOpen() <= WholeFileLimit;
        file->m_ended = static_cast<bool>(opened);
        m_line.push_back(file);
        m_changed.notify_all();
        if (opened) {
            continue;
        }
        if (file->m_whole) {
            ReadWhole(file, lock);
        } else {
            ReadPieces(file, lock);
        }
        file->m_input.Close();
    }
}

void DiscReader::ReadWhole(const std::shared_ptr<File>& file, std::unique_lock<std::mutex>& lock)
{
    const std::uint64_t size = file->m_input.SizeAtOpen();
    if (!Reserve(*file, lock, size)) {
        return;
    }
    std::string bytes;
    if (!m_spare.empty()) {
        bytes = std::move(m_spare.back());
        m_spare.pop_back();
    }
    lock.unlock();
    std::size_t length = 0;
    // A piece at a time, so that a stop waits for one piece at most, whatever the drive makes of it.
    const std::error_code error
        = file->m_input.ReadRest(bytes, length, [this] { return m_stopRequested.load(std::memory_order_relaxed); });
    bytes.resize(error ? 0 : length);
    lock.lock();
    if (file->m_dropped) {
        return;
    }
    // What it holds now; a file that grew since it was opened holds more than was reserved.
    m_held = m_held - file->m_held + bytes.size();
    file->m_held = bytes.size();
    file->m_error = error;
    file->m_pieces.push_back(std::move(bytes));
    file->m_ended = true;
    m_changed.notify_all();
}

void DiscReader::ReadPieces(const std::shared_ptr<File>& file, std::unique_lock<std::mutex>& lock)
{
    for (;;) {
        if (!Reserve(*file, lock, support::FilePieceBytes)) {
            return;
        }
        lock.unlock();
        std::string piece(support::FilePieceBytes, '\0');
        std::size_t got = 0;
        const std::error_code error = file->m_input.Read(piece, got);
        piece.resize(got);
        lock.lock();
        if (file->m_dropped) {
            return;
        }
        Release(*file, support::FilePieceBytes - got);
        if (got > 0) {
            file->m_pieces.push_back(std::move(piece));
        }
        file->m_error = error;
        file->m_ended = error || got == 0;
        m_changed.notify_all();
        if (file->m_ended) {
            return;
        }
    }
}

bool DiscReader::Reserve(File& file, std::unique_lock<std::mutex>& lock, std::uint64_t bytes)
{
    // One file alone may always be read, so that a file as large as the budget does not wait forever.
    m_changed.wait(lock, [&] { return m_stopping || file.m_dropped || m_held == 0 || m_held + bytes <= BudgetBytes; });
    if (m_stopping || file.m_dropped) {
        return false;
    }
    m_held += bytes;
    file.m_held += bytes;
    return true;
}

void DiscReader::Release(File& file, std::uint64_t bytes)
{
    m_held -= bytes;
    file.m_held -= bytes;
    m_changed.notify_all();
}

void DiscReader::Drop(File& file)
{
    file.m_dropped = true;
    file.m_pieces.clear();
    Release(file, file.m_held);
}

std::shared_ptr<DiscReader::File> DiscReader::Take(const std::string& path)
{
    std::unique_lock lock(m_lock);
    if (m_streaming) {
        Drop(*m_streaming); // the file before was handled, whether or not it was read to its end
        m_streaming.reset();
    }
    const std::size_t first = std::min(m_wanted, m_paths.size());
    const auto from = m_paths.begin() + static_cast<std::ptrdiff_t>(first);
    const auto to = from + static_cast<std::ptrdiff_t>(std::min(SearchAhead, m_paths.size() - first));
    const auto found = std::find(from, to, path);
    if (m_stopping || found == to) {
        return nullptr;
    }
    const auto index = static_cast<std::size_t>(found - m_paths.begin());
    // Files the walk did not reach are dropped; the reader goes on from this one.
    m_wanted = index;
    m_toRead = std::max(m_toRead, index);
    while (!m_line.empty() && m_line.front()->m_index < index) {
        Drop(*m_line.front());
        m_line.pop_front();
    }
    m_changed.wait(lock, [&] {
        return m_stopping
            || (!m_line.empty() && m_line.front()->m_index == index
                && (m_line.front()->m_ended || !m_line.front()->m_whole));
    });
    if (m_stopping) {
        return nullptr;
    }
    std::shared_ptr<File> file = std::move(m_line.front());
    m_line.pop_front();
    m_wanted = index + 1;
    if (file->m_whole) {
        Release(*file, file->m_held); // its bytes are the caller's now
    } else {
        m_streaming = file;
    }
    m_changed.notify_all();
    return file;
}

std::error_code DiscReader::NextPiece(File& file, std::string& piece)
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_stopping || file.m_dropped || !file.m_pieces.empty() || file.m_ended; });
    piece.clear();
    if (!file.m_pieces.empty()) {
        piece = std::move(file.m_pieces.front());
        file.m_pieces.pop_front();
        Release(file, piece.size());
        return {};
    }
    if (!file.m_ended) {
        return std::make_error_code(std::errc::operation_canceled);
    }
    return file.m_error;
}

void DiscReader::Recycle(std::shared_ptr<File> file)
{
    const std::lock_guard lock(m_lock);
    if (file && file.use_count() == 1 && file->m_whole && !file->m_pieces.empty() && m_spare.size() < SpareBuffers
        && file->m_pieces.front().capacity() <= WholeFileLimit + 1) {
        m_spare.push_back(std::move(file->m_pieces.front()));
        file->m_pieces.clear();
    }
}

std::shared_ptr<const DiscReader::File> DiscReader::PeekNextWhole()
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] {
        return m_stopping || (m_toRead >= m_paths.size() && m_line.empty())
            || (!m_line.empty() && (m_line.front()->m_ended || !m_line.front()->m_whole));
    });
    if (m_stopping || m_line.empty() || m_line.front()->m_index != m_wanted || !m_line.front()->m_whole
        || m_line.front()->m_error) {
        return nullptr;
    }
    return m_line.front();
}

} // namespace engine
