#include "photo/PhotoImage.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {
bool Reddish(QRgb c)
{
    return qRed(c) > 180 && qBlue(c) < 80;
}
} // namespace

class TestPhotoImage : public QObject
{
    Q_OBJECT

private slots:
    void displaySize_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<int>("inEffect");
        QTest::newRow("100 % loses a pixel") << 100 << QSize(1000, 800) << QSize(10, 10) << QSize(999, 799) << 100;
        QTest::newRow("50 %") << 50 << QSize(1000, 800) << QSize(10, 10) << QSize(499, 399) << 50;
        QTest::newRow("25 %") << 25 << QSize(1000, 1000) << QSize(10, 10) << QSize(249, 249) << 25;
        QTest::newRow("200 %") << 200 << QSize(1000, 1000) << QSize(10, 10) << QSize(1999, 1999) << 200;
        QTest::newRow("fit: too tall for the width rule") << 0 << QSize(4000, 3000) << QSize(800, 500) << QSize(666, 500) << 16;
        QTest::newRow("fit: portrait") << 0 << QSize(3000, 4000) << QSize(800, 500) << QSize(375, 500) << 12;
        QTest::newRow("fit: portrait too wide") << 0 << QSize(1000, 1010) << QSize(400, 800) << QSize(400, 404) << 40;
        QTest::newRow("fit: never enlarged") << 0 << QSize(300, 200) << QSize(800, 500) << QSize(300, 200) << 100;
        QTest::newRow("fit: undecodable") << 0 << QSize(0, 0) << QSize(800, 500) << QSize(0, 0) << 100;
    }

    void displaySize()
    {
        QFETCH(int, zoom);
        QFETCH(QSize, photo);
        QFETCH(QSize, client);
        QFETCH(QSize, shown);
        QFETCH(int, inEffect);
        const DisplaySize d = ComputeDisplaySize(zoom, photo.width(), photo.height(), client.width(), client.height());
        QCOMPARE(QSize(d.width, d.height), shown);
        QCOMPARE(d.zoom, inEffect);
    }

    void turns()
    {
        QCOMPARE(QuarterTurnsFor(-3), 1);
        QCOMPARE(QuarterTurnsFor(-1), 3);
        QCOMPARE(QuarterTurnsFor(-4), 0);
        QCOMPARE(QuarterTurnsFor(6), 2);
        QImage img(4, 2, QImage::Format_RGB32);
        img.fill(Qt::blue);
        img.setPixel(0, 0, qRgb(255, 0, 0));
        const QImage right = TurnImage(img, 1);
        QCOMPARE(right.size(), QSize(2, 4));
        QCOMPARE(right.pixel(1, 0), qRgb(255, 0, 0)); // top-left went to the top-right
        QCOMPARE(TurnImage(img, QuarterTurnsFor(-3)), right);
        QCOMPARE(TurnImage(TurnImage(right, 1), 2), img);
    }

    void rendersUprightAtTheShownSize()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("turned.jpg");
        writeFile(path, markedJpeg(QSize(1600, 1200), 6));
        DecodedPhotoCache cache;
        const RenderResult r = RenderPhoto({path, 0, QSize(800, 800), 0}, &cache);
        // Stored 1600 x 1200 on its side: upright it is 1200 x 1600.
        QCOMPARE(QSize(r.photoWidth, r.photoHeight), QSize(1200, 1600));
        QCOMPARE(QSize(r.displayWidth, r.displayHeight), QSize(600, 800));
        QCOMPARE(r.currentZoom, 50);
        QCOMPARE(r.picture.size(), QSize(600, 800));
        QVERIFY(Reddish(r.picture.pixel(550, 50))); // the red corner is top-right once upright
        QVERIFY(!Reddish(r.picture.pixel(50, 50)));
        // The fit decode was reduced; it is kept and serves smaller and nearby sizes.
        QCOMPARE(cache.decodeCount(), 1);
        RenderPhoto({path, 40, QSize(800, 800), 0}, &cache);
        RenderPhoto({path, 45, QSize(800, 800), 1}, &cache);
        QCOMPARE(cache.decodeCount(), 1);
        const RenderResult full = RenderPhoto({path, 100, QSize(800, 800), 1}, &cache);
        QCOMPARE(cache.decodeCount(), 2);
        QCOMPARE(full.picture.size(), QSize(1599, 1199)); // 99.99 % and one right turn
        RenderPhoto({path, 95, QSize(800, 800), 0}, &cache);
        QCOMPARE(cache.decodeCount(), 2);
        // A changed file is read again.
        writeFile(path, markedJpeg(QSize(1000, 500)));
        QFile(path).setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
        QCOMPARE(RenderPhoto({path, 0, QSize(800, 800), 0}, &cache).photoWidth, 1000);
        QCOMPARE(cache.decodeCount(), 3);
    }

    void nothingToShow()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("broken.jpg"), "not a photo");
        writeFile(dir.filePath("tiny.jpg"), jpeg(QSize(40, 40), Qt::red));
        RenderResult r = RenderPhoto({dir.filePath("broken.jpg"), 0, QSize(800, 600), 0});
        QVERIFY(r.picture.isNull());
        QCOMPARE(r.photoWidth + r.photoHeight + r.displayWidth + r.displayHeight, 0);
        QVERIFY(RenderPhoto({dir.filePath("missing.jpg"), 0, QSize(800, 600), 0}).picture.isNull());
        // 1 % of 40 pixels is nothing: refused rather than rendered.
        r = RenderPhoto({dir.filePath("tiny.jpg"), 1, QSize(800, 600), 0});
        QVERIFY(r.picture.isNull());
        QCOMPARE(r.displayWidth, 0);
        // A cancelled request renders nothing.
        auto cancelled = std::make_shared<workerdetail::TaskState>(1);
        cancelled->cancel();
        r = RenderPhoto({dir.filePath("tiny.jpg"), 0, QSize(800, 600), 0}, nullptr, CancelToken(cancelled));
        QVERIFY(r.picture.isNull());
        QCOMPARE(r.photoWidth, 0);
    }

    void aFailedSaveLeavesTheOldFileWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("IMG_1.jpg");
        const QByteArray original = markedJpeg(QSize(400, 300));
        writeFile(path, original);
        // Noise compresses badly: its JPEG is far larger than the limit below.
        QImage shown(600, 400, QImage::Format_RGB32);
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                shown.setPixel(x, y, qRgb((x * 7919 + y * 104729) & 255, (x * y) & 255, (x ^ y) & 255));

        // The disk "fills" after 4 KiB: every write past that fails.
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QString error;
        const bool saved_ = SaveDisplayedImage(shown, path, &error);
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, oldHandler);

        QVERIFY(!saved_);
        QVERIFY(!error.isEmpty());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), original);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"IMG_1.jpg"});
        // With room again, the same save replaces the photo.
        QVERIFY(SaveDisplayedImage(shown, path));
        QCOMPARE(QImageReader(path).size(), QSize(600, 400));
    }

    void savesJpegWhateverTheName()
    {
        QTemporaryDir dir;
        QImage shown(249, 187, QImage::Format_RGB32);
        shown.fill(Qt::green);
        const QString path = dir.filePath("copy.tiff");
        QVERIFY(SaveDisplayedImage(shown, path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(2), QByteArray("\xff\xd8"));
        f.close();
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QCOMPARE(reader.size(), QSize(249, 187));
        QString error;
        QVERIFY(!SaveDisplayedImage(shown, dir.filePath("no/such/folder/x.jpg"), &error));
        QVERIFY(!error.isEmpty());

        QByteArray format;
        QVERIFY(FindEncoderByMimeType("image/jpeg", &format) >= 0);
        QCOMPARE(format, QByteArray("jpeg"));
        QCOMPARE(FindEncoderByMimeType("image/JPEG"), -1);
        QCOMPARE(FindEncoderByMimeType("image/x-nothing"), -1);
    }

    void clearReadOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("locked.jpg");
        writeFile(path, "x");
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        ClearReadOnly(path);
        QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                             | QFileDevice::WriteGroup),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        ClearReadOnly(dir.filePath("missing.jpg"));
        QVERIFY(!QFile::exists(dir.filePath("missing.jpg")));
    }
};

QTEST_MAIN(TestPhotoImage)
#include "tst_photoimage.moc"
