#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "upload/QLMAPI.h"

#include "support/AlbumServer.h"
#include "support/TestFiles.h"

#include <httplib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <mutex>
#include <thread>

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

QString Failure(const std::function<void()> &call, int *status = nullptr, QString *reason = nullptr)
{
    try {
        call();
    } catch (CQLMException *e) {
        const QString text = e->getMessage();
        if (status)
            *status = e->status();
        if (reason)
            *reason = e->serviceReason();
        delete e;
        return text;
    }
    return QString();
}

void Upload(CQLMAPI &api, const QString &album, const QString &path, const QByteArray &bytes)
{
    api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, album, path);
    Send(api, bytes);
    api.endUpload();
}

// A plain tus 1.0 server that knows nothing of this service: no Quillmere-Photo, 410 for a
// finished empty upload, and on request a finish that fails after every byte was taken (as a
// server that refuses the name at the end does), or an upload address of its choosing.
class PlainTus
{
public:
    std::mutex mutex;
    std::map<std::string, std::string> data;
    std::map<std::string, size_t> lengths;
    int creations = 0, requestsAfterCreation = 0;
    bool refuseFinish = false;
    bool locked = false; // every HEAD answers 423, as while another request finishes the upload
    std::string location; // "{id}" stands for the upload's number; empty: "/api/v1/uploads/{id}"

    PlainTus()
    {
        http.Post("/api/v1/uploads", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard lock(mutex);
            const std::string id = std::to_string(++creations);
            lengths[id] = std::stoul(req.get_header_value("Upload-Length"));
            data[id];
            std::string where = location.empty() ? "/api/v1/uploads/{id}" : location;
            where.replace(where.find("{id}"), 4, id);
            res.status = 201;
            res.set_header("Location", where);
            res.set_header("Tus-Resumable", "1.0.0");
        });
        http.Patch(R"(/api/v1/uploads/(\d+))", [this](const httplib::Request &req, httplib::Response &res,
                                                      const httplib::ContentReader &reader) {
            std::string got;
            reader([&](const char *p, size_t n) { got.append(p, n); return true; });
            std::lock_guard lock(mutex);
            ++requestsAfterCreation;
            std::string &bytes = data[req.matches[1]];
            bytes += got;
            const bool finished = bytes.size() == lengths[req.matches[1]];
            res.status = finished && refuseFinish ? 500 : 204;
            res.set_header("Upload-Offset", std::to_string(bytes.size()));
            res.set_header("Tus-Resumable", "1.0.0");
        });
        http.Get(R"(/api/v1/uploads/(\d+))", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard lock(mutex);
            ++requestsAfterCreation;
            const size_t length = lengths[req.matches[1]];
            res.status = locked ? 423 : length == 0 ? 410 : 200;
            res.set_header("Upload-Offset", std::to_string(data[req.matches[1]].size()));
            res.set_header("Upload-Length", std::to_string(length));
            res.set_header("Tus-Resumable", "1.0.0");
        });
        port_ = http.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { http.listen_after_bind(); });
    }
    ~PlainTus()
    {
        while (!http.is_running())
            std::this_thread::yield();
        http.stop();
        thread_.join();
    }
    int port() const { return port_; }
    ServiceAddress address(const QString &dataFolder) const
    {
        ServiceAddress a;
        a.host = QStringLiteral("127.0.0.1");
        a.port = port_;
        a.dataFolder = dataFolder;
        a.connectTimeoutSeconds = 5;
        a.replyTimeoutSeconds = 10;
        return a;
    }

private:
    httplib::Server http;
    std::thread thread_;
    int port_ = 0;
};

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
    QTemporaryDir config_;

    QString photo(const QString &name, const QByteArray &bytes)
    {
        writeFile(photos_.filePath(name), bytes);
        return photos_.filePath(name);
    }

