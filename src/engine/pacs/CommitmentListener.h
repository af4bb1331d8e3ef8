#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/pacs/Dimse.h"

#include <dcmtk/dcmnet/scp.h>

namespace engine::sending {

// Our listener for the commitment reports a node sends on an association of its own. Only callers whose
// AE title is one of the node's are let in; what they report is judged by the send (ReportJudge).
class CommitmentListener : public DcmSCP
{
public:
    ~CommitmentListener() override { Stop(); }

    // Empty when it listens; the German reason otherwise.
    std::string Start(const SendSettings& settings, ReportJudge judge);
    void Stop();
    // Callers turned away because their AE title is not the node's, each once.
    std::vector<std::string> TurnedAway();

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message* message, const DcmPresentationContextInfo& context) override;
    OFBool checkCallingAETitleAccepted(const OFString& callingAE) override;
    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }
    OFBool stopAfterCurrentAssociation() override { return m_stop.load(); }

private:
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
    std::set<std::string> m_callers; // the AE titles a report may come from
    ReportJudge m_judge;
    SendSettings m_settings;
    std::mutex m_mutex;
    std::set<std::string> m_turnedAway;
};

} // namespace engine::sending
