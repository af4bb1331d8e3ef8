#include "engine/send/SendJob.h"

#include <algorithm>

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/diutil.h>

namespace engine::sending {

namespace {

// Passes over what is left after the node went away or did not answer: each waits for the node first.
constexpr int MaxRounds = 6;
// Contexts per association: 128 at most, some room kept.
constexpr std::size_t MaxContexts = 120;

} // namespace

SendJob::SendJob(const SendSettings& settings, const std::vector<SendItem>& items, std::vector<SendOutcome>& outcomes)
    : m_settings(settings)
    , m_items(items)
    , m_outcomes(outcomes)
{
    m_outcomes.assign(items.size(), SendOutcome());
    // One instance per SOP Instance UID: the first item stands for the others.
    std::map<std::string, std::size_t> first;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto [at, added] = first.emplace(items[i].sopInstanceUid, i);
        m_standsFor.push_back(at->second);
        if (added) {
            m_instances.push_back(i);
        }
    }
    m_state.assign(items.size(), State::Pending);
}

SendResult SendJob::Run(bool send)
{
    m_result.total = static_cast<std::int64_t>(m_items.size());
    if (m_items.empty()) {
        m_result.reached = true;
        return m_result;
    }
    if (const std::string error = m_listener.Start(m_settings); !error.empty()) {
        Problem(error);
    }
    if (WaitForNode(true)) {
        Work(send);
    }
    m_listener.Stop();
    Finish();
    m_result.storesSent = m_storesSent;
    return m_result;
}

void SendJob::Problem(const std::string& line)
{
    const std::lock_guard lock(m_mutex);
    m_result.error = line;
    m_result.problems.push_back(line);
}

void SendJob::Work(bool send)
{
    if (!send) {
        round = 1;
        phase = SendProgress::Phase::Confirming;
        Confirm(m_instances, false);
        return;
    }
    std::vector<std::size_t> askFirst = m_instances;
    for (int pass = 1; pass <= MaxRounds && !Stopping(); ++pass) {
        round = pass;
        if (!askFirst.empty() && m_proof != Proof::None) {
            phase = SendProgress::Phase::Asking;
            Confirm(askFirst, true);
        }
        Store(Select({State::Pending, State::Uncertain}));
        phase = SendProgress::Phase::Confirming;
        Confirm(Select({State::Stored}), false);
        // Left: what the node never answered, and what could not be asked about.
        askFirst = Select({State::Uncertain});
        if ((askFirst.empty() && Select({State::Pending}).empty()) || Stopping() || pass == MaxRounds
            || !WaitForNode(false)) {
            return;
        }
    }
}

std::vector<std::size_t> SendJob::Select(std::initializer_list<State> states) const
{
    std::vector<std::size_t> selected;
    for (const std::size_t i : m_instances) {
        if (std::find(states.begin(), states.end(), m_state[i]) != states.end()) {
            selected.push_back(i);
        }
    }
    return selected;
}

