#include "engine/pacs/SendJob.h"

#include <algorithm>
#include <cstring>

// The commitment of a send: requests of a hundred images, on a thread of their own while the stores go
// on or as a question of their own, and the reports that answer them, judged before they count.
namespace engine::sending {

namespace {

// Images per commitment request. A node does the lookups of one request as one job, and its cost grows
// faster than the request: Orthanc 1.10 took 4.1 s of both cores for 2,000 images asked about in two
// requests of 1,000, and 1.1 s in twenty of 100. Small requests also let a node start on the first
// images while later ones are still being stored.
constexpr std::size_t CommitBatch = 100;
// Or this many bytes of images, whichever comes first: a node reads each image back to check it, so a
// request about large images is one long job, and the last one waits for all of it after the stores.
// Requests of a few large images each are looked up while later ones are stored, two at a time by
// Orthanc: 16 images of 8 MiB took 1.05 s after the stores in one request.
constexpr std::uint64_t CommitBatchBytes = 32ull << 20;

// Statuses an N-EVENT-REPORT is refused with (the standard's DIMSE failure codes).
constexpr Uint16 ProcessingFailure = 0x0110;
constexpr Uint16 NoSuchInstance = 0x0112;
constexpr Uint16 NoSuchEventType = 0x0113;
constexpr Uint16 NoSuchClass = 0x0118;
constexpr Uint16 MissingAttribute = 0x0120;

} // namespace

bool SendJob::BatchReady() const
{
    return m_handedOver.size() >= CommitBatch || m_handedOverBytes >= CommitBatchBytes;
}

void SendJob::HandOver(std::size_t i, std::uint64_t bytes)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_proving) {
            return;
        }
        m_handedOver.push_back(i);
        m_handedOverBytes += bytes;
        if (!BatchReady()) {
            return;
        }
    }
    m_changed.notify_all();
}

void SendJob::ProveWhileStoring()
{
    Association association(m_settings);
    T_ASC_PresentationContextID context = 0;
    // What it does not prove stays Stored and is asked about after the stores.
    const auto giveUp = [this] {
        const std::lock_guard lock(m_mutex);
        m_proving = false;
        m_handedOver.clear();
        m_handedOverBytes = 0;
    };
    for (;;) {
        std::vector<std::size_t> batch;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return BatchReady() || m_storesDone || Stopping() || !m_reports.empty(); });
            if (Stopping()) {
                m_proving = false;
                return;
            }
            if (BatchReady() || m_storesDone) {
                // What was handed over so far, a hundred images at most: a batch of large images is the
                // few the bytes allow.
                const std::size_t count = std::min(CommitBatch, m_handedOver.size());
                batch.assign(m_handedOver.begin(), m_handedOver.begin() + static_cast<std::ptrdiff_t>(count));
                m_handedOver.erase(m_handedOver.begin(), m_handedOver.begin() + static_cast<std::ptrdiff_t>(count));
                m_handedOverBytes = 0;
            }
            if (batch.empty() && m_storesDone) {
                break;
            }
        }
        ApplyReports();
        if (batch.empty()) {
            continue;
        }
        if (!association.Up()) {
            association.Offer(UID_StorageCommitmentPushModelSOPClass, UncompressedSyntaxes());
            Refusal refusal = Refusal::None;
            association.Open(refusal);
            context = association.ContextFor(UID_StorageCommitmentPushModelSOPClass);
            if (context == 0) {
                if (refusal != Refusal::Unreachable && refusal != Refusal::Busy) {
                    m_commitment = Offer::No;
                }
                giveUp();
                return;
            }
        }
        if (Request(association, context, batch, Question::After) != Asked::Answered) {
            giveUp();
            return;
        }
    }
    giveUp();
    // A node that went away during the stores may have lost what it was asked: asked anew next pass.
    if (!m_broken) {
        AwaitReports(association);
    }
}

void SendJob::AbandonOpenRequests()
{
    std::vector<std::size_t> open;
    {
        const std::lock_guard lock(m_mutex);
        for (auto& [uid, transaction] : m_transactions) {
            m_abandoned.insert(uid);
            open.insert(open.end(), transaction.instances.begin(), transaction.instances.end());
        }
        m_transactions.clear();
    }
    for (const std::size_t i : open) {
        if (m_state[i] == State::Stored) {
            m_state[i] = State::Uncertain;
            m_outcomes[i].error = "nicht bestätigt: das PACS war während der Speicherbestätigung nicht erreichbar";
        }
    }
}

