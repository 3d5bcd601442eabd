// `quillmere --upload`, run as a script or a timer would run it: no display, the stored
// account, the reference service.
#include "support/AlbumServer.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Run {
    int code = -1;
    QStringList lines; // standard error
};

} // namespace

class TestUploadCommand : public QObject
{
    Q_OBJECT

    struct Home {
        QTemporaryDir dir;

        QProcessEnvironment environment() const
        {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("HOME", dir.path());
            env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
            env.insert("XDG_DATA_HOME", dir.filePath("data"));
            env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
            env.insert("XDG_CONFIG_DIRS", dir.filePath("no-xdg"));
            // No display, and no platform chosen: the upload needs neither.
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.remove("QT_QPA_PLATFORM");
            return env;
        }
        QString dataFolder() const { return dir.filePath("data/Quillmere"); }

        void start(QProcess &p, const QStringList &args) const
        {
            p.setProcessEnvironment(environment());
            p.start(QUILLMERE_PROGRAM, QStringList{"--upload"} + args);
        }
        Run run(const QStringList &args) const
        {
            QProcess p;
            start(p, args);
            Run r;
            if (!p.waitForFinished(60000)) {
                p.kill();
                p.waitForFinished();
                return r;
            }
            r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
            r.lines = QString::fromLocal8Bit(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
            return r;
        }
        bool setUp(const AlbumServer &server, const QString &account = AlbumServer::kEmail + ":" + AlbumServer::kPassword) const
        {
            QProcess p;
            p.setProcessEnvironment(environment());
            QStringList args{"--executable-path", dataFolder(), "--server", "127.0.0.1", "--port",
                             QString::number(server.port())};
            if (!account.isEmpty())
                args << "--account" << account;
            p.start(QUILLMERE_SETUP, args);
            return p.waitForFinished(20000) && p.exitCode() == 0;
        }
        QStringList photos(const QString &folder, int n, qint64 size) const
        {
            QStringList paths;
            QDir().mkpath(dir.filePath(folder));
            for (int i = 1; i <= n; ++i) {
                paths << dir.filePath(folder + QStringLiteral("/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')));
                QFile f(paths.last());
                if (f.open(QIODevice::WriteOnly))
                    f.write(Bytes(size, i));
            }
            return paths;
        }
    };

    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    // Twenty photos of a folder go into the album named after it, a line each; a second run
    // finds nothing new; --all --album sends them again, elsewhere.
    void twentyPhotosThenNothingNew()
    {
        AlbumServer server;
        Home home;
        QVERIFY(home.setUp(server));
        const QStringList photos = home.photos("Holiday", 20, 20000);
        home.photos("Holiday/sub", 1, 100); // a sub-folder's photos stay home

        const Run first = home.run({home.dir.filePath("Holiday")});
        QCOMPARE(first.code, 0);
        QCOMPARE(first.lines.size(), 21);
        QCOMPARE(first.lines.first(), home.dir.filePath("Holiday/IMG_0001.JPG") + ": uploaded");
        QCOMPARE(first.lines.last(), QString("20 uploaded, 0 failed"));
        const QStringList album = QDir(server.albumFolder("Holiday")).entryList(QDir::Files, QDir::Name);
        QCOMPARE(album.size(), 20);
        for (const QString &p : photos)
            QCOMPARE(read(server.albumFolder("Holiday") + "/" + QFileInfo(p).fileName()), read(p));

        const Run second = home.run({home.dir.filePath("Holiday")});
        QCOMPARE(second.code, 0);
        QCOMPARE(second.lines, QStringList{"0 uploaded, 0 failed"});

        const Run again = home.run({"--all", "--album", "Best of", photos[0], photos[1]});
        QCOMPARE(again.code, 0);
        QCOMPARE(again.lines.last(), QString("2 uploaded, 0 failed"));
        QCOMPARE(QDir(server.albumFolder("Best of")).entryList(QDir::Files).size(), 2);
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("account");
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing to upload") << QStringList{} << true << "no photo or folder";
        QTest::newRow("album without a name") << QStringList{"--album"} << true << "--album takes";
        QTest::newRow("unknown option") << QStringList{"--fast", "x.jpg"} << true << "unknown option --fast";
        QTest::newRow("no such photo") << QStringList{"missing.jpg"} << true << "no such file or folder";
        QTest::newRow("not a photo") << QStringList{"notes.txt"} << true << "not a photo";
        QTest::newRow("no stored account") << QStringList{"Holiday"} << false << "no account is stored";
    }
    void badUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, account);
        QFETCH(QString, says);
        AlbumServer server;
        Home home;
        QVERIFY(home.setUp(server, account ? AlbumServer::kEmail + ":" + AlbumServer::kPassword : QString()));
        home.photos("Holiday", 1, 100);
        QFile(home.dir.filePath("notes.txt")).open(QIODevice::WriteOnly);
        for (QString &a : args)
            if (!a.startsWith('-'))
                a = home.dir.filePath(a);
        const Run r = home.run(args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.lines.join('\n').contains(says), qPrintable(r.lines.join('\n')));
        QVERIFY(QDir(server.dataFolder() + "/" + AlbumServer::kEmail).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }

    // A photo the service refuses: its line names the reason, and the run ends with 1.
    void refusedPhotoFails()
    {
        AlbumServer server({"--refuse-every", "2", "--refuse-reason", "No space left in the album."});
        Home home;
        QVERIFY(home.setUp(server));
        const QStringList photos = home.photos("Trip", 2, 1000);
        const Run r = home.run({photos[0], photos[1]});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.lines, (QStringList{photos[0] + ": uploaded", photos[1] + ": failed: No space left in the album.",
                                       "1 uploaded, 1 failed"}));
        // The next run offers only the photo that failed.
        const Run next = home.run({photos[0], photos[1]});
        QCOMPARE(next.lines.last(), QString("1 uploaded, 0 failed"));
    }

