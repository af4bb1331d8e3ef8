#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "common/TestKit.h"
#include "engine/send/SendPlan.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scp.h>
#include <dcmtk/dcmnet/scu.h>

// What no node in Debian does, a node of the test's own does over real associations: it refuses one image
// with a status and an Error Comment, keeps another one although it answered "Success", takes uncompressed
// images only, reports on the association that asked or on one of its own to our listener (after reports
// from callers and about transactions that must be refused), or does not know us and breaks off every
// question. The real nodes (Orthanc, storescp) are in tests/integration/send_test.py.
namespace {

const char* const CommitmentInstance = "1.2.840.10008.1.20.1.1";

OFList<OFString> Plain()
{
    OFList<OFString> plain;
    plain.push_back(UID_LittleEndianExplicitTransferSyntax);
    plain.push_back(UID_LittleEndianImplicitTransferSyntax);
    return plain;
}

// Whether an N-EVENT-REPORT-RSP names what its request named, as a node checks it.
bool Complete(const T_DIMSE_N_EventReportRSP& answer)
{
    return (answer.opts & O_NEVENTREPORT_AFFECTEDSOPCLASSUID) != 0
        && (answer.opts & O_NEVENTREPORT_AFFECTEDSOPINSTANCEUID) != 0
        && std::string(answer.AffectedSOPClassUID) == UID_StorageCommitmentPushModelSOPClass
        && std::string(answer.AffectedSOPInstanceUID) == CommitmentInstance;
}

T_DIMSE_Message ReportRequest(Uint16 eventType)
{
    T_DIMSE_Message message {};
    message.CommandField = DIMSE_N_EVENT_REPORT_RQ;
    T_DIMSE_N_EventReportRQ& request = message.msg.NEventReportRQ;
    request.MessageID = 7;
    OFStandard::strlcpy(
        request.AffectedSOPClassUID, UID_StorageCommitmentPushModelSOPClass, sizeof request.AffectedSOPClassUID);
    OFStandard::strlcpy(request.AffectedSOPInstanceUID, CommitmentInstance, sizeof request.AffectedSOPInstanceUID);
    request.EventTypeID = eventType;
    request.DataSetType = DIMSE_DATASET_PRESENT;
    return message;
}

// A node's report on an association of its own to our listener, under a calling AE title of its choice.
class Reporter : public DcmSCU
{
public:
    // The answer; nullopt when the listener turned the caller away.
    std::optional<T_DIMSE_N_EventReportRSP> Report(Uint16 port, const std::string& caller, DcmDataset& report)
    {
        setAETitle(caller.c_str());
        setPeerAETitle("ZETPELTA");
        setPeerHostName("127.0.0.1");
        setPeerPort(port);
        addPresentationContext(UID_StorageCommitmentPushModelSOPClass, Plain());
        if (initNetwork().bad() || negotiateAssociation().bad()) {
            return std::nullopt;
        }
        T_DIMSE_Message request = ReportRequest(1);
        T_DIMSE_Message answer {};
        T_ASC_PresentationContextID id = findAnyPresentationContextID(UID_StorageCommitmentPushModelSOPClass, "");
        DcmDataset* detail = nullptr;
        const bool answered
            = sendDIMSEMessage(id, &request, &report).good() && receiveDIMSECommand(&id, &answer, &detail).good();
        delete detail;
        releaseAssociation();
        return answered ? std::optional(answer.msg.NEventReportRSP) : std::nullopt;
    }
};

struct Behaviour
{
    std::string refused; // answered 0xA900 with an Error Comment
    std::string dropped; // answered "Success", not kept
    bool leaveOut = false; // the report leaves the dropped image out instead of listing it as failed
    Uint16 listener = 0; // report to this port on an association of our own (0: on the asking one)
    bool hostile = false; // before the real report, three that our listener must refuse
    bool strange = false; // takes images, breaks off every question: it does not know the sender
    std::string cutOff; // its first store is taken and kept, and the association broken before the answer
};

class TestNode : public DcmSCP
{
public:
    explicit TestNode(Behaviour behaviour)
        : m_behaviour(std::move(behaviour))
    {
        DcmSCPConfig& config = getConfig();
        config.setAETitle("TESTNODE");
        config.setConnectionBlockingMode(DUL_NOBLOCK);
        config.setConnectionTimeout(1);
        config.setHostLookupEnabled(OFFalse);
        for (const char* sopClass : {UID_CTImageStorage, UID_MRImageStorage, UID_RTIonPlanStorage,
                 UID_SecondaryCaptureImageStorage, UID_StorageCommitmentPushModelSOPClass, UID_VerificationSOPClass,
                 UID_FINDStudyRootQueryRetrieveInformationModel}) {
            config.addPresentationContext(sopClass, Plain());
        }
        std::mt19937 random(std::random_device {}());
        for (int tries = 0; tries < 50 && port == 0; ++tries) {
            const auto candidate = static_cast<Uint16>(20000 + random() % 40000);
            config.setPort(candidate);
            if (openListenPort().good()) {
                port = candidate;
            }
        }
        m_thread = std::thread([this] { acceptAssociations(); });
    }
    ~TestNode() override
    {
        m_stop = true;
        m_thread.join();
        for (std::thread& reporter : m_reporters) {
            reporter.join();
        }
    }
    int StoresOf(const std::string& uid)
    {
        const std::lock_guard lock(m_mutex);
        return m_stores[uid];
    }
    // What became of each report it sent: what it was, and our answer (nullopt: turned away).
    std::vector<std::pair<std::string, std::optional<T_DIMSE_N_EventReportRSP>>> Answers()
    {
        const std::lock_guard lock(m_mutex);
        return m_answers;
    }
    // What it was asked, in order: "store UID", "find SERIES" ("find " for a study).
    std::vector<std::string> Events()
    {
        const std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<std::string> Transactions()
    {
        const std::lock_guard lock(m_mutex);
        return m_transactions;
    }

    Uint16 port = 0;

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message* message, const DcmPresentationContextInfo& context) override
    {
        const T_ASC_PresentationContextID id = context.presentationContextID;
        if (message->CommandField == DIMSE_C_STORE_RQ) {
            T_DIMSE_C_StoreRQ& store = message->msg.CStoreRQ;
            DcmDataset* dataset = nullptr;
            const OFCondition received = receiveSTORERequest(store, id, dataset);
            delete dataset;
            const std::string uid = store.AffectedSOPInstanceUID;
            DcmDataset detail;
            Uint16 status = STATUS_Success;
            {
                const std::lock_guard lock(m_mutex);
                m_events.push_back("store " + uid);
                if (++m_stores[uid] == 1 && uid == m_behaviour.cutOff) {
                    m_kept.insert(uid);
                    return DIMSE_BADCOMMANDTYPE; // aborted: the sender never learns that it arrived
                }
                if (uid == m_behaviour.refused) {
                    status = 0xA900;
                    detail.putAndInsertString(DCM_ErrorComment, "Patient unbekannt");
                } else if (uid != m_behaviour.dropped) {
                    m_kept.insert(uid);
                }
            }
            return received.bad() ? received
                                  : sendSTOREResponse(id, store.MessageID, store.AffectedSOPClassUID, uid.c_str(),
                                      status, status == STATUS_Success ? nullptr : &detail);
        }
        if (m_behaviour.strange
            && (message->CommandField == DIMSE_N_ACTION_RQ || message->CommandField == DIMSE_C_FIND_RQ)) {
            return DIMSE_BADCOMMANDTYPE; // the association is aborted, as a node does for a stranger
        }
        if (message->CommandField == DIMSE_N_ACTION_RQ) {
            T_DIMSE_N_ActionRQ& action = message->msg.NActionRQ;
            DcmDataset* request = nullptr;
            Uint16 type = 0;
            OFCondition condition = receiveACTIONRequest(action, id, request, type);
            if (condition.good()) {
                condition = sendACTIONResponse(
                    id, action.MessageID, action.RequestedSOPClassUID, action.RequestedSOPInstanceUID, STATUS_Success);
            }
            if (condition.good()) {
                DcmDataset report = ReportOf(*request);
                if (m_behaviour.listener == 0) {
                    condition = ReportHere(id, report);
                } else {
                    const std::lock_guard lock(m_mutex);
                    m_reporters.emplace_back([this, report]() mutable { ReportToListener(report); });
                }
            }
            delete request;
            return condition;
        }
        if (message->CommandField == DIMSE_C_FIND_RQ) {
            // Holds nothing: a store's "Success" is all a send has to go on.
            T_DIMSE_C_FindRQ& find = message->msg.CFindRQ;
            DcmDataset* query = nullptr;
            OFCondition condition = receiveFINDRequest(find, id, query);
            OFString series;
            if (query != nullptr) {
                query->findAndGetOFString(DCM_SeriesInstanceUID, series);
            }
            delete query;
            {
                const std::lock_guard lock(m_mutex);
                m_events.push_back("find " + std::string(series.c_str()));
            }
            return condition.good()
                ? sendFINDResponse(id, find.MessageID, find.AffectedSOPClassUID, nullptr, STATUS_Success, nullptr)
                : condition;
        }
        return DcmSCP::handleIncomingCommand(message, context);
    }
    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }

private:
    DcmDataset ReportOf(DcmDataset& request)
    {
        DcmDataset report;
        OFString transaction;
        request.findAndGetOFString(DCM_TransactionUID, transaction);
        report.putAndInsertString(DCM_TransactionUID, transaction.c_str());
        DcmSequenceOfItems* asked = nullptr;
        request.findAndGetSequence(DCM_ReferencedSOPSequence, asked);
        const std::lock_guard lock(m_mutex);
        m_transactions.push_back(transaction.c_str());
        for (unsigned long i = 0; asked != nullptr && i < asked->card(); ++i) {
            OFString sopClass, uid;
            asked->getItem(i)->findAndGetOFString(DCM_ReferencedSOPClassUID, sopClass);
            asked->getItem(i)->findAndGetOFString(DCM_ReferencedSOPInstanceUID, uid);
            const bool kept = m_kept.count(uid.c_str()) != 0;
            if (!kept && m_behaviour.leaveOut) {
                continue;
            }
            DcmItem* item = nullptr;
            report.findOrCreateSequenceItem(kept ? DCM_ReferencedSOPSequence : DCM_FailedSOPSequence, item, -2);
            item->putAndInsertString(DCM_ReferencedSOPClassUID, sopClass.c_str());
            item->putAndInsertString(DCM_ReferencedSOPInstanceUID, uid.c_str());
            if (!kept) {
                item->putAndInsertUint16(DCM_FailureReason, 0x0112); // no such object instance
            }
        }
        return report;
    }

