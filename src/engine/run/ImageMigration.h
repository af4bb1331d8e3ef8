#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/common/Profile.h"
#include "engine/decode/Decompression.h"
#include "engine/input/ImageSource.h"
#include "engine/report/FileRecord.h"
#include "support/AtomicFile.h"

namespace support {
class Log;
class Sha256;
} // namespace support

namespace engine {

// A selected file as the walk hands it over.
struct SourceFile
{
    std::string path;
    std::string name;
    std::string relative; // as the report names it
    std::optional<std::uint64_t> size;
};

// Where an image goes. Read when the file's turn comes: the operator may edit the fields during a run.
struct ImageTarget
{
    Profile profile;
    std::string destination;
    // The work folder: a "STARC" image is not staged there any more, but its size is still bounded by
    // the room there, as when it was decompressed into it.
    std::string workFolder;
};

// One selected file from the disc to the destination: a plain copy ("GEMED", "HIPAX"), or decompressed
// and, for "Arzt und Praxis", cut out of its container on the way. Every destination file appears
// only complete, under a fresh unique name, never over an existing file. An image that cannot be had
// from its file is logged and its source file copied unchanged into the destination's BadObjects
// folder; a failure of the file system (a full disk, a vanished file) is logged and leaves no trace
// in the destination, so that a rerun migrates the image.
//
// Every error line of a file is written here; the file's report row comes back, with what became of
// it, the hashes (computed on the background thread) and the pending DICOM check. An image or
// quarantine copy comes back written whole under its temporary name: Commit makes a batch of them
// durable and names them, and their rows are final then.
class ImageMigration
{
public:
    using NameSource = std::function<std::string()>; // a new unique name for every destination file
    using Pump = std::function<void()>; // keeps the front end answering during a large image
    // A file the destination holds already, in its top folder ("") or the quarantine folder, with this
    // size and content, that no report lists: its name, relative to the destination.
    using Existing
        = std::function<std::optional<std::string>(std::string_view folder, std::uint64_t size, const Digest& digest)>;

    ImageMigration(const support::Log& log, NameSource nextName, Pump pump);

    // When a disc is migrated again for its missing files only: an image or quarantine copy that the
    // destination holds already, unreported (a killed run wrote it), is not written a second time.
    // The file's row then says "already migrated" or "already rejected". Empty: everything is written.
    void SetExisting(Existing existing) { m_existing = std::move(existing); }

    // Where an image's DICOM check finds it: under its temporary name, then under its own. The file is
    // not renamed while it is being read.
    struct CheckedPath
    {
        std::mutex lock;
        std::string path;
    };
    // An image or quarantine copy written whole under its temporary name, waiting to be named.
    struct Output
    {
        support::AtomicFile file;
        std::shared_ptr<CheckedPath> checked; // an image's, for its DICOM check
        ImageTarget target;
        std::string sourceName; // for the log
        std::string quarantineStem; // a quarantine copy's "<destination>/BadObjects/<stem>"; empty for an image
        Digest written; // of its bytes
        bool converting = false; // a compressed image: the program's own failures (-1) stand alone in the log
        std::error_code synced; // what its sync returned, once Sync ran
    };
    // A file's row and, when it wrote one, its output.
    struct Migration
    {
        FileRecord record;
        std::unique_ptr<Output> output;
    };

    Migration Migrate(const SourceFile& file, const ImageTarget& target);
    // Makes the outputs' bytes durable. It touches nothing but the outputs' files, so it may run on a
    // thread of its own while the run goes on with the next files.
    static void Sync(std::span<Migration> migrations);
    // Names the synced outputs, all together, so that the file system writes its journal about once
    // for the batch. An image gets its unique name (a fresh one when that is taken), a quarantine copy
    // "<stem>.err", "<stem>2.err" ... in the order of the batch. The records are final after it; a file
    // that could not be synced or named is logged, and its output removed. The names are durable once
    // their folders are synced (support::SyncCommittedFolders): a row on the disk must never name a
    // file whose name a power cut could still take back.
    void Name(std::span<Migration> migrations);
    // All three, here and now.
    void Commit(std::span<Migration> migrations)
    {
        Sync(migrations);
        Name(migrations);
        support::SyncCommittedFolders();
    }
    // The compressed files the run will reach, in order: they are read ahead of their turn.
    void ReadAhead(std::vector<std::string> paths) { m_source.ReadAhead(std::move(paths)); }
    // Ends reading and decoding ahead, so that nothing reads on after the run.
    void CancelReadAhead() { m_source.Stop(); }
    // How many compressed files the run read itself while the reader was reading; starts from 0 again.
    std::int64_t TakeReadByItself() { return m_source.TakeReadByItself(); }

private:
    // Where a file's failure happened: reading the disc (the file may read on a second try), writing a
    // plain copy, or converting an image (the program's own failures, -1, then stand alone in the log).
    enum class Phase { Reading, Writing, Converting };
    struct Failure
    {
        std::error_code error;
        Phase phase = Phase::Writing;
    };

    Failure MigratePlain(const SourceFile& file, const ImageTarget& target, FileRecord& record);
    // The error line of a file and its row's error; converting: see Output.
    void Fail(FileRecord& record, const std::error_code& error, const std::string& name, bool converting);
    Failure MigrateCompressed(const SourceFile& file, const ImageTarget& target, FileRecord& record);
    std::error_code Convert(
        ImageSource::Image& input, const SourceFile& file, const ImageTarget& target, FileRecord& record);
    // Decompresses a file that streams; its bytes pass through digest, also those after the end of the
    // compressed data.
    std::error_code DecompressStreamed(
        ImageSource::Image& input, const ByteSink& sink, std::uint64_t bound, support::Sha256& digest);
    std::error_code Reject(
        const ImageSource::Image& input, const SourceFile& file, const ImageTarget& target, FileRecord& record);
    std::error_code Quarantine(
        const ImageSource::Image& input, const SourceFile& file, const ImageTarget& target, FileRecord& record);
    std::string DestinationPath(const ImageTarget& target);
    // True when the destination has the written bytes already (see SetExisting); out is given up.
    bool AlreadyThere(support::AtomicFile& out, const Digest& written, FileRecord& record);
    std::error_code CommitUnique(support::AtomicFile& out, const ImageTarget& target);
    std::error_code CommitNumbered(support::AtomicFile& out, const std::string& stem);
    void CheckDicom(Output& output, FileRecord& record);
    void Named(Output& output, FileRecord& record);

    const support::Log& m_log;
    NameSource m_nextName;
    Pump m_pump;
    Existing m_existing;
    ImageSource m_source;
    std::unique_ptr<Output> m_output; // the file in hand's, once written
};

} // namespace engine
