#include "photo/ExifReader.h"
#include "support/TiffWriter.h"

#include <QTest>

#include <cstring>
#include <functional>
#include <map>

using namespace testexif;

namespace {

struct Result
{
    PhotoInfo info{};
    bool ok = false;
    std::string error;
    int sections = 0;
    std::string diagnostics;
    std::string thumbnail; // the embedded thumbnail's bytes
    int primaryOrientation = 0;
};

Result Read(const std::string &stream)
{
    Result r;
    FILE *f = fmemopen(const_cast<char *>(stream.data()), stream.size(), "rb");
    CExifReader reader(&r.info);
    r.ok = reader.ReadSections(f);
    std::fclose(f);
    r.error = reader.lastError();
    r.sections = reader.sectionCount();
    r.diagnostics = reader.diagnostics();
    const CExifReader::Thumbnail thumbnail = reader.embeddedThumbnail();
    if (thumbnail.data)
        r.thumbnail.assign(reinterpret_cast<const char *>(thumbnail.data), thumbnail.size);
    r.primaryOrientation = reader.primaryOrientation();
    return r;
}

std::string Photo(const Bytes &exifBlock, const std::string &before = {})
{
    return kStartOfImage + before + Segment(0xE1, exifBlock) + FrameHeader(640, 480) + StartOfScan();
}

Result ReadExif(const Bytes &exifBlock)
{
    return Read(Photo(exifBlock));
}

// A camera's worth of tags, in the order cameras write them.
Bytes CameraBlock(bool big)
{
    TiffWriter w(big);
    return w.exifBlock(
        {w.asciiTag(0x010F, "Maker Corp"), w.asciiTag(0x0110, "Model 7 with a long name"),
         w.shortTag(0x0112, 6), w.rationalTag(0x011A, 300, 1), w.rationalTag(0x011B, 300, 1),
         w.shortTag(0x0128, 2)},
        {w.rationalTag(0x829A, 1, 250), w.rationalTag(0x829D, 28, 10), w.shortTag(0x8822, 3),
         w.shortTag(0x8827, 200), w.asciiTag(0x9003, "2026:12:07 11:49:21"), w.rationalTag(0x9102, 4, 1),
         w.rationalTag(0x9203, -25, 10, 10), w.rationalTag(0x9204, -2, 3, 10), w.rationalTag(0x9206, 35, 10),
         w.shortTag(0x9207, 5), w.shortTag(0x9208, 1), w.shortTag(0x9209, 0x19), w.rationalTag(0x920A, 72, 10),
         w.longTag(0xA002, 3000), w.longTag(0xA003, 4000), w.rationalTag(0xA20E, 4000, 7),
         w.shortTag(0xA210, 2)},
        {w.rationalTag(0x011A, 72, 1), w.rationalTag(0x011B, 72, 1)});
}

} // namespace

class TestExifReader : public QObject
{
    Q_OBJECT

private slots:
    void cameraTagsReadAlikeInBothByteOrders()
    {
        const Result ii = ReadExif(CameraBlock(false));
        const Result mm = ReadExif(CameraBlock(true));
        QVERIFY(ii.ok);
        QVERIFY(ii.info.isExif);
        QCOMPARE(ii.error, std::string());
        QCOMPARE(std::memcmp(&ii.info, &mm.info, sizeof(PhotoInfo)), 0);

        const PhotoInfo &i = ii.info;
        QCOMPARE(std::string(i.cameraMake), std::string("Maker Corp"));
        QCOMPARE(std::string(i.cameraModel), std::string("Model 7 with a long name"));
        QCOMPARE(std::string(i.dateTime), std::string("2026:12:07 11:49:21"));
        QCOMPARE(i.width, 640);
        QCOMPARE(i.height, 480);
        QCOMPARE(i.isColor, 1);
        QCOMPARE(i.encodingProcess, 0xC0);
        QCOMPARE(i.orientation, 6);
        QCOMPARE(i.exposureTime, 0.004f);
        QCOMPARE(i.aperture, 2.8f);
        QCOMPARE(i.exposureProgram, 3);
        QCOMPARE(i.isoEquivalent, 200);
        QCOMPARE(i.jpegQuality, 4);
        QCOMPARE(i.brightness, -2.5f);
        QCOMPARE(i.exposureBias, float(-2.0 / 3));
        QCOMPARE(i.focusDistance, 3.5f);
        QCOMPARE(i.meteringMode, 5);
        QCOMPARE(i.whiteBalance, 1);
        QCOMPARE(i.flashUsed, 1);
        QCOMPARE(i.focalLength, 7.2f);
        // The thumbnail directory comes last and its resolution wins.
        QCOMPARE(i.xResolution, 72.0f);
        QCOMPARE(i.resolutionUnit, 1.0f);
        QCOMPARE(i.focalPlaneUnit, 25.4f);
        QCOMPARE(i.ccdWidth, 4000 * 25.4f / (4000 / 7.0f));
    }

