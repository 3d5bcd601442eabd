#include "upload/UploadRecord.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

namespace {
const QDateTime Uploaded(QDate(2006, 3, 7), QTime(9, 5, 2, 40), Qt::UTC);

void setWritten(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestUploadRecord : public QObject
{
    Q_OBJECT
private slots:
    void dateTextIsUtcInSeventeenDigits()
    {
        QCOMPARE(FileDateString(Uploaded), QString("20060307090502040"));
        // A local time is written as the UTC time it stands for.
        QCOMPARE(FileDateString(Uploaded.toTimeZone(QTimeZone(3600 * 5))), QString("20060307090502040"));
        QCOMPARE(FileDateString(QDateTime(QDate(987, 1, 2), QTime(0, 0, 0, 7), Qt::UTC)), QString("09870102000000007"));
        QVERIFY(FileDateString(QDateTime()).isEmpty());

        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        writeFile(photo, "x");
        setWritten(photo, Uploaded);
        QCOMPARE(FileDateString(photo), QString("20060307090502040"));
        QVERIFY(FileDateString(dir.filePath("gone.jpg")).isEmpty());
    }

    void uploadedMeansRecordedAndNotWrittenSince()
    {
        QTemporaryDir dir;
        UploadRecord record(dir.path());
        const QString photo = dir.filePath("IMG.JPG"), twin = dir.filePath("img.jpg"), tiny = dir.filePath("a.j");
        for (const QString &p : {photo, twin, tiny}) {
            writeFile(p, "x");
            setWritten(p, Uploaded);
        }
        QVERIFY(record.RecordUploadedFile(photo));
        QVERIFY(record.RecordUploadedFile(tiny));
        QCOMPARE(record.RecordedDate(photo), QString("20060307090502040"));
        // Lookup is exact: the other letter case is another photo, never recorded.
        QVERIFY(record.RecordedDate(twin).isEmpty());

        PathDates uploaded;
        record.FindUploadedFiles({photo, twin, tiny, dir.filePath("gone.jpg")}, uploaded);
        QCOMPARE(uploaded, (PathDates{{photo, "20060307090502040"}}));

        // Written again after the upload: no longer counts; an older date still does.
        setWritten(photo, Uploaded.addMSecs(1));
        record.FindUploadedFiles({photo}, uploaded);
        QVERIFY(uploaded.isEmpty());
        setWritten(photo, Uploaded.addDays(-1));
        record.FindUploadedFiles({photo}, uploaded);
        QCOMPARE(uploaded.value(photo), QString("20060307090502040"));

        // A vanished photo has no date to record: the record stays as it was.
        const QByteArray before = contents(record.filePath());
        QVERIFY(!record.RecordUploadedFile(dir.filePath("gone.jpg")));
        QCOMPARE(contents(record.filePath()), before);
    }

    void otherContentIsKeptInItsOrder()
    {
        QTemporaryDir dir;
        UploadRecord record(dir.path());
        const QString a = dir.filePath("a = b.jpg"), c = dir.filePath("c.jpg");
        writeFile(a, "x");
        writeFile(c, "x");
        setWritten(a, Uploaded);
        setWritten(c, Uploaded);
        writeFile(record.filePath(), "; kept\n[Other]\nk=v\n\n[FILES]\n/elsewhere/x.jpg=20010101000000000\n"
                                     "" + c.toUtf8() + "=19990101000000000\n\n[Last]\nz=1\n");
        QVERIFY(record.RecordUploadedFile(c));
        QVERIFY(record.RecordUploadedFile(a));
        QCOMPARE(contents(record.filePath()),
                 "; kept\n[Other]\nk=v\n\n[FILES]\n/elsewhere/x.jpg=20010101000000000\n" + c.toUtf8()
                     + "=20060307090502040\n" + a.toUtf8() + "=20060307090502040\n\n[Last]\nz=1\n");
        // A path holding "=" reads back whole.
        QCOMPARE(record.RecordedDate(a), QString("20060307090502040"));
        QCOMPARE(record.RecordedDate("/elsewhere/x.jpg"), QString("20010101000000000"));
        QVERIFY(record.RecordedDate("k").isEmpty());

        // A path that would not read back as one key is refused, not written.
        const QByteArray before = contents(record.filePath());
        const QString broken = dir.filePath("two\nlines.jpg");
        writeFile(broken, "x");
        QVERIFY(!record.RecordUploadedFile(broken));
        QCOMPARE(contents(record.filePath()), before);
    }

    void anInterruptedWriteLeavesTheOldRecordWhole()
    {
        QTemporaryDir dir;
        UploadRecord record(dir.path());
        const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
        writeFile(a, "x");
        writeFile(b, "x");
        QVERIFY(record.RecordUploadedFile(a));
        const QByteArray before = contents(record.filePath());

        bool reached = false;
        record.setBeforeReplace([&] {
            reached = true;
            return false;
        });
        QVERIFY(!record.RecordUploadedFile(b));
        QVERIFY(reached);
        QCOMPARE(contents(record.filePath()), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"a.jpg", "b.jpg", "upload.inf"}));

        record.setBeforeReplace({});
        QVERIFY(record.RecordUploadedFile(b));
        QVERIFY(!record.RecordedDate(a).isEmpty());
        QVERIFY(!record.RecordedDate(b).isEmpty());
    }

