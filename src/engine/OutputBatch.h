#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/FolderWalk.h"
#include "engine/ImageMigration.h"

namespace engine {

// The files handled since the last batch was made durable, in the walk's order, with their outputs.
// Outputs are made durable in batches: a file system writes its journal about once per batch, where
// a sync per file would cost a journal write per file. A batch is due once it holds a few dozen
// outputs or some MiB, or its oldest output has waited a second, so that little is redone after a
// crash; files without an output wait with the others, so that rows keep the walk's order, and are
// due at once when nothing waits.
class OutputBatch
{
public:
    static constexpr std::size_t MaxFiles = 32;
    static constexpr std::uint64_t MaxBytes = std::uint64_t {64} << 20;
    static constexpr auto MaxWait = std::chrono::seconds(1);

    // Adds a file; true when the batch is due.
    bool Add(WalkStep step, ImageMigration::Migration migration);
    std::span<ImageMigration::Migration> Migrations() { return m_migrations; }
    const std::vector<WalkStep>& Steps() const { return m_steps; }
    void Clear();

private:
    std::vector<WalkStep> m_steps;
    std::vector<ImageMigration::Migration> m_migrations;
    std::size_t m_outputs = 0;
    std::uint64_t m_bytes = 0;
    std::chrono::steady_clock::time_point m_firstOutput; // the oldest output waiting
};

} // namespace engine