    // On the association that asked: the answer is read here, to see that it is complete.
    OFCondition ReportHere(T_ASC_PresentationContextID id, DcmDataset& report)
    {
        T_DIMSE_Message request = ReportRequest(2);
        T_DIMSE_Message answer {};
        DcmDataset* detail = nullptr;
        OFCondition condition = sendDIMSEMessage(id, &request, &report);
        if (condition.good()) {
            condition = receiveDIMSECommand(&id, &answer, &detail);
        }
        delete detail;
        const std::lock_guard lock(m_mutex);
        m_answers.emplace_back(
            "on the association", condition.good() ? std::optional(answer.msg.NEventReportRSP) : std::nullopt);
        return condition;
    }

    void ReportToListener(DcmDataset report)
    {
        const auto send = [this](const std::string& what, const std::string& caller, DcmDataset& dataset) {
            Reporter reporter;
            const auto answer = reporter.Report(m_behaviour.listener, caller, dataset);
            const std::lock_guard lock(m_mutex);
            m_answers.emplace_back(what, answer);
        };
        if (m_behaviour.hostile) {
            // Each claims the dropped image kept: taken, it would count as arrived.
            DcmDataset claim = report;
            claim.findAndDeleteElement(DCM_FailedSOPSequence);
            DcmItem* item = nullptr;
            claim.findOrCreateSequenceItem(DCM_ReferencedSOPSequence, item, -2);
            item->putAndInsertString(DCM_ReferencedSOPClassUID, UID_CTImageStorage);
            item->putAndInsertString(DCM_ReferencedSOPInstanceUID, m_behaviour.dropped.c_str());
            send("from another caller", "INTRUDER", claim);
            DcmDataset unknown = claim;
            unknown.putAndInsertString(DCM_TransactionUID, "2.25.1");
            send("of an unknown transaction", "TESTNODE", unknown);
            DcmDataset unasked = claim;
            unasked.findOrCreateSequenceItem(DCM_ReferencedSOPSequence, item, -2);
            item->putAndInsertString(DCM_ReferencedSOPClassUID, UID_CTImageStorage);
            item->putAndInsertString(DCM_ReferencedSOPInstanceUID, "1.2.3.4.5");
            send("about an image not asked about", "TESTNODE", unasked);
        }
        send("the node's own", "TESTNODE", report);
    }

