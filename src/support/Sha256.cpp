#include "support/Sha256.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <openssl/evp.h>

namespace support {

struct Sha256::Context
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Context() { EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr); }
    ~Context() { EVP_MD_CTX_free(ctx); }
};

namespace {

std::string Hex(const unsigned char* bytes, unsigned int size)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += Digits[bytes[i] >> 4];
        text += Digits[bytes[i] & 15];
    }
    return text;
}

// Hashing costs as much as decompressing a third of the data, so it runs on a thread of its own
// while the run goes on. The bytes are copied for it into a few buffers that go round between the
// two threads (no allocation per file); a digest is a future that the thread fulfils after the
// file's last buffer.
class HashThread
{
public:
    static constexpr std::size_t BufferBytes = 1 << 20;

    struct Job
    {
        std::shared_ptr<Sha256::Context> context;
        std::string bytes;
        std::shared_ptr<std::promise<std::string>> digest; // set on a file's last job
    };

    static HashThread& Instance()
    {
        static HashThread instance;
        return instance;
    }

    // An empty buffer to fill; waits while all are in the hash thread's hands.
    std::string TakeBuffer()
    {
        std::unique_lock lock(m_mutex);
        m_returned.wait(lock, [this] { return !m_free.empty(); });
        std::string buffer = std::move(m_free.back());
        m_free.pop_back();
        buffer.clear();
        return buffer;
    }

    void GiveBack(std::string buffer)
    {
        const std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(buffer));
        m_returned.notify_all();
    }

    void Submit(Job job)
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        m_work.notify_one();
    }

    ~HashThread()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_one();
        m_thread.join();
    }

private:
    static constexpr int Buffers = 8;

    HashThread()
    {
        for (int i = 0; i < Buffers; ++i) {
            m_free.emplace_back();
            m_free.back().reserve(BufferBytes);
        }
        m_thread = std::thread([this] { Run(); });
    }

    void Run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_work.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty()) {
                return;
            }
            Job job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            EVP_DigestUpdate(job.context->ctx, job.bytes.data(), job.bytes.size());
            if (job.digest) {
                unsigned char digest[EVP_MAX_MD_SIZE];
                unsigned int size = 0;
                EVP_DigestFinal_ex(job.context->ctx, digest, &size);
                job.digest->set_value(Hex(digest, size));
            }
            lock.lock();
            if (job.bytes.capacity() >= BufferBytes) {
                m_free.push_back(std::move(job.bytes));
                m_returned.notify_all();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_returned;
    std::deque<Job> m_jobs;
    std::vector<std::string> m_free;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace

Sha256::Sha256()
    : m_context(std::make_shared<Context>())
{ }

Sha256::~Sha256()
{
    if (m_batch.capacity() >= HashThread::BufferBytes) {
        HashThread::Instance().GiveBack(std::move(m_batch));
    }
}

void Sha256::Update(std::string_view bytes)
{
    // Small pieces (the LZW decoder's) are gathered; full buffers go to the hash thread.
    HashThread& thread = HashThread::Instance();
    while (!bytes.empty()) {
        if (m_batch.capacity() < HashThread::BufferBytes) {
            m_batch = thread.TakeBuffer();
        }
        const std::size_t taken = std::min(bytes.size(), HashThread::BufferBytes - m_batch.size());
        m_batch.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        if (m_batch.size() == HashThread::BufferBytes) {
            thread.Submit({m_context, std::move(m_batch), nullptr});
            m_batch = std::string();
        }
    }
}

std::shared_future<std::string> Sha256::Finish()
{
    auto digest = std::make_shared<std::promise<std::string>>();
    std::shared_future<std::string> result = digest->get_future().share();
    HashThread::Instance().Submit({m_context, std::move(m_batch), digest});
    m_batch = std::string();
    m_context = std::make_shared<Context>();
    return result;
}

} // namespace support
