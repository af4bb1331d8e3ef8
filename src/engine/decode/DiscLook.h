#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/Profile.h"

namespace engine {

// What a file's bytes are, as far as telling the PACS systems' discs apart goes: DICOM or something
// else as it lies on the disc, or gzip or compress data holding DICOM, an "Arzt und Praxis" container
// or something else; Packed while what it holds was not looked at.
enum class Look { Dicom, Plain, Packed, PackedDicom, PackedContainer, PackedOther };

// The look of bytes as they lie on the disc, from their first bytes (up to a few KiB): DICOM,
// compressed data (Packed), or plain.
Look LookOfHead(std::string_view head);
// The look of compressed data, from its decompressed bytes: a whole container, or (from its first
// bytes) DICOM.
Look LookOfDecoded(std::string_view decoded);

// Whether a run used the right PACS system for its disc, and which system the disc looks like when
// not: told from the files' names and first bytes. A run whose system made no image of the disc, or
// copied compressed data as images, asks Guess; a few files the run did not read are read then.
class DiscLook
{
public:
    void Clear();
    // A file the walk saw, with its look when the run read it.
    void Note(std::string_view name, const std::string& path, std::optional<Look> look);
    // Counts what the run's own system made of a file: an image, or bytes that are not what it expects
    // (compressed data copied as an image, a container decompressed as an image).
    void Migrated(Profile profile, std::string_view name, std::optional<Look> look);
    // The run would make no image of the disc, or made wrong ones: its system may be the wrong one.
    bool Doubtful() const { return m_images == 0 || m_wrong > 0; }
    // The system whose profile makes the most images of the disc (the run's own where that is as good),
    // when it is another than the run's; nothing when the run's fits, or no system does. pump is called
    // between the files it reads.
    std::optional<Profile> OtherSystem(Profile chosen, const std::function<void()>& pump);

private:
    static constexpr std::size_t Samples = 12; // looked at per kind of name

    struct Kind // of names: what the profiles select
    {
        std::int64_t files = 0;
        std::vector<Look> looks; // of files read, up to Samples
        std::vector<std::string> unread; // paths to read when the kind needs more looks
    };

    Kind m_kinds[5];
    std::int64_t m_images = 0;
    std::int64_t m_wrong = 0;
};

} // namespace engine
