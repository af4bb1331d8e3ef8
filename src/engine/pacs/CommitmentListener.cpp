#include "engine/pacs/CommitmentListener.h"

#include "engine/pacs/Association.h"

namespace engine::sending {

std::string CommitmentListener::Start(const SendSettings& settings, ReportJudge judge)
{
    m_judge = std::move(judge);
    m_settings = settings;
    m_callers = {settings.node.aet};
    if (!settings.reportAet.empty()) {
        m_callers.insert(settings.reportAet);
    }
    DcmSCPConfig& config = getConfig();
    config.setPort(settings.listenPort);
    config.setAETitle(settings.ownAet.c_str());
    config.setHostLookupEnabled(OFFalse);
    // Wakes up every second to see whether it is to stop.
    config.setConnectionBlockingMode(DUL_NOBLOCK);
    config.setConnectionTimeout(1);
    config.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    config.setDIMSETimeout(static_cast<Uint32>(settings.networkTimeout.count()));
    OFList<OFString> syntaxes;
    for (const std::string& syntax : UncompressedSyntaxes()) {
        syntaxes.push_back(syntax.c_str());
    }
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

void CommitmentListener::Stop()
{
    m_stop = true;
    if (!m_thread.joinable()) {
        return;
    }
    // It looks for a stop between associations, or after a second without one: a C-ECHO of our own
    // ends the wait at once.
    // It calls as the node, so that it is not told as a caller turned away.
    SendSettings self = m_settings;
    self.node = {m_settings.ownAet, "127.0.0.1", m_settings.listenPort};
    self.ownAet = m_settings.node.aet;
    self.networkTimeout = std::chrono::seconds(2);
    {
        Association wake(self); // released before the wait: the listener ends after it
        wake.Offer(UID_VerificationSOPClass, UncompressedSyntaxes());
        Refusal refusal = Refusal::None;
        Uint16 status = 0;
        if (wake.Open(refusal).empty()) {
            wake.Echo(status);
        }
    }
    m_thread.join();
}

std::vector<std::string> CommitmentListener::TurnedAway()
{
    const std::lock_guard lock(m_mutex);
    return {m_turnedAway.begin(), m_turnedAway.end()};
}

OFBool CommitmentListener::checkCallingAETitleAccepted(const OFString& callingAE)
{
    if (m_callers.count(callingAE.c_str()) != 0) {
        return OFTrue;
    }
    const std::lock_guard lock(m_mutex);
    m_turnedAway.insert(callingAE.c_str());
    return OFFalse;
}

OFCondition CommitmentListener::handleIncomingCommand(
    T_DIMSE_Message* message, const DcmPresentationContextInfo& context)
{
    if (message->CommandField != DIMSE_N_EVENT_REPORT_RQ) {
        return DcmSCP::handleIncomingCommand(message, context);
    }
    const T_DIMSE_N_EventReportRQ& request = message->msg.NEventReportRQ;
    DcmDataset* report = nullptr;
    if (request.DataSetType != DIMSE_DATASET_NULL) {
        T_ASC_PresentationContextID dataOn = 0;
        const OFCondition received = receiveDIMSEDataset(&dataOn, &report);
        if (received.bad()) {
            return received;
        }
    }
    const Uint16 status = m_judge(getPeerAETitle().c_str(), request, report);
    delete report;
    T_DIMSE_Message answer = EventReportAnswer(request, status);
    return sendDIMSEMessage(context.presentationContextID, &answer, nullptr);
}

} // namespace engine::sending