    Behaviour m_behaviour;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
    std::vector<std::thread> m_reporters;
    std::mutex m_mutex;
    std::map<std::string, int> m_stores;
    std::set<std::string> m_kept;
    std::vector<std::string> m_transactions;
    std::vector<std::string> m_events;
    std::vector<std::pair<std::string, std::optional<T_DIMSE_N_EventReportRSP>>> m_answers;
};

const std::string Data = ZP_PYDICOM_DATA "/test_files/";
const std::string CtUid = "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322";
const std::string MrUid = "1.3.6.1.4.1.5962.1.1.4.1.1.20040826185059.5457";
const std::string PlanUid = "1.2.333.4444.5.6.7.8";

engine::SendSettings SettingsFor(const TestNode& node, Uint16 listen)
{
    std::string error;
    const std::string text = "TESTNODE@127.0.0.1:" + std::to_string(node.port);
    auto settings = engine::MakeSendSettings({text, "", std::to_string(listen)}, error);
    EXPECT_TRUE(settings) << error;
    settings->commitWait = std::chrono::seconds(20);
    return *settings;
}

// A port nobody listens on now, for our listener: one a node of the test's own could open and gave back.
Uint16 FreePort()
{
    const TestNode probe({});
    return probe.port;
}

// A CT and an MR image of one study, with the UIDs a question needs, sent to the node (nobody reports
// to our listener).
struct StudySent
{
    engine::SendSettings settings;
    std::vector<engine::SendOutcome> outcomes;
    engine::SendResult result;
};

