#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "common/TestKit.h"
#include "engine/send/PacsRecords.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scp.h>

// What no node in Debian does, a node of the test's own does over a real association: it refuses one
// image with a status and an Error Comment, takes uncompressed images only, and sends its commitment
// report on the association that asked rather than on one of its own. The real nodes (Orthanc,
// storescp) are in tests/integration/send_test.py.
namespace {

class TestNode : public DcmSCP
{
public:
    explicit TestNode(std::string refused)
        : m_refused(std::move(refused))
    {
        DcmSCPConfig& config = getConfig();
        config.setAETitle("TESTNODE");
        config.setConnectionBlockingMode(DUL_NOBLOCK);
        config.setConnectionTimeout(1);
        config.setHostLookupEnabled(OFFalse);
        OFList<OFString> plain;
        plain.push_back(UID_LittleEndianExplicitTransferSyntax);
        plain.push_back(UID_LittleEndianImplicitTransferSyntax);
        for (const char* sopClass : {UID_CTImageStorage, UID_MRImageStorage, UID_RTIonPlanStorage,
                 UID_SecondaryCaptureImageStorage, UID_StorageCommitmentPushModelSOPClass, UID_VerificationSOPClass}) {
            config.addPresentationContext(sopClass, plain);
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
    }
    int StoresOf(const std::string& uid)
    {
        const std::lock_guard lock(m_mutex);
        return m_stores[uid];
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
                ++m_stores[uid];
                if (uid == m_refused) {
                    status = 0xA900;
                    detail.putAndInsertString(DCM_ErrorComment, "Patient unbekannt");
                } else {
                    m_kept.insert(uid);
                }
            }
            return received.bad() ? received
                                  : sendSTOREResponse(id, store.MessageID, store.AffectedSOPClassUID, uid.c_str(),
                                      status, status == STATUS_Success ? nullptr : &detail);
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
                condition = SendReport(id, *request);
            }
            delete request;
            return condition;
        }
        return DcmSCP::handleIncomingCommand(message, context);
    }
    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }

private:
    OFCondition SendReport(T_ASC_PresentationContextID id, DcmDataset& request)
    {
        DcmDataset report;
        OFString transaction;
        request.findAndGetOFString(DCM_TransactionUID, transaction);
        report.putAndInsertString(DCM_TransactionUID, transaction.c_str());
        DcmSequenceOfItems* asked = nullptr;
        request.findAndGetSequence(DCM_ReferencedSOPSequence, asked);
        bool failures = false;
        for (unsigned long i = 0; asked != nullptr && i < asked->card(); ++i) {
            OFString sopClass, uid;
            asked->getItem(i)->findAndGetOFString(DCM_ReferencedSOPClassUID, sopClass);
            asked->getItem(i)->findAndGetOFString(DCM_ReferencedSOPInstanceUID, uid);
            const std::lock_guard lock(m_mutex);
            const bool kept = m_kept.count(uid.c_str()) != 0;
            failures = failures || !kept;
            DcmItem* item = nullptr;
            report.findOrCreateSequenceItem(kept ? DCM_ReferencedSOPSequence : DCM_FailedSOPSequence, item, -2);
            item->putAndInsertString(DCM_ReferencedSOPClassUID, sopClass.c_str());
            item->putAndInsertString(DCM_ReferencedSOPInstanceUID, uid.c_str());
            if (!kept) {
                item->putAndInsertUint16(DCM_FailureReason, 0x0112); // no such object instance
            }
        }
        Uint16 status = 0;
        return sendEVENTREPORTRequest(id, "1.2.840.10008.1.20.1.1", 1, failures ? 2 : 1, &report, status);
    }

    std::string m_refused;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::map<std::string, int> m_stores;
    std::set<std::string> m_kept;
};

} // namespace