    // A connection cut in the middle of a photo is tried again and resumed, also when the
    // window's failure prompt was switched off: that setting is about asking, and here
    // nobody is asked.
    void cutConnectionResumesWithThePromptOff()
    {
        const qint64 size = 2 << 20;
        AlbumServer server({"--drop-at", QString::number(size / 2)});
        Home home;
        QVERIFY(home.setUp(server));
        {
            QSettings stored(home.dir.filePath("config/Tessaly/Quillmere.conf"), QSettings::IniFormat);
            stored.setValue("Settings/NotifyIfUploadFails", 0);
        }
        const QStringList photos = home.photos("Trip", 1, size);
        const Run r = home.run({photos[0]});
        QCOMPARE(r.lines, (QStringList{photos[0] + ": uploaded", "1 uploaded, 0 failed"}));
        QCOMPARE(r.code, 0);
        QCOMPARE(read(server.albumFolder("Trip") + "/IMG_0001.JPG"), read(photos[0]));
    }

    // With resizing on, a damaged photo still decodes in part and its copy goes: standard
    // error holds the photo's line and the summary, and nothing the image library says.
    void damagedPhotoResizedKeepsStandardErrorClean()
    {
        AlbumServer server;
        Home home;
        QVERIFY(home.setUp(server));
        {
            QSettings stored(home.dir.filePath("config/Tessaly/Quillmere.conf"), QSettings::IniFormat);
            stored.setValue("Settings/AutomaticResize", 1);
            stored.setValue("Settings/MaxPixelSize", 40);
        }
        const QString photo = home.dir.filePath("Trip/cut.jpg");
        QDir().mkpath(home.dir.filePath("Trip"));
        QImage picture(320, 240, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "JPEG"));
        QFile file(photo);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(jpeg.left(jpeg.size() / 2)) > 0);
        file.close();
        const Run r = home.run({photo});
        QCOMPARE(r.lines, (QStringList{photo + ": uploaded", "1 uploaded, 0 failed"}));
        QCOMPARE(r.code, 0);
        QVERIFY(read(server.albumFolder("Trip") + "/cut.jpg").startsWith("\xff\xd8"));
        QVERIFY(read(server.albumFolder("Trip") + "/cut.jpg") != read(photo));
    }

    // No service answers: the two messages, then a line for each photo, and the run fails.
    void noServiceFailsEveryPhoto()
    {
        AlbumServer server;
        Home home;
        QVERIFY(home.setUp(server));
        {
            QSettings stored(home.dir.filePath("config/Tessaly/Quillmere.conf"), QSettings::IniFormat);
            stored.setValue("Settings/QLMHttpPort", 1); // nothing listens there
        }
        const QStringList photos = home.photos("Trip", 2, 1000);
        const Run r = home.run({photos[0], photos[1]});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.lines.size(), 5);
        QCOMPARE(r.lines.mid(1), (QStringList{"quillmere: HTTP session initiation failure.",
                                              photos[0] + ": failed: HTTP session initiation failure.",
                                              photos[1] + ": failed: HTTP session initiation failure.",
                                              "0 uploaded, 2 failed"}));
    }

    // Killed in the middle of a photo (SIGKILL: nothing cleaned up), the next run goes on
    // where the service has it, and the album ends byte-identical.
    void killedRunResumes()
    {
        AlbumServer server({"--delay", "300"});
        Home home;
        QVERIFY(home.setUp(server));
        const QStringList photos = home.photos("Trip", 1, 6 << 20);
        QProcess p;
        home.start(p, {photos[0]});
        const QString uploads = server.dataFolder() + "/.uploads";
        auto received = [&] {
            qint64 n = 0;
            for (QDirIterator it(uploads, {"*.part"}, QDir::Files); it.hasNext();)
                n = std::max(n, QFileInfo(it.next()).size());
            return n;
        };
        QVERIFY(QTest::qWaitFor([&] { return received() > (3 << 20) / 2; }, 30000));
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(read(home.dataFolder() + "/uploads-in-progress.ini").contains("uploads/"));

        const Run r = home.run({photos[0]});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.lines.last(), QString("1 uploaded, 0 failed"));
        QCOMPARE(read(server.albumFolder("Trip") + "/IMG_0001.JPG"), read(photos[0]));
        // The upload that was cut off was finished, not begun again beside it.
        QVERIFY(QDir(uploads).entryList({"*.part"}, QDir::Files).isEmpty());
        QVERIFY(!read(home.dataFolder() + "/uploads-in-progress.ini").contains("uploads/"));
    }

    // SIGINT stops after the current block: nothing unconfirmed is recorded, the next run
    // sends the rest.
    void interruptStopsAfterTheBlock()
    {
        AlbumServer server({"--delay", "200"});
        Home home;
        QVERIFY(home.setUp(server));
        const QStringList photos = home.photos("Trip", 2, 3 << 20);
        QProcess p;
        home.start(p, {photos[0], photos[1]});
        QVERIFY(QTest::qWaitFor([&] { return !QDir(server.dataFolder() + "/.uploads").entryList({"*.part"}).isEmpty(); }, 30000));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QStringList lines = QString::fromLocal8Bit(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        // The photo whose turn never came has its line too.
        QCOMPARE(lines, (QStringList{photos[0] + ": failed: Upload canceled.", photos[1] + ": failed: Upload canceled.",
                                     "0 uploaded, 2 failed"}));
        QVERIFY(!QFile::exists(server.albumFolder("Trip") + "/IMG_0001.JPG"));

        const Run rest = home.run({photos[0], photos[1]});
        QCOMPARE(rest.lines.last(), QString("2 uploaded, 0 failed"));
        for (const QString &photo : photos)
            QCOMPARE(read(server.albumFolder("Trip") + "/" + QFileInfo(photo).fileName()), read(photo));
    }
};

QTEST_GUILESS_MAIN(TestUploadCommand)
#include "tst_uploadcommand.moc"
