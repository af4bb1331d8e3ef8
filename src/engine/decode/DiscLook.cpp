#include "engine/decode/DiscLook.h"

#include <algorithm>

#include "engine/decode/Decompression.h"
#include "engine/decode/ImageContainer.h"
#include "support/Ascii.h"
#include "engine/common/Limits.h"
#include "support/InputFile.h"
#include "support/FileSystem.h"

namespace engine {

namespace {

// A sample file is read whole up to WholeFileLimit (a container's end marker is at its end), else
// its first piece; what it decodes to is looked at up to here.
constexpr std::uint64_t MaxSampleDecodedBytes = std::uint64_t {64} << 20;

// Kinds of names, by what the profiles select: ".AR"; "Z" or "R" at the end, with or without a ".";
// the others, with or without a ".".
enum NameKind { EndsAr, EndsZrDotted, EndsZr, Dotted, Plainly, NameKinds };

NameKind KindOf(std::string_view name)
{
    const std::string upper = support::UpperAscii(name);
    const bool dotted = upper.find('.') != std::string::npos;
    if (upper.ends_with(".AR")) {
        return EndsAr;
    }
    if (upper.ends_with('Z') || upper.ends_with('R')) {
        return dotted ? EndsZrDotted : EndsZr;
    }
    return dotted ? Dotted : Plainly;
}

// A directory is DICOM, but no image.
Look AsImage(std::string_view name, Look look)
{
    return look == Look::Dicom && support::UpperAscii(name) == "DICOMDIR" ? Look::Plain : look;
}

enum class Makes { Nothing, Image, Junk, Wrong };

// What a system's profile makes of a file of a kind of name and a look.
Makes WhatMakes(Profile profile, NameKind kind, Look look)
{
    const bool packed = look != Look::Dicom && look != Look::Plain;
    switch (profile) {
    case Profile::ArztUndPraxis: // every name that ends in "Z" or "R", ".AR" too
        return kind != Dotted && kind != Plainly && look == Look::PackedContainer ? Makes::Image : Makes::Nothing;
    case Profile::Starc:
        if (kind != EndsAr || !packed) {
            return Makes::Nothing; // not selected, or quarantined
        }
        return look == Look::PackedDicom ? Makes::Image : look == Look::PackedContainer ? Makes::Wrong : Makes::Junk;
    case Profile::Gemed:
        if (kind != EndsZr && kind != Plainly) {
            return Makes::Nothing; // the "." rule
        }
        break;
    case Profile::Hipax:
        break;
    }
    return packed ? Makes::Wrong : look == Look::Dicom ? Makes::Image : Makes::Junk;
}

bool IsRawDataset(std::string_view head)
{
    // A dataset without preamble and meta header begins with an element of group 0002 or 0008, little
    // endian, with an explicit VR of two capitals or an implicit length.
    if (head.size() < 8 || head[1] != 0 || (head[0] != 2 && head[0] != 8) || head[3] != 0) {
        return false;
    }
    const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
    return (capital(head[4]) && capital(head[5])) || (head[6] == 0 && head[7] == 0);
}

Look Sample(const std::string& path)
{
    support::InputFile in;
    if (in.Open(path)) {
        return Look::Plain;
    }
    std::string bytes;
    std::size_t length = 0;
    if (in.SizeAtOpen() <= WholeFileLimit) {
        in.ReadRest(bytes, length);
    } else {
        bytes.resize(support::FilePieceBytes);
        in.Read(bytes, length);
    }
    bytes.resize(length);
    const Look look = LookOfHead(bytes);
    if (look != Look::Packed) {
        return look;
    }
    std::string decoded;
    DecompressBytes(bytes, decoded, MaxSampleDecodedBytes); // damaged or cut short: what came out tells
    return LookOfDecoded(decoded);
}

} // namespace

Look LookOfHead(std::string_view head)
{
    if (head.size() >= 2 && head[0] == '\x1f' && (head[1] == '\x8b' || head[1] == '\x9d')) {
        return Look::Packed;
    }
    if ((head.size() >= 132 && head.substr(128, 4) == "DICM") || IsRawDataset(head)) {
        return Look::Dicom;
    }
    return Look::Plain;
}

Look LookOfDecoded(std::string_view decoded)
{
    if (CorrectImage(decoded)) {
        return Look::PackedContainer;
    }
    return LookOfHead(decoded) == Look::Dicom ? Look::PackedDicom : Look::PackedOther;
}

void DiscLook::Clear()
{
    *this = DiscLook();
}

void DiscLook::Note(std::string_view name, const std::string& path, std::optional<Look> look)
{
    Kind& kind = m_kinds[KindOf(name)];
    ++kind.files;
    // Compressed data that was copied as it is tells what it holds only once it is decoded.
    if (look && look != Look::Packed && kind.looks.size() < Samples) {
        kind.looks.push_back(AsImage(name, *look));
    } else if ((!look || look == Look::Packed) && kind.unread.size() < Samples) {
        kind.unread.push_back(path);
    }
}

void DiscLook::Migrated(Profile profile, std::string_view name, std::optional<Look> look)
{
    // A file left alone as migrated before counts as the image it was then.
    const Makes makes = look ? WhatMakes(profile, KindOf(name), AsImage(name, *look)) : Makes::Image;
    m_images += makes == Makes::Image ? 1 : 0;
    m_wrong += makes == Makes::Wrong ? 1 : 0;
}

std::optional<Profile> DiscLook::OtherSystem(Profile chosen, const std::function<void()>& pump)
{
    for (Kind& kind : m_kinds) {
        while (kind.looks.size() < Samples && !kind.unread.empty()) {
            kind.looks.push_back(AsImage(support::NameOf(kind.unread.back()), Sample(kind.unread.back())));
            kind.unread.pop_back();
            pump();
        }
    }
    // Each kind of name counts as its files times the share of its samples that make each thing.
    const auto estimate = [this](Profile profile, Makes wanted) {
        double count = 0;
        for (int k = 0; k < NameKinds; ++k) {
            const Kind& kind = m_kinds[k];
            const auto making = std::count_if(kind.looks.begin(), kind.looks.end(),
                [&](Look look) { return WhatMakes(profile, static_cast<NameKind>(k), look) == wanted; });
            count += kind.looks.empty() ? 0.0 : double(kind.files) * double(making) / double(kind.looks.size());
        }
        return count;
    };
    const auto score = [&](Profile profile) {
        return std::pair {
            estimate(profile, Makes::Image), -estimate(profile, Makes::Junk) - estimate(profile, Makes::Wrong)};
    };
    // The run's own system wins a tie; among the others the order of the window's list decides.
    Profile best = chosen;
    auto bestScore = score(chosen);
    for (const Profile other : {Profile::ArztUndPraxis, Profile::Gemed, Profile::Hipax, Profile::Starc}) {
        if (const auto otherScore = score(other); otherScore > bestScore) {
            best = other;
            bestScore = otherScore;
        }
    }
    return best != chosen && bestScore.first > 0 ? std::optional(best) : std::nullopt;
}

} // namespace engine
