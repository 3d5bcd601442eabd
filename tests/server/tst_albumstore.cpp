#include "AlbumStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

const QString kAnn = QStringLiteral("ann@example.com");

bool Append(AlbumStore &store, AlbumStore::Upload &u, const QByteArray &bytes)
{
    AlbumStore::Problem problem;
    auto writer = store.openPart(u, &problem);
    if (!writer || !writer->write(bytes.constData(), bytes.size()) || !writer->flush())
        return false;
    writer.reset();
    return store.received(u, &problem);
}

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestAlbumStore : public QObject
{
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("plain") << "Holidays 2026" << true;
        QTest::newRow("separators of lists") << "a;;;b" << true;
        QTest::newRow("accents") << QString::fromUtf8("\xc3\xa9t\xc3\xa9") << true;
        QTest::newRow("percent") << "100%" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dot dot") << ".." << false;
        QTest::newRow("hidden") << ".uploads" << false;
        QTest::newRow("up and out") << "../x" << false;
        QTest::newRow("absolute") << "/etc" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("nul") << QString::fromLatin1("a\0b", 3) << false;
        QTest::newRow("line break") << "a\nb" << false;
        QTest::newRow("next line") << QString::fromUtf8("a\xc2\x85" "b") << false;
        QTest::newRow("255 bytes") << QString(255, 'x') << true;
        QTest::newRow("256 bytes") << QString(256, 'x') << false;
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, allowed);
        QCOMPARE(AlbumStore::nameProblem(name).isEmpty(), allowed);
    }

    // Names are data: placeholders, percent signs and long names are filed exactly as sent,
    // inside the account's folder, and read back unchanged from the upload's record.
    void namesAreFiledAsSent_data()
    {
        QTest::addColumn<QString>("album");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("secondName");
        QTest::newRow("%1 to %5") << "A%1%2%3%4%5" << "%1 %2 %3 %4 %5.jpg" << "%1 %2 %3 %4 %5 (1).jpg";
        QTest::newRow("placeholder then dots") << "%5.." << "x%4.jpg" << "x%4 (1).jpg";
        QTest::newRow("lone percent") << "%" << "%" << "% (1)";
        QTest::newRow("placeholder in the number") << "A%4B" << "%2" << "%2 (1)";
        QTest::newRow("255 bytes, no room for a number") << "Long" << QString(251, 'x') + ".jpg"
                                                         << QString(247, 'x') + " (1).jpg";
        QTest::newRow("long name of two-byte letters")
            << "Long" << QString(126, QChar(0xE9)) + ".j" << QString(124, QChar(0xE9)) + " (1).j";
    }

    void namesAreFiledAsSent()
    {
        QFETCH(QString, album);
        QFETCH(QString, file);
        QFETCH(QString, secondName);
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        QVERIFY(store.addAccount(kAnn, "pw"));
        AlbumStore::Problem problem;
        for (const QString &expected : {file, secondName}) {
            auto u = store.createUpload(kAnn, album, file, 3, &problem);
            QVERIFY2(u, qPrintable(problem.reason));
            QCOMPARE(u->album, album);
            QCOMPARE(u->fileName, file);
            // What the record says survives a restart of the service.
            AlbumStore again(dir.path());
            again.addAccount(kAnn, "pw");
            auto reread = again.upload(kAnn, u->id);
            QVERIFY(reread);
            QCOMPARE(reread->album, album);
            QCOMPARE(reread->fileName, file);
            QCOMPARE(reread->length, qint64(3));
            QVERIFY(Append(again, *reread, "abc"));
            QCOMPARE(reread->photo, album + "/" + expected);
            QCOMPARE(Read(dir.path() + "/" + kAnn + "/" + album + "/" + expected), QByteArray("abc"));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{kAnn});
    }

    void recordsAreCheckedWhenReadBack_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("album that leaves") << QByteArray("account=ann@example.com\nalbum=../../x\nfile=a.jpg\nlength=3\nphoto=\n");
        QTest::newRow("file that leaves") << QByteArray("account=ann@example.com\nalbum=A\nfile=../a\nlength=3\nphoto=\n");
        QTest::newRow("photo elsewhere") << QByteArray("account=ann@example.com\nalbum=A\nfile=a.jpg\nlength=3\nphoto=B/../../a\n");
        QTest::newRow("negative length") << QByteArray("account=ann@example.com\nalbum=A\nfile=a.jpg\nlength=-3\nphoto=\n");
        QTest::newRow("cut short") << QByteArray("account=ann@example.com\nalbum=A\nfile=a.jpg\n");
    }

    void recordsAreCheckedWhenReadBack()
    {
        QFETCH(QByteArray, record);
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        store.addAccount(kAnn, "pw");
        AlbumStore::Problem problem;
        auto u = store.createUpload(kAnn, "A", "a.jpg", 3, &problem);
        QVERIFY(u);
        QVERIFY(store.upload(kAnn, u->id));
        QFile info(dir.path() + "/.uploads/" + u->id + ".info");
        QVERIFY(info.open(QIODevice::WriteOnly | QIODevice::Truncate));
        info.write(record);
        info.close();
        QVERIFY(!store.upload(kAnn, u->id));
    }

    void photosEnterAlbumsOnlyWhole()
    {
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        QVERIFY(store.addAccount(kAnn, "pw"));
        QVERIFY(!store.addAccount("../ann", "pw"));
        AlbumStore::Problem problem;
        QVERIFY(!store.createUpload(kAnn, "../up", "x.jpg", 3, &problem));
        QCOMPARE(problem.status, 400);
        QVERIFY(problem.reason.startsWith("Invalid album name"));
        QVERIFY(!store.createUpload("bob@example.com", "A", "x.jpg", 3, &problem));
        QVERIFY(!store.createUpload(kAnn, "A", "x.jpg", AlbumStore::kMaxPhotoBytes + 1, &problem));
        QCOMPARE(problem.status, 413);

        auto u = store.createUpload(kAnn, "A", "x.jpg", 6, &problem);
        QVERIFY(u);
        QVERIFY(Append(store, *u, "abc"));
        QVERIFY(u->photo.isEmpty());
        QCOMPARE(u->offset, qint64(3));
        QVERIFY(store.photos(kAnn, "A").isEmpty());
        QVERIFY(!store.upload("eve@example.com", u->id));
        QVERIFY(!store.upload(kAnn, "../../etc/passwd"));

        // One writer at a time.
        QVERIFY(store.lock(u->id));
        QVERIFY(!store.lock(u->id));
        store.unlock(u->id);
        QVERIFY(store.lock(u->id));
        store.unlock(u->id);

        QVERIFY(Append(store, *u, "def"));
        QCOMPARE(u->photo, QString("A/x.jpg"));

        // An empty photo is filed at once beside the first.
        auto second = store.createUpload(kAnn, "A", "x.jpg", 0, &problem);
        QVERIFY(second);
        QCOMPARE(second->photo, QString("A/x (1).jpg"));
        QCOMPARE(store.photos(kAnn, "A"), QStringList({"x (1).jpg", "x.jpg"}));
        QCOMPARE(store.albums(kAnn), QStringList{"A"});
    }

    // A full disk in the middle of a body: the part file is cut back to the last good
    // offset, and when space is back the upload goes on from there to the right bytes.
    void failedWriteKeepsOnlyGoodBytes()
    {
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        store.addAccount(kAnn, "pw");
        AlbumStore::Problem problem;
        QByteArray bytes(1 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 31 + (i >> 9));
        auto u = store.createUpload(kAnn, "A", "big.jpg", bytes.size(), &problem);
        QVERIFY(u);

        store.failWritesAfter(300000);
        auto writer = store.openPart(*u, &problem);
        QVERIFY(writer);
        bool ok = true;
        qint64 at = 0;
        for (; at < bytes.size() && ok; at += 4096)
            ok = writer->write(bytes.constData() + at, 4096);
        QVERIFY(!ok || !writer->flush());
        QCOMPARE(writer->problem().status, 507);
        const qint64 good = writer->offset();
        QVERIFY(good <= 300000);
        QVERIFY(!writer->write("more", 4)); // nothing more after a failure
        writer.reset();
        auto after = store.upload(kAnn, u->id);
        QVERIFY(after);
        QCOMPARE(after->offset, good);
        QCOMPARE(Read(store.partPath(u->id)), bytes.left(good));

        store.failWritesAfter(-1);
        QVERIFY(Append(store, *after, bytes.mid(good)));
        QCOMPARE(after->photo, QString("A/big.jpg"));
        QCOMPARE(Read(dir.path() + "/" + kAnn + "/A/big.jpg"), bytes);
    }

    // Bytes that are whole but cannot be filed are no photo: the upload says so, and is filed
    // by a later call once the album can be made.
    void wholeButUnfiledIsRetried()
    {
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        store.addAccount(kAnn, "pw");
        QFile blocker(dir.path() + "/" + kAnn + "/A");
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the album folder would go
        blocker.close();
        AlbumStore::Problem problem;
        auto u = store.createUpload(kAnn, "A", "x.jpg", 3, &problem);
        QVERIFY(u);
        QVERIFY(!Append(store, *u, "abc"));
        QVERIFY(u->photo.isEmpty());
        QVERIFY(!store.createUpload(kAnn, "A", "empty.jpg", 0, &problem));
        QCOMPARE(problem.status, 500);

        QVERIFY(QFile::remove(blocker.fileName()));
        auto again = store.upload(kAnn, u->id);
        QVERIFY(again);
        QVERIFY(again->whole());
        QVERIFY(store.received(*again, &problem));
        QCOMPARE(again->photo, QString("A/x.jpg"));
    }

    // An upload being filed is never unknown to a reader at the same time: a client that
    // asks just then and hears "no such upload" would send the photo a second time.
    void uploadIsKnownWhileItIsFiled()
    {
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        store.addAccount(kAnn, "pw");
        std::mutex mutex;
        QString current;
        std::atomic<bool> done = false;
        int unknown = 0;
        std::thread reader([&] {
            while (!done) {
                QString id;
                {
                    std::lock_guard lock(mutex);
                    id = current;
                }
                if (!id.isEmpty() && !store.upload(kAnn, id))
                    ++unknown;
            }
        });
        bool filed = true;
        for (int i = 0; i < 30 && filed; ++i) {
            AlbumStore::Problem problem;
            auto u = store.createUpload(kAnn, "A", "x.jpg", 3, &problem);
            if (u) {
                std::lock_guard lock(mutex);
                current = u->id;
            }
            filed = u && Append(store, *u, "abc");
        }
        done = true;
        reader.join();
        QVERIFY(filed);
        QCOMPARE(unknown, 0);
    }
};

QTEST_GUILESS_MAIN(TestAlbumStore)
#include "tst_albumstore.moc"
