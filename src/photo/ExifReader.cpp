#include "photo/ExifReader.h"

#include "photo/ClampToInt.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr unsigned kCommentCapacity = 1000;
constexpr int kMaxFillBytes = 6;
// Real files hold a handful of directories (main, EXIF, interoperability, thumbnail). The
// bounds only have to stop crafted blocks: a loop, a deep chain, or many entries fanning out
// to the same directories.
constexpr int kMaxDirectoryDepth = 16;
constexpr int kMaxDirectories = 64;
const char kLoopText[] = "EXIF directories loop or nest too deeply";

// Bytes per component of each EXIF format code 0..12.
constexpr unsigned kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

unsigned ReadU16BE(const unsigned char *p)
{
    return (unsigned(p[0]) << 8) | p[1];
}

// Copies a text value of at most `available` bytes, stopping at its first NUL, into a field
// of `capacity` bytes (at most capacity - 1 characters), always terminated.
void CopyText(char *field, size_t capacity, const unsigned char *value, size_t available)
{
    size_t n = 0;
    const size_t limit = std::min(capacity - 1, available);
    while (n < limit && value[n] != 0) {
        field[n] = char(value[n]);
        ++n;
    }
    field[n] = 0;
}

template<size_t N>
void CopyText(char (&field)[N], const unsigned char *value, size_t available, size_t maxChars = N - 1)
{
    CopyText(field, std::min(N, maxChars + 1), value, available);
}

} // namespace

CExifReader::CExifReader(PhotoInfo *info)
    : info_(info)
{
    lastError_[0] = 0;
}

void CExifReader::setError(const char *text)
{
    std::snprintf(lastError_, sizeof lastError_, "%s", text);
}

void CExifReader::dropSection()
{
    --sectionCount_;
    sections_[sectionCount_] = JpegSection();
}

bool CExifReader::ReadSections(FILE *file)
{
    if (getc(file) != 0xFF || getc(file) != 0xD8)
        return false;

    bool haveComment = false;
    for (;;) {
        if (sectionCount_ >= kMaxSections) {
            setError("Too many sections in jpg file");
            return false;
        }

        int marker = 0;
        for (int skipped = 0;; ++skipped) {
            marker = getc(file);
            if (marker == EOF) {
                setError("Premature end of file?");
                return false;
            }
            if (marker != 0xFF)
                break;
            if (skipped >= kMaxFillBytes) {
                diagnostics_ += "too many padding unsigned chars\n";
                return false;
            }
        }

        JpegSection &section = sections_[sectionCount_];
        section.type = marker;

        const int high = getc(file);
        const int low = high == EOF ? EOF : getc(file);
        if (low == EOF) {
            setError("Premature end of file?");
            return false;
        }
        const unsigned length = unsigned(high) * 256 + unsigned(low);
        if (length < 2) {
            setError("invalid marker");
            return false;
        }
        section.size = length;
        try {
            section.data.assign(length, 0);
        } catch (const std::bad_alloc &) {
            setError("Could not allocate memory");
            return false;
        }
        unsigned char *data = section.data.data();
        data[0] = static_cast<unsigned char>(high);
        data[1] = static_cast<unsigned char>(low);
        if (std::fread(data + 2, 1, length - 2, file) != length - 2) {
            setError("Premature end of file?");
            return false;
        }
        ++sectionCount_;

        switch (marker) {
        case 0xC0: case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7:
        case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
            ProcessFrameHeader(data, length, marker);
            break;
        case 0xD9:
            diagnostics_ += "No image in jpeg!\n";
            return false;
        case 0xDA:
            return true;
        case 0xE0:
            dropSection();
            break;
        case 0xE1:
            if (length >= 6 && std::memcmp(data + 2, "Exif", 4) == 0)
                info_->isExif = ProcessExif(data + 2, length - 2);
            else
                dropSection();
            break;
        case 0xFE:
            if (!haveComment) {
                haveComment = true;
                ProcessComment(data, length);
            } else {
                dropSection();
            }
            break;
        default:
            break;
        }
    }
}

