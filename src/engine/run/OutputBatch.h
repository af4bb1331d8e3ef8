#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <span>
#include <vector>

#include "engine/run/FolderWalk.h"
#include "engine/run/ImageMigration.h"

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
    std::size_t Outputs() const { return m_outputs; }
    bool Empty() const { return m_steps.empty(); }
    void Clear();

private:
    std::vector<WalkStep> m_steps;
    std::vector<ImageMigration::Migration> m_migrations;
    std::size_t m_outputs = 0;
    std::uint64_t m_bytes = 0;
    std::chrono::steady_clock::time_point m_firstOutput; // the oldest output waiting
};

// Batches on their way to the report, so that the run never waits for a disk while a drive could be
// read: while the run fills one batch, the batch before is synced on a thread of its own, together
// with the folders of the one before that, which was named meanwhile. A file's row is written only
// after its bytes were synced, it was named, and its name was synced, in that order, as before; only
// later, by up to two batches.
class OutputPipeline
{
public:
    // Receives the files whose rows may be written, in the walk's order.
    using Deliver = std::function<void(OutputBatch&)>;

    ~OutputPipeline(); // waits for a sync under way

    // Adds a file; true when its batch is due for Flush.
    bool Add(WalkStep step, ImageMigration::Migration migration)
    {
        return m_filling.Add(std::move(step), std::move(migration));
    }
    // Moves every batch on by one step. Files without an output wait with the next batch while a sync is
    // under way, rather than the run waiting for it to keep the rows in order. With all, every file
    // added so far is delivered before it returns.
    void Flush(ImageMigration& migration, const Deliver& deliver, bool all = false);

private:
    void Advance(ImageMigration& migration, const Deliver& deliver);
    bool Pending() const { return !m_named.Empty() || !m_syncing.Empty() || m_sync.valid(); }

    OutputBatch m_filling;
    OutputBatch m_syncing; // its bytes being synced
    OutputBatch m_named; // named, its folders being synced
    std::future<void> m_sync; // of m_syncing's bytes and m_named's folders
};

} // namespace engine
