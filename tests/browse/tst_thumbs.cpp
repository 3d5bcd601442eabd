#include "photo/ThumbnailTile.h"
#include "browse/ThumbsView.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QAccessible>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#include <sys/stat.h>

namespace {
QImage Icon(const CThumbsView &list, int row)
{
    return list.item(row)->icon().pixmap(TileWidth, TileHeight).toImage().convertToFormat(QImage::Format_RGB32);
}

bool Greenish(QColor c)
{
    return c.green() > 180 && c.red() < 90 && c.blue() < 90;
}

// Differs from `b` somewhere inside `box`, and nowhere outside it.
bool DiffersOnlyIn(const QImage &a, const QImage &b, QRect box)
{
    bool inside = false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
                if (!box.contains(x, y))
                    return false;
                inside = true;
            }
    return inside;
}
} // namespace

class TestThumbs : public QObject
{
    Q_OBJECT
private slots:
    void seventeenPhotosMakeThreePages()
    {
        QTemporaryDir dir;
        for (int i = 1; i <= 17; ++i)
            writeFile(dir.filePath(QString("IMG_%1.jpg").arg(i)), jpeg(QSize(40, 30), Qt::blue));
        CThumbsView list;
        list.SetUploadedLookup([&](const QStringList &paths) {
            QMap<QString, QString> up;
            for (const QString &p : paths)
                if (p.endsWith("IMG_2.jpg"))
                    up.insert(p, "20060307090502040");
            return up;
        });
        QSignalSpy pages(&list, &CThumbsView::pageChanged), listed(&list, &CThumbsView::folderListed),
            shown(&list, &CThumbsView::showPhoto), status(&list, &CThumbsView::statusMessage),
            done(&list, &CThumbsView::workerFinished);
        list.ListFolder(dir.path());
        QVERIFY(done.wait());
        QCOMPARE(listed.size(), 1);
        QCOMPARE(shown[0][0].toString(), dir.filePath("IMG_1.jpg"));
        QCOMPARE(pages.last(), (QList<QVariant>{0, 3}));
        QCOMPARE(list.count(), 8);
        QCOMPARE(list.item(0)->text(), QString("IMG_1.jpg"));
        QCOMPARE(list.item(7)->data(Qt::AccessibleTextRole).toString(), QString("IMG_8.jpg"));
        QCOMPARE(list.GetItemPath(1), dir.filePath("IMG_2.jpg"));
        QVERIFY(list.GetItemPath(8).isEmpty() && list.GetItemPath(-1).isEmpty());
        QCOMPARE(list.uploadedOnPage().keys(), QStringList{dir.filePath("IMG_2.jpg")});
        // The UPLOADED frame is a picture; a screen reader hears it as the item's description.
        QStringList described;
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(&list);
        for (int i = 0; reader && i < reader->childCount(); ++i)
            if (QAccessibleInterface *cell = reader->child(i); cell && !cell->text(QAccessible::Description).isEmpty())
                described << cell->text(QAccessible::Name) + ": " + cell->text(QAccessible::Description);
        QCOMPARE(described, QStringList{"IMG_2.jpg: Uploaded"});
        QCOMPARE(status.first()[0].toString(), QString("Preparing..."));
        QCOMPARE(status.last()[0].toString(), QString("Ready."));
        QVERIFY(!list.IsWorkerRunning());

        list.PrevPage(); // already on the first page: nothing starts
        QVERIFY(!list.IsWorkerRunning());
        list.NextPage();
        QVERIFY(list.IsWorkerRunning());
        QVERIFY(done.wait());
        QCOMPARE(list.pageIndex(), 1);
        QCOMPARE(list.item(0)->text(), QString("IMG_9.jpg"));
        list.LastPage();
        QVERIFY(done.wait());
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.item(0)->text(), QString("IMG_17.jpg"));
        QCOMPARE(pages.last(), (QList<QVariant>{2, 3}));
        list.NextPage();
        QVERIFY(!list.IsWorkerRunning());
        list.FirstPage();
        QVERIFY(done.wait());
        QCOMPARE(list.count(), 8);

        list.ShowPhotoAt(3, true);
        QCOMPARE(shown.last()[0].toString(), dir.filePath("IMG_4.jpg"));
        QCOMPARE(list.shownIndex(), 3);
        QCOMPARE(list.GetSelectedCount(), -1);
        list.item(2)->setSelected(true);
        QCOMPARE(list.GetSelectedCount(), 1);

        // The folder already listed: nothing happens.
        list.ListFolder(dir.path());
        QVERIFY(!list.IsWorkerRunning());
        QCOMPARE(list.count(), 8);
        QCOMPARE(listed.size(), 1);

