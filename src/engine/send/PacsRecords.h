#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/send/PacsSender.h"

namespace support {
class Log;
struct Settings;
} // namespace support

// What a DICOM node made of the images of a destination folder: Logs/Runs/<start>_<PACS>-pacs.csv beside
// each rows file for the images its run wrote, Logs/Runs/unreported-pacs.csv for the images no report of
// this program lists (another copy of the program wrote them, or someone put them there); a row per image
// and attempt (the latest row of a file is what holds), appended and synced as sends and checks end, so
// that a send that was cut off resumes with what the node had confirmed. Each run's row in the journal
// gets the node and its counts.
namespace engine {

inline constexpr std::string_view PacsSuffix = "-pacs.csv";
// The send records that belong to a rows file.
std::string PacsFileOf(const std::string& rowsPath);
// The send records of images no run report lists, of every destination.
std::string UnreportedPacsFile(const std::string& runsFolder);

struct PacsRecord
{
    std::string writtenFile; // as the rows file names it, relative to the destination
    std::string sopInstanceUid;
    std::string node; // "AET@HOST:PORT"
    std::string storeStatus;
    std::string storeComment;
    std::string syntaxSent;
    std::string verdict; // ArrivalName
    std::string checked; // local time, ISO 8601
    std::string error;
    std::string destination; // the folder written_file lies in
    std::string disc; // the run report that lists the file ("2026-12-06_10-05-03_HIPAX"); empty when none does
};
const std::vector<std::string>& PacsColumns();

// The latest record of each written file at the node ("AET@HOST:PORT"); with a destination, only the
// records of files in that folder (rows written before records named their folder count for any).
std::map<std::string, PacsRecord> ReadPacsRecords(
    const std::string& pacsPath, const std::string& node, const std::string& destination = {});
// Adds the records and makes them durable; false when they could not be written.
bool AppendPacsRecords(const std::string& pacsPath, const std::vector<PacsRecord>& records);

// Every image of one destination folder to send to a node, for the operator imports the folder, not our
// reports: the files its run reports call migrated DICOM images (quarantined files and files no PACS
// takes are not), each once however many reports list it, and the images no report of this program lists.
struct SendPlan
{
    std::string runsFolder;
    std::string destination;
    std::vector<std::string> reports; // rows files
    std::vector<SendItem> items;
    std::vector<std::string> writtenFiles; // relative to the destination
    std::vector<std::vector<std::size_t>> reportsOf; // by item, indices into reports; empty: listed by none
    // By item: the record of an earlier send when the node had already confirmed the image.
    std::vector<std::optional<PacsRecord>> confirmedBefore;
    std::int64_t unreported = 0; // items no report lists
};
SendPlan PlanOfDestination(const std::string& runsFolder, const std::string& destination, const DicomNode& node);

struct PacsTally
{
    std::int64_t confirmed = 0;
    std::int64_t total = 0;
    std::int64_t unreported = 0; // of total, the images no report of this program lists
    bool reached = false; // the node answered (or there was nothing to send)
    // A line per fault of the node, then the images that did not arrive: one line each, or one line for
    // many that failed alike (each is in Error.txt all the same).
    std::vector<std::string> problems;
};

// Sends the plan's images that the node has not confirmed before (SendMode::ConfirmOnly: asks the node
// about every image, sending nothing), records what became of each, brings the journal rows of its
// reports up to date when the node was reached, and logs every image that did not arrive in Error.txt.
PacsTally SendPlanned(const SendSettings& settings, const SendPlan& plan, SendMode mode, const support::Log& log,
    const std::function<void(const SendProgress&)>& progress, const std::function<bool()>& stop);

// The settings of a send from the operator's texts (the command line's, or Settings.ini's [Senden]):
// node "AET@HOST:PORT", our AE title, our listener's port, the number of associations at most and the AE
// title the node reports under when not its own, each empty for its default. nullopt with a German error.
struct SendTexts
{
    std::string_view node {};
    std::string_view ownAet {};
    std::string_view listenPort {};
    std::string_view connections {};
    std::string_view reportAet {};
};
std::optional<SendSettings> MakeSendSettings(const SendTexts& texts, std::string& error);
// The texts of Settings.ini's [Senden]; they live as long as fields.
SendTexts SendTextsOf(const support::Settings& fields);

// The progress text while sending: "PACS ORTHANC: 120 von 5000 gesendet".
std::string SendProgressText(const DicomNode& node, const SendProgress& progress);
// "3 von 5 Bildern im PACS bestätigt."
std::string ConfirmedLine(std::int64_t confirmed, std::int64_t total);
// The lines below the confirmed count: how many images of the folder no report of this program lists.
std::string UnreportedLine(std::int64_t unreported);

} // namespace engine
