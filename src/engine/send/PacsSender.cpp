#include "engine/send/PacsSender.h"

#include <algorithm>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "support/Terminal.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/dcmnet/scp.h>
#include <dcmtk/dcmnet/scu.h>
#include <dcmtk/oflog/oflog.h>

namespace engine {

const char* ArrivalName(Arrival arrival)
{
    switch (arrival) {
    case Arrival::Refused:
        return "refused";
    case Arrival::Unconfirmed:
        return "unconfirmed";
    case Arrival::NotCommitted:
        return "not committed";
    case Arrival::NotFound:
        return "not found";
    case Arrival::Committed:
        return "committed";
    case Arrival::Found:
        return "found";
    case Arrival::NotSent:
        break;
    }
    return "not sent";
}

Arrival ArrivalOf(std::string_view name)
{
    for (const Arrival arrival : {Arrival::Refused, Arrival::Unconfirmed, Arrival::NotCommitted, Arrival::NotFound,
             Arrival::Committed, Arrival::Found}) {
        if (name == ArrivalName(arrival)) {
            return arrival;
        }
    }
    return Arrival::NotSent;
}

namespace {

using Clock = std::chrono::steady_clock;
using Syntaxes = OFList<OFString>;

// The one instance of the Storage Commitment Push Model, as the standard fixes it.
constexpr const char* CommitmentInstance = "1.2.840.10008.1.20.1.1";
// A node is asked about this many images in one commitment request; the requests go out together and
// the reports are awaited together.
constexpr std::size_t CommitChunk = 1000;
const std::string NoProof = "PACS bietet weder Speicherbestätigung noch Suche (C-FIND) an: nicht belegt, dass es das "
                            "Bild behalten hat";

// Passes over what is left after the node went away or did not answer: each waits for the node first.
constexpr int MaxRounds = 6;
// Contexts per association: 128 at most, some room kept.
constexpr std::size_t MaxContexts = 120;

std::string Hex(Uint16 status)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(status));
    return text;
}

bool IsUncompressed(const std::string& syntax)
{
    return syntax == UID_LittleEndianImplicitTransferSyntax || syntax == UID_LittleEndianExplicitTransferSyntax
        || syntax == UID_BigEndianExplicitTransferSyntax;
}

Syntaxes UncompressedSyntaxes()
{
    Syntaxes syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    syntaxes.push_back(UID_BigEndianExplicitTransferSyntax);
    return syntaxes;
}

// A DCMTK condition's text on one line: some hold the socket's error on a second one.
std::string Text(const OFCondition& condition)
{
    std::string text = condition.text();
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, "; ");
    }
    return text;
}

std::string SyntaxName(const std::string& uid)
{
    return dcmFindNameOfUID(uid.c_str(), uid.c_str());
}

void PrepareDcmtk()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // DCMTK would tell its network troubles on stderr; they reach the operator as our own texts.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        // Without it every answer waits for the peer's delayed acknowledgement: about 90 ms a store.
        support::SetEnvironmentValue("TCP_NODELAY", "1");
        // A node that looks up our name would only slow the association down.
        dcmDisableGethostbyaddr.set(OFTrue);
        // An RLE image goes uncompressed to a node that does not take RLE.
        DcmRLEDecoderRegistration::registerCodecs();
    });
}

// One association of ours with the node.
class Association : public DcmSCU
{
public:
    explicit Association(const SendSettings& settings)
    {
        const auto seconds = static_cast<Uint32>(settings.networkTimeout.count());
        setAETitle(settings.ownAet.c_str());
        setPeerAETitle(settings.node.aet.c_str());
        setPeerHostName(settings.node.host.c_str());
        setPeerPort(settings.node.port);
        setACSETimeout(seconds);
        setConnectionTimeout(static_cast<Sint32>(seconds));
        // Non-blocking, so that a node that hangs is given up after the timeout instead of never.
        setDIMSEBlockingMode(DIMSE_NONBLOCKING);
        setDIMSETimeout(seconds);
        setMaxReceivePDULength(ASC_DEFAULTMAXPDU * 4);
    }
    ~Association() override
    {
        if (isConnected()) {
            releaseAssociation();
        }
    }

