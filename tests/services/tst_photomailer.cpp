#include "services/PhotoMailer.h"

#include "support/RecordingPrompts.h"
#include "support/StandInProgram.h"
#include "support/TestFiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Stands in for xdg-email.
struct StandIn : StandInProgram
{
    explicit StandIn(int exitCode, bool gated = false) : StandInProgram("xdg-email", exitCode, gated) {}
};

} // namespace

class TestPhotoMailer : public QObject
{
    Q_OBJECT

    QByteArray path_;
    QTemporaryDir photos_;
    QStringList three_;

    // Sends the photos with `folder` as the whole search path; true when the hand-over ended.
    bool send(RecordingPrompts &user, const QString &folder, const QStringList &paths, QList<QVariant> *finished = nullptr)
    {
        qputenv("PATH", QFile::encodeName(folder));
        PhotoMailer mailer(user.prompts, nullptr);
        QSignalSpy done(&mailer, &PhotoMailer::finished);
        mailer.SendPhotosByMail(paths);
        const bool ended = done.wait(20000);
        if (ended && finished)
            *finished = done.first();
        return ended;
    }

private slots:
    void initTestCase()
    {
        path_ = qgetenv("PATH");
        // Names a shell or an option parser would take apart: each must reach the mail program whole.
        for (const char *name : {"c beach.jpg", "-a 'x'.jpg", "b \"2024\" $HOME.jpg"}) {
            three_ << photos_.filePath(name);
            writeFile(three_.last(), "photo");
        }
    }
    void cleanup() { qputenv("PATH", path_); }

    void threePhotosMakeOneMessage()
    {
        StandIn standIn(0);
        RecordingPrompts user;
        QList<QVariant> finished;
        QVERIFY(send(user, standIn.folder(), three_, &finished));
        QCOMPARE(QString::fromUtf8(readFile(standIn.log)), "CALL\n--attach\n" + three_[0] + "\n--attach\n" + three_[1] + "\n--attach\n"
                                              + three_[2] + "\n");
        QVERIFY(user.shown.isEmpty());
        QCOMPARE(finished, QList<QVariant>{true});
    }

    void eachExitCodeGivesItsText_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("2: a file not found") << 2 << "The specified attachment was not found. No message was sent.\r\n";
        QTest::newRow("4: the action failed") << 4 << "One or more unspecified errors occurred. No message was sent.\r\n";
        QTest::newRow("5: no permission") << 5 << "The specified attachment could not be opened. No message was sent.\r\n";
        QTest::newRow("1: syntax") << 1 << "Unknown error code.\r\n";
        QTest::newRow("3: a tool missing") << 3 << "Unknown error code.\r\n";
    }
    void eachExitCodeGivesItsText()
    {
        QFETCH(int, exitCode);
        QFETCH(QString, reason);
        StandIn standIn(exitCode);
        RecordingPrompts user;
        QVERIFY(send(user, standIn.folder(), three_));
        QCOMPARE(user.shown.size(), 1);
        QCOMPARE(user.shown[0].text, "Message did not get sent!.\r\n" + reason);
        QCOMPARE(user.shown[0].caption, QString("Error"));
        QCOMPARE(user.shown[0].icon, PromptIcon::Error);
    }

    void noMailProgram()
    {
        QTemporaryDir empty;
        RecordingPrompts user;
        QList<QVariant> finished;
        QVERIFY(send(user, empty.path(), three_, &finished));
        QCOMPARE(user.shown.size(), 1);
        QCOMPARE(user.shown[0].text, QString("Error preparing mail!"));
        QCOMPARE(user.shown[0].caption, QString("Error"));
        QCOMPARE(user.shown[0].icon, PromptIcon::Error);
        QCOMPARE(finished, QList<QVariant>{false});
    }

    void aPhotoGoneSendsNothing()
    {
        StandIn standIn(0);
        RecordingPrompts user;
        QVERIFY(send(user, standIn.folder(), {three_[0], photos_.filePath("gone.jpg")}));
        QVERIFY(!QFileInfo::exists(standIn.log));
        QVERIFY(user.shown.isEmpty());
    }

    void theComposeWindowHoldsNothingUp()
    {
        StandIn standIn(0, true);
        RecordingPrompts user;
        qputenv("PATH", QFile::encodeName(standIn.folder()));
        PhotoMailer mailer(user.prompts, nullptr);
        QSignalSpy done(&mailer, &PhotoMailer::finished);
        mailer.SendPhotosByMail(three_);
        // The mail program is still open: this thread goes on meanwhile.
        QVERIFY(!done.wait(100));
        writeFile(standIn.gate);
        QVERIFY(done.wait(20000));
        QVERIFY(QString::fromUtf8(readFile(standIn.log)).startsWith("CALL\n"));
    }
};

QTEST_MAIN(TestPhotoMailer)
#include "tst_photomailer.moc"
