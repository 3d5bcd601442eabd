// Writes a few well-formed header streams for the fuzzer to start from, so that it reaches
// the EXIF directories at once instead of having to guess "Exif", "II" and 42 first.
#include "support/TiffWriter.h"

#include <fstream>
#include <string>

using namespace testexif;

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const std::string dir = argv[1];
    int n = 0;
    for (bool big : {false, true}) {
        TiffWriter w(big);
        const Bytes block = w.exifBlock(
            {w.asciiTag(0x010F, "Maker"), w.asciiTag(0x0110, "Model"), w.shortTag(0x0112, 6),
             w.rationalTag(0x011A, 72, 1), w.shortTag(0x0128, 2)},
            {w.rationalTag(0x829A, 1, 250), w.rationalTag(0x829D, 28, 10), w.shortTag(0x8827, 200),
             w.asciiTag(0x9003, "2026:12:07 11:49:21"), w.rationalTag(0x9201, 8, 1, 10), w.shortTag(0x9209, 1),
             w.undefinedTag(0x9286, Bytes{'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i', ' '}),
             w.longTag(0xA002, 3000), w.rationalTag(0xA20E, 4000, 7), w.shortTag(0xA210, 2),
             w.rawTag(0xA005, 4, 1, 8)},
            {w.rationalTag(0x011A, 180, 1)});
        std::ofstream(dir + "/seed" + std::to_string(n++) + ".jpg", std::ios::binary)
            << kStartOfImage << Segment(0xE0, "JFIF") << Segment(0xE1, block) << Segment(0xFE, "a\r\nb")
            << FrameHeader(64, 48) << StartOfScan();
    }
    // A camera's layout: the thumbnail located by IFD1, after everything else in the block.
    for (bool big : {false, true}) {
        TiffWriter w(big);
        const Bytes thumbnail{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xD9};
        const Bytes block = w.exifBlockWithThumbnail({w.shortTag(0x0112, 8)}, {w.longTag(0xA002, 640)},
                                                     {w.rationalTag(0x011A, 72, 1)}, thumbnail);
        std::ofstream(dir + "/seed" + std::to_string(n++) + ".jpg", std::ios::binary)
            << kStartOfImage << Segment(0xE1, block) << FrameHeader(640, 480) << StartOfScan();
    }
    std::ofstream(dir + "/seed" + std::to_string(n++) + ".jpg", std::ios::binary)
        << kStartOfImage << Segment(0xDB, "tables", 3) << Segment(0xD9, "");
    return 0;
}
