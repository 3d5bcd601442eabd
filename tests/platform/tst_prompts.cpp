#include "platform/DialogColours.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

class TestPrompts : public QObject
{
    Q_OBJECT
private slots:
    void handlerSeesTheWholePromptAndAnswers()
    {
        QList<Prompt> seen;
        Prompts prompts([&](const Prompt &p) {
            seen << p;
            return PromptAnswer::Retry;
        });
        Prompt p;
        p.text = "Line one\nLine two";
        p.caption = "Quillmere Upload Error";
        p.icon = PromptIcon::Warning;
        p.buttons = PromptButtons::AbortRetryIgnore;
        p.defaultAnswer = PromptAnswer::Ignore;
        QCOMPARE(prompts.ask(p), PromptAnswer::Retry);
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].text, p.text);
        QCOMPARE(seen[0].caption, p.caption);
        QCOMPARE(seen[0].icon, PromptIcon::Warning);
        QCOMPARE(seen[0].buttons, PromptButtons::AbortRetryIgnore);
        QCOMPARE(seen[0].defaultAnswer, PromptAnswer::Ignore);
    }

    void headlessLinesAreAnsweredWithTheDefault_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("defaultAnswer");
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << int(PromptButtons::Ok) << int(PromptAnswer::None) << int(PromptAnswer::Ok);
        QTest::newRow("first of yes/no") << int(PromptButtons::YesNo) << int(PromptAnswer::None) << int(PromptAnswer::Yes);
        QTest::newRow("chosen default") << int(PromptButtons::AbortRetryIgnore) << int(PromptAnswer::Ignore)
                                        << int(PromptAnswer::Ignore);
    }
    void headlessLinesAreAnsweredWithTheDefault()
    {
        QFETCH(int, buttons);
        QFETCH(int, defaultAnswer);
        QFETCH(int, answer);
        QStringList lines;
        Prompts prompts(Prompts::lineHandler([&](const QString &line) { lines << line; }));
        Prompt p;
        p.text = "Missing Quillmere settings in the registry.\nPlease reinstall Quillmere.";
        p.caption = "Quillmere";
        p.buttons = PromptButtons(buttons);
        p.defaultAnswer = PromptAnswer(defaultAnswer);
        QCOMPARE(int(prompts.ask(p)), answer);
        QCOMPARE(lines, QStringList{"PROMPT Quillmere: Missing Quillmere settings in the registry.\\nPlease reinstall Quillmere."});
    }

    void workerQuestionIsAskedOnTheUiThread()
    {
        QThread *asked = nullptr;
        Prompts prompts([&](const Prompt &) {
            asked = QThread::currentThread();
            return PromptAnswer::No;
        });
        auto worker = QtConcurrent::run([&] {
            Prompt p;
            p.buttons = PromptButtons::YesNo;
            return prompts.ask(p);
        });
        while (!worker.isFinished())
            QTest::qWait(5);
        QCOMPARE(worker.result(), PromptAnswer::No);
        QCOMPARE(asked, qApp->thread());
    }

    void realBoxShowsTextButtonsAndDialogColours()
    {
        Prompt p;
        p.text = "Missing Quillmere settings in the registry.\nPlease reinstall Quillmere.";
        p.caption = "Quillmere";
        p.icon = PromptIcon::Error;
        p.buttons = PromptButtons::YesNo;
        p.defaultAnswer = PromptAnswer::No;

        QString text, title;
        QStringList buttons;
        QColor background, foreground;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString defaultText;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            for (QAbstractButton *b : box->buttons())
                buttons << b->text().remove('&');
            defaultText = box->defaultButton()->text().remove('&');
            background = box->palette().color(QPalette::Window);
            foreground = box->palette().color(QPalette::WindowText);
            box->button(QMessageBox::Yes)->click();
        });
        QCOMPARE(Prompts::showMessageBox(p), PromptAnswer::Yes);
        QCOMPARE(text, p.text);
        QCOMPARE(title, p.caption);
        QCOMPARE(icon, QMessageBox::Critical);
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"No", "Yes"}));
        QCOMPARE(defaultText, QString("No"));
        QCOMPARE(background, QColor(Qt::black));
        QCOMPARE(foreground, QColor(Qt::white));
    }

    // A short text under a long caption: the box is wide enough for the caption.
    void theBoxMakesRoomForItsCaption()
    {
        Prompt p;
        p.text = "Flash used    : No";
        p.caption = "Extended Image Info";
        int width = 0, captionWidth = 0;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            width = box->width();
            captionWidth = box->fontMetrics().horizontalAdvance(p.caption);
            box->button(QMessageBox::Ok)->click();
        });
        QCOMPARE(Prompts::showMessageBox(p), PromptAnswer::Ok);
        QVERIFY2(width >= captionWidth + 120, qPrintable(QString("%1 < %2 + 120").arg(width).arg(captionWidth)));
    }

    void programWideColoursReachEveryDialog()
    {
        ApplyDialogColours();
        QDialog dialog;
        dialog.ensurePolished();
        QCOMPARE(dialog.palette().color(QPalette::Window), QColor(Qt::black));
        QCOMPARE(dialog.palette().color(QPalette::WindowText), QColor(Qt::white));
    }
};

QTEST_MAIN(TestPrompts)
#include "tst_prompts.moc"