StudySent SendStudy(const TestNode& node)
{
    const std::vector<engine::SendItem> items = {
        {Data + "CT_small.dcm", UID_CTImageStorage, CtUid, "", "1.2.3", "1.2.3.4"},
        {Data + "MR_small.dcm", UID_MRImageStorage, MrUid, "", "1.2.3", "1.2.3.5"},
    };
    StudySent sent {SettingsFor(node, FreePort()), {}, {}};
    sent.result = engine::SendImages(sent.settings, engine::SendMode::Send, items, sent.outcomes);
    return sent;
}

} // namespace

TEST(Send, RefusalsWithTheNodesCommentDecompressionAndAReportOnTheAskingAssociation)
{
    TestNode node({CtUid, PlanUid, true, 0, false, false, ""});
    ASSERT_NE(node.port, 0);
    // Nobody reports to the listener: the node answers on the association that asked.
    const engine::SendSettings settings = SettingsFor(node, FreePort());

    const std::vector<engine::SendItem> items = {
        {Data + "CT_small.dcm", UID_CTImageStorage, CtUid, UID_LittleEndianExplicitTransferSyntax, "", ""},
        {Data + "MR_small_RLE.dcm", UID_MRImageStorage, MrUid, UID_RLELosslessTransferSyntax, "", ""},
        {Data + "ExplVR_LitEndNoMeta.dcm", UID_RTIonPlanStorage, PlanUid, "", "", ""},
        {Data + "SC_rgb_jpeg_dcmtk.dcm", UID_SecondaryCaptureImageStorage,
            "1.2.276.0.7230010.3.1.4.8323329.15150.1506363677.126194", UID_JPEGProcess1TransferSyntax, "", ""},
        {Data + "MR_small.dcm", UID_MRImageStorage, MrUid, "", "", ""},
    };
    std::vector<engine::SendOutcome> outcomes;
    const engine::SendResult result = engine::SendImages(settings, engine::SendMode::Send, items, outcomes);
    ASSERT_EQ(outcomes.size(), items.size());

    EXPECT_EQ(outcomes[0].arrival, engine::Arrival::Refused);
    EXPECT_EQ(outcomes[0].storeStatus, "0xA900");
    EXPECT_NE(outcomes[0].error.find("Patient unbekannt"), std::string::npos) << outcomes[0].error;
    // RLE to a node that takes it uncompressed only: sent decompressed, and committed.
    EXPECT_EQ(outcomes[1].arrival, engine::Arrival::Committed) << outcomes[1].error;
    EXPECT_EQ(outcomes[1].syntaxSent, UID_LittleEndianExplicitTransferSyntax);
    // Acknowledged with "Success", left out of the report: not committed, whatever the store said.
    EXPECT_EQ(outcomes[2].arrival, engine::Arrival::NotCommitted) << outcomes[2].error;
    EXPECT_EQ(outcomes[2].storeStatus, "0x0000");
    EXPECT_NE(outcomes[2].error.find("nicht im Bericht"), std::string::npos) << outcomes[2].error;
    // JPEG without a decoder: refused by us, never sent.
    EXPECT_EQ(outcomes[3].arrival, engine::Arrival::Refused);
    EXPECT_TRUE(outcomes[3].storeStatus.empty());
    EXPECT_NE(outcomes[3].error.find("nicht entpacken"), std::string::npos) << outcomes[3].error;
    // Two files of one instance: sent once, both confirmed.
    EXPECT_EQ(outcomes[4].arrival, engine::Arrival::Committed);
    EXPECT_EQ(node.StoresOf(MrUid), 1);
    EXPECT_EQ(node.StoresOf(CtUid), 1) << "a refusal is final: not sent again";
    EXPECT_EQ(result.storesSent, 3);
    EXPECT_EQ(result.confirmed, 2);
    // Our answer to its report names what the report named.
    const auto answers = node.Answers();
    ASSERT_FALSE(answers.empty());
    for (const auto& [what, answer] : answers) {
        ASSERT_TRUE(answer) << what;
        EXPECT_EQ(answer->DimseStatus, STATUS_Success) << what;
        EXPECT_TRUE(Complete(*answer)) << what;
    }
}

