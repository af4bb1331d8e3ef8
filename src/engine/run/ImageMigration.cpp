#include "engine/run/ImageMigration.h"

#include <algorithm>
#include <exception>
#include <new>

#include "engine/common/Limits.h"
#include "engine/common/Texts.h"
#include "engine/decode/Decompression.h"
#include "engine/decode/ImageContainer.h"
#include "engine/check/DicomCheck.h"
#include "support/AtomicFile.h"
#include "support/Background.h"
#include "support/FileSystem.h"
#include "support/Log.h"
#include "support/Sha256.h"

namespace engine {

namespace {

// How many decompressed bytes an image may have: no more than the cap, nor than the folder that
// receives them can hold.
std::uint64_t DecompressionBound(const std::string& outputFolder)
{
    return std::min(
        DefaultMaxDecompressedBytes, support::FreeSpace(outputFolder).value_or(DefaultMaxDecompressedBytes));
}

} // namespace

ImageMigration::ImageMigration(const support::Log& log, NameSource nextName, Pump pump)
    : m_log(log)
    , m_nextName(std::move(nextName))
    , m_pump(std::move(pump))
{ }

ImageMigration::Migration ImageMigration::Migrate(const SourceFile& file, const ImageTarget& target)
{
    Migration migration;
    FileRecord& record = migration.record;
    record.path = file.relative;
    record.size = file.size;
    record.selected = true;
    record.outcome = Outcome::Failed; // until it is migrated, rejected or left out

    // The file's one error boundary: whatever goes wrong, one line and on to the next file. An error
    // of reading the file names it; once the file is being converted or quarantined, only errors the
    // system reports name it, and the program's own (-1) messages stand alone.
    m_output.reset();
    Failure failure;
    try {
        failure = IsCompressed(target.profile) ? MigrateCompressed(file, target, record)
                                               : MigratePlain(file, target, record);
    } catch (const std::system_error& e) {
        failure = {e.code(), Phase::Writing};
    } catch (const std::bad_alloc&) {
        failure = {std::make_error_code(std::errc::not_enough_memory), Phase::Writing};
    } catch (const std::exception& e) {
        m_output.reset();
        m_log.WriteError(-1, e.what(), texts::SourceScanFolder, file.name);
        record.error = e.what();
        return migration;
    }
    // Closed now: an output waiting for its batch holds no descriptor.
    if (!failure.error && m_output) {
        failure = {m_output->file.Close(), Phase::Writing};
    }
    if (failure.error) {
        m_output.reset();
        Fail(record, failure.error, file.name, failure.phase == Phase::Converting);
        // The drive may read it once it has settled: the run tries it again at its end.
        record.unreadable = failure.phase == Phase::Reading && failure.error == std::errc::io_error;
        return migration;
    }
    if (m_output) {
        m_output->sourceName = file.name;
        m_output->converting = IsCompressed(target.profile);
        migration.output = std::move(m_output);
    }
    return migration;
}

void ImageMigration::Fail(FileRecord& record, const std::error_code& error, const std::string& name, bool converting)
{
    const int number = support::ErrorNumber(error);
    const bool named = !converting || number != -1;
    m_log.WriteError(number, support::ErrorDescription(error), texts::SourceScanFolder, named ? name : "");
    record.error = support::ErrorDescription(error);
}

std::string ImageMigration::DestinationPath(const ImageTarget& target)
{
    return target.destination + "/" + m_nextName() + ".dcm";
}

bool ImageMigration::AlreadyThere(support::AtomicFile& out, const Digest& written, FileRecord& record)
{
    std::optional<std::string> there = m_existing ? m_existing("", out.BytesWritten(), written) : std::nullopt;
    if (!there) {
        return false;
    }
    out.Discard();
    record.outcome = Outcome::AlreadyMigrated;
    record.writtenFile = std::move(*there);
    record.writtenSha256 = written;
    return true;
}

void ImageMigration::CheckDicom(Output& output, FileRecord& record)
{
    // Parsed on the background thread while the run goes on with the next files; the report waits. The
    // file may be named meanwhile, but not while it is read.
    output.checked = std::make_shared<CheckedPath>();
    output.checked->path = output.file.TemporaryPath();
    record.dicom = support::Background::Instance().Run([checked = output.checked] {
        const std::lock_guard lock(checked->lock);
        return CheckDicomFile(checked->path);
    });
}

ImageMigration::Failure ImageMigration::MigratePlain(
    const SourceFile& file, const ImageTarget& target, FileRecord& record)
{
    const std::string workPath = DestinationPath(target); // a name is taken before the "." rule is applied
    if (SkippedByDotRule(target.profile, file.name)) {
        record.selected = false;
        record.notSelectedBecause = LeftOutByDotRule;
        record.outcome = Outcome::Skipped;
        return {};
    }
    auto output = std::make_unique<Output>();
    support::Sha256 digest;
    // A large image takes a while: the window keeps answering during it.
    if (const support::CopyResult copy = output->file.CreateAsCopy(file.path, workPath, digest, m_pump); copy.error) {
        return {copy.error, copy.sourceFailed ? Phase::Reading : Phase::Writing};
    }
    record.sourceSha256 = output->written = digest.Finish(); // the bytes read are the bytes written
    record.bytesRead = output->file.BytesWritten();
    record.look = LookOfHead(output->file.Head());
    if (!AlreadyThere(output->file, output->written, record)) {
        CheckDicom(*output, record);
        output->target = target;
        m_output = std::move(output);
    }
    m_pump();
    return {};
}

ImageMigration::Failure ImageMigration::MigrateCompressed(
    const SourceFile& file, const ImageTarget& target, FileRecord& record)
{
    // Decompression runs in this process, so the disc's file is read as it is, without a staged copy
    // in the work folder.
    ImageSource::Taken taken = m_source.Take(file.path);
    if (taken.error) {
        return {taken.error, Phase::Reading};
    }
    record.bytesRead = record.size.value_or(0);
    const std::error_code error = Convert(*taken.image, file, target, record);
    // A file that streams may fail to read half-way; the decoder then ends with the reader's error.
    return {error, error && taken.image->ReadError() ? Phase::Reading : Phase::Converting};
}

std::error_code ImageMigration::DecompressStreamed(
    ImageSource::Image& input, const ByteSink& sink, std::uint64_t bound, support::Sha256& digest)
{
    std::string piece;
    std::size_t offset = 0;
    const ByteSource source = [&](std::span<char> buffer, std::size_t& got) -> std::error_code {
        got = 0;
        if (offset == piece.size()) {
            offset = 0;
            if (auto error = input.NextPiece(piece)) {
                return error;
            }
        }
        got = std::min(buffer.size(), piece.size() - offset);
        std::copy_n(piece.data() + offset, got, buffer.data());
        digest.Update(std::string_view(piece.data() + offset, got));
        offset += got;
        return {};
    };
    if (auto error = Decompress(source, sink, bound)) {
        return error;
    }
    // Bytes after the end of the compressed data are part of the source file all the same.
    do {
        digest.Update(std::string_view(piece.data() + offset, piece.size() - offset));
        offset = 0;
        if (auto error = input.NextPiece(piece)) {
            return error;
        }
    } while (!piece.empty());
    return {};
}

std::error_code ImageMigration::Convert(
    ImageSource::Image& input, const SourceFile& file, const ImageTarget& target, FileRecord& record)
{
    // A "STARC" image goes to the destination as it is; an "Arzt und Praxis" container passes through
    // the cut on its way, so that no container is ever held whole. Either way the decompressed bytes
    // may not pass the cap nor the free space of the folder that was made to receive them: a small
    // file that expands beyond is refused as corrupt before it fills the disk.
    const bool cutting = target.profile == Profile::ArztUndPraxis;
    auto output = std::make_unique<Output>();
    support::AtomicFile& out = output->file;
    ContainerCut cut;
    support::Sha256 digest;
    support::Sha256 sourceDigest;
    if (auto error = out.Create(DestinationPath(target))) {
        return error;
    }
    const ContainerCut::Sink write = [this, &out, &digest](std::string_view image) {
        digest.Update(image);
        const auto failed = out.Write(image);
        m_pump(); // a large image streams in pieces: the window keeps answering
        return failed;
    };
    std::string decoded; // the first bytes: what the file holds, for telling discs of other systems
    const ByteSink sink = [&](std::string_view bytes) {
        if (decoded.size() < support::AtomicFile::HeadBytes) {
            decoded.append(bytes.substr(0, support::AtomicFile::HeadBytes - decoded.size()));
        }
        return cutting ? cut.Feed(bytes, write) : write(bytes);
    };
    const std::uint64_t bound = DecompressionBound(cutting ? target.destination : target.workFolder);
    const DecodeAhead::Result* ahead = input.Decoded();
    const std::optional<std::string_view> whole = input.Whole();
    if (whole) {
        sourceDigest.Update(*whole);
    }
    std::error_code error;
    if (ahead != nullptr && ahead->error != DecompressError::TooLarge && ahead->decoded.size() <= bound) {
        // Decoded ahead to its end (or to the damage) within this run's cap: the same bytes and
        // verdict that decoding now would give, handed on as that would.
        error = ahead->decoded.empty() ? std::error_code {} : sink(ahead->decoded);
        if (!error) {
            error = ahead->error;
        }
    } else if (whole) {
        error = DecompressWhole(*whole, sink, bound);
    } else {
        error = DecompressStreamed(input, sink, bound, sourceDigest);
    }
    if (error && !IsDataError(error)) {
        return error; // the file system failed (a full disk, say), which says nothing about the image
    }
    if (error) {
        if (m_log.DebugOn()) {
            m_log.WriteDebug(file.name + ": " + support::ErrorDescription(error));
        }
        if (error != DecompressError::NotCompressed) {
            record.look = Look::PackedOther;
        } else if (whole) {
            record.look = LookOfHead(whole->substr(0, support::AtomicFile::HeadBytes));
        }
        out.Discard(); // a bomb's beginning must not take the room its quarantine copy needs
        return Reject(input, file, target, record);
    }
    record.sourceSha256 = sourceDigest.Finish();
    record.look = cutting && cut.Found()     ? Look::PackedContainer
        : LookOfHead(decoded) == Look::Dicom ? Look::PackedDicom
                                             : Look::PackedOther;
    if (cutting && !cut.Found()) {
        out.Discard();
        return Reject(input, file, target, record);
    }
    out.SetModified(input.Modified());
    output->written = digest.Finish();
    if (!AlreadyThere(out, output->written, record)) {
        CheckDicom(*output, record);
        output->target = target;
        m_output = std::move(output);
        // Said when the image is whole, in the walk's order among the other lines; it is named with its
        // batch, and a failure then has a line of its own.
        if (cutting && m_log.DebugOn()) {
            m_log.WriteDebug(file.name + " is migrated.");
        }
    }
    return {};
}

std::error_code ImageMigration::Reject(
    const ImageSource::Image& input, const SourceFile& file, const ImageTarget& target, FileRecord& record)
{
    m_log.WriteError(-1, "File " + file.name + " could not be migrated.", texts::SourceCorrectImage, "");
    record.outcome = Outcome::Rejected;
    return Quarantine(input, file, target, record);
}

std::error_code ImageMigration::Quarantine(
    const ImageSource::Image& input, const SourceFile& file, const ImageTarget& target, FileRecord& record)
{
    const std::string folder = target.destination + "/" + std::string(texts::QuarantineFolder) + "/";
    if (!support::FolderExists(folder)) {
        if (auto error = support::CreateFolder(folder); error && error != std::errc::file_exists) {
            return error;
        }
    }
    // The source file as it came from the disc, named by Commit.
    const std::string stem = folder + BaseName(file.name);
    auto output = std::make_unique<Output>();
    support::AtomicFile& copy = output->file;
    support::Sha256 digest;
    std::error_code error;
    if (const std::optional<std::string_view> whole = input.Whole()) {
        // The bytes in hand are the file's: the disc is not read a second time, out of turn.
        error = copy.Create(stem + ".err");
        if (!error) {
            digest.Update(*whole);
            error = copy.Write(*whole);
            copy.SetModified(input.Modified());
        }
    } else {
        error = copy.CreateAsCopy(file.path, stem + ".err", digest).error;
    }
    if (error) {
        return error;
    }
    const Digest copied = digest.Finish();
    if (auto there = m_existing ? m_existing(texts::QuarantineFolder, copy.BytesWritten(), copied) : std::nullopt) {
        copy.Discard();
        record.outcome = Outcome::AlreadyRejected;
        record.writtenFile = std::move(*there);
        record.writtenSha256 = record.sourceSha256 = copied;
        return {};
    }
    output->written = copied;
    output->target = target;
    output->quarantineStem = stem;
    m_output = std::move(output);
    return {};
}

} // namespace engine
