#include "photo/ThumbnailTile.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QColor ListGrey(100, 100, 100);
const QColor WellGrey(221, 221, 221);

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 && std::abs(a.blue() - b.blue()) < 24;
}

// The colours at the middles of a picture's four quarters: which one is red tells how it was turned.
QList<QColor> Quarters(const QImage &image)
{
    const int w = image.width(), h = image.height();
    return {image.pixelColor(w / 4, h / 4), image.pixelColor(3 * w / 4, h / 4), image.pixelColor(w / 4, 3 * h / 4),
            image.pixelColor(3 * w / 4, 3 * h / 4)};
}

QByteArray Png(QSize size)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    markedImage(size, Qt::green).save(&buffer, "PNG");
    return bytes;
}
} // namespace

class TestThumbnailTile : public QObject
{
    Q_OBJECT
private slots:
    void placement_data()
    {
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<QSize>("scaled");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("landscape") << QSize(4000, 3000) << QSize(100, 75) << QPoint(9, 17);
        QTest::newRow("portrait") << QSize(3000, 4000) << QSize(67, 90) << QPoint(25, 10);
        QTest::newRow("square") << QSize(2000, 2000) << QSize(90, 90) << QPoint(14, 10);
        // Exactly 100 wide, not 99 from a factor that lands a hair low.
        QTest::newRow("odd width") << QSize(4001, 3000) << QSize(100, 74) << QPoint(9, 18);
        // Nearly square landscape: fitted to the well's height, centred across.
        QTest::newRow("taller than the well") << QSize(1000, 950) << QSize(94, 90) << QPoint(12, 10);
        QTest::newRow("panorama sliver") << QSize(10000, 5) << QSize(100, 1) << QPoint(9, 54);
        QTest::newRow("empty") << QSize(0, 0) << QSize() << QPoint();
    }
    void placement()
    {
        QFETCH(QSize, photo);
        QFETCH(QSize, scaled);
        QFETCH(QPoint, at);
        const TilePlacement place = PlaceInTile(photo);
        QCOMPARE(place.scaled, scaled);
        QCOMPARE(place.at, at);
        if (!scaled.isEmpty())
            QVERIFY(QRect(WellLeft, WellTop, WellWidth, WellHeight).contains(QRect(place.at, place.scaled)));
    }

    void framesFollowTheirDrawing()
    {
        const QImage plain = TileFrame(false), uploaded = TileFrame(true);
        QCOMPARE(plain.size(), QSize(118, 110));
        for (QPoint corner : {QPoint(0, 0), QPoint(117, 0), QPoint(0, 109), QPoint(117, 109)})
            QCOMPARE(plain.pixelColor(corner), ListGrey);
        QCOMPARE(plain.pixelColor(9, 10), WellGrey);
        QCOMPARE(plain.pixelColor(108, 99), WellGrey);
        QVERIFY(plain.pixelColor(8, 50).lightness() < 221);
        QCOMPARE(plain.pixelColor(109, 50), QColor(Qt::white));
        // The word changes the bottom border only, inside its box.
        bool ink = false;
        for (int y = 0; y < 110; ++y)
            for (int x = 0; x < 118; ++x)
                if (plain.pixel(x, y) != uploaded.pixel(x, y)) {
                    QVERIFY(x >= 33 && x <= 84 && y >= 103 && y <= 107);
                    ink = true;
                }
        QVERIFY(ink);
    }

