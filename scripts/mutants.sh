#!/usr/bin/env bash
# Mutation check: puts small faults into the source one at a time, rebuilds and runs the tests, and
# says which faults no test noticed. Not part of CI: a full pass takes hours on two cores.
#
#   scripts/mutants.sh                 every fault in the list below
#   scripts/mutants.sh cut- lzw-       only the faults whose names start with one of these
#   scripts/mutants.sh --check         only whether every entry still matches its file, without building
#
# Faults in the Windows files (support/windows/) are built into build-windows/ and tried by its tests
# under Wine: scripts/windows.sh build makes that build first; without it they are skipped.
#
# It builds into build-mutants/ and restores every file it touched, also when it is interrupted. A
# fault is "killed" when the build or a test fails, "survived" when everything passes. Each entry of
# the list names a file and one exact line fragment that occurs there once, and what replaces it.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --check ]; then
    scripts/install-deps.sh
    cmake -S . -B build-mutants -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build-mutants -j2 >/dev/null
fi

python3 - "$@" <<'PYTHON'
import os, pathlib, subprocess, sys

MUTANTS = r'''
cut-holds-back-one-byte-too-few | src/engine/decode/ImageContainer.cpp
    const std::size_t keep = TrailerMarker.size() - 1;
    const std::size_t keep = TrailerMarker.size() - 2;

cut-loses-the-zero-byte | src/engine/decode/ImageContainer.cpp
    const std::string_view data = content.substr(start);
    const std::string_view data = content.substr(start + 1);

gzip-second-magic-byte-unchecked | src/engine/decode/Decompression.cpp
    if (magic[0] == GzipMagic[0] && magic[1] == GzipMagic[1]) {
    if (magic[0] == GzipMagic[0] && magic[1] != LzwMagic[1]) {

gzip-crc-error-called-format-error | src/engine/decode/GzipDecoder.cpp
    if (message == "incorrect data check") {
    if (message == "incorrect data check!") {

gzip-lone-trailing-byte-accepted | src/engine/decode/GzipDecoder.cpp
        if (in.Available() == 1 && in.Data()[0] != 0) {
        if (in.Available() == 1 && in.Data()[0] == 0) {

decompression-cap-ignored | src/engine/decode/OutputBuffer.cpp
    if (size > m_maxBytes - m_total) {
    if (size > m_maxBytes) {

lzw-padding-off-by-one | src/engine/decode/LzwDecoder.cpp
    return groupStart + (bitPos - groupStart + groupBits - 1) / groupBits * groupBits;
    return groupStart + (bitPos - groupStart + groupBits) / groupBits * groupBits;

lzw-self-reference-refused | src/engine/decode/LzwDecoder.cpp
            if (code > freeEntry) {
            if (code >= freeEntry) {

lzw-clear-off-by-one | src/engine/decode/LzwDecoder.cpp
            freeEntry = ClearCode;
            freeEntry = ClearCode + 1;

profile-dot-rule-on-hipax | src/engine/common/Profile.cpp
    return profile == Profile::Gemed && fileName.find('.') != std::string_view::npos;
    return profile != Profile::ArztUndPraxis && fileName.find('.') != std::string_view::npos;

profile-r-not-selected | src/engine/common/Profile.cpp
        return name.ends_with('Z') || name.ends_with('R');
        return name.ends_with('Z');

quarantine-numbering-starts-at-3 | src/engine/run/ImageOutputs.cpp
        const std::string name = stem + (number == 1 ? std::string() : std::to_string(number)) + ".err";
        const std::string name = stem + (number == 1 ? std::string() : std::to_string(number + 1)) + ".err";

quarantine-stem-keeps-extension | src/engine/run/ImageMigration.cpp
    const std::string stem = folder + BaseName(file.name);
    const std::string stem = folder + file.name;

destination-overwritten | src/engine/run/ImageOutputs.cpp
    std::error_code error = out.Commit(support::Replace::Never);
    std::error_code error = out.Commit(support::Replace::Allowed);

source-hash-of-whole-file-skipped | src/engine/run/ImageMigration.cpp
        sourceDigest.Update(*whole);
        sourceDigest.Update({});

failures-not-counted | src/engine/report/RunReport.cpp
    m_tally.withError += record.error.empty() ? 0 : 1;
    m_tally.withError += 0;

dot-rule-not-checked | src/engine/report/RunReport.cpp
    m_tally.checked += record.selected || record.notSelectedBecause == LeftOutByDotRule ? 1 : 0;
    m_tally.checked += record.selected ? 1 : 0;

journal-column-of-the-wrong-count | src/engine/records/DiscJournal.cpp
    MaybeCountColumn<J, &J::migrated>("migrated"),
    MaybeCountColumn<J, &J::alreadyMigrated>("migrated"),

leftovers-not-removed | src/engine/run/RunController.cpp
    RemoveUnfinishedFiles(m_host.DestText(), m_log);
    (void)0;

work-folder-left-behind | src/engine/run/WorkFolder.cpp
    support::RemoveEmptyFolder(m_path); // another run still working here keeps it
    (void)0;

progress-value-off-by-one | src/engine/run/FolderWalk.cpp
    m_host.SetProgressValue(static_cast<std::int64_t>(index) + 1);
    m_host.SetProgressValue(static_cast<std::int64_t>(index));

read-ahead-change-unchecked | src/engine/input/ImageSource.cpp
    if (read && !read->Input().IsStill(path)) { // changed since, or the reader could not open it
    if (read && false) {

read-ahead-bypassed-while-the-reader-reads | src/engine/input/ImageSource.cpp
    std::shared_ptr<DiscReader::File> read = m_reader ? m_reader->Take(path) : nullptr;
    std::shared_ptr<DiscReader::File> read = nullptr;

streamed-file-own-read-keeps-stale-bytes | src/engine/input/ImageSource.cpp
        piece.resize(got);
        piece.resize(got == 0 ? 0 : piece.size());

streamed-read-error-taken-for-damage | src/engine/run/ImageMigration.cpp
    return {error, error && taken.image->ReadError() ? Phase::Reading : Phase::Converting};
    return {error, Phase::Converting};

plain-read-error-not-retried | src/engine/run/ImageMigration.cpp
        return {copy.error, copy.sourceFailed ? Phase::Reading : Phase::Writing};
        return {copy.error, Phase::Writing};

unreadable-file-not-retried | src/engine/run/RunController.cpp
        if (migration.record.unreadable) {
        if (false) {

retry-not-in-the-report | src/engine/run/RunController.cpp
            record.retried = true;
            record.retried = false;

installed-program-writes-beside-itself | src/support/posix/PlacesPosix.cpp
    if (!IsInstalled(programFolder)) {
    if (true) {

duplicate-uid-not-flagged | src/engine/report/KnownImages.cpp
    if (!added) {
    if (false) {

earlier-runs-forgotten | src/engine/report/RunReport.cpp
    if (!row.Is(Outcome::Migrated)) {
    if (!row.Is(Outcome::Rejected)) {

verify-misses-added-files | src/engine/report/Verification.cpp
                ++result.added;
                (void)0;

verify-ignores-the-verdict | src/engine/report/Verification.cpp
        if (verdict != row.dicom) {
        if (false) {

walk-list-order-reversed | src/engine/input/DiscTree.cpp
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
        for (auto child = children.begin(); child != children.end(); ++child) {

walk-list-reads-own-output | src/engine/input/DiscTree.cpp
            if (!leaveOut || !leaveOut(path)) {
            if (leaveOut || true) {

verify-passes-dead-part-files | src/engine/report/Verification.cpp
                ++result.leftovers;
                (void)0;

verify-counts-rows-as-files | src/engine/report/Verification.cpp
        ++result.filesInFolder;
        (void)0;

already-there-not-told | src/engine/run/RunSummaryText.cpp
    if (run.alreadyThere > 0) {
    if (run.alreadyThere < 0) {

eject-with-the-disc-mounted | src/support/posix/MountsPosix.cpp
        if (::umount2(mount->mountPoint.c_str(), 0) != 0) {
        if (false) {

eject-unmounts-another-drive | src/support/posix/MountsPosix.cpp
        if (device != drive) {
        if (device == "") {

disc-serial-not-read | src/support/posix/MountsPosix.cpp
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);

journal-without-the-serial | src/engine/run/RunController.cpp
    m_journal.serial = disc.serial;
    m_journal.serial = disc.label;

another-volume-taken-for-the-disc | src/engine/records/DiscJournal.cpp
        if (target && row.fingerprint == fingerprint && !otherVolume
        if (target && row.fingerprint == fingerprint && (otherVolume || true)

only-missing-trusts-name-and-size | src/engine/report/MigratedBefore.cpp
        return *source == output.sourceSha256;
        return source.has_value();

only-missing-sees-only-the-last-run-of-a-fingerprint | src/engine/report/MigratedBefore.cpp
    const auto earlierOutput = std::find_if(found->second.rbegin(), found->second.rend(), [&](const Output& output) {
    const auto earlierOutput = std::find_if(found->second.rbegin(), found->second.rbegin() + 1, [&](const Output& output) {

instance-lock-keyed-on-the-spelling | src/app/InstanceLock.cpp
    const auto identity = support::IdentityOf(settingsFolder);
    const std::optional<support::FileIdentity> identity;

sha256-full-buffer-loses-a-byte | src/support/Sha256.cpp
                context->Update(full);
                context->Update(full.substr(1));

report-un-read-as-bytes | src/engine/check/DicomCheck.cpp
        dcmEnableUnknownVRConversion.set(OFTrue);
        dcmEnableUnknownVRConversion.set(OFFalse);

report-bare-dataset-called-ok | src/engine/check/DicomCheck.cpp
        info.verdict = meta.card() == 0 ? DicomVerdict::NoPart10Header : DicomVerdict::Ok;
        info.verdict = DicomVerdict::Ok;

report-missing-uids-called-ok | src/engine/check/DicomCheck.cpp
    if (!lacks.empty()) {
    if (false) {

report-names-not-decoded | src/engine/check/DicomCheck.cpp
        if (m_ready && m_converter.convertString(OFString(raw.data(), raw.size()), converted, delimiters).good()) {
        if (false) {

report-latin1-kept-as-bytes | src/support/Utf8.cpp
    if (IsValidUtf8(text)) {
    if (true) {

report-older-rows-skipped | src/engine/records/Table.h
        if (cells.size() < m_minimum || cells.size() > std::max(m_columnAt.size(), m_table.size())) {
        if (cells.size() != m_table.size()) {

records-read-by-position-not-by-name | src/engine/records/Table.h
            const Column<Row>* column = i < m_columnAt.size() ? m_columnAt[i]
            const Column<Row>* column = i < m_table.size() ? &m_table[i]

records-cells-beyond-the-header-dropped | src/engine/records/Table.h
                : i < m_table.size()                          ? &m_table[i]
                : false                                       ? &m_table[i]

records-report-numbered-over-another | src/engine/records/ReportRows.cpp
        m_stem = number == 1 ? stem : stem + "_" + std::to_string(number);
        m_stem = stem;

records-sendable-whatever-the-verdict | src/engine/records/ReportRows.cpp
        && (verdict == DicomVerdict::Ok || verdict == DicomVerdict::NoPart10Header);
        && verdict.has_value();

records-already-migrated-not-migrated | src/engine/records/ReportRows.h
    return outcome == Outcome::Migrated || outcome == Outcome::AlreadyMigrated;
    return outcome == Outcome::Migrated;

report-studies-count-every-file | src/engine/report/StudyList.cpp
    if (image.verdict != DicomVerdict::Ok && image.verdict != DicomVerdict::NoPart10Header) {
    if (false) {

window-findings-left-out | src/engine/run/RunHost.h
        if (!findings.empty()) {
        if (false) {

csv-quote-not-quoted | src/support/Csv.cpp
    if (valid.find_first_of(",\"\r\n") == std::string::npos && !valid.starts_with("\xEF\xBB\xBF")) {
    if (valid.find_first_of(",\r\n") == std::string::npos && !valid.starts_with("\xEF\xBB\xBF")) {

log-line-breaks-unescaped | src/support/Log.cpp
        if (c == '\r') {
        if (c == '\a') {

log-midnight-shows-time | src/support/Log.cpp
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
    if (true) {

profile-file-comments-read-as-keys | src/support/ProfileFile.cpp
    if (trimmed.starts_with(';') || equals == std::string_view::npos) {
    if (equals == std::string_view::npos) {

disc-in-the-drive-not-new | src/support/Mounts.cpp
        if (!m_seen.contains(mount.Key())) {
        if (m_seen.empty()) {

leftovers-of-other-machines-taken | src/support/ProcessWatch.cpp
    if (!name.starts_with(prefix)) {
    if (name.empty()) {

copy-keeps-read-only-mode | src/support/posix/NativeFilePosix.cpp
    if ((st.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR)
    if (false

cli-exit-zero-despite-failures | src/cli/CliMain.cpp
        = failures > 0 || !run.looksLike.empty() || run.scanned == 0 ? ExitStatus::WithFailures : ExitStatus::Completed;
        = !run.looksLike.empty() || run.scanned == 0 ? ExitStatus::WithFailures : ExitStatus::Completed;

cli-exit-zero-for-another-systems-disc | src/cli/CliMain.cpp
        = failures > 0 || !run.looksLike.empty() || run.scanned == 0 ? ExitStatus::WithFailures : ExitStatus::Completed;
        = failures > 0 || run.scanned == 0 ? ExitStatus::WithFailures : ExitStatus::Completed;

cli-exit-zero-for-an-empty-source | src/cli/CliMain.cpp
        = failures > 0 || !run.looksLike.empty() || run.scanned == 0 ? ExitStatus::WithFailures : ExitStatus::Completed;
        = failures > 0 || !run.looksLike.empty() ? ExitStatus::WithFailures : ExitStatus::Completed;

cli-option-equals-form-broken | src/cli/CliMain.cpp
        into = arg.substr(name.size() + 1);
        into = arg.substr(name.size());

window-delete-refused-in-pacs | src/app/Controls.cpp
    case Qt::Key_Delete:
    case Qt::Key_F35:

window-debug-third-state-clicks-off | src/app/Controls.cpp
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);

window-temp-saved-from-dest | src/app/FrmMain.cpp
    fields.tempPath = m_txtTemp->text().toStdString();
    fields.tempPath = m_txtDest->text().toStdString();

window-quit-never-disabled | src/app/WindowHost.cpp
    m_controls.quitButton->setEnabled(enabled);
    m_controls.quitButton->setEnabled(true);

only-missing-trusts-an-output-that-is-there | src/engine/report/MigratedBefore.cpp
            || support::Sha256OfFile(destination + "/" + output.writtenFile) != output.writtenSha256) {
            || !support::FileSize(destination + "/" + output.writtenFile)) {

unreported-output-written-again | src/engine/report/MigratedBefore.cpp
        if (*stray.sha256 == digest.get()) {
        if (false) {

output-named-before-its-bytes-are-synced | src/support/AtomicFile.cpp
    if (auto error = m_closed ? native::SyncData(m_temp) : native::SyncData(m_handle)) {
    if (auto error = std::error_code {}) {

output-sync-failure-taken-for-success | src/engine/run/ImageOutputs.cpp
        if (migration.output && migration.output->synced) {
        if (false) {

row-names-a-file-before-its-folder-is-synced | src/engine/run/OutputBatch.cpp
        support::SyncCommittedFolders();
        (void)0;

summary-counts-rows-not-synced | src/engine/records/ReportRows.cpp
    if (m_rows.IsOpen() && m_rows.Sync()) {
    if (false) {

killed-run-not-found | src/engine/records/ReportRows.cpp
    m_failed = !Publish(SummarySuffix, SummaryText(opening), false) || m_failed;
    m_failed = m_failed;

journal-rewritten-unlocked | src/engine/records/DiscJournal.cpp
    lock.Lock(LocksFile(runsFolder), JournalLockSlot, support::FileLock::Mode::Wait);
    (void)lock;

other-runs-not-followed | src/engine/report/RunReport.cpp
    m_others.CatchUp();
    (void)0;

same-disc-twice-at-once | src/engine/run/RunStart.cpp
        != std::errc::resource_unavailable_try_again;
        == std::errc::invalid_argument;

reader-keeps-files-open | src/engine/input/DiscReader.cpp
        file->m_input.Close();
        (void)0;

retry-stop-loses-rows | src/engine/run/RunController.cpp
        Queue(std::move(step), std::move(migration));
        if (m_stopRequested) { continue; } Queue(std::move(step), std::move(migration));

source-as-destination-allowed | src/engine/run/RunStart.cpp
    if (source == support::IdentityOf(m_host.DestText())) {
    if (false) {

wrong-system-never-told | src/engine/decode/DiscLook.cpp
    return best != chosen && bestScore.first > 0 ? std::optional(best) : std::nullopt;
    return std::nullopt;

wrong-bytes-not-doubted | src/engine/decode/DiscLook.h
    bool Doubtful() const { return m_images == 0 || m_wrong > 0; }
    bool Doubtful() const { return m_images == 0; }

right-system-doubted | src/engine/decode/DiscLook.cpp
    Profile best = chosen;
    Profile best = Profile::Starc;

damaged-dicom-names-nothing | src/engine/check/DicomCheck.cpp
        info.problem = status.text();
        info.problem = status.text(); return info;

window-warning-shown-as-information | src/engine/run/RunSummaryText.cpp
    return !run.looksLike.empty() || !allInPacs || run.scanned == 0;
    return !allInPacs || run.scanned == 0;

window-field-over-its-label | src/app/FrmMain.cpp
    m_txtDest = FolderField(picture2, "txtDest", Twips(90, 1215, 4965, 345));
    m_txtDest = FolderField(picture2, "txtDest", Twips(90, 1050, 4965, 345));

send-store-success-counts-as-arrived | src/engine/pacs/SendStores.cpp
        HandOver(i, support::FileSize(item.file).value_or(0));
        Settle(i, Arrival::Committed, {});

send-cut-off-store-resent-unasked | src/engine/pacs/SendJob.cpp
        askFirst = Select({State::Uncertain});
        askFirst.clear();

send-confirmed-before-not-counted | src/engine/send/SendPlan.cpp
        arrived[i] = plan.confirmedBefore[i].has_value();
        arrived[i] = false;

send-refusal-retried | src/engine/pacs/SendStores.cpp
    } else if ((status & 0xFF00) == 0xA700) {
    } else if (true) {

send-question-before-skipped | src/engine/pacs/SendJob.cpp
            Ask(askFirst, Question::Before);
            (void)askFirst;

send-report-of-another-caller-taken | src/engine/pacs/CommitmentListener.cpp
    if (m_callers.count(callingAE.c_str()) != 0) {
    if (true) {

send-report-about-unasked-images-taken | src/engine/pacs/SendCommitment.cpp
            if (std::any_of(report->committed.begin(), report->committed.end(), unasked)
            if (false && std::any_of(report->committed.begin(), report->committed.end(), unasked)

send-report-failures-counted-as-committed | src/engine/pacs/SendCommitment.cpp
            if (report.committed.count(uid) != 0) {
            if (report.committed.count(uid) != 0 || !before) {

send-image-left-out-of-the-report-committed | src/engine/pacs/SendCommitment.cpp
            if (report.committed.count(uid) != 0) {
            if (report.committed.count(uid) != 0 || (!before && report.failed.count(uid) == 0)) {

send-report-answer-incomplete | src/engine/pacs/Dimse.cpp
        = O_NEVENTREPORT_AFFECTEDSOPCLASSUID | O_NEVENTREPORT_AFFECTEDSOPINSTANCEUID | O_NEVENTREPORT_EVENTTYPEID;
        = O_NEVENTREPORT_EVENTTYPEID;

send-transaction-uid-predictable | src/engine/pacs/Dimse.cpp
    return "2.25." + digits;
    return "2.25.1";

send-connections-cap-ignored | src/engine/send/SendPlan.cpp
        settings.associations = *count;
        (void)count;

send-images-of-no-report-left-out | src/engine/send/SendPlan.cpp
    for (const FolderImage& image : UnlistedImages(destination, listed)) {
    for (const FolderImage& image : std::vector<FolderImage>()) {

send-taken-listener-still-waits-for-reports | src/engine/pacs/SendProof.cpp
    const bool findFirst = question == Question::Before || !m_listening;
    const bool findFirst = question == Question::Before;

send-unconfirmed-exits-like-a-failed-run | src/cli/SendCli.cpp
    return tally.confirmed == tally.total ? ExitStatus::Completed : ExitStatus::NotConfirmed;
    return tally.confirmed == tally.total ? ExitStatus::Completed : ExitStatus::WithFailures;

start-file-for-a-folder-told-as-missing | src/engine/run/RunStart.cpp
        if (!folder.path.empty() && support::PathExists(folder.path)) {
        if (false) {

start-unwritable-destination-found-file-by-file | src/engine/run/RunStart.cpp
    if (const std::error_code error = support::CheckWritable(m_host.DestText())) {
    if (const std::error_code error = std::error_code()) {

summary-empty-source-untold | src/engine/run/RunSummaryText.cpp
    if (run.scanned == 0) {
    if (false) {

summary-empty-source-as-information | src/engine/run/RunSummaryText.cpp
    return !run.looksLike.empty() || !allInPacs || run.scanned == 0;
    return !run.looksLike.empty() || !allInPacs;

summary-damaged-image-told-as-text | src/engine/check/DicomCheck.cpp
        info.damaged = file.getMetaInfo()->card() > 0 || !info.sopInstanceUid.empty() || !info.studyInstanceUid.empty()
        info.damaged = false; [[maybe_unused]] const bool damaged = false

discs-folder-only-right-after-the-option | src/cli/CliMain.cpp
        } else if (options.discs && options.discs->empty() && !arg.starts_with("-")) {
        } else if (false) {

windows-remove-tree-leaves-sub-folders | src/support/windows/FileSystemWindows.cpp
        for (const auto* names : {&listing.files, &listing.folders, &listing.linkedFolders}) {
        for (const auto* names : {&listing.files, &listing.linkedFolders}) {

windows-replace-never-overwrites | src/support/windows/NativeFileWindows.cpp
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace == Replace::Allowed ? MOVEFILE_REPLACE_EXISTING : 0);
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace == Replace::Allowed ? 0 : MOVEFILE_REPLACE_EXISTING);

windows-lock-shared | src/support/windows/FileLockWindows.cpp
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (mode == Mode::Try ? LOCKFILE_FAIL_IMMEDIATELY : 0);
    const DWORD flags = (mode == Mode::Try ? LOCKFILE_FAIL_IMMEDIATELY : 0);

windows-listing-unsorted | src/support/windows/FileSystemWindows.cpp
    std::sort(listing.files.begin(), listing.files.end());
    std::reverse(listing.files.begin(), listing.files.end());

check-fetches-values-of-any-declared-length | src/engine/check/DicomCheck.cpp
    if (!element->valueLoaded()) {
    if (false) {
'''

