// A send as a whole: its passes, waiting for the node between them, and every item's verdict at the end.
#include "engine/pacs/SendJob.h"

#include <algorithm>

#include "support/Network.h"

namespace engine::sending {

namespace {

// Passes over what is left after the node went away or did not answer, each after waiting for the node:
// a node restarted a few times during one send still gets every image, and one that comes and goes for
// ever does not keep the operator waiting for ever.
constexpr int MaxRounds = 6;

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

SendResult SendJob::Run(SendMode mode)
{
    m_result.total = static_cast<std::int64_t>(m_items.size());
    if (m_items.empty()) {
        m_result.reached = true;
        return m_result;
    }
    const std::string listening = m_listener.Start(
        m_settings, [this](const std::string& caller, const T_DIMSE_N_EventReportRQ& request, DcmDataset* report) {
            return JudgeReport(caller, request, report, true);
        });
    m_listening = listening.empty();
    if (!m_listening) {
        // Reports that cannot reach us are not waited for: the node is asked by C-FIND instead.
        Problem(listening + ": seine Speicherbestätigungen können hier nicht ankommen, daher Bestätigung per C-FIND");
    }
    if (WaitForNode(true)) {
        if (mode == SendMode::ConfirmOnly) {
            round = 1;
            phase = SendProgress::Phase::Confirming;
            Ask(m_instances, Question::After);
        } else {
            Passes();
        }
    }
    m_listener.Stop();
    for (const std::string& caller : m_listener.TurnedAway()) {
        Problem("Speicherbestätigung von AE-Titel \"" + caller + "\" abgewiesen: nur " + m_settings.node.aet
                + (m_settings.reportAet.empty() ? std::string() : " oder " + m_settings.reportAet) + " darf sie senden",
            false);
    }
    Finish();
    m_result.storesSent = m_storesSent;
    return m_result;
}

void SendJob::Stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
}

void SendJob::Problem(const std::string& line, bool why)
{
    const std::lock_guard lock(m_mutex);
    if (why) {
        m_result.error = line;
    }
    if (m_problemsSeen.insert(line).second) {
        m_result.problems.push_back(line);
    }
}

void SendJob::Passes()
{
    std::vector<std::size_t> askFirst = m_instances;
    for (int pass = 1; pass <= MaxRounds && !Stopping(); ++pass) {
        round = pass;
        if (!askFirst.empty()) {
            phase = SendProgress::Phase::Asking;
            Ask(askFirst, Question::Before);
        }
        StoreAndProve(Select({State::Pending, State::Uncertain}));
        const std::vector<std::size_t> unproven = Select({State::Stored});
        if (!unproven.empty()) {
            phase = SendProgress::Phase::Confirming;
            Ask(unproven, Question::After);
        }
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
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, pause, [this] { return Stopping(); });
            pause = std::min(pause * 2, m_settings.pauseCap);
        }
        if (Stopping()) {
            return false;
        }
        Association echo(m_settings);
        echo.Offer(UID_VerificationSOPClass, UncompressedSyntaxes());
        Refusal refusal = Refusal::None;
        std::string error = echo.Open(refusal);
        if (error.empty()) {
            Uint16 status = 0;
            const OFCondition answer = echo.Echo(status);
            if (answer.good()) {
                m_result.reached = true;
                m_ownAddress = support::LocalAddressTowards(m_settings.node.host, m_settings.node.port);
                return true;
            }
            error = "PACS beantwortet kein C-ECHO (" + Text(answer) + ")";
        }
        // A node that turns us away for good, or is no DICOM node at all, answers the same every time.
        const bool final = refusal == Refusal::Refused || refusal == Refusal::NotDicom || refusal == Refusal::NoService;
        if (final || Clock::now() - since >= (first ? m_settings.startPatience : m_settings.patience)) {
            Problem(m_settings.node.Text() + ": " + error);
            return false;
        }
        if (!waited) {
            Problem(m_settings.node.Text() + ": " + error + "; neuer Versuch folgt");
        }
    }
}

bool SendJob::NodeAnswers()
{
    Association echo(m_settings);
    echo.Offer(UID_VerificationSOPClass, UncompressedSyntaxes());
    Refusal refusal = Refusal::None;
    Uint16 status = 0;
    return echo.Open(refusal).empty() && echo.Echo(status).good();
}

void SendJob::Finish()
{
    const std::string why = Stopping() ? std::string("abgebrochen") : m_result.error;
    for (const std::size_t i : m_instances) {
        SendOutcome& outcome = m_outcomes[i];
        if (m_state[i] == State::Pending) {
            outcome.arrival = Arrival::NotSent;
            if (outcome.error.empty() || Stopping()) {
                outcome.error = "nicht gesendet: " + why;
            }
        } else if (m_state[i] == State::Uncertain || m_state[i] == State::Stored) {
            outcome.arrival = Arrival::Unconfirmed;
            if (outcome.error.empty() || Stopping()) {
                outcome.error = "nicht bestätigt: " + why;
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