void CExifReader::ProcessFrameHeader(const unsigned char *data, unsigned size, int marker)
{
    // Height, width and component count sit in bytes 3..7; a frame header too short to hold
    // them leaves the record as it was rather than reading past the segment.
    if (size < 8)
        return;
    info_->height = int(ReadU16BE(data + 3));
    info_->width = int(ReadU16BE(data + 5));
    info_->isColor = data[7] == 3 ? 1 : 0;
    info_->encodingProcess = marker;
}

void CExifReader::ProcessComment(const unsigned char *data, unsigned size)
{
    char text[kCommentCapacity];
    size_t out = 0;
    const unsigned n = std::min(size, kCommentCapacity);
    for (unsigned i = 2; i < n; ++i) {
        const unsigned char c = data[i];
        if (c == 13 && i + 1 < n && data[i + 1] == 10)
            continue;
        if (c >= 32 || c == 10 || c == 9)
            text[out++] = char(c);
        else
            text[out++] = '?';
    }
    text[out] = 0; // out <= 998
    std::memcpy(info_->comment, text, out + 1);
}

unsigned CExifReader::ReadU16(const unsigned char *b) const
{
    return bigEndian_ ? (unsigned(b[0]) << 8) | b[1] : (unsigned(b[1]) << 8) | b[0];
}

uint32_t CExifReader::ReadU32(const unsigned char *b) const
{
    if (bigEndian_)
        return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    return (uint32_t(b[3]) << 24) | (uint32_t(b[2]) << 16) | (uint32_t(b[1]) << 8) | b[0];
}

int32_t CExifReader::ReadS32(const unsigned char *b) const
{
    return static_cast<int32_t>(ReadU32(b));
}