SLOW = '^(Send\\.EveryImage|Pacs\\.Orthanc)'

def parse():
    mutants = []
    for block in MUTANTS.strip().split('\n\n'):
        lines = block.split('\n')
        name, path = [part.strip() for part in lines[0].split('|')]
        mutants.append((name, path, lines[1].strip(), lines[2].strip()))
    return mutants

def run(command):
    return subprocess.run(command, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

wanted = sys.argv[1:]
if wanted == ['--check']:
    stale = [m[0] for m in parse()
             if not pathlib.Path(m[1]).exists() or pathlib.Path(m[1]).read_text().count(m[2]) != 1]
    print(f'{len(parse())} entries; ' + (f'stale: {", ".join(stale)}' if stale else 'every one matches its file'))
    sys.exit(1 if stale else 0)
mutants = [m for m in parse() if not wanted or any(m[0].startswith(w) for w in wanted)]
windows = pathlib.Path('build-windows/CTestTestfile.cmake').exists()
wine = ('WINEPREFIX=' + os.path.expanduser(os.environ.get('ZP_WINDOWS_CACHE', '~/.cache/zet-pelta-windows'))
        + '/wine-tests WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ')
killed, survived, stale, skipped = [], [], [], []
for name, path, old, new in mutants:
    source = pathlib.Path(path)
    text = source.read_text()
    if text.count(old) != 1:
        stale.append(name)
        print(f'{name}: the fragment is not in {path} exactly once', flush=True)
        continue
    on_windows = '/windows/' in path
    if on_windows and not windows:
        skipped.append(name)
        print(f'{name}: skipped, no Windows build (scripts/windows.sh build)', flush=True)
        continue
    try:
        source.write_text(text.replace(old, new))
        if on_windows:
            built = run('cmake --build build-windows -j2') == 0
            passed = built and run(wine + 'ctest --test-dir build-windows --timeout 600') == 0
        else:
            built = run('cmake --build build-mutants -j2') == 0
            # The two tests against real nodes take minutes: they run only when every other test passed.
            passed = (built
                      and run(f'ctest --test-dir build-mutants -j2 --timeout 300 --stop-on-failure -E "{SLOW}"') == 0
                      and run(f'ctest --test-dir build-mutants -j2 --timeout 600 -R "{SLOW}"') == 0)
    finally:
        source.write_text(text)
    (survived if passed else killed).append(name)
    print(f'{name}: {"SURVIVED" if passed else "killed" if built else "killed (build)"}', flush=True)

run('cmake --build build-mutants -j2')
if windows:
    run('cmake --build build-windows -j2')
print(f'\n{len(killed)} of {len(killed) + len(survived)} faults killed'
      + (f'; survivors: {", ".join(survived)}' if survived else '')
      + (f'; stale entries: {", ".join(stale)}' if stale else '')
      + (f'; skipped without a Windows build: {", ".join(skipped)}' if skipped else ''))
sys.exit(1 if survived or stale else 0)
PYTHON
