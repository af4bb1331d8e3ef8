#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "engine/report/FileRecord.h"

namespace engine {

// What earlier runs of the same disc left in a destination, by the source file's path: so that the
// disc run again leaves out every file whose output is still there with the same bytes, and nothing
// arrives twice.
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

    // Reads the reports of the runs of the disc with this fingerprint into the destination.
    void Load(const std::string& runsFolder, const std::string& destination, const std::string& fingerprint);
    void Clear() { m_outputs.clear(); }
    // The earlier output of the file, when the file has the size it had then and the output is still in
    // the destination with the bytes the report gives.
    std::optional<Output> Find(
        const std::string& relative, std::optional<std::uint64_t> size, const std::string& destination) const;

private:
    std::unordered_map<std::string, Output> m_outputs;
};

} // namespace engine
