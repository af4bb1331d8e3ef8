#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/pacs/DicomNode.h"

// Sends images to a DICOM node and proves that they arrived. A store's "success" proves nothing (a
// node may acknowledge and keep nothing), so every image is confirmed afterwards: by Storage
// Commitment where the node offers it, by a C-FIND for its SOP Instance UID where it does not. The
// node is asked first about the images it may hold already (a send that was cut off, another tool),
// and those are not sent again. Stores go over several associations at once where the node takes
// them; a node that goes away is waited for, with growing pauses, and what it may have lost is asked
// about before it is sent again.
namespace engine {

// What became of an image at the node; the report's words.
enum class Arrival {
    NotSent, // never reached the node (unreachable, stopped, file unreadable)
    Refused, // the node refused the store, or took no presentation context for it
    Unconfirmed, // stored, but the node could not be asked, or did not answer in time
    NotCommitted, // the node's commitment report lists it as failed
    NotFound, // the node offers no commitment and a C-FIND does not find it
    Committed, // the node's commitment report lists it as stored: arrived
    Found, // found by a C-FIND at image level: arrived
};
inline constexpr int DefaultAssociations = 16;

// A send stores what the node does not hold and proves its arrival; a check only asks the node.
enum class SendMode { Send, ConfirmOnly };

inline bool Arrived(Arrival arrival)
{
    return arrival == Arrival::Committed || arrival == Arrival::Found;
}
const char* ArrivalName(Arrival arrival);
// The report's word back; NotSent for a word it does not know.
Arrival ArrivalOf(std::string_view name);

struct SendItem
{
    std::string file; // the path to read
    std::string sopClassUid;
    std::string sopInstanceUid;
    std::string transferSyntax; // as the file has it
    std::string studyUid; // for the C-FIND: a PACS searches image by image below its study and series
    std::string seriesUid;
};

struct SendOutcome
{
    Arrival arrival = Arrival::NotSent;
    std::string storeStatus; // "0x0000" as the node answered the last store; empty when none was answered
    std::string storeComment; // the node's Error Comment, or the answer's meaning when it gave none
    std::string syntaxSent; // the transfer syntax UID the image went in
    bool alreadyThere = false; // confirmed before it was sent: not sent again
    std::string error; // why it did not arrive, for the operator; empty when it did
};

struct SendSettings
{
    DicomNode node;
    std::string ownAet = DefaultOwnAet;
    std::uint16_t listenPort = DefaultListenPort; // our listener for the node's commitment reports
    // A second AE title a node may report under, when it does not call us under its own.
    std::string reportAet {};
    // Stores in flight at once, one per association, as far as the node takes them. A store waits for its
    // answer, and a node may delay each answer by the peer's delayed acknowledgement (about 40 ms each
    // for Orthanc here): a node that answers 16 associations at once takes about four times what it takes
    // over four. A node in clinical use may be given fewer (Verbindungen=, --connections).
    int associations = DefaultAssociations;
    // A node that cannot be reached or goes away is tried again after 1 s, 2 s, 4 s ... up to pauseCap,
    // until it has been away for patience in all; one that cannot be reached at the start, for
    // startPatience (a wrong address or a node that is off is not worth minutes of waiting).
    std::chrono::seconds pauseCap {30};
    std::chrono::seconds patience {300};
    std::chrono::seconds startPatience {10};
    // How long the node may take for one commitment report, per thousand images asked about.
    std::chrono::seconds commitWait {60};
    std::chrono::seconds networkTimeout {30}; // connect, association and each answer
};

struct SendProgress
{
    std::int64_t total = 0;
    std::int64_t stored = 0; // stores answered (any status) in this round
    std::int64_t toStore = 0; // of this round
    int round = 0; // 1 for the first pass, more after the node went away
    enum class Phase { Echo, Asking, Storing, Confirming, Waiting, Done } phase = Phase::Echo;
};

struct SendResult
{
    bool reached = false; // at least one association with the node was made
    std::string error; // why nothing could be sent, or the last thing that went wrong
    std::vector<std::string> problems; // a line per fault of the node, each once
    std::int64_t confirmed = 0;
    std::int64_t total = 0;
    std::int64_t storesSent = 0; // C-STORE requests that went out, retries included
};

// Sends items (SendMode::Send) and fills outcomes (one per item, by index), or only asks the node which
// of them it holds (SendMode::ConfirmOnly, by commitment or C-FIND, as a verification does). Items with
// the same SOP Instance UID are one instance: it is sent once and each gets its verdict. progress is
// called from the calling thread about ten times a second while the work goes on in the background; stop
// is asked as often, and once it says yes no further store starts.
SendResult SendImages(const SendSettings& settings, SendMode mode, const std::vector<SendItem>& items,
    std::vector<SendOutcome>& outcomes, const std::function<void(const SendProgress&)>& progress = {},
    const std::function<bool()>& stop = {});

} // namespace engine