    void apertureShutterIsoAndFlashConversions()
    {
        TiffWriter w(false);
        auto info = [&](std::vector<Entry> exif) { return ReadExif(w.exifBlock({}, exif)).info; };

        // FNumber first: ApertureValue only fills an empty aperture.
        QCOMPARE(info({w.rationalTag(0x829D, 56, 10), w.rationalTag(0x9202, 4, 1)}).aperture, 5.6f);
        QCOMPARE(info({w.rationalTag(0x9202, 4, 1)}).aperture, 4.0f);
        QCOMPARE(info({w.rationalTag(0x9205, 6, 1), w.rationalTag(0x9202, 4, 1)}).aperture, 8.0f);
        QCOMPARE(info({w.rationalTag(0x9201, 5, 1, 10)}).exposureTime, 1 / 32.0f);
        QCOMPARE(info({w.rationalTag(0x829A, 1, 60), w.rationalTag(0x9201, 5, 1, 10)}).exposureTime, 1 / 60.0f);
        QCOMPARE(info({w.shortTag(0x8827, 2)}).isoEquivalent, 400);
        QCOMPARE(info({w.shortTag(0x8827, 64)}).isoEquivalent, 64);
        QCOMPARE(info({w.shortTag(0x9209, 0x10)}).flashUsed, 0);
        QCOMPARE(info({w.shortTag(0x9209, 0x19)}).flashUsed, 1);
        QCOMPARE(info({w.shortTag(0x9209, 0x04)}).flashUsed, 1);
        QCOMPARE(info({w.rationalTag(0x920A, 5, 0)}).focalLength, 0.0f);
        const PhotoInfo units = info({w.shortTag(0xA210, 3), w.rationalTag(0xA20E, 0, 1), w.longTag(0xA002, 2000)});
        QCOMPARE(units.focalPlaneUnit, 10.0f);
        QCOMPARE(units.ccdWidth, 0.0f);
        PhotoInfo cm = ReadExif(w.exifBlock({w.rationalTag(0x011A, 72, 1), w.shortTag(0x0128, 3)})).info;
        QCOMPARE(cm.resolutionUnit, 0.3937008f);
        cm = ReadExif(w.exifBlock({w.shortTag(0x0128, 9)})).info;
        QCOMPARE(cm.resolutionUnit, 0.0f);
    }

    void formatCodes()
    {
        TiffWriter w(true);
        CExifReader reader(nullptr);
        const unsigned char bytes[8] = {0xFF, 0xFE, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04};
        QCOMPARE(reader.ConvertValue(bytes, 1), 255.0);
        QCOMPARE(reader.ConvertValue(bytes, 6), -1.0);
        QCOMPARE(reader.ConvertValue(bytes, 8), double(int16_t(0xFEFF))); // little-endian reader
        QCOMPARE(reader.ConvertValue(bytes, 0), 0.0);
        QCOMPARE(reader.ConvertValue(bytes, 2), 0.0);
        QCOMPARE(reader.ConvertValue(bytes, 7), 0.0);
        // A value shorter than its format reads as 0 instead of running past the entry.
        QCOMPARE(reader.ConvertValue(bytes, 5, 4), 0.0);

        // Format 0 is accepted: its value converts to 0, and a text tag copies the entry's
        // four bytes.
        Result r = ReadExif(w.exifBlock({w.rawTag(0x010F, 0, 1, 0x41424344), w.rawTag(0x0112, 0, 1, 6),
                                         w.shortTag(0x8827, 100)}));
        QVERIFY(r.info.isExif);
        QCOMPARE(std::string(r.info.cameraMake), std::string("ABCD"));
        QCOMPARE(r.info.orientation, 0);
        QCOMPARE(r.info.isoEquivalent, 100);

        // Code 13 stops the directory: the tags after it are never read.
        r = ReadExif(w.exifBlock({w.shortTag(0x8827, 100), w.rawTag(0x9999, 13, 1, 0), w.shortTag(0x9207, 2)}));
        QVERIFY(!r.info.isExif);
        QCOMPARE(r.error, std::string("Illegal format code in EXIF dir"));
        QCOMPARE(r.info.isoEquivalent, 100);
        QCOMPARE(r.info.meteringMode, 0);

        // Orientation 9 is refused, the walk goes on.
        r = ReadExif(w.exifBlock({w.shortTag(0x0112, 9), w.shortTag(0x8827, 100)}));
        QVERIFY(r.info.isExif);
        QCOMPARE(r.error, std::string("Undefined rotation value"));
        QCOMPARE(r.info.orientation, 0);
        QCOMPARE(r.info.isoEquivalent, 100);

        // A huge count cannot wrap the size check.
        r = ReadExif(w.exifBlock({w.rawTag(0x010F, 12, 0x20000001, 8)}));
        QVERIFY(!r.info.isExif);
        QCOMPARE(r.error, std::string("Illegal pointer offset value in EXIF."));
    }

