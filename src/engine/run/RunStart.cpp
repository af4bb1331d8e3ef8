// The start of a run: the checks of "Migrieren" before anything is read, the disc's lock for the
// destination, and the question about a disc the destination has from an earlier run.
#include "engine/run/RunController.h"

#include "engine/common/Texts.h"
#include "engine/input/DiscIdentity.h"
#include "engine/records/RunsFolder.h"
#include "support/FileSystem.h"

namespace engine {

void RunController::Refuse(std::string_view logMessage, std::string_view boxText, const std::string& extra)
{
    m_log.WriteError(-1, logMessage, texts::SourceStart, extra);
    m_host.ShowMessage(MessageKind::Stop, boxText, texts::AppTitle);
    m_host.SetQuitEnabled(true);
}

void RunController::StartRun()
{
    m_host.SetQuitEnabled(false);
    if (m_running) {
        // The running run keeps its profile and work folder; one further run follows it.
        m_runQueued = true;
        return;
    }
    // A folder that is not there keeps the old texts; a file in its place is told as such.
    const struct
    {
        std::string path;
        std::string_view missingLog, missingBox, fileLog, fileBox;
    } folders[] = {
        {m_host.SourceText(), texts::SourceMissingLog, texts::SourceMissingBox, texts::SourceNotAFolderLog,
            texts::SourceNotAFolderBox},
        {m_host.DestText(), texts::DestMissingLog, texts::DestMissingBox, texts::DestNotAFolderLog,
            texts::DestNotAFolderBox},
        {m_host.TempText(), texts::TempMissingLog, texts::TempMissingBox, texts::TempNotAFolderLog,
            texts::TempNotAFolderBox},
    };
    for (const auto& folder : folders) {
        if (support::FolderExists(folder.path)) {
            continue;
        }
        if (!folder.path.empty() && support::PathExists(folder.path)) {
            return Refuse(folder.fileLog, std::string(folder.fileBox) + support::ShownPath(folder.path), folder.path);
        }
        return Refuse(folder.missingLog, folder.missingBox);
    }
    const std::string temp = m_host.TempText();
    // A run from the destination, or from its quarantine folder, would read its own outputs as the disc.
    const auto source = support::IdentityOf(m_host.SourceText());
    if (source == support::IdentityOf(m_host.DestText())) {
        return Refuse(texts::SameFolderLog, texts::SameFolderBox);
    }
    if (source == support::IdentityOf(m_host.DestText() + "/" + std::string(texts::QuarantineFolder))) {
        return Refuse(texts::SourceIsQuarantineLog, texts::SourceIsQuarantineBox);
    }
    // A destination that cannot be written is found now, not file by file after the whole disc was read.
    if (const std::error_code error = support::CheckWritable(m_host.DestText())) {
        return Refuse(texts::DestNotWritableLog,
            std::string(texts::DestNotWritableBox) + support::ShownPath(m_host.DestText()) + " (" + error.message()
                + ")",
            m_host.DestText());
    }
    // Refused before the work folder is made: a run without a profile has nothing to do.
    const std::string pacs = m_host.PacsText();
    const auto profile = ProfileFor(pacs);
    if (!profile) {
        return Refuse(texts::UnknownPacsLog,
            std::string(texts::UnknownPacsBox) + "\r\n" + std::string(texts::KnownPacsSystems) + SystemList());
    }
    m_state.TempRoot = temp;
    m_work = WorkFolder(temp);
    if (!m_work.Create()) {
        return Refuse(texts::WorkFolderLog, texts::WorkFolderBox);
    }
    m_state.FileFilter = profile;
    // "hipax" chooses HIPAX; the report and the journal name the system as it spells itself.
    m_state.RunPacs = SystemName(*profile);
    SetTimer(true);
}

bool RunController::AskAboutEarlierRun(const DiscIdentity& disc, const std::string& destination)
{
    m_migratedBefore.Clear();
    m_onlyMissing = false;
    const auto before = disc.selected > 0
        ? LastRunOfDisc(RunsFolder(m_logsHome), disc.fingerprint, disc.serial, destination)
        : std::nullopt;
    if (!before) {
        return true;
    }
    switch (m_host.AskQuestion(texts::MigratedBefore(before->StartedDate(), std::to_string(before->MigratedInAll()),
                                   before->selected ? std::to_string(*before->selected) : std::string()),
        texts::AppTitle)) {
    case Answer::Cancel:
        return false;
    case Answer::Yes:
        m_migratedBefore.Load(RunsFolder(m_logsHome), destination, disc.fingerprint);
        m_onlyMissing = true;
        break;
    case Answer::No:
        break;
    }
    return true;
}

bool RunController::TakeDisc(const DiscIdentity& disc, const std::string& destination)
{
    const std::string runs = RunsFolder(m_logsHome);
    CreateRunsFolder(m_logsHome);
    // Only another holder refuses the run: where no lock can be had (no reports folder), it goes on.
    return m_discLock.Lock(LocksFile(runs), DiscLockSlot(disc.fingerprint, destination), support::FileLock::Mode::Try)
        != std::errc::resource_unavailable_try_again;
}

bool RunController::IsOwnOutput(const std::string& folder) const
{
    // A destination or temp folder inside the source tree holds this program's own output.
    const auto identity = support::IdentityOf(folder);
    return identity
        && (identity == support::IdentityOf(m_host.DestText()) || identity == support::IdentityOf(m_work.Path()));
}

} // namespace engine