        // An edited label asks for a rename and keeps naming the file until it happens.
        QSignalSpy rename(&list, &CThumbsView::renameRequested);
        list.show();
        list.setCurrentRow(2);
        list.editItem(list.item(2));
        auto *editor = list.findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->setText("renamed.jpg");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(rename.size(), 1);
        QCOMPARE(rename[0], (QList<QVariant>{dir.filePath("IMG_3.jpg"), QString("renamed.jpg")}));
        QCOMPARE(list.item(2)->text(), QString("IMG_3.jpg"));
        QCOMPARE(list.GetItemPath(2), dir.filePath("IMG_3.jpg"));
    }

    void aFolderWithoutPhotosClearsTheView()
    {
        QTemporaryDir dir, empty;
        writeFile(dir.filePath("one.jpg"), jpeg(QSize(40, 30), Qt::blue));
        writeFile(empty.filePath("notes.txt"));
        CThumbsView list;
        QSignalSpy read(&list, &CThumbsView::folderRead), listed(&list, &CThumbsView::folderListed),
            shown(&list, &CThumbsView::showPhoto), done(&list, &CThumbsView::workerFinished);
        list.ListFolder(dir.path());
        QVERIFY(done.wait());
        list.ListFolder(empty.path());
        QVERIFY(read.wait());
        QCOMPARE(list.count(), 0);
        QVERIFY(list.currentFolder().isEmpty());
        QCOMPARE(list.GetPageCount(), 0);
        QCOMPARE(list.shownIndex(), -1);
        QVERIFY(shown.last()[0].toString().isEmpty());
        QCOMPARE(listed.size(), 1);
    }

    void stoppingTheWorkerEndsThePageEarly()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 8; ++i)
            writeFile(dir.filePath(QString("p%1.jpg").arg(i)), jpeg(QSize(1600, 1200), Qt::green));
        CThumbsView list;
        QSignalSpy read(&list, &CThumbsView::folderRead), done(&list, &CThumbsView::workerFinished);
        for (int round = 0; round < 5; ++round) {
            list.ListFolder(round % 2 ? QString() : dir.path());
            QVERIFY(read.wait());
            list.StopThumbnailWorker();
            QVERIFY(!list.IsWorkerRunning());
            QVERIFY(list.count() <= 8);
        }
        // Pages asked for in a row: one worker after the other, the last one's page shown.
        for (int i = 0; i < 5; ++i)
            list.StartThumbnailWorker();
        QTRY_VERIFY(!list.IsWorkerRunning());
        QCOMPARE(list.count(), 8);
        // Deleting while a page fills is safe.
        auto *other = new CThumbsView;
        QSignalSpy otherRead(other, &CThumbsView::folderRead);
        other->ListFolder(dir.path());
        QVERIFY(otherRead.wait());
        delete other;
    }

    void savedPhotosAreAddedOrReplaced()
    {
        QTemporaryDir dir, elsewhere;
        for (const char *name : {"a.jpg", "b.jpg.jpg", "b.jpg"})
            writeFile(dir.filePath(name), jpeg(QSize(40, 30), Qt::blue));
        CThumbsView list;
        QSignalSpy done(&list, &CThumbsView::workerFinished);
        list.ListFolder(dir.path());
        QVERIFY(done.wait());
        QCOMPARE(list.count(), 3);
        const QStringList before{list.item(0)->text(), list.item(1)->text(), list.item(2)->text()};

        // Saved again under its own name: replaced in place, not the item whose name it begins.
        list.AddOrReplacePhoto(dir.filePath("b.jpg"));
        QCOMPARE(list.count(), 3);
        QCOMPARE((QStringList{list.item(0)->text(), list.item(1)->text(), list.item(2)->text()}), before);

        writeFile(dir.filePath("c.jpg"), jpeg(QSize(40, 30), Qt::red));
        list.AddOrReplacePhoto(dir.filePath("c.jpg"));
        QCOMPARE(list.count(), 4);
        QCOMPARE(list.item(3)->text(), QString("c.jpg"));
        QCOMPARE(list.photos().last(), dir.filePath("c.jpg"));

        list.AddOrReplacePhoto(elsewhere.filePath("d.jpg"));
        QCOMPARE(list.count(), 4);
        QCOMPARE(list.photos().size(), 4);
    }

    void aPhotoSavedWhileTheFolderIsReadIsKept()
    {
        QTemporaryDir dir;
        for (int i = 1; i <= 8; ++i)
            writeFile(dir.filePath(QString("IMG_%1.jpg").arg(i)), jpeg(QSize(40, 30), Qt::blue));
        CThumbsView list;
        QSignalSpy read(&list, &CThumbsView::folderRead), pages(&list, &CThumbsView::pageChanged);
        list.ListFolder(dir.path());
        QVERIFY(list.isReadingFolder());
        QCOMPARE(list.GetPageCount(), 0);
        // Saved after the listing was taken: the file is not in it.
        const QString late = dir.filePath("late.jpg");
        list.AddOrReplacePhoto(late);
        list.AddOrReplacePhoto(dir.filePath("IMG_3.jpg")); // already there: not twice
        QVERIFY(read.wait());
        QVERIFY(!list.isReadingFolder());
        QCOMPARE(list.photos().size(), 9);
        QCOMPARE(list.photos().last(), late);
        QCOMPARE(read[0][1].toInt(), 9);
        QCOMPARE(pages.last(), (QList<QVariant>{0, 2}));
    }

    void camerasThumbnailsNeedNoDecoding()
    {
        QTemporaryDir dir;
        for (int i = 1; i <= 3; ++i)
            writeFile(dir.filePath(QString("IMG_%1.jpg").arg(i)),
                      jpegWithThumbnail(markedImage({400, 300}), encodedJpeg(markedImage({160, 120}, Qt::green))));
        CThumbsView list;
        list.SetThumbnailCache(ThumbnailCache());
        QSignalSpy done(&list, &CThumbsView::workerFinished);
        list.ListFolder(dir.path());
        QVERIFY(done.wait());
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.decodeCount(), 0);
        // The lower right of the picture is the thumbnail's green, not the photo's blue.
        QVERIFY(Greenish(Icon(list, 2).pixelColor(90, 80)));
    }

    void aPageShownAgainAppearsAtOnceAndAMarkChangeOnlyReframes()
    {
        QTemporaryDir dir;
        for (int i = 1; i <= 16; ++i) {
            writeFile(dir.filePath(QString("IMG_%1.jpg").arg(i)), jpeg(QSize(400, 300), Qt::blue));
            setModified(dir.filePath(QString("IMG_%1.jpg").arg(i)), 1700000000);
        }
        const QString first = dir.filePath("IMG_1.jpg"), second = dir.filePath("IMG_2.jpg");
        std::atomic<bool> firstUploaded{false};
        CThumbsView list;
        list.SetThumbnailCache(ThumbnailCache());
        list.SetUploadedLookup([&](const QStringList &paths) {
            QMap<QString, QString> up;
            if (firstUploaded && paths.contains(first))
                up.insert(first, "20260101000000000");
            return up;
        });
        QSignalSpy done(&list, &CThumbsView::workerFinished);
        list.ListFolder(dir.path());
        QVERIFY(done.wait());
        list.NextPage();
        QVERIFY(done.wait());
        QCOMPARE(list.decodeCount(), 16);

        // Meanwhile one photo of the first page changes.
        writeFile(second, jpeg(QSize(400, 300), Qt::red));
        setModified(second, 1700000100);
        list.PrevPage();
        // Shown before any request has answered.
        QCOMPARE(list.count(), 8);
        QCOMPARE(list.item(0)->text(), QString("IMG_1.jpg"));
        QVERIFY(done.wait());
        QCOMPARE(list.decodeCount(), 17);
        QVERIFY(Icon(list, 1).pixelColor(59, 54).red() > 180);
        const QImage plain = Icon(list, 0);

        firstUploaded = true;
        list.StartThumbnailWorker();
        QVERIFY(done.wait());
        QCOMPARE(list.decodeCount(), 17);
        QVERIFY(list.uploadedOnPage().contains(first));
        QVERIFY(DiffersOnlyIn(Icon(list, 0), plain, QRect(33, 103, 52, 5)));
    }

    void theSharedCacheFillsAfterThePageAndServesTheNextStart()
    {
        QTemporaryDir dir, cacheDir;
        writeFile(dir.filePath("a.jpg"), jpeg(QSize(400, 300), Qt::blue));
        writeFile(dir.filePath("b.jpg"), markedJpeg(QSize(300, 400)));
        writeFile(dir.filePath("broken.jpg"), "not a photo");
        const ThumbnailCache cache(ThumbnailCache::Options{cacheDir.filePath("thumbnails"), {}, "quillmere-test"});
        {
            CThumbsView list;
            list.SetThumbnailCache(cache);
            QSignalSpy done(&list, &CThumbsView::workerFinished);
            list.ListFolder(dir.path());
            QVERIFY(done.wait());
            QCOMPARE(list.decodeCount(), 3);
            QTRY_COMPARE(list.pendingCacheWrites(), 0);
        }
        QCOMPARE(QDir(cache.normalFolder()).entryList(QDir::Files).size(), 2);
        const QString failure = cache.failFolder() + u'/' + ThumbnailFileName(ThumbnailUri(dir.filePath("broken.jpg")));
        struct stat before{}, after{};
        QCOMPARE(::stat(QFile::encodeName(failure).constData(), &before), 0);

        // Started again: every tile from the cache, the failure neither tried nor written again.
        CThumbsView again;
        again.SetThumbnailCache(cache);
        QSignalSpy done(&again, &CThumbsView::workerFinished);
        again.ListFolder(dir.path());
        QVERIFY(done.wait());
        QCOMPARE(again.count(), 3);
        QCOMPARE(again.decodeCount(), 0);
        QCOMPARE(again.pendingCacheWrites(), 0);
        QCOMPARE(::stat(QFile::encodeName(failure).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
    }
};

QTEST_MAIN(TestThumbs)
#include "tst_thumbs.moc"