    // Empty when the association is up; the German reason otherwise. rejected tells a node's "no" apart
    // from a node that was not reached.
    std::string Open(bool& rejected)
    {
        OFCondition condition = initNetwork();
        if (condition.good()) {
            condition = negotiateAssociation();
        }
        if (condition.good()) {
            rejected = false;
            return {};
        }
        // A node that takes none of what we offer answers the same every time: not worth a retry.
        rejected = condition == DUL_ASSOCIATIONREJECTED || condition == NET_EC_NoAcceptablePresentationContexts;
        if (condition == NET_EC_NoAcceptablePresentationContexts) {
            return "PACS nimmt keinen der angebotenen Dienste an";
        }
        return rejected ? "PACS lehnt die Verbindung ab (" + Text(condition) + ")"
                        : "PACS nicht erreichbar (" + Text(condition) + ")";
    }

    // A C-STORE whose answer keeps the node's Error Comment, which DcmSCU's own store drops.
    OFCondition Store(T_ASC_PresentationContextID context, DcmDataset* dataset, const std::string& sopClass,
        const std::string& sopInstance, Uint16& status, std::string& comment)
    {
        T_DIMSE_Message request {};
        request.CommandField = DIMSE_C_STORE_RQ;
        T_DIMSE_C_StoreRQ& store = request.msg.CStoreRQ;
        store.MessageID = ++m_messageId;
        OFStandard::strlcpy(store.AffectedSOPClassUID, sopClass.c_str(), sizeof store.AffectedSOPClassUID);
        OFStandard::strlcpy(store.AffectedSOPInstanceUID, sopInstance.c_str(), sizeof store.AffectedSOPInstanceUID);
        store.DataSetType = DIMSE_DATASET_PRESENT;
        store.Priority = DIMSE_PRIORITY_MEDIUM;
        OFCondition condition = sendDIMSEMessage(context, &request, dataset);
        if (condition.bad()) {
            return condition;
        }
        T_DIMSE_Message answer {};
        DcmDataset* detail = nullptr;
        condition = receiveDIMSECommand(&context, &answer, &detail);
        if (condition.good() && answer.CommandField != DIMSE_C_STORE_RSP) {
            condition = DIMSE_BADCOMMANDTYPE;
        }
        if (condition.good()) {
            status = answer.msg.CStoreRSP.DimseStatus;
            OFString text;
            if (detail != nullptr && detail->findAndGetOFString(DCM_ErrorComment, text).good()) {
                comment = text.c_str();
            }
        }
        delete detail;
        return condition;
    }

    // The N-EVENT-REPORT a node may send on this association instead of opening one to our listener,
    // waited for up to a second. False when the association can no longer carry one.
    bool TakeReport(DcmDataset*& report)
    {
        report = nullptr;
        Uint16 eventType = 0;
        const OFCondition condition = handleEVENTREPORTRequest(report, eventType, 1);
        return condition.good() || condition == DIMSE_NODATAAVAILABLE;
    }

private:
    Uint16 m_messageId = 0;
};

// What a commitment report says about the images asked about.
struct CommitmentReport
{
    std::set<std::string> committed;
    std::map<std::string, Uint16> failed; // failure reason by SOP Instance UID
};

std::optional<std::pair<std::string, CommitmentReport>> ReadReport(DcmDataset* dataset)
{
    OFString transaction;
    if (dataset == nullptr || dataset->findAndGetOFString(DCM_TransactionUID, transaction).bad()) {
        return std::nullopt;
    }
    CommitmentReport report;
    DcmSequenceOfItems* sequence = nullptr;
    if (dataset->findAndGetSequence(DCM_ReferencedSOPSequence, sequence).good() && sequence != nullptr) {
        for (unsigned long i = 0; i < sequence->card(); ++i) {
            OFString uid;
            if (sequence->getItem(i)->findAndGetOFString(DCM_ReferencedSOPInstanceUID, uid).good()) {
                report.committed.insert(uid.c_str());
            }
        }
    }
    if (dataset->findAndGetSequence(DCM_FailedSOPSequence, sequence).good() && sequence != nullptr) {
        for (unsigned long i = 0; i < sequence->card(); ++i) {
            OFString uid;
            Uint16 reason = 0;
            sequence->getItem(i)->findAndGetUint16(DCM_FailureReason, reason);
            if (sequence->getItem(i)->findAndGetOFString(DCM_ReferencedSOPInstanceUID, uid).good()) {
                report.failed[uid.c_str()] = reason;
            }
        }
    }
    return std::pair(std::string(transaction.c_str()), std::move(report));
}

// Our listener for the commitment reports a node sends on an association of its own.
class CommitmentListener : public DcmSCP
{
public:
    ~CommitmentListener() override { Stop(); }

