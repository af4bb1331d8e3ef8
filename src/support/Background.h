#pragma once

#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>

namespace support {

// The process's one background thread, which takes work off the run's thread so that the two
// processor cores overlap: hashing the bytes of one file and parsing the DICOM of another while the
// run reads, decompresses and writes the next. Jobs run one after another in the order they were
// given. Bytes travel in a few recycled buffers (no allocation per file).
class Background
{
public:
    static constexpr std::size_t BufferBytes = 1 << 20;

    static Background& Instance();

    // An empty buffer of BufferBytes capacity; waits while all are in the thread's hands, which
    // bounds the memory that waiting work holds.
    std::string TakeBuffer();
    void GiveBack(std::string buffer);

    // Runs work(bytes) on the background thread after every job given before; a buffer taken with
    // TakeBuffer returns to the pool afterwards.
    void Submit(std::string bytes, std::function<void(std::string_view bytes)> work);

    // Runs task() on the background thread; its result arrives in the future.
    template <typename Task> auto Run(Task task) -> std::shared_future<decltype(task())>
    {
        auto promise = std::make_shared<std::promise<decltype(task())>>();
        auto result = promise->get_future().share();
        Submit({}, [promise, task = std::move(task)](std::string_view) mutable {
            try {
                promise->set_value(task());
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        });
        return result;
    }

    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

private:
    Background();
    void Loop();

    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace support
