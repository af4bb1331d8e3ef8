#include "engine/send/SendJob.h"

#include <algorithm>

namespace engine::sending {

namespace {

// A node is asked about this many images in one commitment request; the requests go out together and
// the reports are awaited together.
constexpr std::size_t CommitChunk = 1000;
const std::string NoProof = "PACS bietet weder Speicherbestätigung noch Suche (C-FIND) an: nicht belegt, dass es das "
                            "Bild behalten hat";

} // namespace

void SendJob::Confirm(const std::vector<std::size_t>& instances, bool before)
{
    if (instances.empty() || Stopping()) {
        return;
    }
    // What is left to ask by C-FIND: all, or what the commitment reports did not answer.
    const std::vector<std::size_t>* left = &instances;
    if (m_proof == Proof::Unknown || m_proof == Proof::Commitment) {
        switch (AskForCommitment(instances, before)) {
        case Asked::Answered:
            m_proof = Proof::Commitment;
            return;
        case Asked::NotReached:
            return;
        case Asked::NoReport:
            m_proof = Proof::Find;
            left = &m_unreported;
            break;
        case Asked::NotOffered:
            break;
        }
    }
    if (m_proof != Proof::None) {
        AskByFind(*left, before);
    }
    if (m_proof == Proof::None) {
        Unconfirmed(*left, before, NoProof, true);
    }
}

SendJob::Asked SendJob::OpenFor(Association& association, const char* service,
    const std::vector<std::size_t>& instances, bool before, T_ASC_PresentationContextID& context)
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

SendJob::Asked SendJob::AskForCommitment(const std::vector<std::size_t>& instances, bool before)
{
    Association association(m_settings);
    T_ASC_PresentationContextID context = 0;
    const Asked opened = OpenFor(association, UID_StorageCommitmentPushModelSOPClass, instances, before, context);
    return opened == Asked::Answered ? Commit(association, context, instances, before) : opened;
}

void SendJob::AskByFind(const std::vector<std::size_t>& instances, bool before)
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

void SendJob::Unconfirmed(const std::vector<std::size_t>& instances, bool before, const std::string& why, bool final)
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

SendJob::Asked SendJob::Commit(Association& association, T_ASC_PresentationContextID context,
    const std::vector<std::size_t>& instances, bool before)
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
    const auto deadline
        = Clock::now() + m_settings.commitWait * static_cast<long>(std::max<std::size_t>(1, transactions.size()));
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

void SendJob::Apply(const CommitmentReport& report, const std::vector<std::size_t>& instances, bool before)
{
    for (const std::size_t i : instances) {
        const std::string& uid = m_items[i].sopInstanceUid;
        if (report.committed.count(uid) != 0) {
            m_outcomes[i].alreadyThere = before;
            Settle(i, Arrival::Committed, {});
        } else if (!before) {
            const auto failed = report.failed.find(uid);
            Settle(i, Arrival::NotCommitted,
                failed == report.failed.end() ? "PACS bestätigt das Bild nicht (nicht im Bericht)"
                                              : "PACS bestätigt das Bild nicht (Grund " + Hex(failed->second) + ")");
        }
    }
}

void SendJob::Find(Association& association, T_ASC_PresentationContextID context,
    const std::vector<std::size_t>& instances, bool before)
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
                "Suche im PACS fehlgeschlagen (" + (condition.bad() ? Text(condition) : "Status " + Hex(last)) + ")");
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

} // namespace engine::sending