SendJob::Asked SendJob::AskForCommitment(const std::vector<std::size_t>& instances, Question question)
{
    Association association(m_settings);
    if (const Asked opened
        = OpenForQuestion(association, UID_StorageCommitmentPushModelSOPClass, instances, question, m_commitment);
        opened != Asked::Answered) {
        return opened;
    }
    const T_ASC_PresentationContextID context = association.ContextFor(UID_StorageCommitmentPushModelSOPClass);
    for (std::size_t from = 0; from < instances.size(); from += CommitBatch) {
        const auto end
            = instances.begin() + static_cast<std::ptrdiff_t>(std::min(instances.size(), from + CommitBatch));
        const Asked asked
            = Request(association, context, {instances.begin() + static_cast<std::ptrdiff_t>(from), end}, question);
        if (asked == Asked::NotReached) {
            Unconfirmed({end, instances.end()}, question, "Speicherbestätigung abgebrochen");
        }
        if (asked != Asked::Answered) {
            return asked;
        }
    }
    return AwaitReports(association);
}

SendJob::Asked SendJob::Request(Association& association, T_ASC_PresentationContextID context,
    const std::vector<std::size_t>& instances, Question question)
{
    Transaction transaction {instances, {}, question, Clock::now()};
    const std::string uid = RandomUid();
    DcmDataset request;
    request.putAndInsertString(DCM_TransactionUID, uid.c_str());
    for (const std::size_t i : instances) {
        const SendItem& item = m_items[i];
        DcmItem* reference = nullptr;
        request.findOrCreateSequenceItem(DCM_ReferencedSOPSequence, reference, -2);
        reference->putAndInsertString(DCM_ReferencedSOPClassUID, item.sopClassUid.c_str());
        reference->putAndInsertString(DCM_ReferencedSOPInstanceUID, item.sopInstanceUid.c_str());
        transaction.asked.insert(item.sopInstanceUid);
    }
    {
        // Known before the request goes out: the report may come before the answer.
        const std::lock_guard lock(m_mutex);
        m_transactions[uid] = std::move(transaction);
    }
    Uint16 status = 0;
    const OFCondition condition = association.Commit(context, request, status,
        [this](const std::string& caller, const T_DIMSE_N_EventReportRQ& rq, DcmDataset* report) {
            return JudgeReport(caller, rq, report, false);
        });
    if (condition.good() && status == STATUS_Success) {
        m_commitment = Offer::Yes;
        return Asked::Answered;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_transactions.erase(uid);
    }
    // A node that has never taken a request and refuses the first (and is still there) does not take
    // them from us at all.
    if (m_commitment == Offer::Unknown && (condition.good() || NodeAnswers())) {
        m_commitment = Offer::No;
        m_questionsRefused = true;
        return Asked::Refused;
    }
    if (condition.bad()) {
        m_broken = true;
        Unconfirmed(instances, question, "Speicherbestätigung abgebrochen (" + Text(condition) + ")");
        return Asked::NotReached;
    }
    Unconfirmed(instances, question, "PACS lehnt die Speicherbestätigung ab (Status " + Hex(status) + ")", true);
    return Asked::Answered;
}

SendJob::Asked SendJob::AwaitReports(Association& own)
{
    std::unique_lock lock(m_mutex);
    std::size_t images = 0;
    for (const auto& [uid, transaction] : m_transactions) {
        images += transaction.instances.size();
    }
    // The node's time to report, per thousand images asked about, counted from now: the requests went out
    // while the images were stored, or just now.
    const auto deadline
        = Clock::now() + m_settings.commitWait * static_cast<long>(std::max<std::size_t>(1, (images + 999) / 1000));
    phase = SendProgress::Phase::Confirming;
    while (!Stopping()) {
        if (!m_reports.empty()) {
            lock.unlock();
            ApplyReports();
            lock.lock();
            continue;
        }
        if (m_transactions.empty() || Clock::now() >= deadline) {
            break;
        }
        if (own.Up() && !m_reportsToListener) {
            // Until a report came to the listener, the node may be one that reports on our association.
            lock.unlock();
            const auto judge = [this](const std::string& caller, const T_DIMSE_N_EventReportRQ& rq,
                                   DcmDataset* report) { return JudgeReport(caller, rq, report, false); };
            if (own.Waiting(1) && !own.TakeReport(judge)) {
                own.Abort();
            }
            lock.lock();
        } else {
            m_changed.wait_until(lock, deadline, [this] { return !m_reports.empty() || Stopping(); });
        }
    }
    if (m_transactions.empty() || Stopping()) {
        return Asked::Answered;
    }
    // A node that takes the requests but never reports back does not know where we listen (or cannot
    // reach us): waiting again would not help. It is asked by C-FIND from now on.
    m_unreported.clear();
    for (const auto& [uid, transaction] : m_transactions) {
        m_unreported.insert(m_unreported.end(), transaction.instances.begin(), transaction.instances.end());
    }
    m_transactions.clear();
    lock.unlock();
    m_commitment = Offer::No;
    Problem(m_settings.node.Text() + ": " + NoReportCame + " (bis " + std::to_string(m_settings.commitWait.count())
        + " s je 1000 Bilder gewartet); das PACS muss sie an " + m_settings.ownAet + ", Port "
        + std::to_string(m_settings.listenPort) + " dieses Rechners senden. Weiter mit C-FIND.");
    return Asked::NoReport;
}

