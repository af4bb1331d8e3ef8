#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace engine {

// Names for destination files: time-ordered UUIDs (version 7) in lower-case canonical form, e.g.
// "0193a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b". 74 random bits per name make a repeat across runs,
// programs and machines practically impossible; the time prefix makes a destination folder list in
// migration order. Within one millisecond a counter keeps the names of one source strictly rising.
class UniqueNameSource
{
public:
    using Clock = std::function<std::uint64_t()>; // milliseconds since 1970
    using Random = std::function<std::uint64_t()>;

    UniqueNameSource();
    UniqueNameSource(Clock clock, Random random);

    std::string Next();

private:
    Clock m_clock;
    Random m_random;
    std::uint64_t m_lastMillis = 0;
    std::uint32_t m_counter = 0; // the 12 bits after the version nibble
};

} // namespace engine
