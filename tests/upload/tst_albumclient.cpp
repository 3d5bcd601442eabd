#include "platform/Settings.h"
#include "upload/QLMAPI.h"

#include "support/AlbumServer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray RandomBytes(qsizetype n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator gen(42);
    for (char &c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

// Hands the file over in blocks of `block` bytes and a final shorter (perhaps empty) block,
// as the upload worker does.
void Send(CQLMAPI &api, const QByteArray &bytes, int block = CQLMAPI::kMaxBlock)
{
    qsizetype at = 0;
    for (;;) {
        const int n = int(std::min<qsizetype>(block, bytes.size() - at));
        api.uploadChunk(bytes.constData() + at, n);
        at += n;
        if (n < block)
            break;
    }
}

QString Failure(const std::function<void()> &call)
{
    try {
        call();
    } catch (CQLMException *e) {
        const QString text = e->getMessage();
        delete e;
        return text;
    }
    return QString();
}

QByteArray Read(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

class TestAlbumClient : public QObject
{
    Q_OBJECT

    QTemporaryDir photos_;

    QString photo(const QString &name, const QByteArray &bytes)
    {
        writeFile(photos_.filePath(name), bytes);
        return photos_.filePath(name);
    }

private slots:
    void accountsAndAlbums()
    {
        AlbumServer server({"--album", AlbumServer::kEmail + ":Trips;;;2026", "--album", AlbumServer::kEmail + ":Garden"});
        QVERIFY(server.running());
        CQLMAPI api(server.address());
        QVERIFY(api.verify(AlbumServer::kEmail, AlbumServer::kPassword));
        QVERIFY(!api.verify(AlbumServer::kEmail, "wrong"));
        QVERIFY(!api.verify(" " + AlbumServer::kEmail, AlbumServer::kPassword));
        QCOMPARE(api.getAlbums(AlbumServer::kEmail, AlbumServer::kPassword), QStringList({"Garden", "Trips;;;2026"}));
        QCOMPARE(Failure([&] { api.getAlbums(AlbumServer::kEmail, "wrong"); }),
                 QString("Invalid e-mail address or password"));

        AlbumServer empty;
        QCOMPARE(CQLMAPI(empty.address()).getAlbums(AlbumServer::kEmail, AlbumServer::kPassword), QStringList());

        ServiceAddress nowhere = empty.address();
        nowhere.port = 1; // nothing listens there
        QVERIFY(Failure([&] { CQLMAPI(nowhere).verify("a@b.c", "x"); }).startsWith("The album service cannot be reached"));
    }

    void uploadsArriveWhole()
    {
        AlbumServer server;
        const QByteArray twoBlocks = RandomBytes(131072);
        const QString path = photo("IMG_0001.JPG", twoBlocks);
        for (int copy = 0; copy < 2; ++copy) {
            CQLMAPI api(server.address());
            api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Holidays", path);
            Send(api, twoBlocks); // 65,536 + 65,536 + 0
            api.endUpload();
            QCOMPARE(api.bytesSent(), qint64(twoBlocks.size()));
        }
        QCOMPARE(Read(server.albumFolder("Holidays") + "/IMG_0001.JPG"), twoBlocks);
        // The second photo of the same name is kept beside the first.
        QCOMPARE(Read(server.albumFolder("Holidays") + "/IMG_0001 (1).JPG"), twoBlocks);

        const QString nothing = photo("empty.jpg", QByteArray());
        CQLMAPI api(server.address());
        api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Holidays", nothing);
        api.uploadChunk(nullptr, 0);
        api.endUpload();
        QVERIFY(QFileInfo(server.albumFolder("Holidays") + "/empty.jpg").isFile());
        QCOMPARE(CQLMAPI(server.address()).getAlbums(AlbumServer::kEmail, AlbumServer::kPassword),
                 QStringList{"Holidays"});

        // A photo that grows after its upload began is refused, not sent cut or padded.
        const QString growing = photo("grow.jpg", RandomBytes(1000));
        api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Holidays", growing);
        QVERIFY(!Failure([&] { Send(api, RandomBytes(2000)); }).isEmpty());
        QVERIFY(!QFileInfo::exists(server.albumFolder("Holidays") + "/grow.jpg"));

        QCOMPARE(Failure([&] { api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Holidays", photos_.filePath("gone.jpg")); }),
                 "Cannot open file " + photos_.filePath("gone.jpg"));
    }

    void namesNeverLeaveTheDataFolder()
    {
        AlbumServer server;
        const QString path = photo("x.jpg", "bytes");
        for (const QString &album : {QString("../escape"), QString("/etc"), QString(".."), QString("a/b"),
                                     QString::fromLatin1("nul\0byte", 8), QString(300, 'a'), QString()}) {
            CQLMAPI api(server.address());
            const QString failure = Failure([&] { api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, album, path); });
            QVERIFY2(failure.contains("Invalid album name") || failure.contains("not valid"), qPrintable(album + ": " + failure));
        }
        QDir data(server.dataFolder());
        QCOMPARE(data.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{AlbumServer::kEmail});
        QVERIFY(QDir(server.dataFolder() + "/" + AlbumServer::kEmail).isEmpty());
        QVERIFY(!QFileInfo::exists(server.dataFolder() + "/../escape"));
    }

    void refusalsCarryTheServiceReason()
    {
        AlbumServer server({"--refuse-every", "2", "--refuse-reason", "This album is full."});
        const QString path = photo("r.jpg", RandomBytes(5000));
        CQLMAPI first(server.address());
        first.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "A", path);
        Send(first, Read(path));
        first.endUpload();
        CQLMAPI second(server.address());
        QCOMPARE(Failure([&] { second.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "A", path); }),
                 QString("This album is full."));

        AlbumServer html({"--html-errors"});
        QVERIFY(Failure([&] { CQLMAPI(html.address()).getAlbums("x@y.z", "no"); }).contains("<html>"));
    }

    void droppedConnectionFailsThenResumes()
    {
        AlbumServer server({"--drop-after", "100000"});
        const QByteArray bytes = RandomBytes(300000);
        const QString path = photo("big.jpg", bytes);
        {
            CQLMAPI api(server.address());
            api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Trip", path);
            const QString failure = Failure([&] {
                Send(api, bytes);
                api.endUpload();
            });
            QVERIFY2(!failure.isEmpty(), "a cut connection must never count as uploaded");
        }
        QVERIFY(!QFileInfo::exists(server.albumFolder("Trip") + "/big.jpg"));

        // A fresh client, as after a restart, goes on from where the service has it.
        CQLMAPI again(server.address());
        again.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Trip", path);
        QCOMPARE(again.resumedAt(), qint64(100000));
        Send(again, bytes);
        again.endUpload();
        QCOMPARE(again.bytesSent(), qint64(200000));
        QCOMPARE(Read(server.albumFolder("Trip") + "/big.jpg"), bytes);

        // The finished upload is forgotten: the next start is a new photo.
        CQLMAPI third(server.address());
        third.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Trip", path);
        QCOMPARE(third.resumedAt(), qint64(0));
    }

    void serviceUnderAPathPrefix()
    {
        AlbumServer server({"--prefix", "/qlm"});
        Settings settings;
        settings.httpServer = "127.0.0.1/qlm/";
        settings.httpPort = server.port();
        settings.executablePath = server.clientFolder();
        const ServiceAddress a = ServiceAddress::FromSettings(settings);
        QCOMPARE(a.baseUrl(), QString("http://127.0.0.1:%1/qlm").arg(server.port()));
        CQLMAPI api(a);
        const QByteArray bytes = RandomBytes(70000);
        api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "P", photo("p.jpg", bytes));
        Send(api, bytes);
        api.endUpload();
        QCOMPARE(Read(server.albumFolder("P") + "/p.jpg"), bytes);
        settings.httpServer.clear();
        settings.httpPort = 443;
        QVERIFY(ServiceAddress::FromSettings(settings).baseUrl().startsWith("https://"));
    }

    void silentServiceTimesOut()
    {
        AlbumServer server({"--delay", "4000"});
        ServiceAddress a = server.address();
        a.replyTimeoutSeconds = 1;
        QVERIFY(Failure([&] { CQLMAPI(a).verify(AlbumServer::kEmail, AlbumServer::kPassword); })
                    .startsWith("The album service did not answer in time"));
    }
};

QTEST_GUILESS_MAIN(TestAlbumClient)
#include "tst_albumclient.moc"
