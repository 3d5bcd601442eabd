#include "photo/PhotoReport.h"
#include "support/TiffWriter.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <fstream>

using namespace testexif;

namespace {

PhotoInfo Bare()
{
    PhotoInfo info{};
    info.width = 640;
    info.height = 480;
    info.isColor = 1;
    info.encodingProcess = 0xC0;
    info.isExif = true;
    return info;
}

std::string Capture(const std::function<void(FILE *)> &write)
{
    char *buffer = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buffer, &size);
    write(f);
    std::fclose(f);
    std::string s(buffer, size);
    std::free(buffer);
    return s;
}

} // namespace

class TestPhotoReport : public QObject
{
    Q_OBJECT

private slots:
    void bareRecord()
    {
        PhotoInfo info = Bare();
        QCOMPARE(ExtendedPhotoReport(info),
                 std::string("Width x Height   : 640 x 480\nFlash used   : No\nEncoding      : Baseline\n\n"));
        info.isColor = 0;
        info.encodingProcess = 0;
        info.orientation = 1;
        QCOMPARE(ExtendedPhotoReport(info),
                 std::string("Width x Height   : 640 x 480\nColor/bw     : Black and white\n"
                             "Flash used   : No\nEncoding      : Unknown\n\n"));
    }

    void fullRecord()
    {
        PhotoInfo info = Bare();
        std::strcpy(info.cameraMake, "Maker");
        std::strcpy(info.dateTime, "2026:12:07 11:49:21");
        info.width = 4000;
        info.height = 3000;
        info.orientation = 6;
        info.encodingProcess = 0xC2;
        info.flashUsed = 1;
        info.focalLength = 7.2f;
        info.ccdWidth = 5.76f;
        info.exposureTime = 0.004f;
        info.brightness = -2.5f;
        info.aperture = 2.8f;
        info.focusDistance = -1;
        info.isoEquivalent = 400;
        info.exposureBias = -2.0f / 3;
        info.whiteBalance = 9;
        info.meteringMode = 1;
        info.exposureProgram = 2;
        info.jpegQuality = 2;
        info.xResolution = 72;
        info.yResolution = 72;
        info.resolutionUnit = 0.3937008f;
        std::strcpy(info.comment, "first\nsecond\n");
        QCOMPARE(ExtendedPhotoReport(info), std::string(
            "Camera make  : Maker\n"
            "Camera model : \n"
            "Date/Time    : 2026:12:07 11:49:21\n"
            "Width x Height   : 4000 x 3000\n"
            "X resolution (dpi) : 182.9\n"
            "Y resolution (dpi) : 182.9\n"
            "Orientation  : Rotated 90 CW\n"
            "Flash used   : Yes\n"
            "Focal length :  7.2mm  (35mm equivalent: 45mm)\n"
            "CCD width    : 5.76mm\n"
            "Exposure time: 0.004 s  (1/250)\n"
            "Brightness : -2.500\n"
            "Aperture     : f/2.8\n"
            "Focus dist.  : Infinite\n"
            "ISO equiv.   : 400\n"
            "Exposure bias:-0.67\n"
            "Whitebalance : cloudy\n"
            "Exposure     : program (auto)\n"
            "Jpeg Quality : normal\n"
            "Encoding      : Progressive\n"
            "Comment      : first\n"
            "Comment      : second\n"
            "\n"));
    }

    void singleLines_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("line");
        enum { Exposure, Focus, White, Metering, Program, Quality, Iso };
        QTest::newRow("long exposure") << int(Exposure) << 0.8 << "Exposure time: 0.800 s \n";
        QTest::newRow("focus") << int(Focus) << 1.5 << "Focus dist.  : 1.50m\n";
        QTest::newRow("sunny") << int(White) << 1.0 << "Whitebalance : sunny\n";
        QTest::newRow("incandescent") << int(White) << 3.0 << "Whitebalance : incandescent\n";
        QTest::newRow("spot") << int(Metering) << 3.0 << "Metering Mode: spot\n";
        QTest::newRow("matrix") << int(Metering) << 5.0 << "Metering Mode: matrix\n";
        QTest::newRow("shutter priority") << int(Program) << 4.0 << "Exposure     : shutter priority (semi-auto)\n";
        QTest::newRow("fine") << int(Quality) << 4.0 << "Jpeg Quality : fine\n";
        QTest::newRow("quality 3") << int(Quality) << 3.0 << "";
        QTest::newRow("iso 8") << int(Iso) << 8.0 << "ISO equiv.   :  8\n";
    }

    void singleLines()
    {
        QFETCH(int, field);
        QFETCH(double, value);
        QFETCH(QString, line);
        PhotoInfo info = Bare();
        switch (field) {
        case 0: info.exposureTime = float(value); break;
        case 1: info.focusDistance = float(value); break;
        case 2: info.whiteBalance = int(value); break;
        case 3: info.meteringMode = int(value); break;
        case 4: info.exposureProgram = int(value); break;
        case 5: info.jpegQuality = int(value); break;
        default: info.isoEquivalent = int(value); break;
        }
        const std::string bare = ExtendedPhotoReport(Bare());
        std::string report = ExtendedPhotoReport(info);
        const size_t at = report.find(line.toStdString());
        QVERIFY(at != std::string::npos);
        report.erase(at, size_t(line.size()));
        QCOMPARE(report, bare);
    }

    void commandLine()
    {
        QTemporaryDir dir;
        const std::string exif = (dir.path() + "/exif.jpg").toStdString();
        const std::string plain = (dir.path() + "/plain.jpg").toStdString();
        const std::string missing = (dir.path() + "/missing.jpg").toStdString();
        TiffWriter w(true);
        const Bytes block = w.exifBlock({w.asciiTag(0x010F, "Maker"), w.asciiTag(0x0110, "M1")});
        std::ofstream(exif, std::ios::binary) << kStartOfImage << Segment(0xE1, block) << FrameHeader(320, 200) << StartOfScan();
        std::ofstream(plain, std::ios::binary) << kStartOfImage << FrameHeader(20, 10, 1) << StartOfScan();

        int rc = -1;
        const char *one[] = {exif.c_str()};
        QCOMPARE(Capture([&](FILE *out) { rc = RunPhotoInfoCommand(1, one, out, stderr); }),
                 std::string("Camera make  : Maker\nCamera model : M1\nWidth x Height   : 320 x 200\n"
                             "Flash used   : No\nEncoding      : Baseline\n\n"));
        QCOMPARE(rc, 0);

        const std::string folder = dir.path().toStdString();
        const char *several[] = {plain.c_str(), missing.c_str(), folder.c_str(), exif.c_str()};
        std::string errors;
        const std::string out = Capture([&](FILE *o) {
            errors = Capture([&](FILE *e) { rc = RunPhotoInfoCommand(4, several, o, e); });
        });
        QCOMPARE(rc, 1);
        QVERIFY(out.starts_with("==> " + plain + " <==\nNo extended image information found!\n==> " + exif + " <==\n"));
        QVERIFY(errors.find(missing) != std::string::npos);
        QVERIFY(errors.find(folder) != std::string::npos);
    }
};

QTEST_APPLESS_MAIN(TestPhotoReport)
#include "tst_photoreport.moc"