    void userComment()
    {
        TiffWriter w(false);
        auto comment = [&](const std::string &value, const std::string &fromSegment = {}) {
            const Bytes block = w.exifBlock({}, {w.undefinedTag(0x9286, Bytes(value.begin(), value.end()))});
            return std::string(Read(Photo(block, fromSegment)).info.comment);
        };
        QCOMPARE(comment(std::string("ASCII\0\0\0Hello   ", 16)), std::string("Hello"));
        QCOMPARE(comment(std::string("ASCII\0\0\0\0\0\0\0", 12)), std::string());
        QCOMPARE(comment(std::string("UNICODE\0Hi", 10)), std::string("UNICODE"));
        QCOMPARE(comment("plain words  "), std::string("plain words"));
        QCOMPARE(comment(std::string("ASCII\0\0\0", 8) + std::string(300, 'x')).size(), size_t(199));
        // The EXIF block comes later in the file, so the segment's comment is gone.
        QCOMPARE(comment(std::string("ASCII\0\0\0\0\0", 10), Segment(0xFE, "from segment")), std::string());
        // A comment segment after the EXIF block wins.
        const std::string stream = kStartOfImage + Segment(0xE1, w.exifBlock({}))
            + Segment(0xFE, "late") + FrameHeader(8, 8) + StartOfScan();
        QCOMPARE(std::string(Read(stream).info.comment), std::string("late"));
    }

    void brokenAndHostileBlocks()
    {
        TiffWriter w(false);
        Bytes block = w.exifBlock({w.shortTag(0x8827, 100)});
        block[10] = 20; // first directory offset
        Result r = ReadExif(block);
        QVERIFY(!r.info.isExif);
        QCOMPARE(r.error, std::string("Suspicious offset of first IFD value"));

        block = w.exifBlock({w.shortTag(0x8827, 100)});
        block[6] = 'X';
        QCOMPARE(ReadExif(block).error, std::string("Invalid Exif alignment marker."));
        block = w.exifBlock({w.shortTag(0x8827, 100)});
        block[8] = 43;
        QCOMPARE(ReadExif(block).error, std::string("Invalid Exif start (1)"));
        QCOMPARE(ReadExif(Bytes{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42}).error, std::string("Invalid Exif start (1)"));
        QCOMPARE(ReadExif(Bytes{'E', 'x', 'i', 'f', 1, 0, 'I', 'I', 42, 0}).error, std::string("Incorrect Exif header"));

        // A bad link inside the EXIF directory leaves the record valid; in the main
        // directory it fails the block.
        r = ReadExif(w.exifBlock({w.shortTag(0x8827, 100)}, {w.rawTag(0xA005, 4, 1, 0x7FFFFFFF)}));
        QVERIFY(r.info.isExif);
        QCOMPARE(r.error, std::string("Illegal subdirectory link"));
        QCOMPARE(r.info.isoEquivalent, 100);
        r = ReadExif(w.exifBlock({w.rawTag(0x8769, 4, 1, 0xFFFFFFF0)}));
        QVERIFY(!r.info.isExif);

        // Directories that link back to themselves or each other end, and the record stays.
        block = w.exifBlock({w.shortTag(0x8827, 100)}, {w.shortTag(0x9207, 3), w.rawTag(0x8769, 4, 1, 8)});
        r = ReadExif(block);
        QVERIFY(r.info.isExif);
        QCOMPARE(r.error, std::string("EXIF directories loop or nest too deeply"));
        QCOMPARE(r.info.meteringMode, 3);
        block = w.exifBlock({w.shortTag(0x8827, 100)});
        block[6 + 8 + 2 + 12] = 8; // the main directory's link names itself
        r = ReadExif(block);
        QVERIFY(r.info.isExif);
        QCOMPARE(r.error, std::string("EXIF directories loop or nest too deeply"));

        // Entries running past the block, and out-of-line values past it.
        block = w.exifBlock({w.shortTag(0x8827, 100)});
        block[6 + 8] = 200;
        QCOMPARE(ReadExif(block).error, std::string("Illegally sized directory"));
        r = ReadExif(w.exifBlock({w.rawTag(0x010F, 2, 64, 40)}));
        QCOMPARE(r.error, std::string("Illegal pointer offset value in EXIF."));
        QVERIFY(!r.info.isExif);
    }