Uint16 SendJob::JudgeReport(
    const std::string& caller, const T_DIMSE_N_EventReportRQ& request, DcmDataset* dataset, bool viaListener)
{
    // Only a report of a request of ours, about the images it asked about, is taken: anything else is
    // refused and told once.
    std::string why;
    Uint16 status = STATUS_Success;
    std::optional<CommitmentReport> report;
    if (std::strcmp(request.AffectedSOPClassUID, UID_StorageCommitmentPushModelSOPClass) != 0) {
        status = NoSuchClass;
        why = "falsche SOP-Klasse";
    } else if (std::strcmp(request.AffectedSOPInstanceUID, CommitmentInstance) != 0) {
        status = NoSuchInstance;
        why = "falsche SOP-Instanz";
    } else if (request.EventTypeID != 1 && request.EventTypeID != 2) {
        status = NoSuchEventType;
        why = "unbekannter Ereignistyp " + std::to_string(request.EventTypeID);
    } else if (report = ReadReport(dataset); !report) {
        status = MissingAttribute;
        why = "ohne Transaktions-UID";
    }
    if (status == STATUS_Success) {
        std::unique_lock lock(m_mutex);
        const auto found = m_transactions.find(report->transaction);
        if (found == m_transactions.end() && m_abandoned.count(report->transaction) != 0) {
            return STATUS_Success;
        }
        if (found == m_transactions.end()) {
            status = ProcessingFailure;
            why = "Transaktion, die dieser Versand nicht (mehr) erwartet";
        } else {
            const std::set<std::string>& asked = found->second.asked;
            const auto unasked = [&](const std::string& uid) { return asked.count(uid) == 0; };
            if (std::any_of(report->committed.begin(), report->committed.end(), unasked)
                || std::any_of(report->failed.begin(), report->failed.end(),
                    [&](const auto& failed) { return unasked(failed.first); })) {
                status = ProcessingFailure;
                why = "nennt Bilder, nach denen nicht gefragt wurde";
            } else {
                m_reports.push_back({std::move(*report), std::move(found->second)});
                m_transactions.erase(found);
                m_reportsToListener = m_reportsToListener || viaListener;
                lock.unlock();
                m_changed.notify_all();
                return STATUS_Success;
            }
        }
    }
    Problem("Speicherbestätigung von \"" + caller + "\" abgewiesen: " + why, false);
    return status;
}

void SendJob::ApplyReports()
{
    std::deque<TakenReport> reports;
    {
        const std::lock_guard lock(m_mutex);
        reports.swap(m_reports);
    }
    for (const auto& [report, transaction] : reports) {
        const bool before = transaction.question == Question::Before;
        for (const std::size_t i : transaction.instances) {
            const std::string& uid = m_items[i].sopInstanceUid;
            if (report.committed.count(uid) != 0) {
                m_outcomes[i].alreadyThere = before;
                Settle(i, Arrival::Committed, {});
            } else if (!before) {
                const auto failed = report.failed.find(uid);
                Settle(i, Arrival::NotCommitted,
                    failed == report.failed.end()
                        ? "PACS bestätigt das Bild nicht (nicht im Bericht)"
                        : "PACS bestätigt das Bild nicht (" + FailureReasonText(failed->second) + ")");
            }
        }
    }
}

} // namespace engine::sending