    // Empty when it listens; the German reason otherwise.
    std::string Start(const SendSettings& settings)
    {
        DcmSCPConfig& config = getConfig();
        config.setPort(settings.listenPort);
        config.setAETitle(settings.ownAet.c_str());
        config.setHostLookupEnabled(OFFalse);
        // Wakes up every second to see whether it is to stop.
        config.setConnectionBlockingMode(DUL_NOBLOCK);
        config.setConnectionTimeout(1);
        config.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
        config.setDIMSETimeout(static_cast<Uint32>(settings.networkTimeout.count()));
        Syntaxes syntaxes = UncompressedSyntaxes();
        // A node sending reports proposes the SCP role for itself; either role is taken.
        config.addPresentationContext(UID_StorageCommitmentPushModelSOPClass, syntaxes, ASC_SC_ROLE_SCUSCP);
        config.addPresentationContext(UID_VerificationSOPClass, syntaxes);
        const OFCondition condition = openListenPort();
        if (condition.bad()) {
            return "Port " + std::to_string(settings.listenPort) + " für die Speicherbestätigung des PACS ist nicht frei ("
                + Text(condition) + ")";
        }
        m_thread = std::thread([this] { acceptAssociations(); });
        return {};
    }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    std::optional<CommitmentReport> Take(const std::string& transaction)
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_reports.find(transaction);
        if (found == m_reports.end()) {
            return std::nullopt;
        }
        CommitmentReport report = std::move(found->second);
        m_reports.erase(found);
        return report;
    }
    void Put(std::pair<std::string, CommitmentReport> report, bool fromListener = false)
    {
        const std::lock_guard lock(m_mutex);
        m_reports[report.first] = std::move(report.second);
        m_reported = m_reported || fromListener;
    }
    // Whether a node has reported to the listener.
    bool Reported()
    {
        const std::lock_guard lock(m_mutex);
        return m_reported;
    }

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message* message, const DcmPresentationContextInfo& context) override
    {
        if (message->CommandField != DIMSE_N_EVENT_REPORT_RQ) {
            return DcmSCP::handleIncomingCommand(message, context);
        }
        DcmDataset* dataset = nullptr;
        Uint16 eventType = 0;
        const OFCondition condition
            = handleEVENTREPORTRequest(message->msg.NEventReportRQ, context.presentationContextID, dataset, eventType);
        if (auto report = ReadReport(dataset)) {
            Put(std::move(*report), true);
        }
        delete dataset;
        return condition;
    }
    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }
    OFBool stopAfterCurrentAssociation() override { return m_stop.load(); }

private:
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::map<std::string, CommitmentReport> m_reports;
    bool m_reported = false;
};

// How the node lets itself be asked which images it holds.
enum class Proof { Unknown, Commitment, Find, None };

// The send of one call: its state, shared by the background work and the caller's progress.
class SendJob
{
public:
    SendJob(const SendSettings& settings, const std::vector<SendItem>& items, std::vector<SendOutcome>& outcomes)
        : m_settings(settings)
        , m_items(items)
        , m_outcomes(outcomes)
    {
        m_outcomes.assign(items.size(), SendOutcome());
        // One instance per SOP Instance UID: the first item stands for the others.
        std::map<std::string, std::size_t> first;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const auto [at, added] = first.emplace(items[i].sopInstanceUid, i);
            m_standsFor.push_back(at->second);
            if (added) {
                m_instances.push_back(i);
            }
        }
        m_state.assign(items.size(), State::Pending);
    }

    std::atomic<bool> stopRequested {false};
    std::atomic<std::int64_t> stored {0};
    std::atomic<std::int64_t> toStore {0};
    std::atomic<int> round {0};
    std::atomic<SendProgress::Phase> phase {SendProgress::Phase::Echo};

    SendResult Run(bool send)
    {
        m_result.total = static_cast<std::int64_t>(m_items.size());
        if (m_items.empty()) {
            m_result.reached = true;
            return m_result;
        }
        if (const std::string error = m_listener.Start(m_settings); !error.empty()) {
            Problem(error);
        }
        if (WaitForNode(true)) {
            Work(send);
        }
        m_listener.Stop();
        Finish();
        m_result.storesSent = m_storesSent;
        return m_result;
    }

