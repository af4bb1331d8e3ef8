// The stores of a send: over several associations at once, each image on a presentation context the node
// takes (decompressed for a node that takes no compression), handed to the prover as they succeed.
#include "engine/pacs/SendJob.h"

#include <algorithm>

#include "support/FileSystem.h"

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/diutil.h>

namespace engine::sending {

namespace {

// Per SOP class, the uncompressed syntaxes and each compressed syntax of the images on a context of its
// own, so that a node that does not take a compression can still be sent the image uncompressed.
std::vector<std::pair<std::string, Syntaxes>> ContextsFor(
    const std::set<std::string>& classes, const std::map<std::string, std::set<std::string>>& syntaxesOf)
{
    std::vector<std::pair<std::string, Syntaxes>> contexts;
    for (const std::string& sopClass : classes) {
        contexts.emplace_back(sopClass, UncompressedSyntaxes());
        for (const std::string& syntax : syntaxesOf.at(sopClass)) {
            if (!IsUncompressed(syntax) && !syntax.empty()) {
                contexts.emplace_back(sopClass, Syntaxes {syntax});
            }
        }
    }
    return contexts;
}

// Contexts per association: 128 at most, some room kept.
constexpr std::size_t MaxContexts = 120;

// An image decompressed for a node that takes no compression is held whole; its header says how large
// it gets, and a damaged or hostile header must not decide how much memory is taken (nor overflow the
// decoder's own 32-bit sums). Larger images go as they are to a node that takes them, or are refused.
constexpr std::uint64_t MaxDecodedBytes = std::uint64_t {1} << 31;

std::uint64_t DecodedBytes(DcmDataset& dataset)
{
    Uint16 rows = 0, columns = 0, samples = 1, bits = 8;
    dataset.findAndGetUint16(DCM_Rows, rows);
    dataset.findAndGetUint16(DCM_Columns, columns);
    dataset.findAndGetUint16(DCM_SamplesPerPixel, samples);
    dataset.findAndGetUint16(DCM_BitsAllocated, bits);
    Sint32 frames = 1;
    dataset.findAndGetSint32(DCM_NumberOfFrames, frames);
    return std::uint64_t {rows} * columns * std::max<Uint16>(samples, 1) * ((std::max<Uint16>(bits, 8) + 7) / 8)
        * static_cast<std::uint64_t>(std::max<Sint32>(frames, 1));
}

} // namespace

void SendJob::StoreAndProve(const std::vector<std::size_t>& instances)
{
    if (instances.empty() || Stopping()) {
        return;
    }
    phase = SendProgress::Phase::Storing;
    stored = 0;
    toStore = static_cast<std::int64_t>(instances.size());
    // While the node takes the stores, it has time to look up what was stored before: each batch's
    // commitment is requested while later batches are stored, so that little is left to prove at the end.
    {
        const std::lock_guard lock(m_mutex);
        m_storesDone = false;
        m_proving = m_listening && m_commitment != Offer::No;
        m_handedOver.clear();
    }
    m_broken = false;
    std::thread prover;
    if (m_proving) {
        prover = std::thread([this] { ProveWhileStoring(); });
    }
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
    {
        const std::lock_guard lock(m_mutex);
        m_storesDone = true;
    }
    m_changed.notify_all();
    if (prover.joinable()) {
        prover.join();
    }
    AbandonOpenRequests();
}

void SendJob::StoreOverAssociations(
    const std::vector<std::size_t>& instances, const std::vector<std::pair<std::string, Syntaxes>>& contexts)
{
    std::atomic<std::size_t> next {0};
    // The first association opens alone: a node that refuses us refuses once, not once per association.
    enum class First { Opening, Up, Failed };
    First first = First::Opening;
    const int count = std::max(1, std::min<int>(m_settings.associations, static_cast<int>(instances.size())));
    std::vector<std::thread> workers;
    for (int w = 0; w < count; ++w) {
        workers.emplace_back([&, w] {
            if (w > 0) {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return first != First::Opening || Stopping(); });
                if (first == First::Failed || Stopping() || next.load() >= instances.size()) {
                    return;
                }
            }
            Association association(m_settings);
            for (const auto& [sopClass, syntaxes] : contexts) {
                association.Offer(sopClass, syntaxes);
            }
            Refusal refusal = Refusal::None;
            const std::string error = association.Open(refusal);
            if (w == 0) {
                {
                    const std::lock_guard lock(m_mutex);
                    first = error.empty() ? First::Up : First::Failed;
                }
                m_changed.notify_all();
            }
            if (!error.empty()) {
                // A node that takes fewer associations than we would like: the others send.
                if (w == 0) {
                    Problem(m_settings.node.Text() + ": " + error);
                    if (refusal == Refusal::Refused || refusal == Refusal::NotDicom || refusal == Refusal::NoService) {
                        for (const std::size_t i : instances) {
                            Settle(i, Arrival::Refused, error);
                        }
                    }
                }
                return;
            }
            for (std::size_t at = next++; at < instances.size() && !Stopping(); at = next++) {
                if (!StoreOne(association, instances[at])) {
                    association.Abort();
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
    T_ASC_PresentationContextID context = association.ContextFor(item.sopClassUid, syntax);
    std::string sent = syntax;
    if (context == 0) {
        for (const char* plain : {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax,
                 UID_BigEndianExplicitTransferSyntax}) {
            context = association.ContextFor(item.sopClassUid, plain);
            if (context != 0) {
                sent = plain;
                break;
            }
        }
        const E_TransferSyntax target = DcmXfer(sent.c_str()).getXfer();
        if (context != 0 && !IsUncompressed(syntax)
            && (DecodedBytes(*dataset) > MaxDecodedBytes || dataset->chooseRepresentation(target, nullptr).bad()
                || !dataset->canWriteXfer(target))) {
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
        m_broken = true;
        return false;
    }
    outcome.storeStatus = Hex(status);
    outcome.storeComment = comment.empty() ? DU_cstoreStatusString(status) : comment;
    // Warnings (0xB000, 0xB006, 0xB007: coerced, elements discarded, data set does not match its class)
    // mean the node kept the image; whether it kept it, the proof afterwards tells.
    if (status == STATUS_Success || (status & 0xF000) == 0xB000) {
        outcome.error.clear();
        m_state[i] = State::Stored;
        HandOver(i, support::FileSize(item.file).value_or(0));
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

} // namespace engine::sending
