// The upload run against the reference album service and its failure switches: what the
// user is told and asked, what arrives, and what is recorded.
#include "upload/QLMAPI.h"
#include "upload/UploadRecord.h"
#include "upload/UploadWorker.h"

#include "support/RecordingFrontEnd.h"
#include "support/AlbumServer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The service's own client, counting the bytes it put on the wire, and calling `afterBlock`
// after each block handed over.
struct WireCount {
    qint64 bytes = 0;
    QList<qint64> perAttempt;
    std::function<void(int block)> afterBlock;
};

class CountingUploader : public AlbumUploader
{
public:
    CountingUploader(const ServiceAddress &address, WireCount &count) : api_(address), count_(count) {}
    ~CountingUploader() override
    {
        count_.bytes += api_.bytesSent();
        count_.perAttempt << api_.bytesSent();
    }
    void startUpload(const QString &email, const QString &password, const QString &album, const QString &path) override
    {
        api_.startUpload(email, password, album, path);
    }
    void uploadChunk(const char *data, int size) override
    {
        api_.uploadChunk(data, size);
        if (count_.afterBlock)
            count_.afterBlock(blocks_++);
    }
    void endUpload() override { api_.endUpload(); }

private:
    CQLMAPI api_;
    WireCount &count_;
    int blocks_ = 0;
};

struct Fixture {
    AlbumServer server;
    QTemporaryDir dir;
    Settings settings;
    RecordingFrontEnd ui;
    WireCount wire;
    std::shared_ptr<UploadCancel> cancel = std::make_shared<UploadCancel>();

    explicit Fixture(const QStringList &switches = {}) : server(switches)
    {
        settings.executablePath = server.clientFolder();
        settings.httpServer = "127.0.0.1";
        settings.httpPort = server.port();
        QDir().mkpath(settings.executablePath);
    }

    QString photo(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        writeFile(path, bytes);
        return path;
    }

    UploadRunResult run(const QStringList &photos, const QString &password = AlbumServer::kPassword)
    {
        UploadJob job;
        job.email = AlbumServer::kEmail;
        job.password = password;
        job.album = "Trip";
        job.selection = photos;
        for (const QString &p : photos)
            job.totalBytes += QFileInfo(p).size();
        UploadRun r(settings, ui, cancel);
        const ServiceAddress address = server.address();
        r.setClientFactory([this, address] { return std::make_unique<CountingUploader>(address, wire); });
        r.setPauseBeforeEnd(std::chrono::milliseconds(0));
        return r.Run(job);
    }

    QStringList album() const
    {
        return QDir(server.albumFolder("Trip")).entryList(QDir::Files, QDir::Name);
    }
    QString recorded(const QString &photo) const { return UploadRecord(settings.executablePath).RecordedDate(photo); }
};

} // namespace

class TestUploadService : public QObject
{
    Q_OBJECT
private slots:
    // The service refuses the second photo once; "Try Again" sends it, and both arrive whole.
    void refusedThenTryAgain()
    {
        Fixture f({"--refuse-every", "2", "--refuse-reason", "The album is being moved. Try later"});
        const QByteArray a = Bytes(100000, 1), b = Bytes(70000, 2);
        const QString pa = f.photo("a.jpg", a), pb = f.photo("b.jpg", b);
        const UploadRunResult r = f.run({pa, pb});
        QVERIFY(r.completed);
        QCOMPARE(f.ui.lines("ask"), QStringList{"ask The upload of b.jpg failed.|The album is being moved."});
        QCOMPARE(f.ui.failures.first().status, 403);
        QCOMPARE(f.album(), (QStringList{"a.jpg", "b.jpg"}));
        QCOMPARE(readFile(f.server.albumFolder("Trip") + "/b.jpg"), b);
        QCOMPARE(f.recorded(pb), FileDateString(pb));
        QCOMPARE(f.ui.log.last(), QString("ended completed"));
    }

    // A refusal that comes as an HTML page shows the generic text; with the notification
    // off the photo is skipped silently and the run ends canceled.
    void htmlErrorPage()
    {
        Fixture f({"--refuse-every", "1", "--html-errors"});
        f.settings.notifyIfUploadFails = 0;
        const QString pa = f.photo("a.jpg", Bytes(1000, 3));
        QVERIFY(!f.run({pa}).completed);
        QVERIFY(f.ui.log.contains("status File upload failed!"));
        QVERIFY(f.ui.lines("ask").isEmpty());
        QCOMPARE(f.ui.lines("left"), QStringList{"left " + pa + "|File upload failed!"});
        QVERIFY(f.album().isEmpty());
        QCOMPARE(f.ui.log.last(), QString("ended canceled"));
    }

