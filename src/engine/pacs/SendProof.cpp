#include "engine/pacs/SendJob.h"

#include <algorithm>

namespace engine::sending {

namespace {

const std::string NoProof = "PACS bietet weder Speicherbestätigung noch Suche (C-FIND) an: nicht belegt, dass es das "
                            "Bild behalten hat";

} // namespace

void SendJob::Ask(const std::vector<std::size_t>& instances, Question question)
{
    if (instances.empty() || Stopping()) {
        return;
    }
    std::vector<std::size_t> left = instances;
    std::string why = NoProof;
    bool final = true;
    // Before the stores a C-FIND is the cheaper question (one per study tells that a node holds none of
    // them); after them the commitment is the stronger proof, unless its reports cannot reach us.
    const bool findFirst = question == Question::Before || !m_listening;
    for (int turn = 0; turn < 2 && !left.empty() && !Stopping(); ++turn) {
        const bool byFind = (turn == 0) == findFirst;
        if ((byFind ? m_find : m_commitment) == Offer::No) {
            continue;
        }
        switch (byFind ? AskByFind(left, question) : AskForCommitment(left, question)) {
        case Asked::Answered:
        case Asked::NotReached:
            return;
        case Asked::NoReport:
            left = m_unreported;
            why = NoReportCame;
            final = false;
            break;
        case Asked::NotOffered:
        case Asked::Refused:
            break;
        }
    }
    if (left.empty() || Stopping()) {
        return;
    }
    if (m_questionsRefused && m_commitment == Offer::No && m_find == Offer::No) {
        const std::string line = UnknownToNode(m_ownAddress);
        Problem(line);
        why = "nicht bestätigt: das PACS kennt diesen Rechner nicht (AE-Titel " + m_settings.ownAet + ")";
        final = true;
    }
    Unconfirmed(left, question, why, final);
}

std::string SendJob::UnknownToNode(const std::string& address) const
{
    return "Das PACS " + m_settings.node.Text()
        + " nimmt Bilder an, verweigert aber Speicherbestätigung und Suche: es kennt diesen Rechner nicht. Bitte im "
          "PACS als DICOM-Knoten eintragen: AE-Titel "
        + m_settings.ownAet + ", Adresse " + (address.empty() ? std::string("dieses Rechners") : address) + ", Port "
        + std::to_string(m_settings.listenPort) + ", Speicherbestätigung erlauben.";
}

void SendJob::Unconfirmed(
    const std::vector<std::size_t>& instances, Question question, const std::string& why, bool final)
{
    if (question == Question::Before) {
        return; // sent as if never asked
    }
    for (const std::size_t i : instances) {
        m_outcomes[i].arrival = Arrival::Unconfirmed;
        m_outcomes[i].error = why;
        m_state[i] = final ? State::Final : State::Uncertain;
    }
}

SendJob::Asked SendJob::OpenForQuestion(Association& association, const char* service,
    const std::vector<std::size_t>& instances, Question question, Offer& offer)
{
    association.Offer(service, UncompressedSyntaxes());
    Refusal refusal = Refusal::None;
    const std::string error = association.Open(refusal);
    if (refusal == Refusal::Unreachable || refusal == Refusal::Busy) {
        Unconfirmed(instances, question, "PACS konnte nicht gefragt werden: " + error);
        return Asked::NotReached;
    }
    if (association.ContextFor(service) == 0) {
        offer = Offer::No;
        return Asked::NotOffered;
    }
    return Asked::Answered;
}

SendJob::Asked SendJob::AskByFind(const std::vector<std::size_t>& instances, Question question)
{
    Association association(m_settings);
    if (const Asked opened
        = OpenForQuestion(association, UID_FINDStudyRootQueryRetrieveInformationModel, instances, question, m_find);
        opened != Asked::Answered) {
        return opened;
    }
    std::vector<std::size_t> asked = instances;
    if (question == Question::Before) {
        // A node that holds none of a study's images holds none of them: one question per study first.
        std::map<std::string, std::vector<std::size_t>> studies;
        for (const std::size_t i : instances) {
            studies[m_items[i].studyUid].push_back(i);
        }
        std::vector<FindQuery> queries;
        for (auto& [study, members] : studies) {
            if (!study.empty()) { // one that cannot be searched for is sent
                queries.push_back({study, {}, std::move(members)});
            }
        }
        asked.clear();
        const Asked answered = RunFinds(association, queries,
            [&asked](const FindQuery& query, const OFCondition& condition, Uint16 status,
                const std::set<std::string>& found) {
                // A study the node could not tell about is asked about image by image.
                if (condition.bad() || !found.empty() || (status != STATUS_Success && status != STATUS_Pending)) {
                    asked.insert(asked.end(), query.members.begin(), query.members.end());
                }
            });
        if (answered != Asked::Answered) {
            return answered; // not reached before the stores: sent as if never asked
        }
    }
    // A PACS searches images below their study and series: one query per series.
    std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> series;
    for (const std::size_t i : asked) {
        if (m_items[i].studyUid.empty() || m_items[i].seriesUid.empty()) {
            Unconfirmed({i}, question, "ohne Study und Series Instance UID nicht im PACS zu suchen", true);
        } else {
            series[{m_items[i].studyUid, m_items[i].seriesUid}].push_back(i);
        }
    }
    std::vector<FindQuery> queries;
    for (auto& [key, members] : series) {
        queries.push_back({key.first, key.second, std::move(members)});
    }
    const Asked answered = RunFinds(association, queries,
        [&](const FindQuery& query, const OFCondition& condition, Uint16 status, const std::set<std::string>& found) {
            if (condition.bad() || (status != STATUS_Success && status != STATUS_Pending)) {
                Unconfirmed(query.members, question,
                    "Suche im PACS fehlgeschlagen (" + (condition.bad() ? Text(condition) : "Status " + Hex(status))
                        + ")");
                return;
            }
            for (const std::size_t i : query.members) {
                if (found.count(m_items[i].sopInstanceUid) != 0) {
                    m_outcomes[i].alreadyThere = question == Question::Before;
                    Settle(i, Arrival::Found, {});
                } else if (question == Question::After) {
                    Settle(i, Arrival::NotFound, "PACS findet das Bild nicht");
                }
            }
        });
    if (answered == Asked::NotReached) {
        Unconfirmed(asked, question, "PACS konnte nicht gefragt werden: es antwortet nicht mehr");
    }
    return answered;
}

SendJob::Asked SendJob::RunFinds(Association& first, const std::vector<FindQuery>& queries, const FindTake& take)
{
    if (queries.empty()) {
        return Asked::Answered;
    }
    std::mutex taking;
    const auto ask = [&](Association& association, const FindQuery& query) {
        DcmDataset dataset;
        dataset.putAndInsertString(DCM_QueryRetrieveLevel, query.series.empty() ? "STUDY" : "IMAGE");
        dataset.putAndInsertString(DCM_StudyInstanceUID, query.study.c_str());
        if (!query.series.empty()) {
            dataset.putAndInsertString(DCM_SeriesInstanceUID, query.series.c_str());
            dataset.putAndInsertString(DCM_SOPInstanceUID, "");
        }
        std::set<std::string> found;
        Uint16 status = 0;
        const OFCondition condition = association.Find(
            association.ContextFor(UID_FINDStudyRootQueryRetrieveInformationModel), dataset,
            [&found](DcmDataset& match) {
                OFString uid;
                match.findAndGetOFString(DCM_SOPInstanceUID, uid);
                found.insert(uid.c_str()); // a study's match has none: found all the same
            },
            status);
        const std::lock_guard lock(taking);
        take(query, condition, status, found);
        return condition.good() && (status == STATUS_Success || status == STATUS_Pending);
    };
    // The first question alone: a node that refuses it refuses it once.
    if (!ask(first, queries.front())) {
        if (!NodeAnswers()) {
            return Asked::NotReached;
        }
        if (m_find == Offer::Unknown) {
            m_find = Offer::No;
            m_questionsRefused = true;
            return Asked::Refused;
        }
    } else {
        m_find = Offer::Yes;
    }
    // Each answer waits for the node's acknowledgement as a store's does: the others over several
    // associations at once.
    std::atomic<std::size_t> next {1};
    const auto work = [&](Association& association) {
        for (std::size_t at = next++; at < queries.size() && !Stopping(); at = next++) {
            ask(association, queries[at]);
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t extra
        = std::min<std::size_t>(queries.size() - 1, static_cast<std::size_t>(m_settings.associations));
    for (std::size_t h = 1; h < extra; ++h) {
        helpers.emplace_back([&] {
            Association association(m_settings);
            association.Offer(UID_FINDStudyRootQueryRetrieveInformationModel, UncompressedSyntaxes());
            Refusal refusal = Refusal::None;
            if (association.Open(refusal).empty()) {
                work(association);
            }
        });
    }
    work(first);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return Asked::Answered;
}

} // namespace engine::sending
