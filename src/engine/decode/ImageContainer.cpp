#include "engine/decode/ImageContainer.h"

namespace engine {

namespace {

constexpr std::string_view TrailerMarker = "#*lastfile*#";

} // namespace

std::optional<std::string_view> CorrectImage(std::string_view content)
{
    const auto start = content.find('\0');
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view data = content.substr(start);
    const auto end = data.find(TrailerMarker);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return data.substr(0, end);
}

std::error_code ContainerCut::Feed(std::string_view bytes, const Sink& sink)
{
    if (m_phase == Phase::BeforeData) {
        const auto start = bytes.find('\0');
        if (start == std::string_view::npos) {
            return {};
        }
        m_phase = Phase::InData;
        bytes.remove_prefix(start);
    }
    if (m_phase == Phase::Done || bytes.empty()) {
        return {};
    }
    return FeedData(bytes, sink);
}

std::error_code ContainerCut::FeedData(std::string_view bytes, const Sink& sink)
{
    // Up to Marker.size() - 1 bytes are held back between calls, since they may be the start of a
    // marker that the next bytes complete. First a marker that begins in them, then one in bytes.
    const std::size_t keep = TrailerMarker.size() - 1;
    std::string joint = m_held;
    joint.append(bytes.substr(0, keep));
    if (const auto end = joint.find(TrailerMarker); end != std::string::npos) {
        m_phase = Phase::Done;
        return sink(std::string_view(joint).substr(0, end));
    }
    if (bytes.size() <= keep) {
        // Too little to decide: hold back what may still begin a marker.
        m_held = joint.size() > keep ? joint.substr(joint.size() - keep) : joint;
        return joint.size() > keep ? sink(std::string_view(joint).substr(0, joint.size() - keep)) : std::error_code {};
    }
    if (auto error = sink(m_held)) {
        return error;
    }
    m_held.clear();
    if (const auto end = bytes.find(TrailerMarker); end != std::string_view::npos) {
        m_phase = Phase::Done;
        return sink(bytes.substr(0, end));
    }
    m_held.assign(bytes.substr(bytes.size() - keep));
    return sink(bytes.substr(0, bytes.size() - keep));
}

} // namespace engine
