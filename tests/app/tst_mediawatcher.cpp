#include "app/MediaWatcher.h"
#include "app/RunFlags.h"
#include "platform/Settings.h"
#include "upload/UploadRecord.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

namespace {

// A watcher over media of the test's own, its upload dialog replaced by a log.
struct Watch {
    QTemporaryDir dir;
    Settings settings;
    RunFlags flags;
    QStringList drives;
    QSemaphore *mediaAnswer = nullptr; // when set, the walk waits for a release
    bool minimized = true;
    bool dialogOpen = false;
    QList<PathDates> uploads;
    bool runningDuringUpload = false;
    bool timerDuringUpload = true;
    std::unique_ptr<MediaWatcher> watcher;

    explicit Watch(bool useSystemScan = false)
    {
        settings.executablePath = dir.filePath("data");
        settings.automaticUpload = 1;
        QDir().mkpath(settings.executablePath);
        MediaWatchContext c;
        c.settings = &settings;
        c.flags = &flags;
        if (!useSystemScan)
            c.removableDrives = [this] {
                if (mediaAnswer)
                    mediaAnswer->acquire();
                return drives;
            };
        c.frameMinimized = [this] { return minimized; };
        c.uploadDialogOpen = [this] { return dialogOpen; };
        c.runUpload = [this](const PathDates &newFiles, const PathDates &) {
            uploads << newFiles;
            runningDuringUpload = flags.autoUploadRunning;
            timerDuringUpload = watcher->isActive();
        };
        c.period = std::chrono::milliseconds(20);
        watcher = std::make_unique<MediaWatcher>(std::move(c));
    }

    QString card(const QString &name)
    {
        const QString root = dir.filePath(name);
        QDir().mkpath(root);
        drives << root;
        return root;
    }

    // One tick, and the run it starts carried to its end. False when the tick started none.
    bool tick()
    {
        QSignalSpy ended(watcher.get(), &MediaWatcher::runEnded);
        watcher->OnMediaWatchTimer();
        if (!watcher->isRunning())
            return false;
        return ended.wait(10000);
    }
};

} // namespace

class TestMediaWatcher : public QObject
{
    Q_OBJECT
private slots:
    void walkIsDepthFirstInFileManagerOrder()
    {
        QTemporaryDir card;
        const QString root = card.path();
        writeFile(root + "/IMG_10.JPG");
        writeFile(root + "/IMG_2.jpg");
        writeFile(root + "/DCIM/100CAM/b.TIF");
        writeFile(root + "/DCIM/100CAM/a.jpeg");
        writeFile(root + "/DCIM/x.JPE"); // not a photo
        writeFile(root + "/DCIM/notes.txt");
        writeFile(root + "/.hidden/c.tiff");
        writeFile(root + "/zz.jpg");
        QString deep = root + "/deep";
        for (int i = 0; i < 10; ++i)
            deep += "/" + QString::number(i);
        writeFile(deep + "/nested.jpg");
        // A link back up the card would make the walk endless; a link to a photo is a photo.
        QVERIFY(QFile::link(root, root + "/DCIM/loop"));
        QVERIFY(QFile::link(root + "/zz.jpg", root + "/DCIM/link.jpg"));

        QStringList found;
        CollectPhotosUnder(root, found);
        QCOMPARE(found, (QStringList{root + "/.hidden/c.tiff", root + "/DCIM/100CAM/a.jpeg",
                                     root + "/DCIM/100CAM/b.TIF", root + "/DCIM/link.jpg", deep + "/nested.jpg",
                                     root + "/IMG_2.jpg", root + "/IMG_10.JPG", root + "/zz.jpg"}));

        // Media in the order given; one whose folder is gone adds nothing.
        QTemporaryDir other;
        writeFile(other.filePath("a.jpg"));
        QCOMPARE(CollectRemovablePhotos({other.path(), "/no/such/card", card.filePath("DCIM/100CAM")}),
                 (QStringList{other.filePath("a.jpg"), root + "/DCIM/100CAM/a.jpeg", root + "/DCIM/100CAM/b.TIF"}));
    }

