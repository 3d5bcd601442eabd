// The upload run's loop against a scripted client: blocks, percentages, the failure questions
// and their answers, the record, the final statuses, and the reply-text rules.
#include "platform/PhotoFiles.h"
#include "upload/QLMAPI.h"
#include "upload/ResizeForUpload.h"
#include "upload/UploadRecord.h"
#include "upload/UploadWorker.h"

#include "support/RecordingFrontEnd.h"
#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

namespace {

// What the scripted service does to one attempt of a photo (by file name).
struct Fault {
    enum Where { Start, Block, End } where = Start;
    int atBlock = 0;          // for Block: the block (from 0) that fails
    QString message;          // thrown as the client's message
    int status = 403;
    bool foreign = false;     // throw something that is not the client's exception
};

struct Attempt {
    QString album;
    QString path; // the path sent
    QList<int> blocks;
    bool ended = false;
};

struct ScriptedService {
    QHash<QString, QList<Fault>> faults; // by file name, one per attempt, in order
    QList<Attempt> attempts;
    std::function<void(const QString &path, int block)> onBlock;
};

class ScriptedUploader : public AlbumUploader
{
public:
    explicit ScriptedUploader(ScriptedService &s) : s_(s) {}

    void startUpload(const QString &, const QString &, const QString &album, const QString &path) override
    {
        s_.attempts.append({album, path, {}, false});
        QList<Fault> &queue = s_.faults[QFileInfo(path).fileName()];
        if (!queue.isEmpty())
            fault_ = queue.takeFirst();
        raise(Fault::Start, 0);
    }
    void uploadChunk(const char *, int size) override
    {
        Attempt &a = s_.attempts.last();
        raise(Fault::Block, int(a.blocks.size()));
        a.blocks << size;
        if (s_.onBlock)
            s_.onBlock(a.path, int(a.blocks.size()) - 1);
    }
    void endUpload() override
    {
        raise(Fault::End, 0);
        s_.attempts.last().ended = true;
    }

private:
    void raise(Fault::Where where, int block)
    {
        if (!fault_ || fault_->where != where || (where == Fault::Block && fault_->atBlock != block))
            return;
        const Fault f = *std::exchange(fault_, std::nullopt);
        if (f.foreign)
            throw std::runtime_error("disk on fire");
        throw new CQLMException(f.message, f.status, f.message);
    }

    ScriptedService &s_;
    std::optional<Fault> fault_;
};

Fault Refusal(const QString &message, Fault::Where where = Fault::Start, int atBlock = 0, int status = 403)
{
    Fault f;
    f.where = where;
    f.atBlock = atBlock;
    f.message = message;
    f.status = status;
    return f;
}

struct Fixture {
    QTemporaryDir dir;
    Settings settings;
    ScriptedService service;
    RecordingFrontEnd ui;
    std::shared_ptr<UploadCancel> cancel = std::make_shared<UploadCancel>();

    Fixture()
    {
        settings.executablePath = dir.filePath("data");
        QDir().mkpath(settings.executablePath);
    }

    QString photo(const QString &relative, qint64 size)
    {
        const QString path = dir.filePath(relative);
        QByteArray bytes(size, '\0');
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = char(i * 7);
        writeFile(path, bytes);
        return path;
    }

    UploadJob job(const QStringList &photos, const QString &album = "Trip")
    {
        UploadJob j;
        j.email = "ann@example.com";
        j.password = "pw";
        j.album = album;
        j.selection = photos;
        for (const QString &p : photos)
            j.totalBytes += QFileInfo(p).size();
        return j;
    }

    UploadRunResult run(const UploadJob &j)
    {
        UploadRun r(settings, ui, cancel);
        r.setClientFactory([this] { return std::make_unique<ScriptedUploader>(service); });
        r.setConnectionTest([] { return QString(); });
        r.setPauseBeforeEnd(std::chrono::milliseconds(0));
        return r.Run(j);
    }

