// A batch's outputs made durable and then named: their bytes synced, each renamed to its unique name in
// the destination or its numbered name in the quarantine folder, and its row told what it became.
#include "engine/run/ImageMigration.h"

#include <set>

#include "engine/common/Texts.h"
#include "support/FileSystem.h"

namespace engine {

namespace {

// A destination name that is somehow taken already is replaced by a fresh one, a few times over.
constexpr int UniqueNameAttempts = 8;
// Quarantine names are numbered up to here; beyond, the copy fails loudly instead of searching on.
constexpr int MaxQuarantineNumber = 100000;

} // namespace

void ImageMigration::Sync(std::span<Migration> migrations)
{
    // A file whose bytes are not durable is not named: a power cut must leave no empty or partial file
    // under a name. All are synced before any is named, as a rename between two syncs would make the
    // second sync write the file system's journal once more; where the system can, their file system
    // first, at once, and each file's own sync then only tells whether its bytes failed.
    std::set<std::string> folders;
    for (const Migration& migration : migrations) {
        if (migration.output) {
            folders.insert(support::FolderOf(migration.output->file.TemporaryPath()));
        }
    }
    for (const std::string& folder : folders) {
        support::SyncFileSystem(folder); // what failed, the files' own syncs tell
    }
    for (Migration& migration : migrations) {
        if (migration.output) {
            migration.output->synced = migration.output->file.Sync();
        }
    }
}

void ImageMigration::Name(std::span<Migration> migrations)
{
    const auto failed = [this](Migration& migration, const std::error_code& error) {
        Fail(migration.record, error, migration.output->sourceName, migration.output->converting);
        migration.record.dicom = {};
        migration.output.reset();
    };
    for (Migration& migration : migrations) {
        if (migration.output && migration.output->synced) {
            failed(migration, migration.output->synced);
        }
    }
    for (Migration& migration : migrations) {
        Output* output = migration.output.get();
        if (output == nullptr) {
            continue;
        }
        std::error_code error;
        if (output->quarantineStem.empty()) {
            const std::lock_guard lock(output->checked->lock); // not while its DICOM check reads it
            error = CommitUnique(output->file, output->target);
            output->checked->path = output->file.Target();
        } else {
            error = CommitNumbered(output->file, output->quarantineStem);
        }
        if (error) {
            failed(migration, error);
        }
    }
    for (Migration& migration : migrations) {
        if (migration.output) {
            Named(*migration.output, migration.record);
            migration.output.reset();
        }
    }
}

void ImageMigration::Named(Output& output, FileRecord& record)
{
    record.writtenSha256 = output.written;
    record.bytesWritten = output.file.BytesWritten();
    if (!output.quarantineStem.empty()) {
        record.writtenFile = std::string(texts::QuarantineFolder) + "/" + support::NameOf(output.file.Target());
        record.sourceSha256 = output.written; // the copy is the source, byte for byte
        return;
    }
    record.outcome = Outcome::Migrated;
    record.writtenFile = support::NameOf(output.file.Target());
}

std::error_code ImageMigration::CommitUnique(support::AtomicFile& out, const ImageTarget& target)
{
    // Never over an existing file: the destination may hold earlier discs' images. A name that is
    // taken after all is replaced by a fresh one.
    std::error_code error = out.Commit(support::Replace::Never);
    for (int attempt = 1; error == std::errc::file_exists && attempt < UniqueNameAttempts; ++attempt) {
        error = out.CommitAs(DestinationPath(target), support::Replace::Never);
    }
    return error;
}

std::error_code ImageMigration::CommitNumbered(support::AtomicFile& out, const std::string& stem)
{
    // "<stem>.err", or "<stem>2.err", "<stem>3.err" ... when that is taken.
    std::error_code error = std::make_error_code(std::errc::file_exists);
    for (int number = 1; error == std::errc::file_exists && number <= MaxQuarantineNumber; ++number) {
        const std::string name = stem + (number == 1 ? std::string() : std::to_string(number)) + ".err";
        if (!support::PathExists(name)) {
            error = out.CommitAs(name, support::Replace::Never);
        }
    }
    return error;
}

} // namespace engine
