#include "photo/ThumbnailCache.h"
#include "photo/ThumbnailTile.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QDirIterator>
#include <QtEndian>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

struct Scratch
{
    QTemporaryDir dir;
    ThumbnailCache cache{ThumbnailCache::Options{dir.filePath("cache/thumbnails"), {}, "quillmere-test"}};
    QString photo(const char *name) const { return dir.filePath(QStringLiteral("photos/") + QLatin1String(name)); }
};

QString EntryPath(const QString &folder, const QString &photo)
{
    return folder + u'/' + ThumbnailFileName(ThumbnailUri(photo));
}

// Writes an entry with whatever keys a test wants, as another program might have.
void WriteEntry(const QString &file, QSize size, const QMap<QString, QString> &keys, const char *format = "PNG")
{
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::green);
    for (auto it = keys.begin(); it != keys.end(); ++it)
        image.setText(it.key(), it.value());
    QVERIFY(image.save(file, format));
}

int Mode(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// The keys of a PNG's tEXt chunks, the only text chunks some readers of the cache look at.
QMap<QString, QString> PlainTextKeys(const QByteArray &png)
{
    QMap<QString, QString> keys;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) == "tEXt") {
            const QByteArray body = png.mid(at + 8, length);
            const qsizetype nul = body.indexOf('\0');
            keys.insert(QString::fromLatin1(body.left(nul)), QString::fromLatin1(body.mid(nul + 1)));
        }
        at += 12 + length;
    }
    return keys;
}

QStringList FilesBelow(const QString &folder)
{
    QStringList files;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next().mid(folder.size() + 1);
    return files;
}

} // namespace