TEST(Send, RefusalsWithTheNodesCommentDecompressionAndCommitmentOnTheAskingAssociation)
{
    const std::string data = ZP_PYDICOM_DATA "/test_files/";
    const std::string ct = "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322";
    TestNode node(ct);
    ASSERT_NE(node.port, 0);
    std::string error;
    auto settings = engine::MakeSendSettings("TESTNODE@127.0.0.1:" + std::to_string(node.port), "", "", error);
    ASSERT_TRUE(settings) << error;
    settings->listenPort
        = static_cast<std::uint16_t>(node.port + 1); // nobody reports there: the report comes on the association
    settings->commitWait = std::chrono::seconds(20);

    const std::vector<engine::SendItem> items = {
        {data + "CT_small.dcm", UID_CTImageStorage, ct, UID_LittleEndianExplicitTransferSyntax, "", ""},
        {data + "MR_small_RLE.dcm", UID_MRImageStorage, "1.3.6.1.4.1.5962.1.1.4.1.1.20040826185059.5457",
            UID_RLELosslessTransferSyntax, "", ""},
        {data + "ExplVR_LitEndNoMeta.dcm", UID_RTIonPlanStorage, "1.2.333.4444.5.6.7.8", "", "", ""},
        {data + "SC_rgb_jpeg_dcmtk.dcm", UID_SecondaryCaptureImageStorage,
            "1.2.276.0.7230010.3.1.4.8323329.15150.1506363677.126194", UID_JPEGProcess1TransferSyntax, "", ""},
        {data + "MR_small.dcm", UID_MRImageStorage, "1.3.6.1.4.1.5962.1.1.4.1.1.20040826185059.5457", "", "", ""},
    };
    std::vector<engine::SendOutcome> outcomes;
    const engine::SendResult result = engine::SendImages(*settings, items, outcomes);
    ASSERT_EQ(outcomes.size(), items.size());

    EXPECT_EQ(outcomes[0].arrival, engine::Arrival::Refused);
    EXPECT_EQ(outcomes[0].storeStatus, "0xA900");
    EXPECT_NE(outcomes[0].error.find("Patient unbekannt"), std::string::npos) << outcomes[0].error;
    // RLE to a node that takes it uncompressed only: sent decompressed, and committed.
    EXPECT_EQ(outcomes[1].arrival, engine::Arrival::Committed) << outcomes[1].error;
    EXPECT_EQ(outcomes[1].syntaxSent, UID_LittleEndianExplicitTransferSyntax);
    EXPECT_EQ(outcomes[2].arrival, engine::Arrival::Committed) << outcomes[2].error; // a dataset without meta header
    // JPEG without a decoder: refused by us, never sent.
    EXPECT_EQ(outcomes[3].arrival, engine::Arrival::Refused);
    EXPECT_TRUE(outcomes[3].storeStatus.empty());
    EXPECT_NE(outcomes[3].error.find("nicht entpacken"), std::string::npos) << outcomes[3].error;
    // Two files of one instance: sent once, both confirmed.
    EXPECT_EQ(outcomes[4].arrival, engine::Arrival::Committed);
    EXPECT_EQ(node.StoresOf(items[1].sopInstanceUid), 1);
    EXPECT_EQ(node.StoresOf(ct), 1) << "a refusal is final: not sent again";
    EXPECT_EQ(result.storesSent, 3);
    EXPECT_EQ(result.confirmed, 3);
}

// The node as the operator writes it, and the records' words read back.
TEST(Send, NodesOwnTitlesAndPortsAsTheOperatorWritesThem)
{
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        // node, own AE title, listen port, the settings' node and own AE title and port, or the error's start
        {"ORTHANC@127.0.0.1:4242", "", "", "ORTHANC@127.0.0.1:4242 ZETPELTA 11113"},
        {"PACS 1@[::1]:104", "PRAXIS", "2000", "PACS 1@::1:104 PRAXIS 2000"},
        {"A@B@host:1", "", "", "A@B@host:1 ZETPELTA"}, // "@" is a character of AE titles, never of host names
        {"ORTHANC@host", "", "", "PACS-Knoten \"ORTHANC@host\" ist nicht"},
        {"@host:104", "", "", "AE-Titel \"\""},
        {"SEVENTEEN_LETTERS@host:104", "", "", "AE-Titel \"SEVENTEEN_LETTERS\""},
        {"PACS@:104", "", "", "PACS-Knoten \"PACS@:104\": der Rechnername"},
        {"PACS@host:0", "", "", "PACS-Knoten \"PACS@host:0\": der Port"},
        {"PACS@host:65536", "", "", "PACS-Knoten \"PACS@host:65536\": der Port"},
        {"PACS@host:104", "BACK\\SLASH", "", "AE-Titel \"BACK\\SLASH\""},
        {"PACS@host:104", "", "1e3", "Empfangsport \"1e3\""},
    };
    for (const auto& [node, own, port, expected] : cases) {
        std::string error;
        const auto settings = engine::MakeSendSettings(node, own, port, error);
        const std::string got = settings
            ? settings->node.Text() + " " + settings->ownAet + " " + std::to_string(settings->listenPort)
            : error;
        EXPECT_TRUE(got.starts_with(expected)) << node << " -> " << got;
    }
    for (const engine::Arrival arrival : {engine::Arrival::NotSent, engine::Arrival::Refused,
             engine::Arrival::Unconfirmed, engine::Arrival::NotCommitted, engine::Arrival::NotFound,
             engine::Arrival::Committed, engine::Arrival::Found}) {
        EXPECT_EQ(engine::ArrivalOf(engine::ArrivalName(arrival)), arrival);
    }
    EXPECT_EQ(engine::ConfirmedLine(3, 5), "3 von 5 Bildern im PACS bestätigt.");
}
