#include "app/MainFrame.h"
#include "browse/ImageView.h"
#include "browse/ThumbsView.h"
#include "platform/Icons.h"
#include "platform/PhotoFiles.h"
#include "platform/Prompts.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QAccessible>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <sys/stat.h>

namespace {

QStringList PaneTexts(const CMainFrame &frame)
{
    QStringList texts;
    for (int i = 0; i < 6; ++i)
        texts << frame.statusPane(i)->text();
    return texts;
}

} // namespace

class TestMainFrame : public QObject
{
    Q_OBJECT

private slots:
    void menusAndEmptyPanes()
    {
        Prompts prompts;
        CMainFrame frame(prompts);
        QStringList menus;
        for (QAction *a : frame.menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus, QStringList({"&File", "&View", "&Upload", "&Buy Prints", "&Image", "&Page", "&Settings", "&Help"}));
        QCOMPARE(PaneTexts(frame), QStringList({"Page: ", "Folder: ", "Image:", "Original size:", "Zoom:", "Current size:"}));
        QCOMPARE(frame.statusBar()->currentMessage(), QString("Ready"));
        QVERIFY(!frame.action(FrameCommand::SaveAs)->isEnabled());
        QCOMPARE(frame.action(FrameCommand::ZoomIn)->statusTip(), QString("Zoom In"));
        QCOMPARE(frame.toolbar()->actions().size(), int(ToolbarLayout().size()));
        QCOMPARE(frame.windowTitle(), QString("Quillmere"));

        frame.show();
        QVERIFY(frame.action(FrameCommand::Toolbar)->isChecked());
        frame.Execute(FrameCommand::Toolbar);
        frame.UpdateCommandUi();
        QVERIFY(!frame.toolbar()->isVisible());
        QVERIFY(!frame.action(FrameCommand::Toolbar)->isChecked());
    }

    void toolbarButtonsArePicturesNamedByTheirText()
    {
        Prompts prompts;
        CMainFrame frame(prompts);
        frame.show();
        int buttons = 0;
        for (const ToolbarSlot &slot : ToolbarLayout()) {
            if (slot.separator)
                continue;
            ++buttons;
            QAction *action = frame.action(slot.command);
            auto *button = qobject_cast<QToolButton *>(frame.toolbar()->widgetForAction(action));
            QVERIFY(button);
            const QString picture = CommandIconResource(QString::fromLatin1(CommandInfo(slot.command).picture));
            QVERIFY2(QFile::exists(picture), qPrintable(picture));
            QVERIFY(!button->icon().isNull());
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
            QCOMPARE(button->toolTip(), CommandTip(slot.command));
            // A picture alone says nothing to a screen reader: the button is read by its text.
            QVERIFY(!button->text().isEmpty());
            QAccessibleInterface *acc = QAccessible::queryAccessibleInterface(button);
            QVERIFY(acc);
            QCOMPARE(acc->text(QAccessible::Name), button->text());
        }
        QCOMPARE(buttons, 20);

        // Nothing is shown yet, so Save As is disabled, and looks it.
        const QIcon save = frame.action(FrameCommand::SaveAs)->icon();
        QVERIFY(!frame.action(FrameCommand::SaveAs)->isEnabled());
        QVERIFY(save.pixmap(QSize(40, 28), QIcon::Disabled).toImage()
                != save.pixmap(QSize(40, 28), QIcon::Normal).toImage());
    }

