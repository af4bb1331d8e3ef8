#include "engine/pacs/Association.h"

namespace engine::sending {

namespace {

// Four times DCMTK's default (16 KiB): fewer, larger pieces for the large images a disc holds; every
// node takes what it announces, and 64 KiB is what most of them announce themselves.
constexpr Uint32 ReceivePduLength = ASC_DEFAULTMAXPDU * 4;
// 128 contexts at most fit on one association, with odd identifiers 1 to 255.
constexpr std::size_t MaxContextsPerAssociation = 128;

// The reason a node gave for rejecting our association, in words.
std::string RejectText(const T_ASC_RejectParameters& reject)
{
    switch (reject.reason) {
    case ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED:
        return "unser AE-Titel ist dem PACS unbekannt";
    case ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED:
        return "der AE-Titel des PACS stimmt nicht";
    case ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED:
        return "Anwendungskontext nicht unterstützt";
    case ASC_REASON_SP_PRES_TEMPORARYCONGESTION:
        return "PACS ist überlastet";
    case ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED:
        return "PACS nimmt keine weitere Verbindung an";
    case ASC_REASON_SP_ACSE_PROTOCOLVERSIONNOTSUPPORTED:
        return "Protokollversion nicht unterstützt";
    case ASC_REASON_SU_NOREASON:
    case ASC_REASON_SP_ACSE_NOREASON:
        break;
    }
    return "ohne Angabe eines Grundes";
}

// A peer that answers an association request with bytes that are not DICOM: a web server, say.
bool NotDicom(const OFCondition& condition)
{
    return condition.module() == OFM_dcmnet
        && (condition.code() == DULC_UNRECOGNIZEDPDUTYPE || condition.code() == DULC_ILLEGALPDU
            || condition.code() == DULC_ILLEGALPDULENGTH || condition.code() == DULC_UNEXPECTEDPDU);
}

struct FindTaker
{
    const std::function<void(DcmDataset&)>* take;
};

void TakeMatch(void* data, T_DIMSE_C_FindRQ*, int, T_DIMSE_C_FindRSP*, DcmDataset* match)
{
    if (match != nullptr) {
        (*static_cast<FindTaker*>(data)->take)(*match);
    }
}

} // namespace

Association::Association(const SendSettings& settings)
    : m_settings(settings)
{ }

Association::~Association()
{
    Close();
}

void Association::Offer(const std::string& abstractSyntax, const Syntaxes& syntaxes)
{
    m_offers.emplace_back(abstractSyntax, syntaxes);
}

std::string Association::Open(Refusal& refusal)
{
    Close();
    refusal = Refusal::Unreachable;
    const int seconds = static_cast<int>(m_settings.networkTimeout.count());
    dcmConnectionTimeout.set(seconds);
    OFCondition condition = ASC_initializeNetwork(NET_REQUESTOR, 0, seconds, &m_network);
    if (condition.bad()) {
        return "Netzwerk nicht verfügbar (" + Text(condition) + ")";
    }
    T_ASC_Parameters* parameters = nullptr;
    condition = ASC_createAssociationParameters(&parameters, ReceivePduLength);
    if (condition.bad()) {
        return "Verbindung nicht vorzubereiten (" + Text(condition) + ")";
    }
    ASC_setAPTitles(parameters, m_settings.ownAet.c_str(), m_settings.node.aet.c_str(), nullptr);
    const std::string peer = m_settings.node.host + ":" + std::to_string(m_settings.node.port);
    ASC_setPresentationAddresses(parameters, OFStandard::getHostName().c_str(), peer.c_str());
    T_ASC_PresentationContextID id = 1;
    for (std::size_t i = 0; i < m_offers.size() && i < MaxContextsPerAssociation; ++i, id += 2) {
        std::vector<const char*> syntaxes;
        for (const std::string& syntax : m_offers[i].second) {
            syntaxes.push_back(syntax.c_str());
        }
        ASC_addPresentationContext(
            parameters, id, m_offers[i].first.c_str(), syntaxes.data(), static_cast<int>(syntaxes.size()));
    }
    condition = ASC_requestAssociation(m_network, parameters, &m_association);
    if (condition.good() && ASC_countAcceptedPresentationContexts(parameters) > 0) {
        refusal = Refusal::None;
        return {};
    }
    std::string reason;
    if (condition.good()) {
        refusal = Refusal::NoService;
        reason = "PACS nimmt keinen der angebotenen Dienste an";
        ASC_abortAssociation(m_association);
    } else if (condition == DUL_ASSOCIATIONREJECTED) {
        T_ASC_RejectParameters reject {};
        ASC_getRejectParameters(parameters, &reject);
        refusal = reject.result == ASC_RESULT_REJECTEDTRANSIENT ? Refusal::Busy : Refusal::Refused;
        reason = "PACS lehnt die Verbindung ab: " + RejectText(reject);
    } else if (NotDicom(condition)) {
        refusal = Refusal::NotDicom;
        reason = "kein DICOM-Dienst auf " + peer + " (HTTP-Port?)";
    } else {
        reason = "PACS nicht erreichbar (" + Text(condition) + ")";
    }
    if (m_association != nullptr) {
        ASC_destroyAssociation(&m_association); // its parameters with it
    } else {
        ASC_destroyAssociationParameters(&parameters);
    }
    m_association = nullptr;
    ASC_dropNetwork(&m_network);
    return reason;
}

void Association::Close()
{
    if (m_association != nullptr) {
        if (ASC_releaseAssociation(m_association).bad()) {
            ASC_abortAssociation(m_association);
        }
        ASC_destroyAssociation(&m_association);
    }
    if (m_network != nullptr) {
        ASC_dropNetwork(&m_network);
    }
}

void Association::Abort()
{
    if (m_association != nullptr) {
        ASC_abortAssociation(m_association);
        ASC_destroyAssociation(&m_association);
    }
}

T_ASC_PresentationContextID Association::ContextFor(const std::string& abstractSyntax, const std::string& syntax) const
{
    if (m_association == nullptr) {
        return 0;
    }
    for (int id = 1; id < 2 * static_cast<int>(MaxContextsPerAssociation); id += 2) {
        T_ASC_PresentationContext context {};
        if (ASC_findAcceptedPresentationContext(
                m_association->params, static_cast<T_ASC_PresentationContextID>(id), &context)
                .good()
            && context.resultReason == ASC_P_ACCEPTANCE && abstractSyntax == context.abstractSyntax
            && (syntax.empty() || syntax == context.acceptedTransferSyntax)) {
            return static_cast<T_ASC_PresentationContextID>(id);
        }
    }
    return 0;
}

OFCondition Association::Echo(Uint16& status)
{
    if (m_association == nullptr) {
        return DIMSE_ILLEGALASSOCIATION;
    }
    DcmDataset* detail = nullptr;
    const OFCondition condition = DIMSE_echoUser(m_association, ++m_messageId, DIMSE_NONBLOCKING,
        static_cast<int>(m_settings.networkTimeout.count()), &status, &detail);
    delete detail;
    return condition;
}

OFCondition Association::Store(T_ASC_PresentationContextID context, DcmDataset* dataset, const std::string& sopClass,
    const std::string& sopInstance, Uint16& status, std::string& comment)
{
    if (m_association == nullptr) {
        return DIMSE_ILLEGALASSOCIATION;
    }
    T_DIMSE_C_StoreRQ request {};
    request.MessageID = ++m_messageId;
    OFStandard::strlcpy(request.AffectedSOPClassUID, sopClass.c_str(), sizeof request.AffectedSOPClassUID);
    OFStandard::strlcpy(request.AffectedSOPInstanceUID, sopInstance.c_str(), sizeof request.AffectedSOPInstanceUID);
    request.DataSetType = DIMSE_DATASET_PRESENT;
    request.Priority = DIMSE_PRIORITY_MEDIUM;
    T_DIMSE_C_StoreRSP answer {};
    DcmDataset* detail = nullptr;
    const OFCondition condition = DIMSE_storeUser(m_association, context, &request, nullptr, dataset, nullptr, nullptr,
        DIMSE_NONBLOCKING, static_cast<int>(m_settings.networkTimeout.count()), &answer, &detail);
    if (condition.good()) {
        status = answer.DimseStatus;
        OFString text;
        if (detail != nullptr && detail->findAndGetOFString(DCM_ErrorComment, text).good()) {
            comment = text.c_str();
        }
    }
    delete detail;
    return condition;
}

OFCondition Association::Receive(T_ASC_PresentationContextID& context, T_DIMSE_Message& message, DcmDataset** detail)
{
    if (m_association == nullptr) {
        return DIMSE_ILLEGALASSOCIATION;
    }
    message = {};
    return DIMSE_receiveCommand(m_association, DIMSE_NONBLOCKING, static_cast<int>(m_settings.networkTimeout.count()),
        &context, &message, detail);
}

OFCondition Association::Commit(
    T_ASC_PresentationContextID context, DcmDataset& request, Uint16& status, const ReportJudge& judge)
{
    if (m_association == nullptr) {
        return DIMSE_ILLEGALASSOCIATION;
    }
    T_DIMSE_Message action {};
    action.CommandField = DIMSE_N_ACTION_RQ;
    T_DIMSE_N_ActionRQ& rq = action.msg.NActionRQ;
    rq.MessageID = ++m_messageId;
    OFStandard::strlcpy(
        rq.RequestedSOPClassUID, UID_StorageCommitmentPushModelSOPClass, sizeof rq.RequestedSOPClassUID);
    OFStandard::strlcpy(rq.RequestedSOPInstanceUID, CommitmentInstance, sizeof rq.RequestedSOPInstanceUID);
    rq.ActionTypeID = 1; // Request Storage Commitment
    rq.DataSetType = DIMSE_DATASET_PRESENT;
    OFCondition condition
        = DIMSE_sendMessageUsingMemoryData(m_association, context, &action, nullptr, &request, nullptr, nullptr);
    // A node may send a report of an earlier request before it answers this one.
    while (condition.good()) {
        T_ASC_PresentationContextID answeredOn = 0;
        T_DIMSE_Message answer {};
        DcmDataset* detail = nullptr;
        condition = Receive(answeredOn, answer, &detail);
        delete detail;
        if (condition.bad()) {
            break;
        }
        if (answer.CommandField == DIMSE_N_EVENT_REPORT_RQ) {
            condition = AnswerReport(answeredOn, answer.msg.NEventReportRQ, judge);
            continue;
        }
        if (answer.CommandField != DIMSE_N_ACTION_RSP
            || answer.msg.NActionRSP.MessageIDBeingRespondedTo != rq.MessageID) {
            return DIMSE_BADCOMMANDTYPE;
        }
        status = answer.msg.NActionRSP.DimseStatus;
        if (answer.msg.NActionRSP.DataSetType != DIMSE_DATASET_NULL) {
            DcmDataset* data = nullptr;
            condition = DIMSE_receiveDataSetInMemory(m_association, DIMSE_NONBLOCKING,
                static_cast<int>(m_settings.networkTimeout.count()), &answeredOn, &data, nullptr, nullptr);
            delete data;
        }
        return condition;
    }
    return condition;
}

OFCondition Association::Find(T_ASC_PresentationContextID context, DcmDataset& query,
    const std::function<void(DcmDataset& match)>& take, Uint16& status)
{
    if (m_association == nullptr) {
        return DIMSE_ILLEGALASSOCIATION;
    }
    T_DIMSE_C_FindRQ request {};
    request.MessageID = ++m_messageId;
    OFStandard::strlcpy(request.AffectedSOPClassUID, UID_FINDStudyRootQueryRetrieveInformationModel,
        sizeof request.AffectedSOPClassUID);
    request.DataSetType = DIMSE_DATASET_PRESENT;
    request.Priority = DIMSE_PRIORITY_MEDIUM;
    int count = 0;
    T_DIMSE_C_FindRSP answer {};
    DcmDataset* detail = nullptr;
    FindTaker taker {&take};
    const OFCondition condition = DIMSE_findUser(m_association, context, &request, &query, count, TakeMatch, &taker,
        DIMSE_NONBLOCKING, static_cast<int>(m_settings.networkTimeout.count()), &answer, &detail);
    delete detail;
    status = answer.DimseStatus;
    return condition;
}

bool Association::Waiting(int seconds)
{
    return m_association != nullptr && ASC_dataWaiting(m_association, seconds) == OFTrue;
}

bool Association::TakeReport(const ReportJudge& judge)
{
    T_ASC_PresentationContextID context = 0;
    T_DIMSE_Message message {};
    DcmDataset* detail = nullptr;
    OFCondition condition = Receive(context, message, &detail);
    delete detail;
    if (condition.good() && message.CommandField != DIMSE_N_EVENT_REPORT_RQ) {
        condition = DIMSE_BADCOMMANDTYPE;
    }
    if (condition.good()) {
        condition = AnswerReport(context, message.msg.NEventReportRQ, judge);
    }
    return condition.good();
}

OFCondition Association::AnswerReport(
    T_ASC_PresentationContextID context, const T_DIMSE_N_EventReportRQ& request, const ReportJudge& judge)
{
    DcmDataset* report = nullptr;
    if (request.DataSetType != DIMSE_DATASET_NULL) {
        T_ASC_PresentationContextID dataOn = 0;
        const OFCondition received = DIMSE_receiveDataSetInMemory(m_association, DIMSE_NONBLOCKING,
            static_cast<int>(m_settings.networkTimeout.count()), &dataOn, &report, nullptr, nullptr);
        if (received.bad()) {
            return received;
        }
    }
    // On our own association the caller is the node we called.
    const Uint16 status = judge(m_settings.node.aet, request, report);
    delete report;
    T_DIMSE_Message answer = EventReportAnswer(request, status);
    return DIMSE_sendMessageUsingMemoryData(m_association, context, &answer, nullptr, nullptr, nullptr, nullptr);
}

} // namespace engine::sending