    void embeddedThumbnailIsLocatedOnlyWhereItReallyLies_data()
    {
        QTest::addColumn<bool>("big");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("found");
        for (bool big : {false, true}) {
            const char *order = big ? "MM" : "II";
            QTest::addRow("%s whole", order) << big << "" << true;
            QTest::addRow("%s as SHORT values", order) << big << "short" << true;
            QTest::addRow("%s one byte past the block", order) << big << "length past" << false;
            QTest::addRow("%s offset past the block", order) << big << "offset past" << false;
            QTest::addRow("%s offset and length wrap 32 bits", order) << big << "wrap" << false;
            QTest::addRow("%s empty", order) << big << "zero length" << false;
            QTest::addRow("%s length missing", order) << big << "no length" << false;
            QTest::addRow("%s offset as text", order) << big << "text offset" << false;
            QTest::addRow("%s tags in the main directory", order) << big << "main directory" << false;
            QTest::addRow("%s a later block without one", order) << big << "later block" << false;
        }
    }
    void embeddedThumbnailIsLocatedOnlyWhereItReallyLies()
    {
        QFETCH(bool, big);
        QFETCH(QString, fault);
        QFETCH(bool, found);
        TiffWriter w(big);
        const Bytes jpeg{0xFF, 0xD8, 'p', 'i', 'c', 't', 'u', 'r', 'e', 0xFF, 0xD9};
        const uint32_t length = uint32_t(jpeg.size());
        const std::vector<Entry> main{w.asciiTag(0x010F, "Maker"), w.shortTag(0x0112, 6)};
        const std::vector<Entry> exif{w.shortTag(0x8827, 100)};
        // IFD1's own orientation overwrites the record's, not the main image's.
        const std::vector<Entry> ifd1{w.shortTag(0x0112, 1), w.rationalTag(0x011A, 72, 1)};
        // IFD1 with the location entries `location(at)`, the thumbnail appended at `at`.
        auto located = [&](const std::function<std::vector<Entry>(uint32_t at)> &location) {
            std::vector<Entry> dir = ifd1;
            for (const Entry &e : location(0))
                dir.push_back(e);
            const uint32_t at = uint32_t(w.exifBlock(main, exif, dir).size() - 6);
            dir = ifd1;
            for (const Entry &e : location(at))
                dir.push_back(e);
            Bytes block = w.exifBlock(main, exif, dir);
            TiffWriter::append(block, jpeg);
            return block;
        };
        std::map<QString, std::function<std::vector<Entry>(uint32_t)>> locations{
            {"", [&](uint32_t at) { return std::vector<Entry>{w.longTag(0x0201, at), w.longTag(0x0202, length)}; }},
            {"short", [&](uint32_t at) { return std::vector<Entry>{w.shortTag(0x0201, at), w.shortTag(0x0202, length)}; }},
            {"length past", [&](uint32_t at) { return std::vector<Entry>{w.longTag(0x0201, at), w.longTag(0x0202, length + 1)}; }},
            {"offset past", [&](uint32_t at) { return std::vector<Entry>{w.longTag(0x0201, at + 1), w.longTag(0x0202, length)}; }},
            {"wrap", [&](uint32_t) { return std::vector<Entry>{w.longTag(0x0201, 0xFFFFFFF8u), w.longTag(0x0202, length)}; }},
            {"zero length", [&](uint32_t at) { return std::vector<Entry>{w.longTag(0x0201, at), w.longTag(0x0202, 0)}; }},
            {"no length", [&](uint32_t at) { return std::vector<Entry>{w.longTag(0x0201, at)}; }},
            {"text offset", [&](uint32_t) { return std::vector<Entry>{w.asciiTag(0x0201, "12"), w.longTag(0x0202, length)}; }},
        };
        Bytes block;
        std::string before;
        if (fault == "main directory") {
            block = w.exifBlock({main[0], main[1], w.longTag(0x0201, 8), w.longTag(0x0202, 4)}, exif);
        } else if (fault == "later block") {
            before = Segment(0xE1, located(locations[""]));
            block = w.exifBlock(main, exif);
        } else {
            block = located(locations[fault]);
        }

        const Result r = Read(Photo(block, before));
        QVERIFY(r.info.isExif);
        QCOMPARE(r.thumbnail, found ? std::string(jpeg.begin(), jpeg.end()) : std::string());
        QCOMPARE(r.primaryOrientation, 6);
        // Locating it leaves the record and the error alone: the report stays what it was.
        QCOMPARE(r.error, std::string());
        QCOMPARE(r.info.orientation, fault == "main directory" || fault == "later block" ? 6 : 1);
        QCOMPARE(r.info.isoEquivalent, 100);
    }

