#include "support/Background.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace support {

namespace {

constexpr int Buffers = 8;
// After its last job the thread watches for the next one this long before it sleeps: a run hands
// over a job per file, and waking a sleeping thread costs more than a small file's whole work.
// (Yielding while it watches measured slower: it costs a system call each time.)
constexpr auto SpinTime = std::chrono::microseconds(100);

// Tells the processor that this is a wait loop, where it has a way to.
inline void RelaxWhileSpinning()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

struct Background::State
{
    struct Job
    {
        std::string bytes;
        std::function<void(std::string_view)> work;
    };

    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable returned;
    std::deque<Job> jobs;
    std::atomic<std::size_t> queued {0};
    std::vector<std::string> free;
    bool stopping = false;
    std::thread thread;
};

Background& Background::Instance()
{
    static Background instance;
    return instance;
}

Background::Background()
    : m_state(std::make_unique<State>())
{
    for (int i = 0; i < Buffers; ++i) {
        m_state->free.emplace_back();
        m_state->free.back().reserve(BufferBytes);
    }
    m_state->thread = std::thread([this] { Loop(); });
}

Background::~Background()
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->work.notify_one();
    m_state->thread.join();
}

std::string Background::TakeBuffer()
{
    std::unique_lock lock(m_state->mutex);
    m_state->returned.wait(lock, [this] { return !m_state->free.empty(); });
    std::string buffer = std::move(m_state->free.back());
    m_state->free.pop_back();
    buffer.clear();
    return buffer;
}

void Background::GiveBack(std::string buffer)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->free.push_back(std::move(buffer));
    m_state->returned.notify_all();
}

void Background::Submit(std::string bytes, std::function<void(std::string_view)> work)
{
    const std::lock_guard lock(m_state->mutex);
    m_state->jobs.push_back({std::move(bytes), std::move(work)});
    m_state->queued.fetch_add(1, std::memory_order_release);
    m_state->work.notify_one();
}

void Background::Loop()
{
    State& s = *m_state;
    std::unique_lock lock(s.mutex);
    for (;;) {
        if (s.jobs.empty() && !s.stopping) {
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + SpinTime;
            while (s.queued.load(std::memory_order_acquire) == 0 && std::chrono::steady_clock::now() < until) {
                RelaxWhileSpinning();
            }
            lock.lock();
            s.work.wait(lock, [&s] { return s.stopping || !s.jobs.empty(); });
        }
        if (s.jobs.empty()) {
            return; // stopping, and nothing is left to do
        }
        State::Job job = std::move(s.jobs.front());
        s.jobs.pop_front();
        s.queued.fetch_sub(1, std::memory_order_relaxed);
        lock.unlock();
        job.work(job.bytes);
        job.work = nullptr; // whatever the job holds goes before the buffer is handed on
        lock.lock();
        if (job.bytes.capacity() >= BufferBytes) {
            s.free.push_back(std::move(job.bytes));
            s.returned.notify_all();
        }
    }
}

} // namespace support