double CExifReader::ConvertValue(const unsigned char *value, int format, size_t available) const
{
    if (format < 0 || format > 12 || available < kFormatSize[format] || kFormatSize[format] == 0)
        return 0;
    switch (format) {
    case 1:
        return value[0];
    case 3:
        return ReadU16(value);
    case 4:
        return ReadU32(value);
    case 5:
    case 10: {
        const int32_t num = ReadS32(value);
        const int32_t den = ReadS32(value + 4);
        return den == 0 ? 0.0 : double(num) / double(den);
    }
    case 6:
        return static_cast<signed char>(value[0]);
    case 8:
        return static_cast<int16_t>(ReadU16(value));
    case 9:
        return ReadS32(value);
    case 11: {
        const uint32_t bits = ReadU32(value);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case 12: {
        const uint64_t first = ReadU32(value), second = ReadU32(value + 4);
        const uint64_t bits = bigEndian_ ? (first << 32) | second : (second << 32) | first;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    default:
        return 0;
    }
}

bool CExifReader::ProcessExif(unsigned char *block, unsigned length)
{
    info_->flashUsed = 0;
    info_->comment[0] = 0;
    largestExifDimension_ = 0;
    thumbnail_ = {};
    primaryOrientation_ = 0;
    thumbnailOffset_ = thumbnailLength_ = -1;

    if (length < 6 || std::memcmp(block, "Exif\0\0", 6) != 0) {
        setError("Incorrect Exif header");
        return false;
    }
    if (length >= 8 && std::memcmp(block + 6, "II", 2) == 0) {
        bigEndian_ = false;
    } else if (length >= 8 && std::memcmp(block + 6, "MM", 2) == 0) {
        bigEndian_ = true;
    } else {
        setError("Invalid Exif alignment marker.");
        return false;
    }
    if (length < 10 || ReadU16(block + 8) != 42) {
        setError("Invalid Exif start (1)");
        return false;
    }
    if (length < 14) {
        setError("Suspicious offset of first IFD value");
        return false;
    }
    const uint32_t firstOffset = ReadU32(block + 10);
    if (firstOffset < 8 || firstOffset > 16) {
        setError("Suspicious offset of first IFD value");
        return false;
    }

    visited_.clear();
    unsigned char *tiffBase = block + 6;
    const unsigned tiffLength = length - 6;
    if (!walkDirectory(8, tiffBase, tiffLength, 0, Directory::Primary))
        return false;
    if (thumbnailOffset_ >= 0 && thumbnailLength_ > 0 && thumbnailOffset_ + thumbnailLength_ <= tiffLength)
        thumbnail_ = {tiffBase + thumbnailOffset_, size_t(thumbnailLength_)};

    if (info_->focalPlaneXResolution != 0)
        info_->ccdWidth = float(largestExifDimension_) * info_->focalPlaneUnit / info_->focalPlaneXResolution;
    return true;
}

bool CExifReader::ProcessExifDirectory(unsigned char *dirStart, unsigned char *tiffBase, unsigned tiffLength)
{
    if (dirStart < tiffBase) {
        setError("Illegally sized directory");
        return false;
    }
    visited_.clear();
    return walkDirectory(size_t(dirStart - tiffBase), tiffBase, tiffLength, 0, Directory::Primary);
}

bool CExifReader::walkLinked(uint64_t offset, unsigned char *tiffBase, unsigned tiffLength, int depth, Directory role)
{
    if (offset > tiffLength) {
        setError("Illegal subdirectory link");
        return false;
    }
    if (depth + 1 > kMaxDirectoryDepth || int(visited_.size()) >= kMaxDirectories
        || std::find(visited_.begin(), visited_.end(), offset) != visited_.end()) {
        // Stopped like a linked directory that failed: its text stays, the walk goes on.
        setError(kLoopText);
        return true;
    }
    walkDirectory(size_t(offset), tiffBase, tiffLength, depth + 1, role);
    return true;
}

bool CExifReader::walkDirectory(size_t dirOffset, unsigned char *tiffBase, unsigned tiffLength, int depth, Directory role)
{
    visited_.push_back(dirOffset);
    if (uint64_t(dirOffset) + 2 > tiffLength) {
        setError("Illegally sized directory");
        return false;
    }
    unsigned char *dir = tiffBase + dirOffset;
    const unsigned entries = ReadU16(dir);
    const uint64_t entriesEnd = uint64_t(dirOffset) + 2 + 12 * uint64_t(entries);
    if (entriesEnd > tiffLength) {
        setError("Illegally sized directory");
        return false;
    }

    for (unsigned i = 0; i < entries; ++i) {
        unsigned char *entry = dir + 2 + 12 * size_t(i);
        const unsigned tag = ReadU16(entry);
        const unsigned format = ReadU16(entry + 2);
        const uint32_t components = ReadU32(entry + 4);
        if (format > 12) {
            setError("Illegal format code in EXIF dir");
            return false;
        }
        const uint64_t byteCount = uint64_t(components) * kFormatSize[format];
        unsigned char *value;
        size_t available;
        if (byteCount > 4) {
            const uint64_t offset = ReadU32(entry + 8);
            if (offset + byteCount > tiffLength) {
                setError("Illegal pointer offset value in EXIF.");
                return false;
            }
            value = tiffBase + offset;
            available = size_t(byteCount);
        } else {
            value = entry + 8;
            available = 4;
        }

        applyTag(tag, int(format), value, size_t(byteCount), available);
        noteLocation(role, tag, int(format), value, available);

        if (tag == 0x8769 || tag == 0xA005) {
            // A failing sub-directory leaves its text behind; this directory goes on.
            if (!walkLinked(ReadU32(value), tiffBase, tiffLength, depth, Directory::Other))
                return false;
        }
    }

    uint64_t link = 0;
    if (entriesEnd + 4 <= tiffLength)
        link = ReadU32(tiffBase + entriesEnd);
    // The main directory's link is IFD1, the thumbnail's directory.
    const Directory next = role == Directory::Primary ? Directory::Thumbnail : Directory::Other;
    if (link != 0 && !walkLinked(link, tiffBase, tiffLength, depth, next))
        return false;
    return true;
}

void CExifReader::noteLocation(Directory role, unsigned tag, int format, const unsigned char *value, size_t available)
{
    if (role == Directory::Primary && tag == 0x0112) {
        const int v = ClampToInt(ConvertValue(value, format, available));
        primaryOrientation_ = v >= 1 && v <= 8 ? v : 0;
    }
    // Offsets and lengths are whole numbers: a SHORT or a LONG. Anything else locates nothing.
    if (role != Directory::Thumbnail || (format != 3 && format != 4))
        return;
    if (tag == 0x0201)
        thumbnailOffset_ = int64_t(ConvertValue(value, format, available));
    else if (tag == 0x0202)
        thumbnailLength_ = int64_t(ConvertValue(value, format, available));
}

void CExifReader::applyTag(unsigned tag, int format, unsigned char *value, size_t byteCount, size_t available)
{
    PhotoInfo &info = *info_;
    auto number = [&] { return ConvertValue(value, format, available); };
    auto integer = [&] { return ClampToInt(number()); };

    switch (tag) {
    case 0x010F:
        CopyText(info.cameraMake, value, available);
        break;
    case 0x0110:
        CopyText(info.cameraModel, value, available);
        break;
    case 0x0112: {
        const int v = integer();
        if (v < 1 || v > 8) {
            setError("Undefined rotation value");
            info.orientation = 0;
        } else {
            info.orientation = v;
        }
        break;
    }
    case 0x011A:
        info.xResolution = float(number());
        break;
    case 0x011B:
        info.yResolution = float(number());
        break;
    case 0x0128:
        switch (integer()) {
        case 1: case 2: info.resolutionUnit = 1.0f; break;
        case 3: info.resolutionUnit = 0.3937008f; break;
        case 4: info.resolutionUnit = 0.03937008f; break;
        case 5: info.resolutionUnit = 0.00003937008f; break;
        default: break;
        }
        break;
    case 0x829A:
        info.exposureTime = float(number());
        break;
    case 0x829D:
        info.aperture = float(number());
        break;
    case 0x8822:
        info.exposureProgram = integer();
        break;
    case 0x8827: {
        const int v = integer();
        info.isoEquivalent = v < 50 ? int(std::max<long long>(INT_MIN, 200LL * v)) : v;
        break;
    }
    case 0x9003:
        CopyText(info.dateTime, value, available);
        break;
    case 0x9102:
        info.jpegQuality = integer();
        break;
    case 0x9201:
        if (info.exposureTime == 0)
            info.exposureTime = float(1.0 / std::exp2(number()));
        break;
    case 0x9202:
    case 0x9205:
        if (info.aperture == 0)
            info.aperture = float(std::exp2(number() / 2));
        break;
    case 0x9203:
        info.brightness = float(number());
        break;
    case 0x9204:
        info.exposureBias = float(number());
        break;
    case 0x9206:
        info.focusDistance = float(number());
        break;
    case 0x9207:
        info.meteringMode = integer();
        break;
    case 0x9208:
        info.whiteBalance = integer();
        break;
    case 0x9209:
        info.flashUsed = (integer() & 7) != 0 ? 1 : 0;
        break;
    case 0x920A:
        info.focalLength = float(number());
        break;
    case 0x9286: {
        for (size_t i = byteCount; i > 0; --i) {
            if (value[i - 1] != ' ')
                break;
            value[i - 1] = 0;
        }
        if (available >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
            for (size_t i = 5; i < 10 && i < available; ++i) {
                if (value[i] != 0 && value[i] != ' ') {
                    CopyText(info.comment, value + i, available - i, 199);
                    break;
                }
            }
        } else {
            CopyText(info.comment, value, available, 199);
        }
        break;
    }
    case 0xA002:
    case 0xA003:
        largestExifDimension_ = std::max(largestExifDimension_, integer());
        break;
    case 0xA20E:
        info.focalPlaneXResolution = float(number());
        break;
    case 0xA210:
        switch (integer()) {
        case 1: case 2: info.focalPlaneUnit = 25.4f; break;
        case 3: info.focalPlaneUnit = 10.0f; break;
        case 4: info.focalPlaneUnit = 1.0f; break;
        case 5: info.focalPlaneUnit = 0.001f; break;
        default: break;
        }
        break;
    default:
        break;
    }
}