    void segmentLoop()
    {
        const std::string tail = FrameHeader(100, 50, 1) + StartOfScan();
        Result r = Read("\xFF\xD9" + tail);
        QVERIFY(!r.ok);
        QCOMPARE(r.error, std::string());
        QCOMPARE(r.info.width, 0);

        r = Read(kStartOfImage + Segment(0xDB, "q", 6) + tail);
        QVERIFY(r.ok);
        QCOMPARE(r.info.width, 100);
        QCOMPARE(r.info.isColor, 0);
        r = Read(kStartOfImage + Segment(0xDB, "q", 7) + tail);
        QVERIFY(!r.ok);
        QCOMPARE(r.error, std::string());
        QCOMPARE(r.diagnostics, std::string("too many padding unsigned chars\n"));

        QCOMPARE(Read(kStartOfImage + std::string("\xFF\xDB\x00\x01", 4) + tail).error, std::string("invalid marker"));
        QCOMPARE(Read(kStartOfImage + std::string("\xFF\xDB\x00\x00", 4) + tail).error, std::string("invalid marker"));
        QCOMPARE(Read(kStartOfImage + std::string("\xFF\xDB\x00\x40qq", 6)).error, std::string("Premature end of file?"));
        QCOMPARE(Read(kStartOfImage + "\xFF\xDB\x00").error, std::string("Premature end of file?"));

        r = Read(kStartOfImage + Segment(0xDB, "tables") + Segment(0xD9, ""));
        QVERIFY(!r.ok);
        QCOMPARE(r.diagnostics, std::string("No image in jpeg!\n"));

        // A segment without its 0xFF takes its first byte as marker code.
        r = Read(kStartOfImage + Segment(0xC2, std::string("\x08\x00\x10\x00\x20\x03", 6), 0) + StartOfScan());
        QVERIFY(r.ok);
        QCOMPARE(r.info.encodingProcess, 0xC2);
        QCOMPARE(r.info.width, 32);
        QCOMPARE(r.info.isColor, 1);
    }

    void sectionTable()
    {
        // Dropped segments leave no entry behind: 17 tables, the first comment, the frame
        // header and the start of scan fill the table exactly.
        std::string body;
        for (int i = 0; i < 17; ++i)
            body += Segment(0xE0, "JFIF") + Segment(0xE1, "http://ns") + Segment(0xDB, "table");
        body += Segment(0xFE, "first") + Segment(0xFE, "second");
        Result r = Read(kStartOfImage + body + FrameHeader(4, 4) + StartOfScan());
        QVERIFY(r.ok);
        QCOMPARE(r.sections, 20);
        QCOMPARE(std::string(r.info.comment), std::string("first"));

        // One more kept segment and the start of scan would be the 21st.
        r = Read(kStartOfImage + body + Segment(0xDB, "one more") + FrameHeader(4, 4) + StartOfScan());
        QVERIFY(!r.ok);
        QCOMPARE(r.error, std::string("Too many sections in jpg file"));
        QCOMPARE(r.info.width, 4);
    }

    void commentSegment()
    {
        auto comment = [](const std::string &text) {
            return std::string(Read(kStartOfImage + Segment(0xFE, text) + StartOfScan()).info.comment);
        };
        QCOMPARE(comment("one\r\ntwo\r\n"), std::string("one\ntwo\n"));
        QCOMPARE(comment("a\rb\x01\tc\r"), std::string("a?b?\tc?"));
        QCOMPARE(comment("caf\xC3\xA9"), std::string("caf\xC3\xA9"));
        QCOMPARE(comment(std::string("x\0y", 3)), std::string("x?y"));
        QCOMPARE(comment(std::string(1200, 'c')), std::string(998, 'c'));
        // The cut falls between CR and LF: the CR is then the last byte and becomes "?".
        QCOMPARE(comment(std::string(997, 'c') + "\r\n"), std::string(997, 'c') + "?");
    }
};

QTEST_APPLESS_MAIN(TestExifReader)
#include "tst_exifreader.moc"
