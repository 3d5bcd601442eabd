// Reading the camera data of 1,000 photos: the extended-info text of each (header segments
// and EXIF only) against a plain read of each file's first 64 KiB, in the same run.
#include "photo/PhotoReport.h"
#include "support/TiffWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace testexif;
namespace fs = std::filesystem;

namespace {

double Seconds(const std::chrono::steady_clock::time_point &since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("quillmere-bench-exif-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::vector<std::string> files;
    // A camera's header: EXIF with the usual directories, tables, a frame header, and 96 KiB
    // of scan data behind it.
    const std::string scan(96 * 1024, '\x5A');
    for (int i = 0; i < 1000; ++i) {
        TiffWriter w(i % 2 == 0);
        const Bytes block = w.exifBlock(
            {w.asciiTag(0x010F, "Maker"), w.asciiTag(0x0110, "Model " + std::to_string(i)), w.shortTag(0x0112, 1 + i % 8),
             w.rationalTag(0x011A, 72, 1), w.rationalTag(0x011B, 72, 1), w.shortTag(0x0128, 2)},
            {w.rationalTag(0x829A, 1, 60 + i), w.rationalTag(0x829D, 28, 10), w.shortTag(0x8822, 2),
             w.shortTag(0x8827, 100), w.asciiTag(0x9003, "2026:12:07 11:49:21"), w.rationalTag(0x9102, 2, 1),
             w.shortTag(0x9207, 5), w.shortTag(0x9209, 0x10), w.rationalTag(0x920A, 72, 10),
             w.undefinedTag(0x9286, Bytes(64, ' ')), w.longTag(0xA002, 6000), w.longTag(0xA003, 4000),
             w.rationalTag(0xA20E, 4000, 7), w.shortTag(0xA210, 2)},
            {w.longTag(0x0201, 4000), w.longTag(0x0202, 12000)});
        Bytes thumbnail(12000, 0x33);
        const std::string path = (dir / ("IMG_" + std::to_string(i) + ".jpg")).string();
        std::ofstream(path, std::ios::binary)
            << kStartOfImage << Segment(0xE1, block) << Segment(0xE2, thumbnail) << Segment(0xDB, std::string(130, 'q'))
            << Segment(0xC4, std::string(400, 'h')) << FrameHeader(6000, 4000) << StartOfScan() << scan;
        files.push_back(path);
    }

    double ours = 1e300, plain = 1e300;
    size_t reportBytes = 0, readBytes = 0;
    std::vector<char> buffer(64 * 1024);
    std::string text;
    for (int round = 0; round < 5; ++round) {
        auto t = std::chrono::steady_clock::now();
        readBytes = 0;
        for (const std::string &f : files) {
            FILE *file = std::fopen(f.c_str(), "rb");
            readBytes += std::fread(buffer.data(), 1, buffer.size(), file);
            std::fclose(file);
        }
        plain = std::min(plain, Seconds(t));

        t = std::chrono::steady_clock::now();
        reportBytes = 0;
        for (const std::string &f : files) {
            ExtendedPhotoInfoText(f.c_str(), text);
            reportBytes += text.size();
        }
        ours = std::min(ours, Seconds(t));
    }
    fs::remove_all(dir);

    const double oursRate = double(files.size()) / ours, plainRate = double(files.size()) / plain;
    std::printf("%zu files: reports %.1f ms (%zu bytes of text), first 64 KiB %.1f ms (%zu bytes)\n", files.size(),
                ours * 1e3, reportBytes, plain * 1e3, readBytes);
    std::printf("RESULT exif ours=%.0ffiles/s baseline=%.0ffiles/s ratio=%.2f\n", oursRate, plainRate, oursRate / plainRate);
    return 0;
}
