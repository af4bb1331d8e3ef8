#include "engine/run/UniqueNameSource.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace engine {

namespace {

std::uint64_t SystemMillis()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

// The operating system's random source, asked for every name: no seed to repeat after a restart.
std::uint64_t SystemRandom()
{
    static std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

} // namespace

UniqueNameSource::UniqueNameSource()
    : UniqueNameSource(SystemMillis, SystemRandom)
{ }

UniqueNameSource::UniqueNameSource(Clock clock, Random random)
    : m_clock(std::move(clock))
    , m_random(std::move(random))
{ }

std::string UniqueNameSource::Next()
{
    std::uint64_t millis = m_clock();
    if (millis > m_lastMillis) {
        m_counter = static_cast<std::uint32_t>(m_random() & 0x7FF); // leave room to count up
    } else {
        // Same millisecond, or the clock stepped back: count on from the last name.
        millis = m_lastMillis;
        if (++m_counter > 0xFFF) {
            ++millis;
            m_counter = 0;
        }
    }
    m_lastMillis = millis;

    const std::uint64_t high = ((millis & 0xFFFFFFFFFFFFull) << 16) | 0x7000u | m_counter;
    const std::uint64_t low = (m_random() & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;

    char text[37];
    std::snprintf(text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx", static_cast<unsigned long long>(high >> 32),
        static_cast<unsigned long long>((high >> 16) & 0xFFFF), static_cast<unsigned long long>(high & 0xFFFF),
        static_cast<unsigned long long>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

} // namespace engine