    void statusPanesAreReadByTheirText()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("IMG_1.jpg"), jpeg(QSize(320, 200), Qt::darkGreen));
        Prompts prompts;
        CMainFrame frame(prompts);
        frame.show();
        frame.GetPhotoList()->ListFolder(dir.path());
        // The folder is named at once; its pages only once its photos are counted.
        frame.UpdateCommandUi();
        QCOMPARE(frame.statusPane(0)->text(), QString("Page: "));
        QCOMPARE(frame.statusPane(1)->text(), CompactPath("Folder: " + dir.path(), 37));
        QTRY_VERIFY_WITH_TIMEOUT(frame.GetImageView()->hasPicture(), 20000);
        frame.UpdateCommandUi();
        QCOMPARE(frame.statusPane(0)->text(), QString("Page: 1 of 1"));
        // A screen reader reads a label by its accessible name: it must carry the value.
        for (int i = 0; i < 6; ++i) {
            QAccessibleInterface *pane = QAccessible::queryAccessibleInterface(frame.statusPane(i));
            QVERIFY(pane);
            QCOMPARE(pane->text(QAccessible::Name), frame.statusPane(i)->text());
        }
    }

    void pagesPhotoAndClosing()
    {
        QTemporaryDir dir;
        for (int i = 1; i <= 20; ++i)
            writeFile(dir.filePath(QString("IMG_%1.jpg").arg(i)), jpeg(QSize(1200, 800), Qt::darkGreen));
        Prompts prompts;
        CMainFrame frame(prompts);
        frame.resize(1200, 800);
        frame.show();
        CThumbsView *list = frame.GetPhotoList();
        list->ListFolder(dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 8, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!list->IsWorkerRunning(), 20000);
        frame.UpdateCommandUi();
        QCOMPARE(frame.statusPane(0)->text(), QString("Page: 1 of 3"));
        QVERIFY(!frame.action(FrameCommand::PrevPage)->isEnabled());

        frame.Execute(FrameCommand::LastPage);
        QTRY_VERIFY_WITH_TIMEOUT(!list->IsWorkerRunning(), 20000);
        frame.UpdateCommandUi();
        QCOMPARE(frame.statusPane(0)->text(), QString("Page: 3 of 3"));
        QCOMPARE(list->count(), 4);
        QVERIFY(!frame.action(FrameCommand::NextPage)->isEnabled());
        QVERIFY(frame.action(FrameCommand::SlideShow)->isEnabled());

        CQuillmereNewClientView *view = frame.GetImageView();
        view->SetFile(dir.filePath("IMG_3.jpg"));
        QVERIFY(view->IsWorkerRunning());
        // A close request while the picture is prepared is dropped; the next one closes.
        QVERIFY(!frame.close());
        QVERIFY(frame.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!view->IsWorkerRunning(), 20000);
        frame.UpdateCommandUi();
        QCOMPARE(frame.statusPane(2)->text(), QString("Image: IMG_3.jpg"));
        QCOMPARE(frame.windowTitle(), QString("IMG_3.jpg - Quillmere"));
        QCOMPARE(frame.statusPane(3)->text(), QString("Original size: 1200x800"));
        QVERIFY(frame.action(FrameCommand::ShrinkToFit)->isChecked());
        QVERIFY(frame.close());
    }

    void windowTitleNamesThePhotoAsItIs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("camera name") << "IMG_0042.JPG";
        QTest::newRow("Qt's modified mark") << "a[*]b.jpg";
        QTest::newRow("the mark twice") << "[*][*].jpg";
    }
    void windowTitleNamesThePhotoAsItIs()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        writeFile(dir.filePath(name), jpeg(QSize(40, 30), Qt::darkGreen));
        Prompts prompts;
        CMainFrame frame(prompts);
        frame.show();
        frame.GetImageView()->SetFile(dir.filePath(name));
        QTRY_VERIFY_WITH_TIMEOUT(!frame.GetImageView()->IsWorkerRunning(), 20000);
        frame.UpdateCommandUi();
        // What the window system shows, and a screen reader reads.
        QCOMPARE(frame.windowHandle()->title(), name + " - Quillmere");
        QCOMPARE(QAccessible::queryAccessibleInterface(&frame)->text(QAccessible::Name), name + " - Quillmere");
    }

    void aSaveThatFailsAddsNothingToTheList()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("IMG_1.jpg"), jpeg(QSize(400, 300), Qt::darkGreen));
        Prompts prompts;
        CMainFrame frame(prompts);
        frame.show();
        CThumbsView *list = frame.GetPhotoList();
        list->ListFolder(dir.path());
        CQuillmereNewClientView *view = frame.GetImageView();
        view->SetFile(dir.filePath("IMG_1.jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(view->hasPicture() && list->count() == 1 && !list->IsWorkerRunning(), 20000);
        QSignalSpy saved(view, &CQuillmereNewClientView::imageSaved);
        // A name no file system takes: the write fails, and the list must not show a photo
        // that is not there.
        view->SaveDisplayedImage(dir.filePath(QString(300, QLatin1Char('x')) + ".jpg"));
        QVERIFY(saved.wait());
        QVERIFY(!saved[0][1].toString().isEmpty());
        QCOMPARE(list->photos(), QStringList{dir.filePath("IMG_1.jpg")});
        QCOMPARE(list->count(), 1);
        // A save that works is listed.
        view->SaveDisplayedImage(dir.filePath("copy.jpg"));
        QVERIFY(saved.wait());
        QCOMPARE(list->photos().last(), dir.filePath("copy.jpg"));
    }

    void closingNeverDropsASaveUnderWay()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("big.jpg"), jpeg(QSize(4000, 3000), Qt::darkGreen));
        Prompts prompts;
        auto frame = std::make_unique<CMainFrame>(prompts);
        frame->show();
        CQuillmereNewClientView *view = frame->GetImageView();
        view->SetFile(dir.filePath("big.jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(view->hasPicture(), 20000);
        view->SetZoom(100);
        QTRY_VERIFY_WITH_TIMEOUT(!view->IsWorkerRunning(), 20000);
        QVERIFY(view->hasPicture());

        // The user saves the picture and closes the window at once: the file is written all
        // the same, whether the close waits for it or the window ends after it.
        const QString copy = dir.filePath("copy.jpg");
        view->SaveDisplayedImage(copy);
        QTRY_VERIFY_WITH_TIMEOUT(frame->close(), 20000);
        frame.reset();
        QVERIFY(QFileInfo::exists(copy));
        QCOMPARE(QImageReader(copy).size(), QSize(3999, 2999));
    }

    void aRenderStuckOpeningItsFileDoesNotKeepTheWindowOpen()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath("a.jpg");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        Prompts prompts;
        CMainFrame frame(prompts);
        frame.show();
        frame.GetImageView()->SetFile(fifo);
        QVERIFY(!frame.close());
        // The read stays stuck for good: the test process ends all the same.
        QTRY_VERIFY_WITH_TIMEOUT(frame.close(), 20000);
    }
};

QTEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"
