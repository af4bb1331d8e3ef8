#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/pacs/Association.h"
#include "engine/pacs/CommitmentListener.h"

// The work of one send or check in the background (SendImages): the passes in SendJob.cpp, the stores over
// several associations in SendStores.cpp, the questions that prove arrival in SendProof.cpp (which to ask,
// and C-FIND), the commitment requests and their reports in SendCommitment.cpp.
namespace engine::sending {

using Clock = std::chrono::steady_clock;

inline const std::string NoReportCame = "keine Speicherbestätigung vom PACS erhalten";

// Whether the node lets itself be asked in one way: not tried yet, it answers, it does not.
enum class Offer { Unknown, Yes, No };

// Asking before the stores (which images the node holds already: those are not sent again) or after
// them (which arrived). Before, only what the node holds is settled; after, every answer is a verdict.
enum class Question { Before, After };

// The send of one call: its state, shared by the background work and the caller's progress.
class SendJob
{
public:
    SendJob(const SendSettings& settings, const std::vector<SendItem>& items, std::vector<SendOutcome>& outcomes);

    std::atomic<std::int64_t> stored {0};
    std::atomic<std::int64_t> toStore {0};
    std::atomic<int> round {0};
    std::atomic<SendProgress::Phase> phase {SendProgress::Phase::Echo};

    SendResult Run(SendMode mode);
    // No further store starts, and every wait ends.
    void Stop();

private:
    // Pending: to be sent. Stored: the node answered the store with success. Uncertain: sent, but what
    // became of it is not known (the node went away, or could not be asked): asked about before it is
    // sent again. Final: its outcome is known.
    enum class State { Pending, Stored, Uncertain, Final };

    // A commitment request of this send, until its report came.
    struct Transaction
    {
        std::vector<std::size_t> instances;
        std::set<std::string> asked; // their SOP Instance UIDs: a report may name no others
        Question question = Question::After;
        Clock::time_point sent;
    };

    // A fault of the node for the operator, each once; why: it is also why what is left did not arrive.
    void Problem(const std::string& line, bool why = true);
    bool Stopping() const { return m_stop.load(); }

    // The passes of a send: what the node holds is asked first, the rest stored and proven, and what is
    // left after the node went away gets another pass once it is back.
    void Passes();
    std::vector<std::size_t> Select(std::initializer_list<State> states) const;
    // C-ECHO until the node answers: at once at the start, after pauses of 1 s, 2 s, 4 s ... up to the
    // cap while the node is away. False when patience ran out, the node refuses us, or a stop came.
    bool WaitForNode(bool first, Clock::time_point since = Clock::now());
    // One C-ECHO: whether the node is there now (a question it broke off was refused, not lost).
    bool NodeAnswers();

    // The stores of a pass, with the commitment of each batch requested while later ones are stored.
    void StoreAndProve(const std::vector<std::size_t>& instances);
    void StoreOverAssociations(
        const std::vector<std::size_t>& instances, const std::vector<std::pair<std::string, Syntaxes>>& contexts);
    // False when the association broke.
    bool StoreOne(Association& association, std::size_t i);
    void Settle(std::size_t i, Arrival arrival, const std::string& error);