// Only the node may report, only on a transaction this send issued, only about the images it asked about.
TEST(Send, OurListenerTakesOnlyTheNodesReportOfOurTransaction)
{
    const Uint16 listen = FreePort();
    ASSERT_NE(listen, 0);
    TestNode node({"", CtUid, false, listen, true, false, ""});
    ASSERT_NE(node.port, 0);
    const engine::SendSettings settings = SettingsFor(node, listen);
    const std::vector<engine::SendItem> items = {
        {Data + "CT_small.dcm", UID_CTImageStorage, CtUid, UID_LittleEndianExplicitTransferSyntax, "", ""},
        {Data + "MR_small.dcm", UID_MRImageStorage, MrUid, "", "", ""},
    };
    std::vector<engine::SendOutcome> outcomes;
    const engine::SendResult result = engine::SendImages(settings, engine::SendMode::Send, items, outcomes);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].arrival, engine::Arrival::NotCommitted) << "a refused report was taken";
    EXPECT_NE(outcomes[0].error.find("0x0112 Objekt unbekannt"), std::string::npos) << outcomes[0].error;
    EXPECT_EQ(outcomes[1].arrival, engine::Arrival::Committed) << outcomes[1].error;

    std::map<std::string, std::optional<T_DIMSE_N_EventReportRSP>> answers;
    for (const auto& [what, answer] : node.Answers()) {
        answers[what] = answer;
    }
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_FALSE(answers["from another caller"]) << "an association from another AE title is turned away";
    for (const char* refused : {"of an unknown transaction", "about an image not asked about"}) {
        ASSERT_TRUE(answers[refused]) << refused;
        EXPECT_NE(answers[refused]->DimseStatus, STATUS_Success) << refused;
    }
    ASSERT_TRUE(answers["the node's own"]);
    EXPECT_EQ(answers["the node's own"]->DimseStatus, STATUS_Success);
    EXPECT_TRUE(Complete(*answers["the node's own"]));
    // Each refusal told once.
    const auto told = [&result](const std::string& words) {
        return std::count_if(result.problems.begin(), result.problems.end(),
            [&words](const std::string& line) { return line.find(words) != std::string::npos; });
    };
    EXPECT_EQ(told("\"INTRUDER\" abgewiesen"), 1) << testing::PrintToString(result.problems);
    EXPECT_EQ(told("nicht (mehr) erwartet"), 1) << testing::PrintToString(result.problems);
    EXPECT_EQ(told("nach denen nicht gefragt wurde"), 1) << testing::PrintToString(result.problems);
    // Transaction UIDs from a random source, a new one each request.
    const auto transactions = node.Transactions();
    ASSERT_FALSE(transactions.empty());
    for (const std::string& uid : transactions) {
        EXPECT_TRUE(uid.starts_with("2.25.") && uid.size() <= 64 && uid.size() > 30
            && uid.find_first_not_of("0123456789.") == std::string::npos)
            << uid;
    }
    EXPECT_EQ(std::set(transactions.begin(), transactions.end()).size(), transactions.size());
}

