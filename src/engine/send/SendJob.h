#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/send/Dimse.h"

// The work of one send or check in the background (SendImages, ConfirmImages): the stores over several
// associations and the passes after the node went away in SendJob.cpp, the questions that prove arrival
// (commitment, C-FIND) in SendProof.cpp.
namespace engine::sending {

using Clock = std::chrono::steady_clock;

// How the node lets itself be asked which images it holds.
enum class Proof { Unknown, Commitment, Find, None };

// The send of one call: its state, shared by the background work and the caller's progress.
class SendJob
{
public:
    SendJob(const SendSettings& settings, const std::vector<SendItem>& items, std::vector<SendOutcome>& outcomes);

    std::atomic<bool> stopRequested {false};
    std::atomic<std::int64_t> stored {0};
    std::atomic<std::int64_t> toStore {0};
    std::atomic<int> round {0};
    std::atomic<SendProgress::Phase> phase {SendProgress::Phase::Echo};

    SendResult Run(bool send);

private:
    // Pending: to be sent. Stored: the node answered the store with success. Uncertain: sent, but what
    // became of it is not known (the node went away, or could not be asked): asked about before it is
    // sent again. Final: its outcome is known.
    enum class State { Pending, Stored, Uncertain, Final };

    void Problem(const std::string& line);
    bool Stopping() const { return stopRequested.load(); }

    void Work(bool send);

    std::vector<std::size_t> Select(std::initializer_list<State> states) const;

    // C-ECHO until the node answers: at once at the start, after pauses of 1 s, 2 s, 4 s ... up to the
    // cap while the node is away. False when patience ran out, the node refuses us, or a stop came.
    bool WaitForNode(bool first, Clock::time_point since = Clock::now());

    // The presentation contexts for a set of images: per SOP class each compressed syntax on its own,
    // and the uncompressed ones beside them, so that a node that does not take a compression can still
    // be sent the image uncompressed.
    static std::vector<std::pair<std::string, Syntaxes>> ContextsFor(
        const std::set<std::string>& classes, const std::map<std::string, std::set<std::string>>& syntaxesOf);

    void Store(const std::vector<std::size_t>& instances);

    void StoreOverAssociations(
        const std::vector<std::size_t>& instances, const std::vector<std::pair<std::string, Syntaxes>>& contexts);

    // False when the association broke.
    bool StoreOne(Association& association, std::size_t i);

    void Settle(std::size_t i, Arrival arrival, const std::string& error);

    // Asks the node which of the instances it holds. Before a send (before = true) only the held ones
    // are settled; after it, every one the node gave an answer about.
    void Confirm(const std::vector<std::size_t>& instances, bool before);

    // NoReport: the node took the commitment requests but sent no report in time (m_unreported).
    enum class Asked { Answered, NotReached, NotOffered, NoReport };

    // An association for one service; NotOffered when the node takes no association for it.
    Asked OpenFor(Association& association, const char* service, const std::vector<std::size_t>& instances, bool before,
        T_ASC_PresentationContextID& context);

    Asked AskForCommitment(const std::vector<std::size_t>& instances, bool before);

    void AskByFind(const std::vector<std::size_t>& instances, bool before);

    // What could not be asked about: asked again in the next pass, unless asking cannot help (final).
    void Unconfirmed(
        const std::vector<std::size_t>& instances, bool before, const std::string& why, bool final = false);

    // NotOffered when the node does not take the request (refuses it, or drops the association on the
    // first one): the caller tries a C-FIND.
    Asked Commit(Association& association, T_ASC_PresentationContextID context,
        const std::vector<std::size_t>& instances, bool before);

    void Apply(const CommitmentReport& report, const std::vector<std::size_t>& instances, bool before);

    void Find(Association& association, T_ASC_PresentationContextID context, const std::vector<std::size_t>& instances,
        bool before);

    // Every item its verdict: instances as they ended, copies of an instance as the instance.
    void Finish();

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

} // namespace engine::sending
