#include "engine/input/DecodeAhead.h"

#include <utility>

#include "engine/decode/Decompression.h"

namespace engine {

namespace {

std::unique_ptr<DecodeAhead::Result> Decode(DiscReader& reader)
{
    auto result = std::make_unique<DecodeAhead::Result>();
    result->source = reader.PeekNextWhole();
    if (!result->source || result->source->Whole().size() > DecodeAhead::MaxInputBytes) {
        result->source.reset(); // the run decodes it at its turn
        return result;
    }
    // A fresh buffer of the image's size for every image: one kept from an earlier image would grow
    // by doubling whenever a larger one came, and hold the largest size ever seen.
    try {
        result->error = DecompressBytes(result->source->Whole(), result->decoded, DecodeAhead::MaxOutputBytes);
    } catch (const std::bad_alloc&) {
        result->source.reset();
    }
    return result;
}

} // namespace

DecodeAhead::~DecodeAhead()
{
    Cancel();
    {
        const std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void DecodeAhead::Start(DiscReader& reader)
{
    const std::lock_guard lock(m_lock);
    if (m_busy || m_result) {
        return;
    }
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread([this] { Work(); });
        } catch (const std::system_error&) {
            return; // no thread to be had: the run decodes every file itself
        }
    }
    m_reader = &reader;
    m_busy = true;
    m_changed.notify_all();
}

void DecodeAhead::Work()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_reader != nullptr; });
        if (m_stopping) {
            return;
        }
        DiscReader* reader = std::exchange(m_reader, nullptr);
        lock.unlock();
        std::unique_ptr<Result> result = Decode(*reader);
        lock.lock();
        m_result = std::move(result);
        m_busy = false;
        m_changed.notify_all();
    }
}

std::unique_ptr<DecodeAhead::Result> DecodeAhead::Take(const DiscReader::File* file)
{
    std::unique_ptr<Result> result;
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this] { return !m_busy; });
        result = std::move(m_result);
    }
    return result && file != nullptr && result->source.get() == file ? std::move(result) : nullptr;
}

void DecodeAhead::Cancel()
{
    std::unique_ptr<Result> dropped;
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return !m_busy; });
    dropped = std::move(m_result);
}

} // namespace engine
