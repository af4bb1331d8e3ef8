#include "engine/run/OutputBatch.h"

#include <system_error>

#include "support/AtomicFile.h"

namespace engine {

bool OutputBatch::Add(WalkStep step, ImageMigration::Migration migration)
{
    if (migration.output) {
        if (m_outputs++ == 0) {
            m_firstOutput = std::chrono::steady_clock::now();
        }
        m_bytes += migration.output->file.BytesWritten();
    }
    m_steps.push_back(std::move(step));
    m_migrations.push_back(std::move(migration));
    return m_outputs == 0 || m_outputs >= MaxFiles || m_bytes >= MaxBytes
        || std::chrono::steady_clock::now() - m_firstOutput >= MaxWait;
}

void OutputBatch::Clear()
{
    m_steps.clear();
    m_migrations.clear();
    m_outputs = 0;
    m_bytes = 0;
}

OutputPipeline::~OutputPipeline()
{
    if (m_sync.valid()) {
        m_sync.wait();
    }
}

void OutputPipeline::Flush(ImageMigration& migration, const Deliver& deliver, bool all)
{
    const bool syncing = m_sync.valid() && m_sync.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    if (all) {
        while (Pending() || !m_filling.Empty()) {
            Advance(migration, deliver);
        }
    } else if (!syncing || m_filling.Outputs() > 0) {
        Advance(migration, deliver);
    }
}

void OutputPipeline::Advance(ImageMigration& migration, const Deliver& deliver)
{
    if (m_sync.valid()) {
        m_sync.get();
    }
    if (!m_named.Empty()) {
        deliver(m_named);
        m_named.Clear();
    }
    if (!m_syncing.Empty()) {
        migration.Name(m_syncing.Migrations());
        std::swap(m_named, m_syncing);
    }
    std::swap(m_syncing, m_filling);
    if (m_syncing.Outputs() == 0 && m_named.Outputs() == 0) {
        return; // nothing to sync: on to the report at the next step
    }
    // The bytes first: on Linux, their file system's one sync also writes the names given since, and
    // the folders' own syncs then find little left to do.
    const auto sync = [migrations = m_syncing.Migrations()] {
        ImageMigration::Sync(migrations);
        support::SyncCommittedFolders();
    };
    try {
        m_sync = std::async(std::launch::async, sync);
    } catch (const std::system_error&) {
        sync(); // no thread to be had: synced here
    }
}

} // namespace engine