    // SendProof.cpp: the questions.
    void Ask(const std::vector<std::size_t>& instances, Question question);
    // The commitment of stored images, batch by batch as the stores hand them over (HandOver), on a thread
    // of its own; what it could not prove stays Stored for Ask afterwards.
    void ProveWhileStoring();
    // After the stores: the requests still open are given up, their images asked about in the next pass.
    void AbandonOpenRequests();
    void HandOver(std::size_t i, std::uint64_t bytes);
    // Enough handed over for a commitment request (under m_mutex).
    bool BatchReady() const;
    enum class Asked { Answered, NotReached, NotOffered, Refused, NoReport };
    // An association for one question: NotReached when the node is away (the instances unconfirmed after
    // the stores), NotOffered (and offer No) when it takes no association for it.
    Asked OpenForQuestion(Association& association, const char* service, const std::vector<std::size_t>& instances,
        Question question, Offer& offer);
    Asked AskForCommitment(const std::vector<std::size_t>& instances, Question question);
    // Sends the requests; false when the association can no longer carry one.
    Asked Request(Association& association, T_ASC_PresentationContextID context,
        const std::vector<std::size_t>& instances, Question question);
    // Waits for the reports of every open transaction until their time is up; own is the association
    // the requests went on, where a node may report too. NoReport when some never came.
    Asked AwaitReports(Association& own);
    Uint16 JudgeReport(
        const std::string& caller, const T_DIMSE_N_EventReportRQ& request, DcmDataset* report, bool viaListener);
    void ApplyReports();
    // Before the stores, one question per study first, so that a send into a node that holds none of its
    // studies asks no more; then one per series, at image level.
    Asked AskByFind(const std::vector<std::size_t>& instances, Question question);
    // A C-FIND of a study (series empty) or of the images of a series.
    struct FindQuery
    {
        std::string study;
        std::string series;
        std::vector<std::size_t> members; // the instances it asks about
    };
    // found: the SOP Instance UIDs of the matches (a study's match has an empty one).
    using FindTake = std::function<void(
        const FindQuery& query, const OFCondition& condition, Uint16 status, const std::set<std::string>& found)>;
    // Asks the queries on first and further associations of their own, handing each answer to take (one
    // at a time). Refused when the node refused the first question and never answered one before;
    // NotReached when it went away at the first.
    Asked RunFinds(Association& first, const std::vector<FindQuery>& queries, const FindTake& take);
    // What could not be asked about: asked again in the next pass, unless asking cannot help (final).
    void Unconfirmed(
        const std::vector<std::size_t>& instances, Question question, const std::string& why, bool final = false);
    // The node takes our images but neither of our questions: it does not know us.
    std::string UnknownToNode(const std::string& address) const;

    // Every item its verdict: instances as they ended, copies of an instance as the instance.
    void Finish();

    const SendSettings& m_settings;
    const std::vector<SendItem>& m_items;
    std::vector<SendOutcome>& m_outcomes;
    std::vector<std::size_t> m_standsFor; // the item that stands for each item's instance
    std::vector<std::size_t> m_instances; // the items that stand for an instance
    std::vector<State> m_state;
    std::atomic<bool> m_stop {false};

    Offer m_commitment = Offer::Unknown;
    Offer m_find = Offer::Unknown;
    bool m_questionsRefused = false; // the node took a question's association and then refused the question
    bool m_listening = false; // our listener for commitment reports is up
    std::string m_ownAddress; // this computer's address as the node sees it
    CommitmentListener m_listener;

    // Shared with the listener's thread, the prover and the store workers.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Transaction> m_transactions;
    struct TakenReport
    {
        CommitmentReport report;
        Transaction transaction;
    };
    std::deque<TakenReport> m_reports; // judged and taken, not yet applied
    bool m_reportsToListener = false; // the node reports on an association of its own
    std::vector<std::size_t> m_handedOver; // stored, waiting for their commitment request
    std::uint64_t m_handedOverBytes = 0; // their files' sizes
    bool m_storesDone = false;
    bool m_proving = false; // the prover takes hand-overs
    std::vector<std::size_t> m_unreported; // of the requests that got no report
    // Requests left open when a pass ended with the node gone: a node that was restarted has forgotten
    // them, and a late report of one is taken quietly and not applied (its images are asked about anew).
    std::set<std::string> m_abandoned;
    std::atomic<bool> m_broken {false}; // an association broke during the stores: the node went away
    std::set<std::string> m_problemsSeen;
    std::atomic<std::int64_t> m_storesSent {0};
    SendResult m_result;
};

} // namespace engine::sending
