// "Upload failed": what it shows, and what each way of answering it gives.
#include "upload/UploadFailedDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(FailureChoice)

class TestUploadFailedDialog : public QObject
{
    Q_OBJECT
private slots:
    void layout()
    {
        UploadFailedDialog dialog("The upload of IMG_0042.JPG failed.", "No space left in the album.");
        QCOMPARE(dialog.windowTitle(), QString("Upload failed"));
        QCOMPARE(dialog.messageLabel()->text(), QString("The upload of IMG_0042.JPG failed.\nNo space left in the album."));
        QCOMPARE(dialog.messageLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(dialog.checkBox()->text(), QString("Don't show this message again"));
        QVERIFY(!dialog.checkBox()->isChecked());
        const QStringList captions{"Try Again", "Continue", "Stop Upload"};
        int i = 0;
        for (FailureChoice c : {FailureChoice::TryAgain, FailureChoice::Continue, FailureChoice::Stop}) {
            QPushButton *b = dialog.button(c);
            QCOMPARE(b->text(), captions[i++]);
            QVERIFY(!b->isDefault());
            QVERIFY(!b->autoDefault());
        }
        const QList<QLabel *> labels = dialog.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(), [](QLabel *l) {
            return !l->pixmap().isNull() && l->accessibleName() == "Upload failed";
        }));
    }

    // Buttons set "don't show again" only when the box is checked; Enter on no button is OK
    // (try again, the box read); Escape and the close box try again and ignore the box.
    void answers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<FailureChoice>("choice");
        QTest::addColumn<bool>("dontShowAgain");
        QTest::newRow("Try Again") << "Try Again" << false << FailureChoice::TryAgain << false;
        QTest::newRow("Continue, box checked") << "Continue" << true << FailureChoice::Continue << true;
        QTest::newRow("Stop Upload") << "Stop Upload" << false << FailureChoice::Stop << false;
        QTest::newRow("Enter, box checked") << "enter" << true << FailureChoice::TryAgain << true;
        QTest::newRow("Enter on a focused Continue") << "enter on Continue" << false << FailureChoice::Continue << false;
        QTest::newRow("Escape, box checked") << "escape" << true << FailureChoice::TryAgain << false;
        QTest::newRow("close box, box checked") << "close" << true << FailureChoice::TryAgain << false;
    }
    void answers()
    {
        QFETCH(QString, how);
        QFETCH(bool, checked);
        QFETCH(FailureChoice, choice);
        QFETCH(bool, dontShowAgain);
        UploadFailedDialog dialog("The upload of a.jpg failed.");
        QTimer::singleShot(0, &dialog, [&] {
            dialog.checkBox()->setChecked(checked);
            if (how == "enter") {
                dialog.checkBox()->setFocus();
                QTest::keyClick(&dialog, Qt::Key_Return);
            } else if (how == "enter on Continue") {
                dialog.button(FailureChoice::Continue)->setFocus();
                QTest::keyClick(&dialog, Qt::Key_Return);
            } else if (how == "escape") {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            } else if (how == "close") {
                dialog.close();
            } else {
                for (QPushButton *b : dialog.findChildren<QPushButton *>())
                    if (b->text() == how)
                        b->click();
            }
        });
        const std::optional<FailureAnswer> answer = dialog.Ask();
        QVERIFY(answer);
        QCOMPARE(answer->choice, choice);
        QCOMPARE(answer->dontShowAgain, dontShowAgain);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestUploadFailedDialog)
#include "tst_uploadfaileddialog.moc"
