// libFuzzer target: any byte string as a JPEG file through the segment reader, the EXIF
// parser and the report, and every byte of the embedded thumbnail the parser locates (the
// sanitizers catch a location outside the block). Build and run with scripts/fuzz.
#include "photo/ExifReader.h"
#include "photo/PhotoReport.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!file)
        return 0;
    PhotoInfo info{};
    unsigned sum = 0;
    {
        CExifReader reader(&info);
        reader.ReadSections(file);
        const CExifReader::Thumbnail thumbnail = reader.embeddedThumbnail();
        for (size_t i = 0; i < thumbnail.size; ++i)
            sum += thumbnail.data[i];
    }
    std::fclose(file);
    const std::string report = ExtendedPhotoReport(info);
    return report.empty() && sum == 0 ? 1 : 0;
}
