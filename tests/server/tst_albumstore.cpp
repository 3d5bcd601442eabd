#include "AlbumStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
void Append(AlbumStore &store, AlbumStore::Upload &u, const QByteArray &bytes)
{
    QFile part(store.partPath(u.id));
    QVERIFY(part.open(QIODevice::Append));
    part.write(bytes);
    part.close();
    QString error;
    QVERIFY(store.received(u, &error));
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
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dot dot") << ".." << false;
        QTest::newRow("hidden") << ".uploads" << false;
        QTest::newRow("up and out") << "../x" << false;
        QTest::newRow("absolute") << "/etc" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("nul") << QString::fromLatin1("a\0b", 3) << false;
        QTest::newRow("line break") << "a\nb" << false;
        QTest::newRow("255 bytes") << QString(255, 'x') << true;
        QTest::newRow("256 bytes") << QString(256, 'x') << false;
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, allowed);
        QCOMPARE(AlbumStore::nameProblem(name).isEmpty(), allowed);
    }

    void photosEnterAlbumsOnlyWhole()
    {
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        QVERIFY(store.addAccount("ann@example.com", "pw"));
        QVERIFY(!store.addAccount("../ann", "pw"));
        QString error;
        QVERIFY(!store.createUpload("ann@example.com", "../up", "x.jpg", 3, &error));
        QVERIFY(error.startsWith("Invalid album name"));
        QVERIFY(!store.createUpload("bob@example.com", "A", "x.jpg", 3, &error));

        auto u = store.createUpload("ann@example.com", "A", "x.jpg", 6, &error);
        QVERIFY(u);
        Append(store, *u, "abc");
        QVERIFY(u->photo.isEmpty());
        QVERIFY(store.photos("ann@example.com", "A").isEmpty());

        // A restarted service knows where the upload stands.
        AlbumStore again(dir.path());
        again.addAccount("ann@example.com", "pw");
        auto resumed = again.upload("ann@example.com", u->id);
        QVERIFY(resumed);
        QCOMPARE(resumed->offset, qint64(3));
        QVERIFY(!again.upload("eve@example.com", u->id));
        QVERIFY(!again.upload("ann@example.com", "../../etc/passwd"));
        Append(again, *resumed, "def");
        QCOMPARE(resumed->photo, QString("A/x.jpg"));

        // The same name again, and an empty photo, are filed at once beside it.
        auto second = again.createUpload("ann@example.com", "A", "x.jpg", 0, &error);
        QVERIFY(second);
        QCOMPARE(second->photo, QString("A/x (1).jpg"));
        QCOMPARE(again.photos("ann@example.com", "A"), QStringList({"x (1).jpg", "x.jpg"}));
        QCOMPARE(again.albums("ann@example.com"), QStringList{"A"});
    }
};

QTEST_GUILESS_MAIN(TestAlbumStore)
#include "tst_albumstore.moc"
