#include "engine/pacs/Dimse.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>
#include <random>

#include "support/Terminal.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/oflog/oflog.h>

namespace engine::sending {

std::string Hex(Uint16 status)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(status));
    return text;
}

bool IsUncompressed(const std::string& syntax)
{
    return syntax == UID_LittleEndianImplicitTransferSyntax || syntax == UID_LittleEndianExplicitTransferSyntax
        || syntax == UID_BigEndianExplicitTransferSyntax;
}

Syntaxes UncompressedSyntaxes()
{
    return {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax,
        UID_BigEndianExplicitTransferSyntax};
}

std::string Text(const OFCondition& condition)
{
    std::string text = condition.text();
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, "; ");
    }
    return text;
}

std::string SyntaxName(const std::string& uid)
{
    return dcmFindNameOfUID(uid.c_str(), uid.c_str());
}

std::string FailureReasonText(Uint16 reason)
{
    const char* words = "unbekannter Grund";
    switch (reason) {
    case 0x0110:
        words = "Verarbeitungsfehler";
        break;
    case 0x0112:
        words = "Objekt unbekannt";
        break;
    case 0x0119:
        words = "SOP-Klasse passt nicht zum Objekt";
        break;
    case 0x0122:
        words = "SOP-Klasse nicht unterstützt";
        break;
    case 0x0131:
        words = "Transaktions-UID doppelt";
        break;
    case 0x0213:
        words = "PACS ohne Ressourcen";
        break;
    default:
        break;
    }
    return Hex(reason) + " " + words;
}

std::string RandomUid()
{
    static std::mutex mutex;
    static std::random_device device;
    std::array<std::uint32_t, 4> words {}; // the 128 bits, most significant first
    {
        const std::lock_guard lock(mutex);
        for (std::uint32_t& word : words) {
            word = device();
        }
    }
    // The bits of a random (version 4) UUID, which is what the root 2.25 stands for.
    words[1] = (words[1] & 0xFFFF0FFFu) | 0x00004000u;
    words[2] = (words[2] & 0x3FFFFFFFu) | 0x80000000u;
    // The number in decimal, by long division by ten.
    std::string digits;
    while (std::any_of(words.begin(), words.end(), [](std::uint32_t word) { return word != 0; })) {
        std::uint64_t rest = 0;
        for (std::uint32_t& word : words) {
            const std::uint64_t part = (rest << 32) | word;
            word = static_cast<std::uint32_t>(part / 10);
            rest = part % 10;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rest));
    }
    return "2.25." + digits;
}

void PrepareDcmtk()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // DCMTK would tell its network troubles on stderr; they reach the operator as our own texts.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        // Without it every answer waits for the peer's delayed acknowledgement: about 90 ms a store.
        support::SetEnvironmentValue("TCP_NODELAY", "1");
        // A node that looks up our name would only slow the association down.
        dcmDisableGethostbyaddr.set(OFTrue);
        // An RLE image goes uncompressed to a node that does not take RLE.
        DcmRLEDecoderRegistration::registerCodecs();
    });
}

std::optional<CommitmentReport> ReadReport(DcmDataset* dataset)
{
    OFString transaction;
    if (dataset == nullptr || dataset->findAndGetOFString(DCM_TransactionUID, transaction).bad()) {
        return std::nullopt;
    }
    CommitmentReport report;
    report.transaction = transaction.c_str();
    DcmSequenceOfItems* sequence = nullptr;
    if (dataset->findAndGetSequence(DCM_ReferencedSOPSequence, sequence).good() && sequence != nullptr) {
        for (unsigned long i = 0; i < sequence->card(); ++i) {
            OFString uid;
            if (sequence->getItem(i)->findAndGetOFString(DCM_ReferencedSOPInstanceUID, uid).good()) {
                report.committed.insert(uid.c_str());
            }
        }
    }
    if (dataset->findAndGetSequence(DCM_FailedSOPSequence, sequence).good() && sequence != nullptr) {
        for (unsigned long i = 0; i < sequence->card(); ++i) {
            OFString uid;
            Uint16 reason = 0;
            sequence->getItem(i)->findAndGetUint16(DCM_FailureReason, reason);
            if (sequence->getItem(i)->findAndGetOFString(DCM_ReferencedSOPInstanceUID, uid).good()) {
                report.failed[uid.c_str()] = reason;
            }
        }
    }
    return report;
}

T_DIMSE_Message EventReportAnswer(const T_DIMSE_N_EventReportRQ& request, Uint16 status)
{
    T_DIMSE_Message answer {};
    answer.CommandField = DIMSE_N_EVENT_REPORT_RSP;
    T_DIMSE_N_EventReportRSP& report = answer.msg.NEventReportRSP;
    report.MessageIDBeingRespondedTo = request.MessageID;
    OFStandard::strlcpy(report.AffectedSOPClassUID, request.AffectedSOPClassUID, sizeof report.AffectedSOPClassUID);
    OFStandard::strlcpy(
        report.AffectedSOPInstanceUID, request.AffectedSOPInstanceUID, sizeof report.AffectedSOPInstanceUID);
    report.EventTypeID = request.EventTypeID;
    report.opts
        = O_NEVENTREPORT_AFFECTEDSOPCLASSUID | O_NEVENTREPORT_AFFECTEDSOPINSTANCEUID | O_NEVENTREPORT_EVENTTYPEID;
    report.DimseStatus = status;
    report.DataSetType = DIMSE_DATASET_NULL;
    return answer;
}

} // namespace engine::sending
