#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/pacs/Dimse.h"

// Our association with the node, built on DCMTK's association and message layer rather than on DcmSCU,
// because a send needs what DcmSCU keeps to itself: why the node rejected an association (too busy, or
// not us at all), whether a report waits without blocking on it, the node's Error Comment, and complete
// answers to the node's requests.
namespace engine::sending {

class Association
{
public:
    explicit Association(const SendSettings& settings);
    ~Association(); // released when up, aborted when broken
    Association(const Association&) = delete;
    Association& operator=(const Association&) = delete;

    // Before Open: a presentation context for an abstract syntax in these transfer syntaxes.
    void Offer(const std::string& abstractSyntax, const Syntaxes& syntaxes);
    // Empty when the association is up; the German reason otherwise, its kind in refusal.
    std::string Open(Refusal& refusal);
    bool Up() const { return m_association != nullptr; }
    // An accepted context for the abstract syntax in that transfer syntax, in any when syntax is empty;
    // 0 when there is none.
    T_ASC_PresentationContextID ContextFor(const std::string& abstractSyntax, const std::string& syntax = {}) const;

    OFCondition Echo(Uint16& status);
    // A C-STORE whose answer keeps the node's Error Comment.
    OFCondition Store(T_ASC_PresentationContextID context, DcmDataset* dataset, const std::string& sopClass,
        const std::string& sopInstance, Uint16& status, std::string& comment);
    // A commitment request (N-ACTION). A report the node sends on this association before its answer is
    // handed to judge and answered.
    OFCondition Commit(
        T_ASC_PresentationContextID context, DcmDataset& request, Uint16& status, const ReportJudge& judge);
    // A C-FIND; each match is handed to take. status is the final answer's.
    OFCondition Find(T_ASC_PresentationContextID context, DcmDataset& query,
        const std::function<void(DcmDataset& match)>& take, Uint16& status);
    // Whether the node sent something on this association, waiting up to seconds for it (0: a look).
    bool Waiting(int seconds);
    // Takes an N-EVENT-REPORT the node sent on this association and answers it as judge decides. False
    // when the association can no longer carry one.
    bool TakeReport(const ReportJudge& judge);
    void Abort();

private:
    OFCondition Receive(T_ASC_PresentationContextID& context, T_DIMSE_Message& message, DcmDataset** detail);
    OFCondition AnswerReport(
        T_ASC_PresentationContextID context, const T_DIMSE_N_EventReportRQ& request, const ReportJudge& judge);
    void Close();

    const SendSettings& m_settings;
    std::vector<std::pair<std::string, Syntaxes>> m_offers;
    T_ASC_Network* m_network = nullptr;
    T_ASC_Association* m_association = nullptr;
    DIC_US m_messageId = 0;
};

} // namespace engine::sending
