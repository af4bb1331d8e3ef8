// Writes a sample archive disc of one PACS system, for the demo and for trying the programs out.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SampleDisc.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
            "usage: zet-pelta-make-disc PACS FOLDER [IMAGES [PIXEL_BYTES [IMAGES_PER_FOLDER [SEED]]]]\n"
            "  PACS: \"Arzt und Praxis\", GEMED, HIPAX or STARC; FOLDER must not exist yet\n"
            "  IMAGES (24), PIXEL_BYTES per image (16384), IMAGES_PER_FOLDER (8; 0: all in FOLDER)\n"
            "  SEED (1): with PACS, the images' UIDs; discs of other seeds or systems share none\n");
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
    if (argc > 6) {
        shape.seed = std::strtoull(argv[6], nullptr, 10);
    }
    const long long files = corpus::WriteDisc(argv[1], argv[2], shape);
    if (files < 0) {
        return 1;
    }
    std::printf("%lld files written to %s\n", files, argv[2]);
    return 0;
}