    void tickDecision_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<int>("automaticUpload");
        QTest::addColumn<bool>("dialogOpen");
        QTest::addColumn<bool>("runUnderWay");
        QTest::addColumn<bool>("starts");
        QTest::newRow("minimized, option on") << true << 1 << false << false << true;
        QTest::newRow("window shown") << false << 1 << false << false << false;
        QTest::newRow("option off") << true << 0 << false << false << false;
        QTest::newRow("upload dialog open") << true << 1 << true << false << false;
        QTest::newRow("run under way") << true << 1 << false << true << false;
    }
    void tickDecision()
    {
        QFETCH(bool, minimized);
        QFETCH(int, automaticUpload);
        QFETCH(bool, dialogOpen);
        QFETCH(bool, runUnderWay);
        QFETCH(bool, starts);
        QCOMPARE(ShouldStartMediaRun({minimized, automaticUpload, dialogOpen, runUnderWay}), starts);

        Watch w;
        writeFile(w.card("card") + "/a.jpg");
        w.minimized = minimized;
        w.settings.automaticUpload = automaticUpload;
        w.dialogOpen = dialogOpen;
        w.watcher->Start();
        if (runUnderWay) {
            // A tick that comes while the media are still being walked starts no second walk.
            QSemaphore answer;
            w.mediaAnswer = &answer;
            QSignalSpy ended(w.watcher.get(), &MediaWatcher::runEnded);
            w.watcher->OnMediaWatchTimer();
            QVERIFY(w.watcher->isRunning());
            w.watcher->OnMediaWatchTimer();
            answer.release();
            QVERIFY(ended.wait(10000));
            QCOMPARE(w.uploads.size(), 1);
            QVERIFY(!w.watcher->isRunning());
            QVERIFY(w.watcher->isActive());
            return;
        }
        QCOMPARE(w.tick(), starts);
        QCOMPARE(w.uploads.size(), starts ? 1 : 0);
        // A tick that starts nothing leaves the timer running: switching the option on takes
        // effect at the next one.
        QVERIFY(w.watcher->isActive());
        QVERIFY(!w.flags.autoUploadRunning);
    }

    void newPhotosAreUploadedOnceAndChangedOnesAgain()
    {
        Watch w;
        const QString a = w.card("cardA") + "/DCIM/100A/a.jpg";
        const QString b = w.card("cardB") + "/DCIM/200B/b.JPG";
        writeFile(a);
        writeFile(b);
        w.watcher->Start();
        QVERIFY(w.tick());
        QCOMPARE(w.uploads.size(), 1);
        QCOMPARE(w.uploads[0].keys(), (QStringList{a, b}));
        // During the run: the flag is up and the timer stopped; after it, the other way round.
        QVERIFY(w.runningDuringUpload);
        QVERIFY(!w.timerDuringUpload);
        QVERIFY(!w.flags.autoUploadRunning);
        QVERIFY(w.flags.removablePhotos.isEmpty());
        QVERIFY(w.watcher->isActive());

        // What the upload worker does for each photo sent.
        UploadRecord record(w.settings.executablePath);
        QVERIFY(record.RecordUploadedFile(a));
        QVERIFY(record.RecordUploadedFile(b));
        QSignalSpy ended(w.watcher.get(), &MediaWatcher::runEnded);
        QVERIFY(w.tick());
        QCOMPARE(ended.at(0).at(0).toBool(), false);
        QCOMPARE(w.uploads.size(), 1);
        QVERIFY(!w.flags.autoUploadRunning);
        QCOMPARE(w.flags.removablePhotos, (QStringList{a, b}));
        QVERIFY(w.watcher->isActive());

        // Written again after its upload: newer than its entry.
        setModified(b, QFileInfo(b).lastModified().toSecsSinceEpoch() + 5);
        QVERIFY(w.tick());
        QCOMPARE(w.uploads.size(), 2);
        QCOMPARE(w.uploads[1].keys(), QStringList{b});
    }

    void aSixthMediumIsNeverLookedAt()
    {
        Watch w(true);
        QStringList roots;
        for (int i = 1; i <= 6; ++i) {
            const QString root = w.dir.filePath(QString("media/card%1").arg(i));
            writeFile(root + "/p.jpg");
            roots << root;
        }
        qputenv("QUILLMERE_REMOVABLE_ROOTS", roots.join(':').toLocal8Bit());
        const bool ticked = w.tick();
        qunsetenv("QUILLMERE_REMOVABLE_ROOTS");
        QVERIFY(ticked);
        QCOMPARE(w.uploads.size(), 1);
        QCOMPARE(w.uploads[0].size(), 5);
        QVERIFY(!w.uploads[0].contains(roots[5] + "/p.jpg"));
    }

    void restoringTheWindowAbandonsTheWalk()
    {
        Watch w;
        writeFile(w.card("card") + "/a.jpg");
        QSemaphore answer;
        w.mediaAnswer = &answer;
        w.watcher->Start();
        QSignalSpy ended(w.watcher.get(), &MediaWatcher::runEnded);
        w.watcher->OnMediaWatchTimer();
        QVERIFY(w.watcher->isRunning());
        QVERIFY(w.flags.autoUploadRunning);
        QVERIFY(!w.watcher->isActive());
        // Restored: the timer stops, and the walk's answer, when it comes, starts nothing.
        w.minimized = false;
        w.watcher->Stop();
        QVERIFY(!w.watcher->isRunning());
        QVERIFY(!w.flags.autoUploadRunning);
        QVERIFY(!w.watcher->isActive());
        answer.release();
        QCOMPARE(ended.size(), 1);
        QTest::qWait(0);
        QVERIFY(!ended.wait(200));
        QVERIFY(w.uploads.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMediaWatcher)
#include "tst_mediawatcher.moc"
