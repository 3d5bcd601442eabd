// libFuzzer target: any byte string as a JPEG file through the segment reader, the EXIF
// parser and the report. Build and run with scripts/fuzz.
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
    {
        CExifReader reader(&info);
        reader.ReadSections(file);
    }
    std::fclose(file);
    const std::string report = ExtendedPhotoReport(info);
    return report.empty() ? 1 : 0;
}
