#include "engine/OutputBatch.h"

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

} // namespace engine
