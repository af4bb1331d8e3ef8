#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pacs/PacsSender.h"
#include "engine/records/SendRecords.h"

namespace support {
class Log;
struct Settings;
} // namespace support

// Sending the images of a destination folder to a DICOM node, between the run's records and the DICOM
// client: what to send, from the reports and the folder; what became of each, into the send records and
// the journal rows of the runs that wrote them; and the operator's texts for it.
namespace engine {

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

} // namespace engine