    UploadRecord record() const { return UploadRecord(settings.executablePath); }
};

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(std::optional<FailureAnswer>)

class TestUploadWorker : public QObject
{
    Q_OBJECT
private slots:
    void replyTexts_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << "" << "File upload failed!" << "";
        QTest::newRow("markup") << "<html><body>502</body></html>" << "File upload failed!" << "";
        QTest::newRow("a lone >") << "quota > limit." << "File upload failed!" << "";
        QTest::newRow("first sentences") << "No space left in the album. Delete some photos"
                                         << "No space left in the album." << "No space left in the album.";
        QTest::newRow("trailing junk") << "Album is full.\r\n\t{|}~\x7f" << "Album is full." << "Album is full.";
        QTest::newRow("no dot") << "Invalid e-mail address or password"
                                << "Invalid e-mail address or password" << "Invalid e-mail address or password";
        QTest::newRow("path loses its extension") << "Cannot open file /photos/IMG_0042.JPG"
                                                  << "Cannot open file /photos/IMG_0042." << "Cannot open file /photos/IMG_0042.";
        QTest::newRow("only junk") << " \n~~ " << "File upload failed!" << "";
        QTest::newRow("a letter beyond ASCII stays") << QString::fromUtf8("Album plein, réessayez é")
                                                     << QString::fromUtf8("Album plein, réessayez é")
                                                     << QString::fromUtf8("Album plein, réessayez é");
        QTest::newRow("replacement and no-break space go") << QString::fromUtf8("Refused.\u00a0\ufffd\ufffd")
                                                           << "Refused." << "Refused.";
    }
    void replyTexts()
    {
        QFETCH(QString, reply);
        QFETCH(QString, status);
        QFETCH(QString, reason);
        QString got;
        QCOMPARE(FailedPhotoStatus(reply, &got), status);
        QCOMPARE(got, reason);
    }

    void trimmingStopsAfterHundredRuns()
    {
        QString text = "Full.";
        for (int i = 0; i < 120; ++i)
            text += (i % 2 ? u' ' : u'~');
        QCOMPARE(TrimReplyText(text), QString("Full.") + QString("~ ").repeated(10));
    }

    void arithmetic_data()
    {
        QTest::addColumn<double>("part");
        QTest::addColumn<double>("whole");
        QTest::addColumn<int>("percent");
        QTest::newRow("a third") << 1.0 << 3.0 << 33;
        QTest::newRow("all") << 7.0 << 7.0 << 100;
        QTest::newRow("a file that grew") << 9.0 << 7.0 << 100;
        QTest::newRow("an empty file") << 0.0 << 0.0 << 100;
        QTest::newRow("an empty total") << 65536.0 << 0.0 << 100;
        QTest::newRow("a hair below one") << 99.0 << 10000.0 << 0;
    }
    void arithmetic()
    {
        QFETCH(double, part);
        QFETCH(double, whole);
        QFETCH(int, percent);
        QCOMPARE(UploadPercent(part, whole), percent);
    }