class TestThumbnailCache : public QObject
{
    Q_OBJECT
private slots:
    void namesFollowTheStandard_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("uri");
        QTest::newRow("the standard's example") << "/home/jens/photos/me.png" << QByteArray("file:///home/jens/photos/me.png");
        QTest::newRow("blank, hash, percent") << "/tmp/a b/#1%.jpg" << QByteArray("file:///tmp/a%20b/%231%25.jpg");
        QTest::newRow("beyond ASCII as UTF-8") << "/p/caf\u00e9.jpg" << QByteArray("file:///p/caf%C3%A9.jpg");
        QTest::newRow("reserved in a path") << "/p/x;y?z[1]\"<>^`{|}\\.jpg"
                                            << QByteArray("file:///p/x%3By%3Fz%5B1%5D%22%3C%3E%5E%60%7B%7C%7D%5C.jpg");
        QTest::newRow("allowed as they are") << "/p/!$&'()*+,-.:=@_~.jpg" << QByteArray("file:///p/!$&'()*+,-.:=@_~.jpg");
        QTest::newRow("made canonical") << "/p/./q/../r//s.jpg" << QByteArray("file:///p/r/s.jpg");
    }
    void namesFollowTheStandard()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, uri);
        QCOMPARE(ThumbnailUri(path), uri);
        if (QTest::currentDataTag() == QByteArray("the standard's example"))
            QCOMPARE(ThumbnailFileName(uri), QString("c6ee772d9e49320e97ec29a7eb5b1697.png"));
    }

    void normalSizes_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("normal");
        QTest::newRow("landscape") << QSize(6000, 4000) << QSize(128, 85);
        QTest::newRow("portrait") << QSize(3000, 4000) << QSize(96, 128);
        QTest::newRow("sliver") << QSize(10000, 20) << QSize(128, 1);
        QTest::newRow("small stays") << QSize(100, 60) << QSize(100, 60);
    }
    void normalSizes()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, normal);
        QCOMPARE(NormalThumbnailSize(picture), normal);
    }

    void anEntryCarriesItsKeysPrivatelyAndArrivesWhole()
    {
        Scratch s;
        const QString photo = s.photo("a.jpg");
        writeFile(photo, jpeg({400, 300}, Qt::blue));
        setModified(photo, 1700000000);
        QImage normal(128, 96, QImage::Format_RGB32);
        normal.fill(Qt::red);
        QVERIFY(s.cache.store(photo, StampOf(photo), normal));

        const QString entry = EntryPath(s.cache.normalFolder(), photo);
        const QImage read = QImageReader(entry, "png").read();
        QCOMPARE(read.text("Thumb::URI"), QString::fromLatin1(ThumbnailUri(photo)));
        QCOMPARE(read.text("Thumb::MTime"), QString("1700000000"));
        QCOMPARE(read.text("Thumb::Size"), QString::number(QFileInfo(photo).size()));
        // Each key in plain text, however long its value.
        QVERIFY(ThumbnailUri(photo).size() > 40);
        const QMap<QString, QString> plain = PlainTextKeys(readFile(entry));
        QCOMPARE(plain.value("Thumb::URI"), read.text("Thumb::URI"));
        QCOMPARE(plain.value("Thumb::MTime"), read.text("Thumb::MTime"));
        QCOMPARE(plain.value("Thumb::Size"), read.text("Thumb::Size"));
        QCOMPARE(read.size(), QSize(128, 96));
        QVERIFY(read.hasAlphaChannel());
        QCOMPARE(Mode(entry), 0600);
        for (const QString &folder : {s.dir.filePath("cache"), s.dir.filePath("cache/thumbnails"), s.cache.normalFolder()})
            QCOMPARE(Mode(folder), 0700);
        // Only the entry: the temporary file it was written through is gone.
        QCOMPARE(FilesBelow(s.dir.filePath("cache")), QStringList{"thumbnails/normal/" + QFileInfo(entry).fileName()});

        const ThumbnailCache::Found found = s.cache.find(photo, StampOf(photo));
        QCOMPARE(found.image.size(), QSize(128, 96));
        QVERIFY(!found.large && !found.failed);
    }

    void staleOrForeignEntriesAreIgnoredAndReplaced_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("another URI") << "uri";
        QTest::newRow("an older MTime") << "older";
        QTest::newRow("a newer MTime") << "newer";
        QTest::newRow("no MTime") << "no mtime";
        QTest::newRow("another size") << "size";
        QTest::newRow("not a PNG") << "jpeg";
        QTest::newRow("larger than a normal entry") << "oversize";
    }
    void staleOrForeignEntriesAreIgnoredAndReplaced()
    {
        QFETCH(QString, fault);
        Scratch s;
        const QString photo = s.photo("b.jpg");
        writeFile(photo, jpeg({400, 300}, Qt::blue));
        setModified(photo, 1700000000);
        QMap<QString, QString> keys{{"Thumb::URI", QString::fromLatin1(ThumbnailUri(photo))},
                                    {"Thumb::MTime", "1700000000"},
                                    {"Thumb::Size", QString::number(QFileInfo(photo).size())}};
        if (fault == "uri")
            keys["Thumb::URI"] = QString::fromLatin1(ThumbnailUri(s.photo("other.jpg")));
        else if (fault == "older")
            keys["Thumb::MTime"] = "1699999999";
        else if (fault == "newer")
            keys["Thumb::MTime"] = "1700000001";
        else if (fault == "no mtime")
            keys.remove("Thumb::MTime");
        else if (fault == "size")
            keys["Thumb::Size"] = "1";
        const QString entry = EntryPath(s.cache.normalFolder(), photo);
        WriteEntry(entry, fault == "oversize" ? QSize(1024, 768) : QSize(128, 96), keys, fault == "jpeg" ? "JPEG" : "PNG");
        QVERIFY(s.cache.find(photo, StampOf(photo)).image.isNull());

        // The photo is decoded instead, and its entry replaced by a valid one.
        const TileLoad load = LoadTile(photo, s.cache);
        QCOMPARE(load.picture.source, TileSource::Decoded);
        QCOMPARE(load.forCache.size(), QSize(128, 96));
        StoreTileLoad(s.cache, photo, load);
        QCOMPARE(LoadTile(photo, s.cache).picture.source, TileSource::Cache);
    }

    void aTileComesFromTheCacheUntilThePhotoChanges()
    {
        Scratch s;
        const QString photo = s.photo("c.jpg");
        writeFile(photo, markedJpeg({400, 300}, 6));
        setModified(photo, 1700000000);

        const TileLoad first = LoadTile(photo, s.cache);
        QCOMPARE(first.decodes, 1);
        QCOMPARE(first.forCache.size(), QSize(96, 128)); // upright, as the standard asks
        StoreTileLoad(s.cache, photo, first);

        const TileLoad second = LoadTile(photo, s.cache);
        QCOMPARE(second.picture.source, TileSource::Cache);
        QCOMPARE(second.decodes, 0);
        QVERIFY(second.forCache.isNull());
        QCOMPARE(second.picture.place.scaled, first.picture.place.scaled);
        QCOMPARE(second.picture.place.at, first.picture.place.at);

        // Nothing is read for a picture already at hand whose file has not changed.
        const TileLoad known = LoadTile(photo, s.cache, first.stamp);
        QVERIFY(known.unchanged);
        QVERIFY(known.picture.image.isNull());

        writeFile(photo, jpeg({400, 300}, Qt::red));
        setModified(photo, 1700000100);
        const TileLoad changed = LoadTile(photo, s.cache, first.stamp);
        QVERIFY(!changed.unchanged);
        QCOMPARE(changed.decodes, 1);
    }

    void aLargeEntryServesAndANormalOneFollows()
    {
        Scratch s;
        const QString photo = s.photo("d.jpg");
        writeFile(photo, jpeg({800, 600}, Qt::blue));
        WriteEntry(EntryPath(s.cache.largeFolder(), photo), {256, 192},
                   {{"Thumb::URI", QString::fromLatin1(ThumbnailUri(photo))},
                    {"Thumb::MTime", QString::number(StampOf(photo).modified / 1000)}});
        const TileLoad load = LoadTile(photo, s.cache);
        QCOMPARE(load.picture.source, TileSource::Cache);
        QCOMPARE(load.decodes, 0);
        QCOMPARE(load.picture.image.size(), QSize(100, 75));
        QCOMPARE(load.forCache.size(), QSize(128, 96));
    }

    void aPhotoThatCannotBeDecodedIsRecordedAndNotTriedAgain()
    {
        Scratch s;
        const QString photo = s.photo("broken.jpg");
        writeFile(photo, "not a photo at all");
        const TileLoad first = LoadTile(photo, s.cache);
        QVERIFY(first.failed);
        QVERIFY(first.picture.image.isNull());
        StoreTileLoad(s.cache, photo, first);
        const QString entry = EntryPath(s.cache.failFolder(), photo);
        QVERIFY(QFileInfo::exists(entry));
        QVERIFY(s.cache.failFolder().endsWith("/fail/quillmere-test"));

        const TileLoad second = LoadTile(photo, s.cache);
        QCOMPARE(second.decodes, 0);
        QVERIFY(!second.failed); // already recorded: nothing more to write
        QVERIFY(second.picture.image.isNull());
    }

    void privateOrUnwritableFoldersChangeNothingButTheSpeed()
    {
        Scratch s;
        const QString photo = s.photo("e.jpg");
        writeFile(photo, jpeg({400, 300}, Qt::blue));

        // The photos' folder is private here: no entry is written, the tile is made all the same.
        const ThumbnailCache withPrivate(ThumbnailCache::Options{s.cache.options().root, {s.dir.filePath("photos")}, "q"});
        QVERIFY(!withPrivate.mayWrite(photo));
        QVERIFY(!withPrivate.mayWrite(s.cache.normalFolder() + "/x.png"));
        const TileLoad load = LoadTile(photo, withPrivate);
        QCOMPARE(load.picture.source, TileSource::Decoded);
        QVERIFY(load.forCache.isNull());
        QVERIFY(!withPrivate.store(photo, StampOf(photo), load.picture.image));
        QVERIFY(!QFileInfo::exists(s.dir.filePath("cache")));
        QVERIFY(!ThumbnailCache::Standard().mayWrite(QDir::tempPath() + "/x.jpg"));

        // A file where the cache's folder would be: nothing can be written, nothing breaks.
        writeFile(s.dir.filePath("blocked"), "a file");
        const ThumbnailCache blocked(ThumbnailCache::Options{s.dir.filePath("blocked/thumbnails"), {}, "q"});
        const TileLoad again = LoadTile(photo, blocked);
        QCOMPARE(again.picture.source, TileSource::Decoded);
        QVERIFY(!blocked.store(photo, StampOf(photo), again.forCache));
        QVERIFY(!blocked.storeFailure(photo, StampOf(photo)));
    }
};

QTEST_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"
