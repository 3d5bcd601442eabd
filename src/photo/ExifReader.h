#pragma once

#include "photo/PhotoInfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One header segment of a JPEG file, kept from its two length bytes on (the marker itself
// is not stored).
struct JpegSection
{
    std::vector<unsigned char> data;
    int type = 0;
    unsigned size = 0;
};

// Reads the header segments of a JPEG file up to the start of the scan and fills a PhotoInfo
// from the frame header, the first comment and every EXIF block. The scan data is never read.
// The input is untrusted: every read is checked against the segment it belongs to.
class CExifReader
{
public:
    static constexpr int kMaxSections = 20;

    explicit CExifReader(PhotoInfo *info);
    CExifReader(const CExifReader &) = delete;
    CExifReader &operator=(const CExifReader &) = delete;

    // True when the start-of-scan marker was reached. The record is filled as far as the
    // file was read either way.
    bool ReadSections(FILE *file);

    // The EXIF block of an APP1 segment, from its "Exif" on. The block is changed in place
    // (trailing blanks of the user comment are cut).
    bool ProcessExif(unsigned char *block, unsigned length);
    bool ProcessExifDirectory(unsigned char *dirStart, unsigned char *tiffBase, unsigned tiffLength);

    // `available` is how many bytes the value really has; a value shorter than its format
    // needs reads as 0 instead of running past the entry.
    double ConvertValue(const unsigned char *value, int format, size_t available = 8) const;
    unsigned ReadU16(const unsigned char *bytes) const;
    int32_t ReadS32(const unsigned char *bytes) const;
    uint32_t ReadU32(const unsigned char *bytes) const;

    const char *lastError() const { return lastError_; }
    int sectionCount() const { return sectionCount_; }
    const JpegSection &section(int i) const { return sections_[i]; }
    // Lines a debugging reader would print ("No image in jpeg!", padding); kept off standard
    // output so that a report written there stays exactly the report.
    const std::string &diagnostics() const { return diagnostics_; }
    int largestExifDimension() const { return largestExifDimension_; }
    bool bigEndian() const { return bigEndian_; }

    // The JPEG thumbnail that IFD1 (the directory linked from the main one) locates with its
    // JPEGInterchangeFormat and JPEGInterchangeFormatLength tags, when the last EXIF block
    // parsed holds both and they lie inside it. It points into that block: for a file read by
    // ReadSections, valid while the reader lives. Empty when there is none. The record and
    // `lastError` never depend on it.
    struct Thumbnail
    {
        const unsigned char *data = nullptr;
        size_t size = 0;
    };
    Thumbnail embeddedThumbnail() const { return thumbnail_; }
    // The main image's orientation (its own directory's tag), which its thumbnail shares;
    // 0 when none or out of range. A later directory's tag may overwrite the record's.
    int primaryOrientation() const { return primaryOrientation_; }

private:
    // Which directory a walk is in: the main image's, the thumbnail's, or any other.
    enum class Directory { Primary, Thumbnail, Other };

    void setError(const char *text);
    void ProcessFrameHeader(const unsigned char *data, unsigned size, int marker);
    void ProcessComment(const unsigned char *data, unsigned size);
    void dropSection();
    bool walkDirectory(size_t dirOffset, unsigned char *tiffBase, unsigned tiffLength, int depth, Directory role);
    bool walkLinked(uint64_t offset, unsigned char *tiffBase, unsigned tiffLength, int depth, Directory role);
    void applyTag(unsigned tag, int format, unsigned char *value, size_t byteCount, size_t available);
    void noteLocation(Directory role, unsigned tag, int format, const unsigned char *value, size_t available);

    PhotoInfo *info_;
    char lastError_[256];
    int largestExifDimension_ = 0;
    bool bigEndian_ = false;
    JpegSection sections_[kMaxSections];
    int sectionCount_ = 0;
    std::string diagnostics_;
    std::vector<size_t> visited_; // directories walked in the current block
    Thumbnail thumbnail_;
    int primaryOrientation_ = 0;
    // IFD1's two tags as the walk finds them (-1 until then), checked against the block once
    // it is walked.
    int64_t thumbnailOffset_ = -1;
    int64_t thumbnailLength_ = -1;
};
