#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace engine {

// Cuts the DICOM data out of an "Arzt und Praxis" container: a leading block without zero bytes, then
// the DICOM data, which begins with the first zero byte, then a trailer that begins with the first
// "#*lastfile*#" after it. The result is a view into content: from the first 0x00 up to, not
// including, that marker. Empty when there is no zero byte or no marker after it (a marker inside
// the leading block does not count). Two forward scans; nothing is copied.
std::optional<std::string_view> CorrectImage(std::string_view content);

// The same cut on a stream, so that a container of any size passes through a small buffer: the
// decompressed bytes go in as they come, and the image's bytes come out in order. Once the whole
// container has gone in, Found() tells whether it held an image; what came out before is the image
// exactly when it did, and must be thrown away otherwise.
class ContainerCut
{
public:
    using Sink = std::function<std::error_code(std::string_view imageBytes)>;

    // Errors come only from the sink.
    std::error_code Feed(std::string_view bytes, const Sink& sink);
    bool Found() const { return m_phase == Phase::Done; }

private:
    enum class Phase { BeforeData, InData, Done };
    std::error_code FeedData(std::string_view bytes, const Sink& sink);

    Phase m_phase = Phase::BeforeData;
    std::string m_held; // the last bytes of the data so far, which may begin the end marker
};

} // namespace engine