    void invalidAccount()
    {
        Fixture f;
        const QString pa = f.photo("a.jpg", Bytes(1000, 4)), pb = f.photo("b.jpg", Bytes(1000, 5));
        f.run({pa, pb}, "wrong");
        QCOMPARE(f.ui.lines("tell"),
                 QStringList{"tell Quillmere Upload Error|Invalid e-mail address or password.\nUpload process canceled."});
        QVERIFY(f.ui.lines("ask").isEmpty());
        QCOMPARE(f.wire.perAttempt.size(), 1);
    }

    // The connection is cut in the middle of the photo; "Try Again" goes on where the service
    // has it instead of sending the whole photo again.
    void droppedConnectionResumes()
    {
        const qint64 size = 3 << 20;
        Fixture f({"--drop-at", QString::number((3 << 20) / 2)});
        const QByteArray bytes = Bytes(size, 6);
        const QString pa = f.photo("big.jpg", bytes);
        QVERIFY(f.run({pa}).completed);
        QCOMPARE(f.ui.lines("ask").size(), 1);
        QCOMPARE(f.wire.perAttempt.size(), 2);
        QVERIFY2(f.wire.perAttempt[1] < size, qPrintable(QString::number(f.wire.perAttempt[1])));
        QVERIFY(f.wire.bytes < 2 * size);
        QCOMPARE(readFile(f.server.albumFolder("Trip") + "/big.jpg"), bytes);
        QVERIFY(!f.recorded(pa).isEmpty());
    }

    // Stop in the middle of a photo: nothing lands in the album, nothing in the record.
    void cancelMidPhoto()
    {
        Fixture f({"--delay", "50"});
        const QString pa = f.photo("a.jpg", Bytes(3 << 20, 7)), pb = f.photo("b.jpg", Bytes(1000, 8));
        f.wire.afterBlock = [&](int block) {
            if (block == 20)
                f.cancel->request();
        };
        const UploadRunResult r = f.run({pa, pb});
        QVERIFY(!r.completed);
        QCOMPARE(r.uploaded, 0);
        QCOMPARE(f.ui.lines("left"), QStringList{"left " + pa + "|Upload canceled."});
        QVERIFY(f.album().isEmpty());
        QVERIFY(f.recorded(pa).isEmpty());
        QVERIFY(f.recorded(pb).isEmpty());
        QCOMPARE(f.ui.log.last(), QString("ended canceled"));
    }

    // The service's disk fills up part way: the photo that did not fit fails with the
    // service's reason, and every photo recorded is in the album byte for byte.
    void recordedMeansWholeInTheAlbum()
    {
        Fixture f({"--fail-writes-after", QString::number(250000)});
        f.settings.notifyIfUploadFails = 0;
        QStringList photos;
        QList<QByteArray> contents;
        for (int i = 0; i < 4; ++i) {
            contents << Bytes(100000, 10 + i);
            photos << f.photo(QStringLiteral("p%1.jpg").arg(i), contents.last());
        }
        const UploadRunResult r = f.run(photos);
        QVERIFY(!r.completed);
        QVERIFY(r.uploaded >= 1 && r.uploaded < 4);
        const QStringList left = f.ui.lines("left");
        QVERIFY(!left.isEmpty());
        QVERIFY2(!left.first().endsWith("|File upload failed!"), qPrintable(left.first()));
        for (int i = 0; i < 4; ++i) {
            const QString inAlbum = f.server.albumFolder("Trip") + QStringLiteral("/p%1.jpg").arg(i);
            const bool recorded = !f.recorded(photos[i]).isEmpty();
            QCOMPARE(recorded, QFileInfo::exists(inAlbum));
            if (recorded)
                QCOMPARE(readFile(inAlbum), contents[i]);
        }
    }

    // No service where the settings say: the connection test says so, nothing is sent.
    void noService()
    {
        Settings settings;
        settings.httpServer = "127.0.0.1";
        settings.httpPort = 1; // nothing listens there
        RecordingFrontEnd ui;
        UploadRun r(settings, ui, std::make_shared<UploadCancel>());
        UploadJob job;
        job.selection = {"/nonexistent.jpg"};
        QVERIFY(!r.Run(job).connected);
        QCOMPARE(ui.lines("tell").size(), 2);
        QCOMPARE(ui.lines("tell").last(), QString("tell Error|HTTP session initiation failure."));
        QVERIFY(ui.lines("began").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUploadService)
#include "tst_uploadservice.moc"
