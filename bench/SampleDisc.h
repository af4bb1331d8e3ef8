#pragma once

#include <cstdint>
#include <string>

// Sample archive discs for the demo and the benchmarks: folder trees laid out the way each PACS
// system's export looks, holding small but well-formed DICOM images.
namespace corpus {

// A DICOM Part 10 file (preamble, "DICM", meta header, explicit VR little endian dataset) of an
// 8-bit greyscale image with about pixelBytes of pixel data. Same index and seed, same bytes.
std::string MakeDicom(std::uint64_t index, std::size_t pixelBytes, std::uint64_t seed = 1);

// gzip member of the bytes.
std::string Gzip(const std::string& bytes, int level = 6);

// The "Arzt und Praxis" container: a leading block without zero bytes, the DICOM data (whose
// preamble starts with a zero byte), the marker "#*lastfile*#" and a trailer.
std::string WrapContainer(const std::string& dicom, std::uint64_t index);

struct DiscShape
{
    std::uint64_t images = 24;
    std::size_t pixelBytes = 16 * 1024;
    std::uint64_t imagesPerFolder = 8; // 0: all in the top folder
    // With the system's name, the UIDs of the disc's images: discs of other seeds or systems share none,
    // so that several sample discs sent to one PACS are as many patients' images, not one's again.
    std::uint64_t seed = 1;
};

// Writes a disc of the profile ("Arzt und Praxis", "GEMED", "HIPAX", "STARC") into folder, which must
// not exist yet. Besides the images it writes the index files each system puts beside them (which the
// profile does not select, or for HIPAX migrates too). Returns the number of files written, or -1
// with a message on stderr.
long long WriteDisc(const std::string& pacs, const std::string& folder, const DiscShape& shape);

} // namespace corpus
