// Writes a sample archive disc of one PACS system, for the demo and for trying the programs out.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SampleDisc.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
            "usage: zet-pelta-make-disc PACS FOLDER [IMAGES [PIXEL_BYTES [IMAGES_PER_FOLDER]]]\n"
            "  PACS: \"Arzt und Praxis\", GEMED, HIPAX or STARC; FOLDER must not exist yet\n");
        return 2;
    }
    corpus::DiscShape shape;
    if (argc > 3) {
        shape.images = std::strtoull(argv[3], nullptr, 10);
    }
    if (argc > 4) {
        shape.pixelBytes = std::strtoull(argv[4], nullptr, 10);
    }
    if (argc > 5) {
        shape.imagesPerFolder = std::strtoull(argv[5], nullptr, 10);
    }
    const long long files = corpus::WriteDisc(argv[1], argv[2], shape);
    if (files < 0) {
        return 1;
    }
    std::printf("%lld files written to %s\n", files, argv[2]);
    return 0;
}
