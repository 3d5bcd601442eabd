// The smaller copy sent in place of a large photo: its size, upright pixels, no metadata,
// JPEG under the photo's own name, and the cases where the photo is sent as it is.
#include "upload/ResizeForUpload.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QBuffer>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

namespace {

QImage decode(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

bool sameColour(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) < 40 && qAbs(qGreen(a) - qGreen(b)) < 40 && qAbs(qBlue(a) - qBlue(b)) < 40;
}

} // namespace

class TestResizeForUpload : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

    QString copyFolder() const { return dir_.filePath("tmp-copies"); }

private slots:
    void initTestCase() { QVERIFY(QDir().mkpath(copyFolder())); }

    // The copy's longer side is the limit; a photo stored on its side is turned upright
    // first, since the copy carries no orientation to say so.
    void copies_data()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("max");
        QTest::addColumn<QSize>("copy");
        QTest::newRow("4000x3000 at 300") << QSize(4000, 3000) << 0 << 300 << QSize(300, 225);
        QTest::newRow("300x200 re-encoded at 300") << QSize(300, 200) << 0 << 300 << QSize(300, 200);
        QTest::newRow("portrait on its side, 1200x1600 at 800") << QSize(1600, 1200) << 6 << 800 << QSize(600, 800);
        QTest::newRow("upside down") << QSize(640, 480) << 3 << 320 << QSize(320, 240);
    }
    void copies()
    {
        QFETCH(QSize, stored);
        QFETCH(int, orientation);
        QFETCH(int, max);
        QFETCH(QSize, copy);
        const QString photo = dir_.filePath(QStringLiteral("photos/IMG_%1.JPG").arg(QTest::currentDataTag()));
        writeFile(photo, markedJpeg(stored, orientation));
        const QByteArray original = readFile(photo);

        const QString sent = ResizeForUpload(photo, max, copyFolder());
        QCOMPARE(sent, QDir(copyFolder()).filePath(QFileInfo(photo).fileName()));
        const QByteArray bytes = readFile(sent);
        QVERIFY(bytes.startsWith("\xff\xd8"));
        QVERIFY(!bytes.contains(QByteArray("Exif\0\0", 6)));
        const QImage got = decode(sent);
        QCOMPARE(got.size(), copy);
        const QImage upright = decode(photo).scaled(copy);
        for (QPoint at : {QPoint(copy.width() / 4, copy.height() / 4), QPoint(3 * copy.width() / 4, copy.height() / 4),
                          QPoint(copy.width() / 4, 3 * copy.height() / 4)})
            QVERIFY2(sameColour(got.pixel(at), upright.pixel(at)), qPrintable(QStringLiteral("at %1,%2").arg(at.x()).arg(at.y())));
        QCOMPARE(readFile(photo), original);
    }

    // The photo goes as it is: small enough, no limit set, or nothing to decode.
    void sentUnchanged_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("max");
        QTest::newRow("200x200 at 300") << jpeg(QSize(200, 200), Qt::green) << 300;
        QTest::newRow("limit 0") << jpeg(QSize(640, 480), Qt::green) << 0;
        QTest::newRow("limit below 0") << jpeg(QSize(640, 480), Qt::green) << -5;
        QTest::newRow("not a picture") << QByteArray("not a jpeg at all") << 300;
    }
    void sentUnchanged()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, max);
        const QString photo = dir_.filePath("same/unchanged.jpg");
        writeFile(photo, content);
        QCOMPARE(ResizeForUpload(photo, max, copyFolder()), photo);
        QVERIFY(!QFileInfo::exists(QDir(copyFolder()).filePath("unchanged.jpg")));
    }

    // A TIFF photo's copy keeps the name, extension included, and holds JPEG data; a copy
    // left by an earlier photo of the same name is replaced.
    void tiffKeepsItsNameAndReplacesAnEarlierCopy()
    {
        const QString photo = dir_.filePath("scans/scan.tif");
        QVERIFY(QDir().mkpath(QFileInfo(photo).path()));
        QVERIFY(markedImage(QSize(900, 600)).save(photo, "TIFF"));
        writeFile(QDir(copyFolder()).filePath("scan.tif"), "stale");
        const QString sent = ResizeForUpload(photo, 300, copyFolder());
        QCOMPARE(QFileInfo(sent).fileName(), QString("scan.tif"));
        QVERIFY(readFile(sent).startsWith("\xff\xd8"));
        QCOMPARE(decode(sent).size(), QSize(300, 200));
    }

    // A copy that cannot be written leaves the photo to be sent as it is.
    void unwritableFolderSendsThePhoto()
    {
        const QString photo = dir_.filePath("big/big.jpg");
        writeFile(photo, jpeg(QSize(800, 600), Qt::red));
        QCOMPARE(ResizeForUpload(photo, 300, dir_.filePath("no/such/folder")), photo);
    }
};

QTEST_GUILESS_MAIN(TestResizeForUpload)
#include "tst_resizeforupload.moc"