    void anUnreadableLineCostsNoOtherEntry_data()
    {
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<int>("at"); // the line before which it stands; -1: last, with no line end
        QTest::newRow("NUL in a path, first") << "/p/a\0b.jpg=20060307090502040"_qba << 1;
        QTest::newRow("NUL in a date, between") << "/p/x.jpg=2006\0307090502040"_qba << 2;
        QTest::newRow("Latin-1 name, between") << "/p/caf\xe9.jpg=20060307090502040"_qba << 2;
        QTest::newRow("broken UTF-8 date, last") << "/p/y.jpg=2006\xff\xfe"_qba << 3;
        QTest::newRow("cut UTF-8, last without line end") << "/p/\xc3"_qba << -1;
        QTest::newRow("a lone NUL, before the section") << "\0"_qba << 0;
    }
    void anUnreadableLineCostsNoOtherEntry()
    {
        QFETCH(QByteArray, bad);
        QFETCH(int, at);
        QTemporaryDir dir;
        UploadRecord record(dir.path());
        const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg"), c = dir.filePath("c.jpg");
        for (const QString &p : {a, b, c}) {
            writeFile(p, "x");
            setWritten(p, Uploaded);
        }
        QList<QByteArray> lines{"[FILES]", a.toUtf8() + "=20060307090502040", b.toUtf8() + "=20060307090502040"};
        QByteArray text;
        if (at < 0)
            text = lines.join('\n') + '\n' + bad;
        else
            text = (lines.mid(0, at) + QList<QByteArray>{bad} + lines.mid(at)).join('\n') + '\n';
        writeFile(record.filePath(), text);

        PathDates found, known;
        record.FindUploadedFiles({a, b, c}, found);
        QCOMPARE(found.keys(), (QStringList{a, b}));
        QVERIFY(record.CollectUploadCandidates({a, b, c}, false, found, known));
        QCOMPARE(found.keys(), QStringList{c});
        QCOMPARE(known.keys(), (QStringList{a, b}));

        // The next write keeps every entry, and the unreadable line byte for byte.
        QVERIFY(record.RecordUploadedFile(c));
        const QByteArray written = contents(record.filePath());
        QVERIFY(written.contains(bad));
        for (const QString &p : {a, b, c})
            QCOMPARE(record.RecordedDate(p), QString("20060307090502040"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"a.jpg", "b.jpg", "c.jpg", "upload.inf"}));
    }

    void namesAreTheFileSystemsBytes()
    {
        QTemporaryDir dir;
        UploadRecord record(dir.path());
        const QString photo = dir.filePath(QString::fromUtf8("Caf\u00e9 \u00e9t\u00e9 \u65e5.jpg"));
        writeFile(photo, "x");
        QVERIFY(record.RecordUploadedFile(photo));
        QVERIFY(contents(record.filePath()).contains(QFile::encodeName(photo) + '='));
        QCOMPARE(record.RecordedDate(photo), FileDateString(photo));
        PathDates found;
        record.FindUploadedFiles({photo}, found);
        QCOMPARE(found.keys(), QStringList{photo});
    }

    void aRecordThatCannotBeReadIsNeverReplaced()
    {
        QTemporaryDir dir;
        UploadRecord record(dir.path());
        const QString a = dir.filePath("a.jpg");
        writeFile(a, "x");
        // Something that is there but gives no bytes: it reads as empty, and is not written over.
        QVERIFY(QDir(dir.path()).mkdir("upload.inf"));
        PathDates found, known;
        QVERIFY(record.CollectUploadCandidates({a}, false, found, known));
        QCOMPARE(found.keys(), QStringList{a});
        QVERIFY(!record.RecordUploadedFile(a));
        QVERIFY(QFileInfo(record.filePath()).isDir());
    }

    void candidatesAreTheNewAndTheChanged()
    {
        QTemporaryDir dir;
        UploadRecord record(dir.path());
        const QString folder = dir.filePath("card");
        const QString sent = folder + "/sent.jpg", changed = folder + "/changed.jpg", fresh = folder + "/fresh.jpg";
        const QString nested = folder + "/sub/deep.jpg", single = dir.filePath("single.tif");
        for (const QString &p : {sent, changed, fresh, nested, single, folder + "/abc"}) {
            writeFile(p, "x");
            setWritten(p, Uploaded);
        }
        QVERIFY(record.RecordUploadedFile(sent));
        QVERIFY(record.RecordUploadedFile(changed));
        setWritten(changed, Uploaded.addSecs(60));

        PathDates newFiles{{"stale", "1"}}, knownFiles{{"stale", "1"}};
        QVERIFY(record.CollectUploadCandidates({folder, single, dir.filePath("gone.jpg")}, false, newFiles, knownFiles));
        QCOMPARE(newFiles.keys(), (QStringList{changed, fresh, single}));
        QCOMPARE(newFiles.value(changed), QString("20060307090602040"));
        QCOMPARE(knownFiles, (PathDates{{sent, "20060307090502040"}}));

        QVERIFY(record.CollectUploadCandidates({folder + "/"}, true, newFiles, knownFiles));
        QVERIFY(newFiles.contains(nested));

        QVERIFY(!record.CollectUploadCandidates({sent}, false, newFiles, knownFiles));
        QVERIFY(newFiles.isEmpty());
        QCOMPARE(knownFiles.keys(), QStringList{sent});
    }
};

QTEST_GUILESS_MAIN(TestUploadRecord)
#include "tst_uploadrecord.moc"
