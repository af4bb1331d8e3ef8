#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/report/FileRecord.h"

namespace engine {

// What earlier runs of the same disc left in a destination, by the source file's path, so that the
// disc run again leaves out every file whose output is still there with the same bytes, and nothing
// arrives twice: runs that ended, runs that were killed (their rows as far as they got) and the
// outputs a killed run wrote without getting to their rows, which are known by their bytes.
class MigratedBefore
{
public:
    struct Output
    {
        Outcome outcome; // AlreadyMigrated or AlreadyRejected
        std::uint64_t size = 0; // of the source file
        std::string writtenFile;
        std::string writtenSha256;
        std::string sourceSha256;
    };

    // Reads the reports of the runs of the disc with this fingerprint into the destination, and notes
    // the destination's files that no report lists.
    void Load(const std::string& runsFolder, const std::string& destination, const std::string& fingerprint);
    void Clear();
    // The row of a file whose earlier output stays as it is: when the file has the size it had then,
    // the output is still in the destination with the bytes the report gives, and the file (at
    // sourcePath) is still the bytes that run read: another disc may hold a file of the same name and
    // size. pump keeps the front end answering while the source is read.
    std::optional<FileRecord> Find(const std::string& relative, std::optional<std::uint64_t> size,
        const std::string& sourcePath, const std::string& destination, const std::function<void()>& pump) const;
    // A file no report lists, in the destination (folder "") or its quarantine folder, with this size
    // and digest: the name it has there (relative to the destination). Each is found once.
    std::optional<std::string> Unlisted(std::string_view folder, std::uint64_t size, const Digest& digest);

private:
    struct Stray
    {
        std::string name; // relative to the destination
        std::optional<std::string> sha256; // once it was needed
    };

    // By the file's path on the disc, oldest run first: discs of one fingerprint may be several discs
    // whose files share names and sizes, each run leaving its own output.
    std::unordered_map<std::string, std::vector<Output>> m_outputs;
    std::string m_destination;
    std::unordered_multimap<std::uint64_t, Stray> m_unlisted; // by size
};

} // namespace engine
