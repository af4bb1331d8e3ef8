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
}

// What a DICOM node made of the images of the run reports: Logs/Runs/<start>_<PACS>-pacs.csv beside each
// rows file, a row per image and attempt (the latest row of a file is what holds), appended and synced
// as sends and checks end, so that a send that was cut off resumes with what the node had confirmed.
// Each run's row in the journal gets the node and its counts.
namespace engine {

inline constexpr std::string_view PacsSuffix = "-pacs.csv";
// The send records that belong to a rows file.
std::string PacsFileOf(const std::string& rowsPath);

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
};
const std::vector<std::string>& PacsColumns();

// The latest record of each written file at the node ("AET@HOST:PORT").
std::map<std::string, PacsRecord> ReadPacsRecords(const std::string& pacsPath, const std::string& node);
// Adds the records and makes them durable; false when they could not be written.
bool AppendPacsRecords(const std::string& pacsPath, const std::vector<PacsRecord>& records);

// The images of one destination's run reports to send to a node: the files the reports call migrated
// DICOM images (quarantined files and files no PACS takes are not), each once, however many reports
// list it.
struct SendPlan
{
    std::string destination;
    std::vector<std::string> reports; // rows files
    std::vector<SendItem> items;
    std::vector<std::string> writtenFiles;
    std::vector<std::vector<std::size_t>> reportsOf; // by item, indices into reports
    // By item: the record of a report when the node had already confirmed the image.
    std::vector<std::optional<PacsRecord>> confirmedBefore;
};
SendPlan PlanOfReports(
    const std::vector<std::string>& rowsPaths, const std::string& destination, const DicomNode& node);

struct PacsTally
{
    std::int64_t confirmed = 0;
    std::int64_t total = 0;
    bool reached = false; // the node answered (or there was nothing to send)
    std::vector<std::string> problems; // a line per image that did not arrive, and per fault of the node
};

// Sends the plan's images that the node has not confirmed before (confirmOnly: asks the node about
// every image, sending nothing), records what became of each, brings the journal rows of its reports up
// to date when the node was reached, and logs every image that did not arrive in Error.txt.
PacsTally SendPlanned(const SendSettings& settings, const SendPlan& plan, bool confirmOnly, const support::Log& log,
    const std::function<void(const SendProgress&)>& progress, const std::function<bool()>& stop);

// The settings of a send from the operator's texts (the command line's, or Settings.ini's): node
// "AET@HOST:PORT", our AE title and listener port, empty for the defaults. nullopt with a German error.
std::optional<SendSettings> MakeSendSettings(
    std::string_view node, std::string_view ownAet, std::string_view listenPort, std::string& error);

// The progress text while sending: "PACS ORTHANC: 120 von 5000 gesendet".
std::string SendProgressText(const DicomNode& node, const SendProgress& progress);
// "3 von 5 Bildern im PACS bestätigt."
std::string ConfirmedLine(std::int64_t confirmed, std::int64_t total);

} // namespace engine
