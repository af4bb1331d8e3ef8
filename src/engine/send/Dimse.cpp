#include "engine/send/Dimse.h"

#include <cstdio>

#include "support/Terminal.h"

#include <dcmtk/dcmdata/dcrledrg.h>
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
    Syntaxes syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    syntaxes.push_back(UID_BigEndianExplicitTransferSyntax);
    return syntaxes;
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

std::optional<std::pair<std::string, CommitmentReport>> ReadReport(DcmDataset* dataset)
{
    OFString transaction;
    if (dataset == nullptr || dataset->findAndGetOFString(DCM_TransactionUID, transaction).bad()) {
        return std::nullopt;
    }
    CommitmentReport report;
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
    return std::pair(std::string(transaction.c_str()), std::move(report));
}

} // namespace engine::sending