private slots:
    void initTestCase()
    {
        // Before anything reads the user's settings: the program's own store, in this test.
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    }

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

        int status = 0;
        QString reason;
        QCOMPARE(Failure([&] { CQLMAPI(server.address()).getAlbums(AlbumServer::kEmail, "no"); }, &status, &reason),
                 QString("Invalid e-mail address or password"));
        QCOMPARE(status, 401);
        QCOMPARE(reason, QString("Invalid e-mail address or password"));

        // An HTML page is no reason: the caller gets a text of the client's own.
        AlbumServer html({"--html-errors"});
        const QString failure = Failure([&] { CQLMAPI(html.address()).getAlbums("x@y.z", "no"); }, &status, &reason);
        QVERIFY2(!failure.contains('<') && !failure.isEmpty(), qPrintable(failure));
        QCOMPARE(status, 401);
        QVERIFY(reason.isEmpty());
    }

    void droppedConnectionFailsThenResumes_data()
    {
        QTest::addColumn<bool>("checksum");
        QTest::addColumn<qint64>("resumeAt");
        // A checksummed PATCH that is cut is lost whole; the PATCHes before it were checked.
        QTest::newRow("checksum") << true << qint64(65536);
        QTest::newRow("no checksum") << false << qint64(100000);
    }

    void droppedConnectionFailsThenResumes()
    {
        QFETCH(bool, checksum);
        QFETCH(qint64, resumeAt);
        AlbumServer server({"--drop-at", "100000"});
        ServiceAddress address = server.address();
        address.checksum = checksum ? ServiceAddress::Checksum::Sha256 : ServiceAddress::Checksum::None;
        address.firstPatchBytes = 65536;
        const QByteArray bytes = RandomBytes(300000);
        const QString path = photo("big.jpg", bytes);
        {
            CQLMAPI api(address);
            const QString failure = Failure([&] { Upload(api, "Trip", path, bytes); });
            QVERIFY2(!failure.isEmpty(), "a cut connection must never count as uploaded");
        }
        QVERIFY(!QFileInfo::exists(server.albumFolder("Trip") + "/big.jpg"));

        // A fresh client, as after a restart, goes on from where the service has it.
        CQLMAPI again(address);
        Upload(again, "Trip", path, bytes);
        QCOMPARE(again.resumedAt(), resumeAt);
        QCOMPARE(again.bytesSent(), qint64(bytes.size()) - resumeAt);
        QCOMPARE(again.filedAs(), QString("Trip/big.jpg"));
        QCOMPARE(Read(server.albumFolder("Trip") + "/big.jpg"), bytes);

        // The finished upload is forgotten: the next start is a new photo.
        CQLMAPI third(address);
        third.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "Trip", path);
        QCOMPARE(third.resumedAt(), qint64(0));
    }

    // Only the answer to the last PATCH is lost: the service names the filed photo, which
    // proves it, and the client does not send it again.
    void lostFinalAnswerIsProvedByTheService()
    {
        const QByteArray bytes = RandomBytes(150000);
        AlbumServer server({"--drop-at", QString::number(bytes.size())});
        CQLMAPI api(server.address());
        Upload(api, "Lost", photo("lost.jpg", bytes), bytes);
        QCOMPARE(api.filedAs(), QString("Lost/lost.jpg"));
        QCOMPARE(Read(server.albumFolder("Lost") + "/lost.jpg"), bytes);
        QCOMPARE(QDir(server.albumFolder("Lost")).entryList(QDir::Files).size(), 1);
    }

    // A photo the service cannot file is a failure, and so is every retry until it can;
    // then the retry files it without sending it again.
    void filingFailureThenRetryIsAFailure()
    {
        AlbumServer server;
        QVERIFY(QDir().mkpath(server.dataFolder() + "/" + AlbumServer::kEmail));
        QFile blocker(server.albumFolder("Blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QByteArray bytes = RandomBytes(100000);
        const QString path = photo("f.jpg", bytes);
        for (int attempt = 0; attempt < 2; ++attempt) {
            CQLMAPI api(server.address());
            int status = 0;
            const QString failure = Failure([&] { Upload(api, "Blocked", path, bytes); }, &status);
            QVERIFY2(!failure.isEmpty(), "a photo that is in no album is no success");
            if (attempt == 0) // a retry learns it from a HEAD, which has no room for a reason
                QCOMPARE(failure, QString("The service cannot create the album."));
            QCOMPARE(status, 500);
        }
        QVERIFY(QFile::remove(blocker.fileName()));
        CQLMAPI api(server.address());
        Upload(api, "Blocked", path, bytes);
        QCOMPARE(api.bytesSent(), qint64(0));
        QCOMPARE(api.filedAs(), QString("Blocked/f.jpg"));
        QCOMPARE(Read(server.albumFolder("Blocked") + "/f.jpg"), bytes);
    }

    // A full disk on the service is a failure with its reason; with room again the photo
    // arrives whole and right.
    void fullDiskOnTheService()
    {
        AlbumServer server({"--fail-writes-after", "100000"});
        const QByteArray bytes = RandomBytes(400000);
        const QString path = photo("full.jpg", bytes);
        CQLMAPI api(server.address());
        int status = 0;
        QCOMPARE(Failure([&] { Upload(api, "Full", path, bytes); }, &status),
                 QString("The service has no room for the photo now."));
        QCOMPARE(status, 507);
        QVERIFY(!QFileInfo::exists(server.albumFolder("Full") + "/full.jpg"));
    }

    // Bytes handed over that are not the file's (the file changed as it was read) are
    // caught by the checksum and never filed.
    void damagedBytesAreRefused()
    {
        AlbumServer server;
        const QByteArray bytes = RandomBytes(100000);
        const QString path = photo("d.jpg", bytes);
        QByteArray other = bytes;
        other[5000] = char(other[5000] ^ 1);
        CQLMAPI api(server.address());
        int status = 0;
        QVERIFY(!Failure([&] { Upload(api, "D", path, other); }, &status).isEmpty());
        QCOMPARE(status, 460);
        QVERIFY(!QFileInfo::exists(server.albumFolder("D") + "/d.jpg"));
    }

    // A photo rewritten while it is being sent: what was handed over is neither the old
    // photo nor the new one, so it is never filed.
    void photoChangedDuringUploadIsNotFiled_data()
    {
        QTest::addColumn<bool>("checksum");
        QTest::newRow("checksum") << true;
        QTest::newRow("no checksum") << false;
    }

    void photoChangedDuringUploadIsNotFiled()
    {
        QFETCH(bool, checksum);
        AlbumServer server;
        ServiceAddress address = server.address();
        address.checksum = checksum ? ServiceAddress::Checksum::Sha1 : ServiceAddress::Checksum::None;
        const QByteArray before = RandomBytes(300000);
        QByteArray after = before;
        for (qsizetype i = 0; i < after.size(); i += 1000)
            after[i] = char(after[i] ^ 0x5A);
        const QString path = photo("changing.jpg", before);
        const QDateTime time = QFileInfo(path).lastModified();
        CQLMAPI api(address);
        const QString failure = Failure([&] {
            api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, "C", path);
            api.uploadChunk(before.constData(), CQLMAPI::kMaxBlock);
            photo("changing.jpg", after);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(time.addSecs(2), QFileDevice::FileModificationTime));
            f.close();
            for (qsizetype at = CQLMAPI::kMaxBlock; at <= after.size(); at += CQLMAPI::kMaxBlock)
                api.uploadChunk(after.constData() + at, int(std::min<qsizetype>(CQLMAPI::kMaxBlock, after.size() - at)));
            api.endUpload();
        });
        QVERIFY2(!failure.isEmpty(), "a photo that changed as it was sent must not count as uploaded");
        QVERIFY(!QFileInfo::exists(server.albumFolder("C") + "/changing.jpg"));
    }

    // Another file of the same size and time in the same place is a new photo, not the
    // rest of the old upload.
    void replacedFileStartsAfresh()
    {
        AlbumServer server({"--drop-at", "70000"});
        ServiceAddress address = server.address();
        address.checksum = ServiceAddress::Checksum::None;
        const QByteArray first = RandomBytes(100000);
        const QString path = photo("same.jpg", first);
        const QDateTime time = QFileInfo(path).lastModified();
        CQLMAPI api(address);
        QVERIFY(!Failure([&] { Upload(api, "S", path, first); }).isEmpty());

        QByteArray second = first;
        second[10] = char(second[10] ^ 0x55);
        photo("same.jpg", second);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(time, QFileDevice::FileModificationTime));
        f.close();
        CQLMAPI again(address);
        QVERIFY(!Failure([&] { Upload(again, "S", path, second); }).isEmpty()); // a new upload, cut in turn
        QCOMPARE(again.resumedAt(), qint64(0));
        CQLMAPI third(address);
        Upload(third, "S", path, second);
        QCOMPARE(third.resumedAt(), qint64(70000));
        QCOMPARE(Read(server.albumFolder("S") + "/same.jpg"), second);
    }

    // A plain tus server names no filed photo: a success is a success, a failed finish is a
    // failure, and a retry after it starts afresh instead of trusting a full offset.
    void plainTusServer()
    {
        PlainTus tus;
        const ServiceAddress address = tus.address(photos_.filePath("plain"));
        const QByteArray bytes = RandomBytes(200000);
        const QString path = photo("plain.jpg", bytes);
        CQLMAPI api(address);
        Upload(api, "P", path, bytes);
        QVERIFY(api.filedAs().isEmpty());
        QCOMPARE(QByteArray::fromStdString(tus.data["1"]), bytes);

        const QString empty = photo("empty-plain.jpg", {});
        Upload(api, "P", empty, {}); // complete with its creation; a HEAD would get 410

        tus.refuseFinish = true;
        const QString refused = photo("refused.jpg", bytes);
        QVERIFY(!Failure([&] { Upload(api, "P", refused, bytes); }).isEmpty());
        CQLMAPI again(address);
        QVERIFY(!Failure([&] { Upload(again, "P", refused, bytes); }).isEmpty());
        QCOMPARE(again.resumedAt(), qint64(0));
        QCOMPARE(again.bytesSent(), qint64(bytes.size()));
        QCOMPARE(tus.creations, 4);

        // An upload that is locked is still the service's: another go reports that it is
        // busy, and never starts a second copy of the photo.
        tus.locked = true;
        CQLMAPI busy(address);
        int status = 0;
        QVERIFY(!Failure([&] { Upload(busy, "P", refused, bytes); }, &status).isEmpty());
        QCOMPARE(status, 423);
        QCOMPARE(tus.creations, 4);
    }

    // The password goes only to the service that was asked.
    void foreignLocationIsRefused_data()
    {
        QTest::addColumn<QString>("location");
        QTest::newRow("other host") << "http://127.0.0.2:{port}/api/v1/uploads/{id}";
        QTest::newRow("other port") << "http://127.0.0.1:1/api/v1/uploads/{id}";
        QTest::newRow("other scheme") << "https://127.0.0.1:{port}/api/v1/uploads/{id}";
        QTest::newRow("no host of its own") << "//evil.example/api/v1/uploads/{id}";
    }

    void foreignLocationIsRefused()
    {
        QFETCH(QString, location);
        PlainTus tus;
        tus.location = location.replace("{port}", QString::number(tus.port())).toStdString();
        CQLMAPI api(tus.address(photos_.filePath("foreign")));
        const QByteArray bytes = RandomBytes(1000);
        const QString failure = Failure([&] { Upload(api, "F", photo("f.jpg", bytes), bytes); });
        QVERIFY2(failure.contains("another server"), qPrintable(failure));
        QCOMPARE(tus.requestsAfterCreation, 0);

        // The same address written out in full is the service itself.
        tus.location = "http://127.0.0.1:" + std::to_string(tus.port()) + "/api/v1/uploads/{id}";
        Upload(api, "F", photo("f.jpg", bytes), bytes);
    }

    // The client the program builds from its settings remembers unfinished uploads in the
    // data folder that the settings name, so a restart resumes.
    void programsClientResumesAfterACut()
    {
        AlbumServer server({"--drop-at", "1500000"});
        SettingsStore store;
        QCOMPARE(store.fileName(), config_.filePath("Tessaly/Quillmere.conf"));
        QVERIFY(store.WriteString("Settings", "ExecutablePath", server.clientFolder()));
        QVERIFY(store.WriteString("Settings", "QLMHttpServer", "127.0.0.1"));
        QVERIFY(store.WriteInt("Settings", "QLMHttpPort", server.port()));
        const QByteArray bytes = RandomBytes(3 << 20);
        const QString path = photo("program.jpg", bytes);
        {
            CQLMAPI api;
            QVERIFY(!Failure([&] { Upload(api, "Prog", path, bytes); }).isEmpty());
        }
        CQLMAPI api;
        Upload(api, "Prog", path, bytes);
        QCOMPARE(api.resumedAt(), qint64(1) << 20); // the first checked PATCH stood
        QCOMPARE(Read(server.albumFolder("Prog") + "/program.jpg"), bytes);
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