    void folderAlbums_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("album");
        QTest::newRow("card folder") << "/media/card/DCIM/100CANON/IMG_1.JPG" << "100CANON";
        QTest::newRow("top folder") << "/Trip/a.jpg" << "Trip";
        QTest::newRow("root") << "/a.jpg" << "";
    }
    void folderAlbums()
    {
        QFETCH(QString, path);
        QFETCH(QString, album);
        QCOMPARE(FolderAlbumName(path), album);
    }

    void copySizes_data()
    {
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<int>("max");
        QTest::addColumn<QSize>("copy");
        QTest::newRow("4000x3000 at 300") << QSize(4000, 3000) << 300 << QSize(300, 225);
        QTest::newRow("portrait 1200x1600 at 800") << QSize(1200, 1600) << 800 << QSize(600, 800);
        QTest::newRow("smaller: unchanged") << QSize(200, 200) << 300 << QSize();
        QTest::newRow("longer side equal: copied") << QSize(300, 200) << 300 << QSize(300, 200);
        QTest::newRow("square at the limit") << QSize(300, 300) << 300 << QSize(300, 300);
        QTest::newRow("thin panorama keeps a pixel") << QSize(10000, 20) << 300 << QSize(300, 1);
        QTest::newRow("no size set") << QSize(4000, 3000) << 0 << QSize();
        QTest::newRow("undecodable") << QSize(0, 0) << 300 << QSize();
    }
    void copySizes()
    {
        QFETCH(QSize, photo);
        QFETCH(int, max);
        QFETCH(QSize, copy);
        QCOMPARE(UploadCopySize(photo, max), copy);
    }

    // Every block but the last holds 65,536 bytes; the last one is shorter, and empty when
    // the photo's size is a whole number of blocks.
    void blocks_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QList<int>>("blocks");
        QTest::newRow("two whole blocks") << qint64(131072) << QList<int>{65536, 65536, 0};
        QTest::newRow("a block and a bit") << qint64(65537) << QList<int>{65536, 1};
        QTest::newRow("empty photo") << qint64(0) << QList<int>{0};
    }
    void blocks()
    {
        QFETCH(qint64, size);
        QFETCH(QList<int>, blocks);
        Fixture f;
        const QString p = f.photo("a.jpg", size);
        const UploadRunResult r = f.run(f.job({p}));
        QVERIFY(r.completed);
        QCOMPARE(f.service.attempts.size(), 1);
        QCOMPARE(f.service.attempts[0].blocks, blocks);
        QVERIFY(f.service.attempts[0].ended);
        QCOMPARE(f.ui.lines("uploaded"), QStringList{"uploaded 1 " + p});
        QCOMPARE(f.ui.log.last(), QString("ended completed"));
    }

    // The total starts above 0 at the first block and rises; each photo's bar reaches 100.
    void progressTexts()
    {
        Fixture f;
        const QString a = f.photo("a.jpg", 10), b = f.photo("b.jpg", 3 * 65536);
        f.run(f.job({a, b}));
        QCOMPARE(f.ui.totals.first(), 1); // 10 of 196,618 bytes is 0 %, shown as 1
        QVERIFY(std::is_sorted(f.ui.totals.cbegin(), f.ui.totals.cend()));
        QCOMPARE(f.ui.totals.last(), 100);
        QVERIFY(f.ui.log.contains("totalStatus Upload process in progress... - 100%"));
        QVERIFY(f.ui.log.contains("status File upload in progress... - 33%"));
        QCOMPARE(f.ui.lines("status File uploaded"), QStringList(2, "status File uploaded successfully"));
        QCOMPARE(f.ui.lines("name"), (QStringList{"name " + CompactPath(a, 36), "name " + CompactPath(b, 36)}));
        QVERIFY(f.ui.lines("name").first().size() <= 5 + 36);
    }

    // A failed photo is asked about; Try Again starts its total progress from where it was
    // before the failed attempt, and the run ends completed.
    void tryAgainResumesTheTotal()
    {
        Fixture f;
        const QString a = f.photo("a.jpg", 2 * 65536), b = f.photo("b.jpg", 3 * 65536);
        f.service.faults["b.jpg"] = {Refusal("Connection cut.", Fault::Block, 2, 0)};
        const UploadRunResult r = f.run(f.job({a, b}));
        QVERIFY(r.completed);
        QCOMPARE(f.ui.lines("ask"), QStringList{"ask The upload of b.jpg failed.|Connection cut."});
        // a: 20 40; b: 60 80, its third block fails; b again from 40: 60 80 100.
        QCOMPARE(f.ui.totals, (QList<int>{20, 40, 60, 80, 60, 80, 100}));
        QCOMPARE(f.service.attempts.size(), 3);
        QCOMPARE(f.ui.log.last(), QString("ended completed"));
        QCOMPARE(f.record().RecordedDate(b), FileDateString(b));
    }

    // What each answer to the prompt does, and how the run ends. b fails once; with
    // `cFails` c fails once too.
    void answers_data()
    {
        QTest::addColumn<QList<std::optional<FailureAnswer>>>("answers");
        QTest::addColumn<int>("notify");
        QTest::addColumn<bool>("cFails");
        QTest::addColumn<QString>("uploaded");
        QTest::addColumn<int>("asked");
        QTest::addColumn<bool>("stoppedNotifying");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<QString>("left");
        using A = QList<std::optional<FailureAnswer>>;
        QTest::newRow("continue past the middle photo")
            << A{Answer(FailureChoice::Continue)} << 1 << false << "a c" << 1 << false << false << "b";
        QTest::newRow("continue past the last photo")
            << A{Answer(FailureChoice::TryAgain), Answer(FailureChoice::Continue)} << 1 << true << "a b" << 2 << false
            << false << "c";
        QTest::newRow("stop") << A{Answer(FailureChoice::Stop)} << 1 << false << "a" << 1 << false << false << "b";
        QTest::newRow("notification off skips silently")
            << A{} << 0 << true << "a" << 0 << false << false << "b c";
        QTest::newRow("don't show again, continue: the next failure goes unasked")
            << A{Answer(FailureChoice::Continue, true)} << 1 << true << "a" << 1 << true << false << "b c";
        QTest::newRow("don't show again, try again")
            << A{Answer(FailureChoice::TryAgain, true)} << 1 << false << "a b c" << 1 << true << true << "";
        QTest::newRow("nobody left to answer")
            << A{std::nullopt} << 1 << false << "a" << 1 << false << false << "b";
    }
    void answers()
    {
        QFETCH(QList<std::optional<FailureAnswer>>, answers);
        QFETCH(int, notify);
        QFETCH(bool, cFails);
        QFETCH(QString, uploaded);
        QFETCH(int, asked);
        QFETCH(bool, stoppedNotifying);
        QFETCH(bool, completed);
        QFETCH(QString, left);
        Fixture f;
        f.settings.notifyIfUploadFails = notify;
        const QString a = f.photo("a.jpg", 100), b = f.photo("b.jpg", 100), c = f.photo("c.jpg", 100);
        f.service.faults["b.jpg"] = {Refusal("Refused.")};
        if (cFails)
            f.service.faults["c.jpg"] = {Refusal("Refused again.")};
        f.ui.answers = answers;
        const UploadRunResult r = f.run(f.job({a, b, c}));
        QStringList sent;
        for (const QString &line : f.ui.lines("uploaded"))
            sent << QFileInfo(line.section(' ', 2)).completeBaseName();
        QCOMPARE(sent.join(' '), uploaded);
        QCOMPARE(f.ui.lines("ask").size(), asked);
        QCOMPARE(f.ui.lines("stopNotifying").size(), stoppedNotifying ? 1 : 0);
        QCOMPARE(f.ui.log.last(), QString(completed ? "ended completed" : "ended canceled"));
        QCOMPARE(r.completed, completed);
        QStringList leftBehind;
        for (const QString &line : f.ui.lines("left"))
            leftBehind << QFileInfo(line.mid(5).section('|', 0, 0)).completeBaseName();
        QCOMPARE(leftBehind.join(' '), left);
        for (const char *name : {"a", "b", "c"})
            QCOMPARE(!f.record().RecordedDate(f.dir.filePath(QString(name) + ".jpg")).isEmpty(), sent.contains(name));
    }

    // An invalid account stops the run at once, with its own message and no question.
    void invalidAccountStops()
    {
        Fixture f;
        const QString a = f.photo("a.jpg", 100), b = f.photo("b.jpg", 100);
        f.service.faults["a.jpg"] = {Refusal("Invalid e-mail address or password", Fault::Start, 0, 401)};
        f.run(f.job({a, b}));
        QCOMPARE(f.ui.lines("tell"),
                 QStringList{"tell Quillmere Upload Error|Invalid e-mail address or password.\nUpload process canceled."});
        QVERIFY(f.ui.lines("ask").isEmpty());
        QCOMPARE(f.service.attempts.size(), 1);
        QCOMPARE(f.ui.lines("left"), QStringList{"left " + a + "|Invalid e-mail address or password"});
        QCOMPARE(f.ui.log.last(), QString("ended canceled"));
    }

    // Only a photo the service confirmed counts: a refusal whose words end in "successfully",
    // or a client that throws something else, is a failure and is never recorded.
    void failuresAreNeverRecorded_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("status");
        QTest::newRow("refusal ending in successfully")
            << Refusal("Photo was not stored successfully", Fault::End) << "Photo was not stored successfully";
        Fault foreign = Refusal("", Fault::Block, 0);
        foreign.foreign = true;
        QTest::newRow("another exception") << foreign << "File upload failed!";
        QTest::newRow("HTML page") << Refusal("<html><title>Error</title></html>", Fault::End)
                                   << "File upload failed!";
    }
    void failuresAreNeverRecorded()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, status);
        Fixture f;
        f.settings.notifyIfUploadFails = 0;
        const QString a = f.photo("a.jpg", 100);
        f.service.faults["a.jpg"] = {fault};
        const UploadRunResult r = f.run(f.job({a}));
        QCOMPARE(r.uploaded, 0);
        QVERIFY(f.ui.log.contains("status " + status));
        QVERIFY(f.record().RecordedDate(a).isEmpty());
        QCOMPARE(f.ui.log.last(), QString("ended canceled"));
    }

    // Stop before a block: that photo's upload is not ended (it stays resumable), nothing is
    // recorded, and the run ends canceled. A Stop between photos ends it too.
    void cancel_data()
    {
        QTest::addColumn<int>("atBlock"); // -1: between the photos
        QTest::newRow("mid-photo") << 1;
        QTest::newRow("between photos") << -1;
    }
    void cancel()
    {
        QFETCH(int, atBlock);
        Fixture f;
        const QString a = f.photo("a.jpg", 3 * 65536), b = f.photo("b.jpg", 100);
        f.service.onBlock = [&](const QString &path, int block) {
            const bool last = block == 3;
            if ((atBlock >= 0 && block == atBlock) || (atBlock < 0 && last && path == a))
                f.cancel->request();
        };
        const UploadRunResult r = f.run(f.job({a, b}));
        if (atBlock >= 0) {
            QCOMPARE(f.service.attempts.size(), 1);
            QVERIFY(!f.service.attempts[0].ended);
            QCOMPARE(f.service.attempts[0].blocks.size(), atBlock + 1);
            QCOMPARE(f.ui.lines("left"), QStringList{"left " + a + "|Upload canceled."});
            QVERIFY(f.record().RecordedDate(a).isEmpty());
        } else {
            QCOMPARE(f.service.attempts.size(), 1);
            QVERIFY(f.service.attempts[0].ended);
            QVERIFY(!f.record().RecordedDate(a).isEmpty());
        }
        QVERIFY(f.record().RecordedDate(b).isEmpty());
        QVERIFY(!r.completed);
        QCOMPARE(f.ui.log.last(), QString("ended canceled"));
    }

    // A photo written again while it was being sent keeps the date it had when it was read:
    // it is offered again.
    void recordKeepsTheDateOfTheSentPhoto()
    {
        Fixture f;
        const QString a = f.photo("a.jpg", 100);
        setModified(a, 1000000000);
        const QString sentDate = FileDateString(a);
        f.service.onBlock = [&](const QString &, int) { setModified(a, 1100000000); };
        f.run(f.job({a}));
        QCOMPARE(f.record().RecordedDate(a), sentDate);
        PathDates fresh, known;
        QVERIFY(f.record().CollectUploadCandidates({a}, false, fresh, known));
    }

    // An automatic upload sends each photo to its folder's album and brings the window
    // forward before it asks.
    void automaticUploadUsesFolderAlbums()
    {
        Fixture f;
        const QString a = f.photo("card/DCIM/100A/a.jpg", 100), b = f.photo("card/DCIM/101B/b.jpg", 100);
        f.service.faults["b.jpg"] = {Refusal("Busy.")};
        UploadJob j = f.job({a, b}, QString());
        j.automatic = true;
        QVERIFY(f.run(j).completed);
        QStringList albums;
        for (const Attempt &at : std::as_const(f.service.attempts))
            albums << at.album;
        QCOMPARE(albums, (QStringList{"100A", "101B", "101B"}));
        const qsizetype front = f.ui.log.indexOf("front");
        QVERIFY2(front >= 0 && front < f.ui.log.indexOf(QRegularExpression("ask .*")), qPrintable(f.ui.log.join('\n')));
    }

    // No session: the library's error and "HTTP session initiation failure.", both captioned
    // "Error"; nothing is sent and the dialog's controls stay as they were.
    void noSession()
    {
        Fixture f;
        const QString a = f.photo("a.jpg", 100);
        UploadRun r(f.settings, f.ui, f.cancel);
        r.setConnectionTest([] { return QString("Could not connect to server"); });
        UploadJob j = f.job({a}, QString());
        j.automatic = true;
        const UploadRunResult result = r.Run(j);
        QVERIFY(!result.connected);
        QCOMPARE(f.ui.log, (QStringList{"front", "tell Error|Could not connect to server",
                                        "tell Error|HTTP session initiation failure."}));
    }

    // Resized copies: sent from a private folder whose path holds "tmp", under the photo's
    // name; the total advances by the photo's whole size; each copy is gone after its attempt,
    // failed or not, and the photo itself is untouched.
    void resizedCopies()
    {
        Fixture f;
        f.settings.automaticResize = 1;
        f.settings.maxPixelSize = 40;
        const QString a = f.dir.filePath("one/IMG.JPG"), b = f.dir.filePath("two/IMG.JPG");
        writeFile(a, jpeg(QSize(400, 300), Qt::red));
        writeFile(b, jpeg(QSize(400, 300), Qt::blue));
        const QByteArray original = readFile(a);
        f.service.faults["IMG.JPG"] = {Refusal("Busy.", Fault::End)};
        QStringList seen;
        f.service.onBlock = [&](const QString &path, int) {
            if (!seen.contains(path))
                seen << path;
            QVERIFY(QFileInfo::exists(path));
        };
        QVERIFY(f.run(f.job({a, b})).completed);
        QCOMPARE(f.service.attempts.size(), 3);
        for (const Attempt &at : std::as_const(f.service.attempts)) {
            QVERIFY(at.path.contains("tmp"));
            QCOMPARE(QFileInfo(at.path).fileName(), QString("IMG.JPG"));
            QVERIFY(!QFileInfo::exists(at.path));
        }
        QCOMPARE(readFile(a), original);
        // Each copy counts as its photo's whole size (up to the truncation of each block).
        QVERIFY(f.ui.totals.last() >= 99);
        QVERIFY(!f.record().RecordedDate(a).isEmpty());
    }

    // Two runs at once never share a temporary copy.
    void concurrentRunsHaveTheirOwnCopies()
    {
        Fixture f;
        f.settings.automaticResize = 1;
        f.settings.maxPixelSize = 40;
        const QString a = f.dir.filePath("IMG.JPG");
        writeFile(a, jpeg(QSize(400, 300), Qt::red));
        QString firstCopy, secondCopy;
        f.service.onBlock = [&](const QString &path, int) {
            if (!firstCopy.isEmpty())
                return;
            firstCopy = path;
            Fixture other;
            other.settings = f.settings;
            other.settings.executablePath = other.dir.filePath("data");
            other.service.onBlock = [&](const QString &p, int) { secondCopy = p; };
            other.run(other.job({a}));
            QVERIFY(QFileInfo::exists(firstCopy));
        };
        f.run(f.job({a}));
        QVERIFY(!secondCopy.isEmpty());
        QVERIFY(firstCopy != secondCopy);
    }
};

QTEST_GUILESS_MAIN(TestUploadWorker)
#include "tst_uploadworker.moc"
