// A photo whose open never returns (here a FIFO named a.jpg that nobody ever writes; a stalled
// network mount does the same) must hold up nothing: not the other tiles, not another folder,
// not closing, not the end of the process. The reads stay stuck until this process ends.
#include "browse/ImageView.h"
#include "browse/ThumbsView.h"
#include "photo/ThumbnailTile.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/stat.h>

namespace {

const char kChildFlag[] = "--stuck-child";

QColor WellCentre(const QListWidgetItem *item)
{
    return item->icon().pixmap(TileWidth, TileHeight).toImage().pixelColor(59, 55);
}

// Lists the folder and shows its FIFO, waits until both have written the stuck read off,
// then ends with the read still stuck.
int RunChild(const QString &folder)
{
    CThumbsView list;
    CQuillmereNewClientView view;
    view.resize(400, 300);
    QSignalSpy done(&list, &CThumbsView::workerFinished);
    list.ListFolder(folder);
    if (!done.wait(20000))
        return 3;
    view.SetFile(folder + QStringLiteral("/a.jpg"));
    if (!QTest::qWaitFor([&] { return !view.IsWorkerRunning(); }, 20000))
        return 4;
    std::fputs("written off\n", stdout);
    return 0;
}

} // namespace

class TestBlockingFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_, other_;
    QString fifo_;

private slots:
    void initTestCase()
    {
        fifo_ = dir_.filePath("a.jpg");
        QCOMPARE(mkfifo(QFile::encodeName(fifo_).constData(), 0600), 0);
        writeFile(dir_.filePath("b.jpg"), jpeg(QSize(400, 300), Qt::red));
        writeFile(dir_.filePath("c.jpg"), jpeg(QSize(300, 400), Qt::red));
        writeFile(other_.filePath("d.jpg"), jpeg(QSize(40, 30), Qt::blue));
    }

    void theOtherTilesAreMadeAndAnotherFolderAnswers()
    {
        CThumbsView list;
        QSignalSpy done(&list, &CThumbsView::workerFinished), read(&list, &CThumbsView::folderRead);
        list.ListFolder(dir_.path());
        QVERIFY(done.wait(20000));
        QVERIFY(!list.IsWorkerRunning());
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.item(0)->text(), QString("a.jpg"));
        QCOMPARE(WellCentre(list.item(0)), QColor(221, 221, 221));
        for (int i : {1, 2}) {
            const QColor c = WellCentre(list.item(i));
            QVERIFY2(c.red() > 200 && c.blue() < 60, qPrintable(list.item(i)->text()));
        }

        // The page can be left, and another folder is listed at once.
        list.ListFolder(other_.path());
        QCOMPARE(list.currentFolder(), other_.path());
        QVERIFY(read.wait());
        QTRY_COMPARE(list.count(), 1);
        QCOMPARE(list.item(0)->text(), QString("d.jpg"));

        // Back again: a second stuck read does not stop the page either.
        done.clear();
        list.ListFolder(dir_.path());
        QVERIFY(done.wait(20000));
        QCOMPARE(list.count(), 3);
    }

    void aStuckRenderIsWrittenOffAndTheNextPhotoShows()
    {
        CQuillmereNewClientView view;
        view.resize(400, 300);
        view.show();
        view.SetFile(dir_.filePath("c.jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(view.hasPicture(), 20000);
        view.SetFile(fifo_);
        QVERIFY(view.IsWorkerRunning());
        // While it is stuck it no longer counts as preparing a picture: the window may close.
        QTRY_VERIFY_WITH_TIMEOUT(!view.IsWorkerRunning(), 20000);
        QVERIFY(!view.hasPicture());
        QCOMPARE(view.placeholderText(), QString("Preparing..."));
        // It reads as a photo that cannot be decoded: the sizes of the photo before are not its.
        // The pool finds the read stuck on its own thread and tells the view by a queued call.
        QTRY_COMPARE(view.photoSize(), QSize(0, 0));
        QCOMPARE(view.displaySize(), QSize(0, 0));
        QCOMPARE(view.currentZoom(), 0);

        view.SetFile(dir_.filePath("b.jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(view.hasPicture(), 20000);
        QCOMPARE(view.photoSize(), QSize(400, 300));
    }

    void theProcessEndsWithAReadStillStuck()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kChildFlag), dir_.path()});
        QVERIFY(child.waitForStarted());
        const bool ended = child.waitForFinished(60000);
        if (!ended)
            child.kill();
        QVERIFY2(ended, "the process did not end while a read was stuck");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(child.readAllStandardOutput().contains("written off"));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0)
        return RunChild(QString::fromLocal8Bit(argv[2]));
    TestBlockingFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_blockingfiles.moc"
