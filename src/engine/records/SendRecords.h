#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/pacs/PacsSender.h"
#include "engine/records/Table.h"

// What a DICOM node made of the images of a destination folder: <start>_<PACS>-pacs.csv beside each rows
// file for the images its run wrote, unreported-pacs.csv for the images no report of this program lists
// (another copy of the program wrote them, or someone put them there); a row per image and attempt (the
// latest row of a file is what holds), appended and synced as sends and checks end, so that a send that
// was cut off resumes with what the node had confirmed.
namespace engine {

struct PacsRecord
{
    std::string writtenFile; // as the rows file names it, relative to the destination
    std::string sopInstanceUid;
    std::string node; // "AET@HOST:PORT"
    std::string storeStatus;
    std::string storeComment;
    std::string syntaxSent;
    Arrival verdict = Arrival::NotSent;
    std::string checked; // local time, ISO 8601
    std::string error;
    std::string destination; // the folder written_file lies in
    std::string disc; // the run report that lists the file ("2026-12-06_10-05-03_HIPAX"); empty when none does

    // The node confirmed this very image (the same instance under the file's name).
    bool Confirms(const std::string& uid) const { return sopInstanceUid == uid && Arrived(verdict); }
};
Table<PacsRecord> PacsTable();

// The latest record of each written file at the node ("AET@HOST:PORT"); with a destination, only the
// records of files in that folder (rows written before records named their folder count for any).
std::map<std::string, PacsRecord> ReadPacsRecords(
    const std::string& pacsPath, const std::string& node, const std::string& destination = {});
// Adds the records and makes them durable; false when they could not be written.
bool AppendPacsRecords(const std::string& pacsPath, const std::vector<PacsRecord>& records);
// The same for the records of images no report lists, which several programs may send at once: they
// take one writer at a time.
bool AppendUnreportedRecords(const std::string& runsFolder, const std::vector<PacsRecord>& records);

} // namespace engine