    void tilesShowPhotosUprightInTheirPlace()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("wide.jpg"), jpeg(QSize(400, 300), Qt::red));
        writeFile(dir.filePath("turned.jpg"), jpeg(QSize(400, 300), Qt::red, 6));
        writeFile(dir.filePath("broken.jpg"), "not a photo");

        const QImage wide = MakeThumbnailTile(dir.filePath("wide.jpg"), false);
        QVERIFY(near(wide.pixelColor(9, 17), Qt::red));
        QVERIFY(near(wide.pixelColor(108, 91), Qt::red));
        QCOMPARE(wide.pixelColor(50, 15), WellGrey);
        QCOMPARE(wide.pixelColor(50, 93), WellGrey);

        // Stored 400 x 300 on its side: shown 67 x 90 at (25, 10).
        const QImage turned = MakeThumbnailTile(dir.filePath("turned.jpg"), true);
        QVERIFY(near(turned.pixelColor(25, 10), Qt::red));
        QVERIFY(near(turned.pixelColor(91, 99), Qt::red));
        QCOMPARE(turned.pixelColor(23, 50), WellGrey);
        QCOMPARE(turned.pixelColor(94, 50), WellGrey);
        QCOMPARE(turned.pixelColor(0, 0), ListGrey);

        QCOMPARE(MakeThumbnailTile(dir.filePath("broken.jpg"), false), TileFrame(false));
        QCOMPARE(MakeThumbnailTile(dir.filePath("missing.jpg"), true), TileFrame(true));
        auto cancelled = std::make_shared<workerdetail::TaskState>(1);
        cancelled->cancel();
        QCOMPARE(MakeThumbnailTile(dir.filePath("wide.jpg"), false, CancelToken(cancelled)), TileFrame(false));
    }

    // The camera's thumbnail is green where the photo is blue, so the tile tells which it shows.
    void faithfulEmbeddedThumbnailsAreUsedUpright_data()
    {
        QTest::addColumn<int>("orientation");
        for (int o = 1; o <= 8; ++o)
            QTest::addRow("orientation %d", o) << o;
    }
    void faithfulEmbeddedThumbnailsAreUsedUpright()
    {
        QFETCH(int, orientation);
        QTemporaryDir dir;
        const QString camera = dir.filePath("camera.jpg"), plain = dir.filePath("plain.jpg");
        writeFile(camera, jpegWithThumbnail(markedImage({400, 300}), encodedJpeg(markedImage({160, 120}, Qt::green)),
                                            orientation, orientation % 2 == 0));
        writeFile(plain, jpegOf(markedImage({400, 300}), orientation));

        const TilePicture fromThumbnail = LoadTilePicture(camera), decoded = LoadTilePicture(plain);
        QCOMPARE(fromThumbnail.source, TileSource::Embedded);
        QCOMPARE(decoded.source, TileSource::Decoded);
        QCOMPARE(fromThumbnail.place.scaled, decoded.place.scaled);
        QCOMPARE(fromThumbnail.place.at, decoded.place.at);
        const QList<QColor> thumb = Quarters(fromThumbnail.image), photo = Quarters(decoded.image);
        for (int q = 0; q < 4; ++q) {
            QCOMPARE(near(thumb[q], Qt::red), near(photo[q], Qt::red));
            QVERIFY(near(thumb[q], Qt::red) || near(thumb[q], Qt::green));
        }
    }

    void unfaithfulEmbeddedThumbnailsAreRefused_data()
    {
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<QByteArray>("thumbnail");
        QTest::addColumn<bool>("used");
        const QByteArray fourThree = encodedJpeg(markedImage({160, 120}, Qt::green));
        QTest::newRow("3:2 rounded to 160 x 107") << QSize(600, 400) << encodedJpeg(markedImage({160, 107}, Qt::green)) << true;
        QTest::newRow("padded with zeros") << QSize(400, 300) << fourThree + QByteArray(16, '\0') << true;
        QTest::newRow("3:2 letterboxed into 4:3") << QSize(600, 400) << fourThree << false;
        QTest::newRow("16:9 letterboxed into 4:3") << QSize(640, 360) << fourThree << false;
        QTest::newRow("narrower than the well") << QSize(400, 300) << encodedJpeg(markedImage({80, 60}, Qt::green)) << false;
        QTest::newRow("portrait lower than the well") << QSize(300, 400) << encodedJpeg(markedImage({60, 80}, Qt::green)) << false;
        QTest::newRow("larger than the photo") << QSize(400, 300) << encodedJpeg(markedImage({800, 600}, Qt::green)) << false;
        QTest::newRow("not a JPEG") << QSize(400, 300) << Png({160, 120}) << false;
        QTest::newRow("cut short") << QSize(400, 300) << fourThree.left(fourThree.size() / 2) << false;
        QTest::newRow("garbage between the markers")
            << QSize(400, 300) << QByteArray("\xFF\xD8") + QByteArray(600, '\x5A') + QByteArray("\xFF\xD9") << false;
    }
    void unfaithfulEmbeddedThumbnailsAreRefused()
    {
        QFETCH(QSize, photo);
        QFETCH(QByteArray, thumbnail);
        QFETCH(bool, used);
        QTemporaryDir dir;
        const QString path = dir.filePath("camera.jpg");
        writeFile(path, jpegWithThumbnail(markedImage(photo), thumbnail));
        const TileLoad load = LoadTile(path, ThumbnailCache());
        QCOMPARE(load.picture.source, used ? TileSource::Embedded : TileSource::Decoded);
        QCOMPARE(load.decodes, used ? 0 : 1);
        QCOMPARE(load.picture.place.scaled, PlaceInTile(photo).scaled);
        const QColor lowerRight = Quarters(load.picture.image)[3];
        QVERIFY(near(lowerRight, used ? QColor(Qt::green) : QColor(Qt::blue)));
    }
};

QTEST_MAIN(TestThumbnailTile)
#include "tst_thumbnailtile.moc"
