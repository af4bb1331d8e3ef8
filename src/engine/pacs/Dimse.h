#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/pacs/PacsSender.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

// What the DICOM network pieces of a send share (Association.h, CommitmentListener.h): names and
// texts of UIDs and statuses, the commitment report as read, and the complete answer to one.
namespace engine::sending {

using Syntaxes = std::vector<std::string>;

// The one instance of the Storage Commitment Push Model, as the standard fixes it.
inline constexpr const char* CommitmentInstance = "1.2.840.10008.1.20.1.1";

// A status as the records write it: "0xA900".
std::string Hex(Uint16 status);
bool IsUncompressed(const std::string& syntax);
// Explicit and implicit little endian, explicit big endian: what every node takes.
Syntaxes UncompressedSyntaxes();
// A DCMTK condition's text on one line: some hold the socket's error on a second one.
std::string Text(const OFCondition& condition);
// A UID's name as DCMTK knows it ("JPEG Baseline"), or the UID.
std::string SyntaxName(const std::string& uid);
// A commitment report's failure reason in words: "0x0112 Objekt unbekannt".
std::string FailureReasonText(Uint16 reason);
// A UID under the root 2.25 made of 128 random bits (a UUID as a number): no other sender can guess or
// repeat it, as it would one made of the time and the process number.
std::string RandomUid();
// Once per process: DCMTK quiet, without Nagle's delay, with the RLE decoder.
void PrepareDcmtk();

// Why an association did not come about.
enum class Refusal {
    None, // it is up
    Unreachable, // nothing answered at the address (off, a wrong address, a firewall): worth waiting for
    Busy, // the node turned us away for now (a transient rejection, such as too many associations)
    Refused, // the node turned us away for good (it does not know our AE title, say): waiting does not help
    NotDicom, // something answered at the port, but not DICOM (the node's web port, say)
    NoService, // the node took the association but none of the services offered on it
};

// What a commitment report says about the images asked about.
struct CommitmentReport
{
    std::string transaction;
    std::set<std::string> committed;
    std::map<std::string, Uint16> failed; // failure reason by SOP Instance UID
};
std::optional<CommitmentReport> ReadReport(DcmDataset* dataset);

// Decides what an N-EVENT-REPORT from caller (its calling AE title) is answered with: STATUS_Success
// when it is taken, a failure status when it is refused. report is null when the request carried none.
using ReportJudge
    = std::function<Uint16(const std::string& caller, const T_DIMSE_N_EventReportRQ& request, DcmDataset* report)>;

// The answer to an N-EVENT-REPORT, complete as a node checks it: the request's Affected SOP Class and
// Instance UID and its event type beside the status.
T_DIMSE_Message EventReportAnswer(const T_DIMSE_N_EventReportRQ& request, Uint16 status);

} // namespace engine::sending