bool SendJob::WaitForNode(bool first, Clock::time_point since)
{
    phase = first ? SendProgress::Phase::Echo : SendProgress::Phase::Waiting;
    auto pause = std::chrono::seconds(1);
    for (bool waited = !first;; waited = true) {
        if (waited) {
            const auto until = Clock::now() + pause;
            while (Clock::now() < until && !Stopping()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            pause = std::min(pause * 2, m_settings.pauseCap);
        }
        if (Stopping()) {
            return false;
        }
        Association echo(m_settings);
        Syntaxes syntaxes = UncompressedSyntaxes();
        echo.addPresentationContext(UID_VerificationSOPClass, syntaxes);
        bool rejected = false;
        std::string error = echo.Open(rejected);
        if (error.empty()) {
            const OFCondition answer = echo.sendECHORequest(0);
            if (answer.good()) {
                m_result.reached = true;
                return true;
            }
            error = "PACS beantwortet kein C-ECHO (" + Text(answer) + ")";
        }
        if (rejected || Clock::now() - since >= (first ? m_settings.startPatience : m_settings.patience)) {
            Problem(m_settings.node.Text() + ": " + error);
            return false;
        }
        if (!waited) {
            Problem(m_settings.node.Text() + ": " + error + "; neuer Versuch folgt");
        }
    }
}

std::vector<std::pair<std::string, Syntaxes>> SendJob::ContextsFor(
    const std::set<std::string>& classes, const std::map<std::string, std::set<std::string>>& syntaxesOf)
{
    std::vector<std::pair<std::string, Syntaxes>> contexts;
    for (const std::string& sopClass : classes) {
        contexts.emplace_back(sopClass, UncompressedSyntaxes());
        for (const std::string& syntax : syntaxesOf.at(sopClass)) {
            if (!IsUncompressed(syntax) && !syntax.empty()) {
                Syntaxes one;
                one.push_back(syntax.c_str());
                contexts.emplace_back(sopClass, one);
            }
        }
    }
    return contexts;
}

void SendJob::Store(const std::vector<std::size_t>& instances)
{
    phase = SendProgress::Phase::Storing;
    stored = 0;
    toStore = static_cast<std::int64_t>(instances.size());
    // The SOP classes in groups whose contexts fit on one association.
    std::map<std::string, std::set<std::string>> syntaxesOf;
    for (const std::size_t i : instances) {
        syntaxesOf[m_items[i].sopClassUid].insert(m_items[i].transferSyntax);
    }
    std::set<std::string> group;
    std::size_t contexts = 0;
    const auto storeGroup = [&] {
        std::vector<std::size_t> members;
        for (const std::size_t i : instances) {
            if (group.count(m_items[i].sopClassUid) != 0) {
                members.push_back(i);
            }
        }
        StoreOverAssociations(members, ContextsFor(group, syntaxesOf));
        group.clear();
        contexts = 0;
    };
    for (const auto& [sopClass, syntaxes] : syntaxesOf) {
        const std::size_t needed = 1 + syntaxes.size();
        if (!group.empty() && contexts + needed > MaxContexts) {
            storeGroup();
        }
        group.insert(sopClass);
        contexts += needed;
    }
    if (!group.empty()) {
        storeGroup();
    }
}

void SendJob::StoreOverAssociations(
    const std::vector<std::size_t>& instances, const std::vector<std::pair<std::string, Syntaxes>>& contexts)
{
    std::atomic<std::size_t> next {0};
    std::atomic<int> opened {0};
    const int count = std::max(1, std::min<int>(m_settings.associations, static_cast<int>(instances.size())));
    std::vector<std::thread> workers;
    for (int w = 0; w < count; ++w) {
        workers.emplace_back([&, w] {
            // The first opens alone: a node that refuses us refuses once, not once per association.
            if (w > 0) {
                while (opened.load() == 0 && next.load() < instances.size() && !Stopping()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                if (opened.load() < 0) {
                    return;
                }
            }
            Association association(m_settings);
            for (auto context : contexts) {
                association.addPresentationContext(context.first.c_str(), context.second);
            }
            bool rejected = false;
            const std::string error = association.Open(rejected);
            if (!error.empty()) {
                // A node that takes fewer associations than we would like: the others send.
                if (w == 0) {
                    Problem(m_settings.node.Text() + ": " + error);
                    if (rejected) {
                        for (const std::size_t i : instances) {
                            Settle(i, Arrival::Refused, error);
                        }
                    }
                    opened = -1;
                }
                return;
            }
            if (w == 0) {
                opened = 1;
            }
            for (std::size_t at = next++; at < instances.size() && !Stopping(); at = next++) {
                if (!StoreOne(association, instances[at])) {
                    association.abortAssociation();
                    return; // the node went away: the others find out for themselves
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

bool SendJob::StoreOne(Association& association, std::size_t i)
{
    const SendItem& item = m_items[i];
    SendOutcome& outcome = m_outcomes[i];
    DcmFileFormat file;
    // A dataset without the meta header is read as well: a PACS files it all the same.
    const OFCondition read
        = file.loadFile(item.file.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_autoDetect);
    if (read.bad()) {
        Settle(i, Arrival::NotSent, "Datei nicht lesbar: " + Text(read));
        ++stored;
        return true;
    }
    DcmDataset* dataset = file.getDataset();
    const E_TransferSyntax original = dataset->getOriginalXfer();
    const std::string syntax = DcmXfer(original).getXferID();
    T_ASC_PresentationContextID context
        = association.findPresentationContextID(item.sopClassUid.c_str(), syntax.c_str());
    std::string sent = syntax;
    if (context == 0) {
        for (const char* plain : {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax,
                 UID_BigEndianExplicitTransferSyntax}) {
            context = association.findPresentationContextID(item.sopClassUid.c_str(), plain);
            if (context != 0) {
                sent = plain;
                break;
            }
        }
        const E_TransferSyntax target = DcmXfer(sent.c_str()).getXfer();
        if (context != 0 && !IsUncompressed(syntax)
            && (dataset->chooseRepresentation(target, nullptr).bad() || !dataset->canWriteXfer(target))) {
            Settle(i, Arrival::Refused,
                "PACS nimmt " + SyntaxName(syntax) + " nicht an, und das Bild lässt sich nicht entpacken");
            ++stored;
            return true;
        }
    }
    if (context == 0) {
        Settle(i, Arrival::Refused,
            "PACS nimmt " + SyntaxName(item.sopClassUid) + " in " + SyntaxName(syntax) + " nicht an");
        ++stored;
        return true;
    }
    Uint16 status = 0;
    std::string comment;
    outcome.syntaxSent = sent;
    ++m_storesSent;
    const OFCondition condition
        = association.Store(context, dataset, item.sopClassUid, item.sopInstanceUid, status, comment);
    ++stored;
    if (condition.bad()) {
        outcome.error = "Verbindung zum PACS abgebrochen (" + Text(condition) + ")";
        m_state[i] = State::Uncertain;
        return false;
    }
    outcome.storeStatus = Hex(status);
    outcome.storeComment = comment.empty() ? DU_cstoreStatusString(status) : comment;
    if (status == STATUS_Success || (status & 0xF000) == 0xB000) {
        outcome.error.clear();
        m_state[i] = State::Stored;
    } else if ((status & 0xFF00) == 0xA700) {
        // Out of resources: worth another try once the node has had a pause.
        outcome.error = "PACS hat keinen Platz (Status " + outcome.storeStatus + ": " + outcome.storeComment + ")";
        m_state[i] = State::Pending;
    } else {
        Settle(i, Arrival::Refused,
            "vom PACS abgelehnt (Status " + outcome.storeStatus + ": " + outcome.storeComment + ")");
    }
    return true;
}

void SendJob::Settle(std::size_t i, Arrival arrival, const std::string& error)
{
    m_outcomes[i].arrival = arrival;
    m_outcomes[i].error = error;
    m_state[i] = State::Final;
}

void SendJob::Finish()
{
    for (const std::size_t i : m_instances) {
        SendOutcome& outcome = m_outcomes[i];
        if (m_state[i] == State::Pending) {
            outcome.arrival = Arrival::NotSent;
            if (outcome.error.empty()) {
                outcome.error = Stopping() ? "nicht gesendet: abgebrochen" : "nicht gesendet: " + m_result.error;
            }
        } else if (m_state[i] == State::Uncertain || m_state[i] == State::Stored) {
            outcome.arrival = Arrival::Unconfirmed;
            if (outcome.error.empty()) {
                outcome.error = "nicht bestätigt: " + m_result.error;
            }
        }
    }
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_standsFor[i] != i) {
            m_outcomes[i] = m_outcomes[m_standsFor[i]];
        }
        m_result.confirmed += Arrived(m_outcomes[i].arrival) ? 1 : 0;
    }
}

} // namespace engine::sending
