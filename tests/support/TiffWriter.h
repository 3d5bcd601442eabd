#pragma once

// Builds EXIF blocks and JPEG header streams for tests, so that every byte a test feeds the
// reader is visible in the test itself. Either byte order.

#include <cstdint>
#include <string>
#include <vector>

namespace testexif {

using Bytes = std::vector<unsigned char>;

struct Entry
{
    uint16_t tag = 0;
    uint16_t format = 0;
    uint32_t count = 0;
    Bytes value;          // the value's bytes, already in the block's byte order
    bool rawSlot = false; // `slot` goes into entry bytes 8..11 as it is (crafted offsets)
    uint32_t slot = 0;
};

class TiffWriter
{
public:
    explicit TiffWriter(bool bigEndian) : big_(bigEndian) {}

    Bytes u16(uint32_t v) const { return big_ ? Bytes{b(v >> 8), b(v)} : Bytes{b(v), b(v >> 8)}; }
    Bytes u32(uint32_t v) const
    {
        return big_ ? Bytes{b(v >> 24), b(v >> 16), b(v >> 8), b(v)} : Bytes{b(v), b(v >> 8), b(v >> 16), b(v >> 24)};
    }

    Entry shortTag(uint16_t tag, uint32_t v) const { return {tag, 3, 1, u16(v)}; }
    Entry longTag(uint16_t tag, uint32_t v) const { return {tag, 4, 1, u32(v)}; }
    Entry rationalTag(uint16_t tag, int32_t num, int32_t den, uint16_t format = 5) const
    {
        Bytes v = u32(uint32_t(num));
        const Bytes d = u32(uint32_t(den));
        v.insert(v.end(), d.begin(), d.end());
        return {tag, format, 1, v};
    }
    Entry asciiTag(uint16_t tag, const std::string &text) const
    {
        Bytes v(text.begin(), text.end());
        v.push_back(0);
        return {tag, 2, uint32_t(v.size()), v};
    }
    Entry undefinedTag(uint16_t tag, const Bytes &bytes) const { return {tag, 7, uint32_t(bytes.size()), bytes}; }
    // An entry whose value slot holds exactly `slot`: links, bad offsets, odd formats.
    Entry rawTag(uint16_t tag, uint16_t format, uint32_t count, uint32_t slot) const
    {
        Entry e{tag, format, count, {}};
        e.rawSlot = true;
        e.slot = slot;
        return e;
    }

    // "Exif\0\0" and a TIFF structure: the main directory at offset 8, then the EXIF
    // sub-directory (linked by a 0x8769 entry appended to the main one) when `exif` has
    // entries, then a second directory linked from the main one when `next` has entries.
    Bytes exifBlock(std::vector<Entry> main, const std::vector<Entry> &exif = {},
                    const std::vector<Entry> &next = {}) const
    {
        auto dirSize = [](size_t n) { return 2 + 12 * n + 4; };
        const size_t mainCount = main.size() + (exif.empty() ? 0 : 1);
        const uint32_t exifAt = uint32_t(8 + dirSize(mainCount));
        const uint32_t nextAt = uint32_t(exifAt + (exif.empty() ? 0 : dirSize(exif.size())));
        uint32_t dataAt = uint32_t(nextAt + (next.empty() ? 0 : dirSize(next.size())));
        if (!exif.empty())
            main.push_back(rawTag(0x8769, 4, 1, exifAt));

        Bytes tiff = big_ ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
        append(tiff, u16(42));
        append(tiff, u32(8));
        Bytes data;
        auto writeDir = [&](const std::vector<Entry> &entries, uint32_t link) {
            append(tiff, u16(uint32_t(entries.size())));
            for (const Entry &e : entries) {
                append(tiff, u16(e.tag));
                append(tiff, u16(e.format));
                append(tiff, u32(e.count));
                if (e.rawSlot) {
                    append(tiff, u32(e.slot));
                } else if (e.value.size() <= 4) {
                    Bytes slot = e.value;
                    slot.resize(4, 0);
                    append(tiff, slot);
                } else {
                    append(tiff, u32(dataAt + uint32_t(data.size())));
                    append(data, e.value);
                }
            }
            append(tiff, u32(link));
        };
        writeDir(main, next.empty() ? 0 : nextAt);
        if (!exif.empty())
            writeDir(exif, 0);
        if (!next.empty())
            writeDir(next, 0);
        append(tiff, data);

        Bytes block{'E', 'x', 'i', 'f', 0, 0};
        append(block, tiff);
        return block;
    }

    // The same with a JPEG thumbnail as cameras store it: after everything else, located by
    // JPEGInterchangeFormat and JPEGInterchangeFormatLength in IFD1 (the directory linked from
    // the main one), which holds `ifd1` too.
    Bytes exifBlockWithThumbnail(const std::vector<Entry> &main, const std::vector<Entry> &exif,
                                 std::vector<Entry> ifd1, const Bytes &thumbnail) const
    {
        ifd1.push_back(shortTag(0x0103, 6)); // compression: JPEG
        ifd1.push_back(rawTag(0x0201, 4, 1, 0));
        ifd1.push_back(longTag(0x0202, uint32_t(thumbnail.size())));
        // Entries have a fixed size, so the first layout tells where the thumbnail will start.
        ifd1[ifd1.size() - 2].slot = uint32_t(exifBlock(main, exif, ifd1).size() - 6);
        Bytes block = exifBlock(main, exif, ifd1);
        append(block, thumbnail);
        return block;
    }

    static void append(Bytes &to, const Bytes &from) { to.insert(to.end(), from.begin(), from.end()); }

private:
    static unsigned char b(uint32_t v) { return static_cast<unsigned char>(v & 0xFF); }
    bool big_;
};

// One header segment: fill bytes, marker, two length bytes, payload.
inline std::string Segment(int marker, const Bytes &payload, int fill = 1)
{
    std::string s(size_t(fill), '\xFF');
    const size_t length = payload.size() + 2;
    s += char(marker);
    s += char((length >> 8) & 0xFF);
    s += char(length & 0xFF);
    s.append(payload.begin(), payload.end());
    return s;
}

inline std::string Segment(int marker, const std::string &payload, int fill = 1)
{
    return Segment(marker, Bytes(payload.begin(), payload.end()), fill);
}

// A baseline frame header for a width x height picture with `components` components.
inline std::string FrameHeader(int width, int height, int components = 3, int marker = 0xC0)
{
    Bytes p{8, Bytes::value_type(height >> 8), Bytes::value_type(height & 0xFF),
            Bytes::value_type(width >> 8), Bytes::value_type(width & 0xFF), Bytes::value_type(components)};
    for (int i = 0; i < components; ++i)
        p.insert(p.end(), {Bytes::value_type(i + 1), 0x11, 0});
    return Segment(marker, p);
}

inline const std::string kStartOfImage = "\xFF\xD8";
// Start of scan followed by bytes of scan data that the reader must never need.
inline std::string StartOfScan()
{
    return Segment(0xDA, Bytes{1, 1, 0, 0, 0x3F, 0}) + std::string(64, '\x55');
}

} // namespace testexif