// A node that takes our images but breaks off every question does not know us: one line says what to
// enter there, each image is unconfirmed, and nothing is sent again.
TEST(Send, ANodeThatDoesNotKnowUsIsToldOnceWithWhatToEnter)
{
    Behaviour strange;
    strange.strange = true;
    TestNode node(strange);
    ASSERT_NE(node.port, 0);
    const auto [settings, outcomes, result] = SendStudy(node);
    EXPECT_TRUE(result.reached);
    EXPECT_EQ(result.confirmed, 0);
    EXPECT_EQ(result.storesSent, 2) << "sent once, not once per pass";
    for (const engine::SendOutcome& outcome : outcomes) {
        EXPECT_EQ(outcome.arrival, engine::Arrival::Unconfirmed);
    }
    const std::string port = std::to_string(settings.listenPort);
    const auto lines = std::count_if(result.problems.begin(), result.problems.end(), [&port](const std::string& line) {
        return line.find("kennt diesen Rechner nicht") != std::string::npos
            && line.find("AE-Titel ZETPELTA, Adresse 127.0.0.1, Port " + port) != std::string::npos;
    });
    EXPECT_EQ(lines, 1) << testing::PrintToString(result.problems);
}

// A store cut off with its association may have arrived: the node is asked about it before it is sent
// again, and it counts once it is confirmed.
TEST(Send, AStoreCutOffIsAskedAboutBeforeItIsSentAgain)
{
    Behaviour cut;
    cut.cutOff = CtUid;
    TestNode node(cut);
    ASSERT_NE(node.port, 0);
    const auto [settings, outcomes, result] = SendStudy(node);
    ASSERT_EQ(outcomes.size(), 2u);
    for (const engine::SendOutcome& outcome : outcomes) {
        EXPECT_EQ(outcome.arrival, engine::Arrival::Committed) << outcome.error;
    }
    EXPECT_EQ(result.confirmed, 2);
    const std::vector<std::string> events = node.Events();
    const auto first = std::find(events.begin(), events.end(), "store " + CtUid);
    ASSERT_NE(first, events.end()) << testing::PrintToString(events);
    const auto again = std::find(first + 1, events.end(), "store " + CtUid);
    EXPECT_NE(std::find_if(first, again, [](const std::string& event) { return event.starts_with("find"); }), again)
        << "sent again without a question: " << testing::PrintToString(events);
}

// The node as the operator writes it, on the command line or in [Senden].
TEST(Send, NodesOwnTitlesPortsAndConnectionsAsTheOperatorWritesThem)
{
    const std::tuple<engine::SendTexts, std::string> cases[] = {
        // the texts; the settings' node, own AE title, port, associations and report AE title, or the error's start
        {{"ORTHANC@127.0.0.1:4242"}, "ORTHANC@127.0.0.1:4242 ZETPELTA 11113 16 "},
        {{"PACS 1@pacs.praxis:104", "PRAXIS", "2000", "4", "PACSOUT"}, "PACS 1@pacs.praxis:104 PRAXIS 2000 4 PACSOUT"},
        {{"A@B@host:1"}, "A@B@host:1 ZETPELTA"}, // "@" is a character of AE titles, never of host names
        {{"PACS@[::1]:104"}, "PACS-Knoten \"PACS@[::1]:104\": IPv6-Adressen werden nicht unterstützt"},
        {{"PACS@fe80::1:104"}, "PACS-Knoten \"PACS@fe80::1:104\": IPv6-Adressen"},
        {{"ORTHANC@host"}, "PACS-Knoten \"ORTHANC@host\" ist nicht"},
        {{"@host:104"}, "AE-Titel \"\""},
        {{"SEVENTEEN_LETTERS@host:104"}, "AE-Titel \"SEVENTEEN_LETTERS\""},
        {{"PACS@:104"}, "PACS-Knoten \"PACS@:104\": der Rechnername"},
        {{"PACS@host:0"}, "PACS-Knoten \"PACS@host:0\": der Port"},
        {{"PACS@host:65536"}, "PACS-Knoten \"PACS@host:65536\": der Port"},
        {{"PACS@host:104", "BACK\\SLASH"}, "AE-Titel \"BACK\\SLASH\""},
        {{"PACS@host:104", "", "1e3"}, "Empfangsport \"1e3\""},
        {{"PACS@host:104", "", "", "0"}, "Verbindungen \"0\" ist keine Zahl von 1 bis 64"},
        {{"PACS@host:104", "", "", "65"}, "Verbindungen \"65\""},
    };
    for (const auto& [texts, expected] : cases) {
        std::string error;
        const auto settings = engine::MakeSendSettings(texts, error);
        const std::string got = settings
            ? settings->node.Text() + " " + settings->ownAet + " " + std::to_string(settings->listenPort) + " "
                + std::to_string(settings->associations) + " " + settings->reportAet
            : error;
        EXPECT_TRUE(got.starts_with(expected)) << texts.node << " -> " << got;
    }
}