private:
    // Pending: to be sent. Stored: the node answered the store with success. Uncertain: sent, but what
    // became of it is not known (the node went away, or could not be asked): asked about before it is
    // sent again. Final: its outcome is known.
    enum class State { Pending, Stored, Uncertain, Final };

    void Problem(const std::string& line)
    {
        const std::lock_guard lock(m_mutex);
        m_result.error = line;
        m_result.problems.push_back(line);
    }
    bool Stopping() const { return stopRequested.load(); }

    void Work(bool send)
    {
        if (!send) {
            round = 1;
            phase = SendProgress::Phase::Confirming;
            Confirm(m_instances, false);
            return;
        }
        std::vector<std::size_t> askFirst = m_instances;
        for (int pass = 1; pass <= MaxRounds && !Stopping(); ++pass) {
            round = pass;
            if (!askFirst.empty() && m_proof != Proof::None) {
                phase = SendProgress::Phase::Asking;
                Confirm(askFirst, true);
            }
            Store(Select({State::Pending, State::Uncertain}));
            phase = SendProgress::Phase::Confirming;
            Confirm(Select({State::Stored}), false);
            // Left: what the node never answered, and what could not be asked about.
            askFirst = Select({State::Uncertain});
            if ((askFirst.empty() && Select({State::Pending}).empty()) || Stopping() || pass == MaxRounds
                || !WaitForNode(false)) {
                return;
            }
        }
    }

    std::vector<std::size_t> Select(std::initializer_list<State> states) const
    {
        std::vector<std::size_t> selected;
        for (const std::size_t i : m_instances) {
            if (std::find(states.begin(), states.end(), m_state[i]) != states.end()) {
                selected.push_back(i);
            }
        }
        return selected;
    }

    // C-ECHO until the node answers: at once at the start, after pauses of 1 s, 2 s, 4 s ... up to the
    // cap while the node is away. False when patience ran out, the node refuses us, or a stop came.
    bool WaitForNode(bool first, Clock::time_point since = Clock::now())
    {
        phase = first ? SendProgress::Phase::Echo : SendProgress::Phase::Waiting;
        auto pause = std::chrono::seconds(1);
        for (bool waited = !first;; waited = true) {
            if (waited) {
                const auto until = Clock::now() + pause;
                while (Clock::now() < until && !Stopping()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
                pause = std::min(pause * 2, m_settings.pauseCap);
            }
            if (Stopping()) {
                return false;
            }
            Association echo(m_settings);
            Syntaxes syntaxes = UncompressedSyntaxes();
            echo.addPresentationContext(UID_VerificationSOPClass, syntaxes);
            bool rejected = false;
            std::string error = echo.Open(rejected);
            if (error.empty()) {
                const OFCondition answer = echo.sendECHORequest(0);
                if (answer.good()) {
                    m_result.reached = true;
                    return true;
                }
                error = "PACS beantwortet kein C-ECHO (" + Text(answer) + ")";
            }
            if (rejected || Clock::now() - since >= (first ? m_settings.startPatience : m_settings.patience)) {
                Problem(m_settings.node.Text() + ": " + error);
                return false;
            }
            if (!waited) {
                Problem(m_settings.node.Text() + ": " + error + "; neuer Versuch folgt");
            }
        }
    }

    // The presentation contexts for a set of images: per SOP class each compressed syntax on its own,
    // and the uncompressed ones beside them, so that a node that does not take a compression can still
    // be sent the image uncompressed.
    static std::vector<std::pair<std::string, Syntaxes>> ContextsFor(const std::set<std::string>& classes,
        const std::map<std::string, std::set<std::string>>& syntaxesOf)
    {
        std::vector<std::pair<std::string, Syntaxes>> contexts;
        for (const std::string& sopClass : classes) {
            contexts.emplace_back(sopClass, UncompressedSyntaxes());
            for (const std::string& syntax : syntaxesOf.at(sopClass)) {
                if (!IsUncompressed(syntax) && !syntax.empty()) {
                    Syntaxes one;
                    one.push_back(syntax.c_str());
                    contexts.emplace_back(sopClass, one);
                }
            }
        }
        return contexts;
    }

    void Store(const std::vector<std::size_t>& instances)
    {
        phase = SendProgress::Phase::Storing;
        stored = 0;
        toStore = static_cast<std::int64_t>(instances.size());
        // The SOP classes in groups whose contexts fit on one association.
        std::map<std::string, std::set<std::string>> syntaxesOf;
        for (const std::size_t i : instances) {
            syntaxesOf[m_items[i].sopClassUid].insert(m_items[i].transferSyntax);
        }
        std::set<std::string> group;
        std::size_t contexts = 0;
        const auto storeGroup = [&] {
            std::vector<std::size_t> members;
            for (const std::size_t i : instances) {
                if (group.count(m_items[i].sopClassUid) != 0) {
                    members.push_back(i);
                }
            }
            StoreOverAssociations(members, ContextsFor(group, syntaxesOf));
            group.clear();
            contexts = 0;
        };
        for (const auto& [sopClass, syntaxes] : syntaxesOf) {
            const std::size_t needed = 1 + syntaxes.size();
            if (!group.empty() && contexts + needed > MaxContexts) {
                storeGroup();
            }
            group.insert(sopClass);
            contexts += needed;
        }
        if (!group.empty()) {
            storeGroup();
        }
    }

    void StoreOverAssociations(
        const std::vector<std::size_t>& instances, const std::vector<std::pair<std::string, Syntaxes>>& contexts)
    {
        std::atomic<std::size_t> next {0};
        std::atomic<int> opened {0};
        const int count = std::max(1, std::min<int>(m_settings.associations, static_cast<int>(instances.size())));
        std::vector<std::thread> workers;
        for (int w = 0; w < count; ++w) {
            workers.emplace_back([&, w] {
                // The first opens alone: a node that refuses us refuses once, not once per association.
                if (w > 0) {
                    while (opened.load() == 0 && next.load() < instances.size() && !Stopping()) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                    if (opened.load() < 0) {
                        return;
                    }
                }
                Association association(m_settings);
                for (auto context : contexts) {
                    association.addPresentationContext(context.first.c_str(), context.second);
                }
                bool rejected = false;
                const std::string error = association.Open(rejected);
                if (!error.empty()) {
                    // A node that takes fewer associations than we would like: the others send.
                    if (w == 0) {
                        Problem(m_settings.node.Text() + ": " + error);
                        if (rejected) {
                            for (const std::size_t i : instances) {
                                Settle(i, Arrival::Refused, error);
                            }
                        }
                        opened = -1;
                    }
                    return;
                }
                if (w == 0) {
                    opened = 1;
                }
                for (std::size_t at = next++; at < instances.size() && !Stopping(); at = next++) {
                    if (!StoreOne(association, instances[at])) {
                        association.abortAssociation();
                        return; // the node went away: the others find out for themselves
                    }
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
    }

    // False when the association broke.
    bool StoreOne(Association& association, std::size_t i)
    {
        const SendItem& item = m_items[i];
        SendOutcome& outcome = m_outcomes[i];
        DcmFileFormat file;
        // A dataset without the meta header is read as well: a PACS files it all the same.
        const OFCondition read = file.loadFile(
            item.file.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_autoDetect);
        if (read.bad()) {
            Settle(i, Arrival::NotSent, "Datei nicht lesbar: " + Text(read));
            ++stored;
            return true;
        }
        DcmDataset* dataset = file.getDataset();
        const E_TransferSyntax original = dataset->getOriginalXfer();
        const std::string syntax = DcmXfer(original).getXferID();
        T_ASC_PresentationContextID context = association.findPresentationContextID(item.sopClassUid.c_str(), syntax.c_str());
        std::string sent = syntax;
        if (context == 0) {
            for (const char* plain : {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax,
                     UID_BigEndianExplicitTransferSyntax}) {
                context = association.findPresentationContextID(item.sopClassUid.c_str(), plain);
                if (context != 0) {
                    sent = plain;
                    break;
                }
            }
            const E_TransferSyntax target = DcmXfer(sent.c_str()).getXfer();
            if (context != 0 && !IsUncompressed(syntax)
                && (dataset->chooseRepresentation(target, nullptr).bad() || !dataset->canWriteXfer(target))) {
                Settle(i, Arrival::Refused,
                    "PACS nimmt " + SyntaxName(syntax) + " nicht an, und das Bild lässt sich nicht entpacken");
                ++stored;
                return true;
            }
        }
        if (context == 0) {
            Settle(i, Arrival::Refused,
                "PACS nimmt " + SyntaxName(item.sopClassUid) + " in " + SyntaxName(syntax) + " nicht an");
            ++stored;
            return true;
        }
        Uint16 status = 0;
        std::string comment;
        outcome.syntaxSent = sent;
        ++m_storesSent;
        const OFCondition condition
            = association.Store(context, dataset, item.sopClassUid, item.sopInstanceUid, status, comment);
        ++stored;
        if (condition.bad()) {
            outcome.error = "Verbindung zum PACS abgebrochen (" + Text(condition) + ")";
            m_state[i] = State::Uncertain;
            return false;
        }
        outcome.storeStatus = Hex(status);
        outcome.storeComment = comment.empty() ? DU_cstoreStatusString(status) : comment;
        if (status == STATUS_Success || (status & 0xF000) == 0xB000) {
            outcome.error.clear();
            m_state[i] = State::Stored;
        } else if ((status & 0xFF00) == 0xA700) {
            // Out of resources: worth another try once the node has had a pause.
            outcome.error = "PACS hat keinen Platz (Status " + outcome.storeStatus + ": " + outcome.storeComment + ")";
            m_state[i] = State::Pending;
        } else {
            Settle(i, Arrival::Refused,
                "vom PACS abgelehnt (Status " + outcome.storeStatus + ": " + outcome.storeComment + ")");
        }
        return true;
    }

    void Settle(std::size_t i, Arrival arrival, const std::string& error)
    {
        m_outcomes[i].arrival = arrival;
        m_outcomes[i].error = error;
        m_state[i] = State::Final;
    }

    // Asks the node which of the instances it holds. Before a send (before = true) only the held ones
    // are settled; after it, every one the node gave an answer about.
    void Confirm(const std::vector<std::size_t>& instances, bool before)
    {
        if (instances.empty() || Stopping()) {
            return;
        }
        if (m_proof == Proof::Unknown || m_proof == Proof::Commitment) {
            switch (AskForCommitment(instances, before)) {
            case Asked::Answered:
                m_proof = Proof::Commitment;
                return;
            case Asked::NotReached:
                return;
            case Asked::NoReport:
                m_proof = Proof::Find;
                AskByFind(m_unreported, before);
                if (m_proof == Proof::None) {
                    Unconfirmed(m_unreported, before, NoProof, true);
                }
                return;
            case Asked::NotOffered:
                break;
            }
        }
        if (m_proof != Proof::None) {
            AskByFind(instances, before);
        }
        if (m_proof == Proof::None) {
            Unconfirmed(instances, before, NoProof, true);
        }
    }

    // NoReport: the node took the commitment requests but sent no report in time (m_unreported).
    enum class Asked { Answered, NotReached, NotOffered, NoReport };

    // An association for one service; NotOffered when the node takes no association for it.
    Asked OpenFor(Association& association, const char* service, const std::vector<std::size_t>& instances, bool before,
        T_ASC_PresentationContextID& context)
    {
        Syntaxes syntaxes = UncompressedSyntaxes();
        association.addPresentationContext(service, syntaxes);
        bool rejected = false;
        const std::string error = association.Open(rejected);
        if (rejected) {
            return Asked::NotOffered;
        }
        if (!error.empty()) {
            Unconfirmed(instances, before, "PACS konnte nicht gefragt werden: " + error);
            return Asked::NotReached;
        }
        context = association.findAnyPresentationContextID(service, "");
        return context == 0 ? Asked::NotOffered : Asked::Answered;
    }

    Asked AskForCommitment(const std::vector<std::size_t>& instances, bool before)
    {
        Association association(m_settings);
        T_ASC_PresentationContextID context = 0;
        const Asked opened = OpenFor(association, UID_StorageCommitmentPushModelSOPClass, instances, before, context);
        return opened == Asked::Answered ? Commit(association, context, instances, before) : opened;
    }

    void AskByFind(const std::vector<std::size_t>& instances, bool before)
    {
        Association association(m_settings);
        T_ASC_PresentationContextID context = 0;
        switch (OpenFor(association, UID_FINDStudyRootQueryRetrieveInformationModel, instances, before, context)) {
        case Asked::Answered:
            m_proof = Proof::Find;
            Find(association, context, instances, before);
            break;
        case Asked::NotOffered:
            m_proof = Proof::None;
            break;
        case Asked::NotReached:
        case Asked::NoReport:
            break;
        }
    }

    // What could not be asked about: asked again in the next pass, unless asking cannot help (final).
    void Unconfirmed(const std::vector<std::size_t>& instances, bool before, const std::string& why, bool final = false)
    {
        if (before) {
            return; // sent as if never asked
        }
        for (const std::size_t i : instances) {
            m_outcomes[i].arrival = Arrival::Unconfirmed;
            m_outcomes[i].error = why;
            m_state[i] = final ? State::Final : State::Uncertain;
        }
    }

    // NotOffered when the node does not take the request (refuses it, or drops the association on the
    // first one): the caller tries a C-FIND.
    Asked Commit(Association& association, T_ASC_PresentationContextID context, const std::vector<std::size_t>& instances,
        bool before)
    {
        std::vector<std::pair<std::string, std::vector<std::size_t>>> transactions;
        for (std::size_t from = 0; from < instances.size(); from += CommitChunk) {
            char uid[100];
            dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT);
            DcmDataset request;
            request.putAndInsertString(DCM_TransactionUID, uid);
            std::vector<std::size_t> chunk;
            for (std::size_t at = from; at < std::min(instances.size(), from + CommitChunk); ++at) {
                const SendItem& item = m_items[instances[at]];
                DcmItem* reference = nullptr;
                request.findOrCreateSequenceItem(DCM_ReferencedSOPSequence, reference, -2);
                reference->putAndInsertString(DCM_ReferencedSOPClassUID, item.sopClassUid.c_str());
                reference->putAndInsertString(DCM_ReferencedSOPInstanceUID, item.sopInstanceUid.c_str());
                chunk.push_back(instances[at]);
            }
            Uint16 status = 0;
            const OFCondition condition = association.sendACTIONRequest(context, CommitmentInstance, 1, &request, status);
            if (condition.bad() && from == 0) {
                return Asked::NotOffered;
            }
            if (condition.bad()) {
                Unconfirmed(instances, before, "Speicherbestätigung abgebrochen (" + Text(condition) + ")");
                return Asked::NotReached;
            }
            if (status != STATUS_Success) {
                if (from == 0) {
                    return Asked::NotOffered;
                }
                Unconfirmed(chunk, before, "PACS lehnt die Speicherbestätigung ab (Status " + Hex(status) + ")", true);
                continue;
            }
            transactions.emplace_back(uid, std::move(chunk));
        }
        // The reports come to our listener or on this association, each within the wait per thousand.
        const auto deadline = Clock::now()
            + m_settings.commitWait * static_cast<long>(std::max<std::size_t>(1, transactions.size()));
        // Our association is listened on a second at a time, so it is left alone for the first two seconds
        // (most nodes report within them), and for good once a report came to the listener.
        const auto listenerFirst = Clock::now() + std::chrono::seconds(2);
        bool ownAssociation = !m_reportsToListener;
        while (!transactions.empty() && Clock::now() < deadline && !Stopping()) {
            if (ownAssociation && Clock::now() >= listenerFirst) {
                DcmDataset* report = nullptr;
                ownAssociation = association.TakeReport(report);
                if (auto read = ReadReport(report)) {
                    m_listener.Put(std::move(*read));
                }
                delete report;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            std::erase_if(transactions, [&](const auto& transaction) {
                const auto report = m_listener.Take(transaction.first);
                if (report) {
                    Apply(*report, transaction.second, before);
                }
                return report.has_value();
            });
        }
        m_reportsToListener = m_reportsToListener || m_listener.Reported();
        if (transactions.empty() || Stopping()) {
            return Asked::Answered;
        }
        // A node that takes the requests but never reports back does not know where we listen (or cannot
        // reach us): waiting again would not help. It is asked by C-FIND from now on.
        Problem(m_settings.node.Text() + ": keine Speicherbestätigung vom PACS erhalten (bis "
            + std::to_string(m_settings.commitWait.count()) + " s je 1000 Bilder gewartet); das PACS muss sie an "
            + m_settings.ownAet + ", Port " + std::to_string(m_settings.listenPort)
            + " dieses Rechners senden. Weiter mit C-FIND.");
        m_unreported.clear();
        for (const auto& transaction : transactions) {
            Unconfirmed(transaction.second, before, "keine Speicherbestätigung vom PACS erhalten");
            m_unreported.insert(m_unreported.end(), transaction.second.begin(), transaction.second.end());
        }
        return Asked::NoReport;
    }

    void Apply(const CommitmentReport& report, const std::vector<std::size_t>& instances, bool before)
    {
        for (const std::size_t i : instances) {
            const std::string& uid = m_items[i].sopInstanceUid;
            if (report.committed.count(uid) != 0) {
                m_outcomes[i].alreadyThere = before;
                Settle(i, Arrival::Committed, {});
            } else if (!before) {
                const auto failed = report.failed.find(uid);
                Settle(i, Arrival::NotCommitted,
                    failed == report.failed.end()
                        ? "PACS bestätigt das Bild nicht (nicht im Bericht)"
                        : "PACS bestätigt das Bild nicht (Grund " + Hex(failed->second) + ")");
            }
        }
    }

    void Find(Association& association, T_ASC_PresentationContextID context, const std::vector<std::size_t>& instances,
        bool before)
    {
        // A PACS searches images below their study and series: one query per series.
        std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> series;
        for (const std::size_t i : instances) {
            if (m_items[i].studyUid.empty() || m_items[i].seriesUid.empty()) {
                Unconfirmed({i}, before, "ohne Study und Series Instance UID nicht im PACS zu suchen", true);
                continue;
            }
            series[{m_items[i].studyUid, m_items[i].seriesUid}].push_back(i);
        }
        for (const auto& [key, members] : series) {
            if (Stopping()) {
                return;
            }
            DcmDataset query;
            query.putAndInsertString(DCM_QueryRetrieveLevel, "IMAGE");
            query.putAndInsertString(DCM_StudyInstanceUID, key.first.c_str());
            query.putAndInsertString(DCM_SeriesInstanceUID, key.second.c_str());
            query.putAndInsertString(DCM_SOPInstanceUID, "");
            OFList<QRResponse*> responses;
            const OFCondition condition = association.sendFINDRequest(context, &query, &responses);
            std::set<std::string> found;
            Uint16 last = STATUS_Success;
            for (QRResponse* response : responses) {
                OFString uid;
                if (response->m_dataset != nullptr
                    && response->m_dataset->findAndGetOFString(DCM_SOPInstanceUID, uid).good()) {
                    found.insert(uid.c_str());
                }
                last = response->m_status;
                delete response;
            }
            if (condition.bad() || (last != STATUS_Success && last != STATUS_Pending)) {
                Unconfirmed(members, before,
                    "Suche im PACS fehlgeschlagen ("
                        + (condition.bad() ? Text(condition) : "Status " + Hex(last)) + ")");
                continue;
            }
            for (const std::size_t i : members) {
                if (found.count(m_items[i].sopInstanceUid) != 0) {
                    m_outcomes[i].alreadyThere = before;
                    Settle(i, Arrival::Found, {});
                } else if (!before) {
                    Settle(i, Arrival::NotFound, "PACS findet das Bild nicht");
                }
            }
        }
    }

    // Every item its verdict: instances as they ended, copies of an instance as the instance.
    void Finish()
    {
        for (const std::size_t i : m_instances) {
            SendOutcome& outcome = m_outcomes[i];
            if (m_state[i] == State::Pending) {
                outcome.arrival = Arrival::NotSent;
                if (outcome.error.empty()) {
                    outcome.error = Stopping() ? "nicht gesendet: abgebrochen" : "nicht gesendet: " + m_result.error;
                }
            } else if (m_state[i] == State::Uncertain || m_state[i] == State::Stored) {
                outcome.arrival = Arrival::Unconfirmed;
                if (outcome.error.empty()) {
                    outcome.error = "nicht bestätigt: " + m_result.error;
                }
            }
        }
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (m_standsFor[i] != i) {
                m_outcomes[i] = m_outcomes[m_standsFor[i]];
            }
            m_result.confirmed += Arrived(m_outcomes[i].arrival) ? 1 : 0;
        }
    }

    const SendSettings& m_settings;
    const std::vector<SendItem>& m_items;
    std::vector<SendOutcome>& m_outcomes;
    std::vector<std::size_t> m_standsFor; // the item that stands for each item's instance
    std::vector<std::size_t> m_instances; // the items that stand for an instance
    std::vector<State> m_state;
    Proof m_proof = Proof::Unknown;
    std::vector<std::size_t> m_unreported; // of the last commitment requests that got no report
    bool m_reportsToListener = false; // the node sends its reports on an association of its own
    CommitmentListener m_listener;
    std::mutex m_mutex;
    std::atomic<std::int64_t> m_storesSent {0};
    SendResult m_result;
};

SendResult RunJob(const SendSettings& settings, const std::vector<SendItem>& items, std::vector<SendOutcome>& outcomes,
    const std::function<void(const SendProgress&)>& progress, const std::function<bool()>& stop, bool send)
{
    PrepareDcmtk();
    SendJob job(settings, items, outcomes);
    auto done = std::async(std::launch::async, [&] { return job.Run(send); });
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (stop && stop()) {
            job.stopRequested = true;
        }
        if (progress) {
            SendProgress now;
            now.total = static_cast<std::int64_t>(items.size());
            now.stored = job.stored;
            now.toStore = job.toStore;
            now.round = job.round;
            now.phase = job.phase;
            progress(now);
        }
    }
    return done.get();
}

} // namespace

SendResult SendImages(const SendSettings& settings, const std::vector<SendItem>& items,
    std::vector<SendOutcome>& outcomes, const std::function<void(const SendProgress&)>& progress,
    const std::function<bool()>& stop)
{
    return RunJob(settings, items, outcomes, progress, stop, true);
}

SendResult ConfirmImages(const SendSettings& settings, const std::vector<SendItem>& items,
    std::vector<SendOutcome>& outcomes, const std::function<void(const SendProgress&)>& progress,
    const std::function<bool()>& stop)
{
    return RunJob(settings, items, outcomes, progress, stop, false);
}

} // namespace engine
