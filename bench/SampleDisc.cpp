#include "SampleDisc.h"

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <zlib.h>

namespace fs = std::filesystem;

namespace corpus {

namespace {

void Put16(std::string& out, std::uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::uint32_t v)
{
    Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

// One explicit-VR little-endian element; values are padded to even length as the standard asks.
void Element(std::string& out, std::uint16_t group, std::uint16_t element, const char* vr, std::string value)
{
    const std::string v(vr);
    if (value.size() % 2 != 0) {
        value += (v == "UI" || v == "OB") ? '\0' : ' ';
    }
    Put16(out, group);
    Put16(out, element);
    out += v;
    if (v == "OB" || v == "OW" || v == "SQ" || v == "UN" || v == "UT") {
        Put16(out, 0);
        Put32(out, static_cast<std::uint32_t>(value.size()));
    } else {
        Put16(out, static_cast<std::uint16_t>(value.size()));
    }
    out += value;
}

std::string US(std::uint16_t v)
{
    std::string s;
    Put16(s, v);
    return s;
}

std::string UL(std::uint32_t v)
{
    std::string s;
    Put32(s, v);
    return s;
}

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void Write(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string Numbered(const char* format, std::uint64_t n)
{
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(n));
    return text;
}

} // namespace

std::string MakeDicom(std::uint64_t index, std::size_t pixelBytes, std::uint64_t seed)
{
    const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7"; // Secondary Capture Image Storage
    const std::string base = "2.25." + std::to_string(Mix(seed) % 100000000000000000ull);
    const std::string sopInstance = base + "." + std::to_string(index + 1);
    const std::string study = base + ".1000" + std::to_string(index / 50 + 1);
    // 256 columns, or as many more as it takes for the rows to fit into 16 bits (images of 16 MiB
    // and more).
    std::uint16_t columns = 256;
    while (pixelBytes / columns > 65535 && columns < 32768) {
        columns = static_cast<std::uint16_t>(columns * 2);
    }
    const auto rows
        = static_cast<std::uint16_t>(std::max<std::size_t>(1, std::min<std::size_t>(pixelBytes / columns, 65535)));

    std::string meta;
    Element(meta, 0x0002, 0x0001, "OB", std::string("\0\1", 2));
    Element(meta, 0x0002, 0x0002, "UI", sopClass);
    Element(meta, 0x0002, 0x0003, "UI", sopInstance);
    Element(meta, 0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1"); // explicit VR little endian
    Element(meta, 0x0002, 0x0012, "UI", "2.25.1000000001");
    Element(meta, 0x0002, 0x0013, "SH", "ZETPELTA_SAMPLE");

    std::string file(128, '\0');
    file += "DICM";
    Element(file, 0x0002, 0x0000, "UL", UL(static_cast<std::uint32_t>(meta.size())));
    file += meta;

    Element(file, 0x0008, 0x0016, "UI", sopClass);
    Element(file, 0x0008, 0x0018, "UI", sopInstance);
    Element(file, 0x0008, 0x0020, "DA", "20091112");
    Element(file, 0x0008, 0x0060, "CS", "OT");
    Element(file, 0x0010, 0x0010, "PN", "Muster^Erika");
    Element(file, 0x0010, 0x0020, "LO", Numbered("PAT%05llu", index / 50 + 1));
    Element(file, 0x0020, 0x000D, "UI", study);
    Element(file, 0x0020, 0x000E, "UI", study + ".1");
    Element(file, 0x0020, 0x0013, "IS", std::to_string(index % 50 + 1));
    Element(file, 0x0028, 0x0002, "US", US(1));
    Element(file, 0x0028, 0x0004, "CS", "MONOCHROME2");
    Element(file, 0x0028, 0x0010, "US", US(rows));
    Element(file, 0x0028, 0x0011, "US", US(columns));
    Element(file, 0x0028, 0x0100, "US", US(8));
    Element(file, 0x0028, 0x0101, "US", US(8));
    Element(file, 0x0028, 0x0102, "US", US(7));
    Element(file, 0x0028, 0x0103, "US", US(0));

    // A smooth picture with sensor noise: compresses about as well as real radiographs do.
    std::string pixels(static_cast<std::size_t>(rows) * columns, '\0');
    std::uint64_t noise = Mix(seed ^ (index * 0x100000001B3ull));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 8 == 0) {
            noise = Mix(noise);
        }
        const std::size_t x = i % columns, y = i / columns;
        pixels[i] = static_cast<char>((x + y + index) / 2 + ((noise >> (i % 8 * 8)) & 0x0F));
    }
    Element(file, 0x7FE0, 0x0010, "OB", pixels);
    return file;
}

std::string Gzip(const std::string& bytes, int level)
{
    z_stream stream {};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    return out;
}

std::string WrapContainer(const std::string& dicom, std::uint64_t index)
{
    return "APX-ARCHIV 3.1;BILD=" + std::to_string(index + 1) + ";PATIENT=Muster, Erika;\r\n" + dicom + "#*lastfile*#"
        + Numbered("IMG%05llu;ENDE\r\n", index + 1);
}

long long WriteDisc(const std::string& pacs, const std::string& folder, const DiscShape& shape)
{
    try {
        if (fs::exists(folder)) {
            std::fprintf(stderr, "%s exists already\n", folder.c_str());
            return -1;
        }
        fs::create_directories(folder);
        long long files = 0;
        auto folderOf = [&](std::uint64_t i) {
            if (shape.imagesPerFolder == 0) {
                return folder;
            }
            const std::uint64_t n = i / shape.imagesPerFolder;
            return folder + Numbered("/PAT%04llu", n / 4) + Numbered("/ST%02llu", n % 4);
        };
        // The system's name in the seed, by FNV-1a: the same on every platform, unlike std::hash.
        std::uint64_t seed = 0xCBF29CE484222325ull ^ shape.seed;
        for (const char c : pacs) {
            seed = (seed ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
        }
        for (std::uint64_t i = 0; i < shape.images; ++i) {
            const std::string dicom = MakeDicom(i, shape.pixelBytes, seed);
            const std::string dir = folderOf(i);
            if (pacs == "HIPAX") {
                Write(dir + Numbered("/IM%06llu.DCM", i), dicom);
            } else if (pacs == "GEMED") {
                Write(dir + Numbered("/%08llu", i + 1), dicom);
            } else if (pacs == "STARC") {
                Write(dir + Numbered("/%08llu.AR", i + 1), Gzip(dicom));
            } else if (pacs == "Arzt und Praxis") {
                Write(
                    dir + Numbered(i % 5 == 4 ? "/IMG%05llu.R" : "/IMG%05llu.Z", i + 1), Gzip(WrapContainer(dicom, i)));
            } else {
                std::fprintf(stderr, "unknown PACS system: %s\n", pacs.c_str());
                return -1;
            }
            ++files;
            // The index file each system keeps beside its images, once per folder; a HIPAX disc's
            // files are all images.
            if (pacs != "HIPAX" && (shape.imagesPerFolder == 0 || i % shape.imagesPerFolder == 0)) {
                const char* index = pacs == "GEMED" ? "/INDEX.DAT" : pacs == "STARC" ? "/STUDY.IDX" : "/PATIENT.DB";
                if (!fs::exists(dir + index)) {
                    Write(dir + index, "index of " + dir + "\r\n");
                    ++files;
                }
            }
        }
        return files;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
}

} // namespace corpus
