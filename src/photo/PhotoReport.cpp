#include "photo/PhotoReport.h"

#include "photo/ClampToInt.h"
#include "photo/ExifReader.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstring>

#include <sys/stat.h>

namespace {

const char kNoInfoText[] = "No extended image information found!";

void Append(std::string &text, const char *format, ...) __attribute__((format(printf, 2, 3)));

void Append(std::string &text, const char *format, ...)
{
    char piece[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (size_t(n) < sizeof piece) {
        text.append(piece, size_t(n));
        return;
    }
    // A value far out of range (a crafted 1e38) prints long; format it again at full size.
    std::string big(size_t(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    text.append(big.data(), size_t(n));
}

// Fields are fixed arrays that the reader always terminates; the bound keeps a record filled
// by anyone else from running past its field.
template<size_t N>
int Len(const char (&field)[N])
{
    return int(strnlen(field, N));
}

const char *EncodingText(int code)
{
    switch (code) {
    case 0xC0: return "Baseline\n";
    case 0xC1: return "Extended sequential\n";
    case 0xC2: return "Progressive\n";
    case 0xC3: return "Lossless\n";
    case 0xC5: return "Differential sequential\n";
    case 0xC6: return "Differential progressive\n";
    case 0xC7: return "Differential lossless\n";
    case 0xC9: return "Extended sequential, arithmetic coding\n";
    case 0xCA: return "Progressive, arithmetic coding\n";
    case 0xCB: return "Lossless, arithmetic coding\n";
    case 0xCD: return "Differential sequential, arithmetic coding\n";
    case 0xCE: return "Differential progressive, arithmetic coding\n";
    case 0xCF: return "Differential lossless, arithmetic coding\n";
    default: return "Unknown\n";
    }
}

} // namespace

const char *OrientationText(int orientation)
{
    switch (orientation) {
    case 2: return "Mirrored horizontally";
    case 3: return "Rotated 180";
    case 4: return "Mirrored vertically";
    case 5: return "Mirrored horizontally and rotated 270 CW";
    case 6: return "Rotated 90 CW";
    case 7: return "Mirrored horizontally and rotated 90 CW";
    case 8: return "Rotated 270 CW";
    default: return nullptr;
    }
}

std::string ExtendedPhotoReport(const PhotoInfo &info)
{
    std::string t;
    if (info.cameraMake[0]) {
        Append(t, "Camera make  : %.*s\n", Len(info.cameraMake), info.cameraMake);
        Append(t, "Camera model : %.*s\n", Len(info.cameraModel), info.cameraModel);
    }
    if (info.dateTime[0])
        Append(t, "Date/Time    : %.*s\n", Len(info.dateTime), info.dateTime);
    Append(t, "Width x Height   : %d x %d\n", info.width, info.height);
    // The arithmetic stays in single precision where the fields are single precision, so
    // that roundings fall where they fall for every reader of these records.
    if (info.resolutionUnit != 0 && info.xResolution != 0)
        Append(t, "X resolution (dpi) : %5.1f\n", double(info.xResolution / info.resolutionUnit));
    if (info.resolutionUnit != 0 && info.yResolution != 0)
        Append(t, "Y resolution (dpi) : %5.1f\n", double(info.yResolution / info.resolutionUnit));
    if (const char *orientation = OrientationText(info.orientation))
        Append(t, "Orientation  : %s\n", orientation);
    if (info.isColor == 0)
        t += "Color/bw     : Black and white\n";
    if (info.flashUsed >= 0)
        Append(t, "Flash used   : %s\n", info.flashUsed ? "Yes" : "No");
    if (info.focalLength != 0) {
        Append(t, "Focal length : %4.1fmm", double(info.focalLength));
        if (info.ccdWidth != 0) {
            const float ratio = info.focalLength / info.ccdWidth * 36;
            Append(t, "  (35mm equivalent: %dmm)", ClampToInt(ratio + 0.5));
        }
        t += "\n";
    }
    if (info.ccdWidth != 0)
        Append(t, "CCD width    : %4.2fmm\n", double(info.ccdWidth));
    if (info.exposureTime != 0) {
        Append(t, "Exposure time:%6.3f s ", double(info.exposureTime));
        if (info.exposureTime <= 0.5) {
            const float inverse = 1 / info.exposureTime;
            Append(t, " (1/%d)", ClampToInt(inverse + 0.5));
        }
        t += "\n";
    }
    if (info.brightness != 0)
        Append(t, "Brightness : %6.3f\n", double(info.brightness));
    if (info.aperture != 0)
        Append(t, "Aperture     : f/%3.1f\n", double(info.aperture));
    if (info.focusDistance != 0) {
        if (info.focusDistance < 0)
            t += "Focus dist.  : Infinite\n";
        else
            Append(t, "Focus dist.  : %4.2fm\n", double(info.focusDistance));
    }
    if (info.isoEquivalent != 0)
        Append(t, "ISO equiv.   : %2d\n", info.isoEquivalent);
    if (info.exposureBias != 0)
        Append(t, "Exposure bias:%4.2f\n", double(info.exposureBias));
    switch (info.whiteBalance) {
    case 0: break;
    case 1: t += "Whitebalance : sunny\n"; break;
    case 2: t += "Whitebalance : fluorescent\n"; break;
    case 3: t += "Whitebalance : incandescent\n"; break;
    default: t += "Whitebalance : cloudy\n"; break;
    }
    switch (info.meteringMode) {
    case 2: t += "Metering Mode: center weight\n"; break;
    case 3: t += "Metering Mode: spot\n"; break;
    case 5: t += "Metering Mode: matrix\n"; break;
    default: break;
    }
    switch (info.exposureProgram) {
    case 2: t += "Exposure     : program (auto)\n"; break;
    case 3: t += "Exposure     : aperture priority (semi-auto)\n"; break;
    case 4: t += "Exposure     : shutter priority (semi-auto)\n"; break;
    default: break;
    }
    switch (info.jpegQuality) {
    case 1: t += "Jpeg Quality : basic\n"; break;
    case 2: t += "Jpeg Quality : normal\n"; break;
    case 4: t += "Jpeg Quality : fine\n"; break;
    default: break;
    }
    t += "Encoding      : ";
    t += EncodingText(info.encodingProcess);
    if (info.comment[0]) {
        t += "Comment      : ";
        const size_t n = strnlen(info.comment, sizeof info.comment);
        for (size_t i = 0; i < n; ++i) {
            if (info.comment[i] == '\n')
                t += i + 1 < n ? "\nComment      : " : "\n";
            else
                t += info.comment[i];
        }
    }
    t += "\n";
    return t;
}

bool ExtendedPhotoInfoText(const char *path, std::string &text, bool *found)
{
    text.clear();
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    struct stat st;
    if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return false;
    }
    PhotoInfo info{};
    CExifReader reader(&info);
    reader.ReadSections(file);
    std::fclose(file);
    if (found)
        *found = info.isExif;
    text = info.isExif ? ExtendedPhotoReport(info) : std::string(kNoInfoText);
    return true;
}

int RunPhotoInfoCommand(int fileCount, const char *const *files, FILE *out, FILE *err)
{
    if (fileCount <= 0) {
        std::fputs("usage: quillmere --photo-info FILE...\n", err);
        return 2;
    }
    int status = 0;
    std::string text;
    for (int i = 0; i < fileCount; ++i) {
        bool found = false;
        if (!ExtendedPhotoInfoText(files[i], text, &found)) {
            std::fprintf(err, "quillmere: cannot open %s: %s\n", files[i], std::strerror(errno));
            status = 1;
            continue;
        }
        if (fileCount > 1)
            std::fprintf(out, "==> %s <==\n", files[i]);
        std::fwrite(text.data(), 1, text.size(), out);
        if (!found)
            std::fputc('\n', out);
    }
    std::fflush(out);
    return status;
}
