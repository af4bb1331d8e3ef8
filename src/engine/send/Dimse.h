#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "engine/send/PacsSender.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scp.h>
#include <dcmtk/dcmnet/scu.h>

// The DICOM network pieces a send is made of, on DCMTK's network module: our association with the node,
// which keeps what DcmSCU's own store drops (the node's Error Comment), and our listener for the
// commitment reports a node sends back on an association of its own.
namespace engine::sending {

using Syntaxes = OFList<OFString>;

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
// Once per process: DCMTK quiet, without Nagle's delay, with the RLE decoder.
void PrepareDcmtk();

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

std::optional<std::pair<std::string, CommitmentReport>> ReadReport(DcmDataset* dataset);

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
            return "Port " + std::to_string(settings.listenPort)
                + " für die Speicherbestätigung des PACS ist nicht frei (" + Text(condition) + ")";
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

} // namespace engine::sending
