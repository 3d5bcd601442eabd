#include "browse/ThumbnailTile.h"
#include "browse/ThumbsView.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QBuffer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QColor ListGrey(100, 100, 100);
const QColor WellGrey(221, 221, 221);

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 && std::abs(a.blue() - b.blue()) < 24;
}
} // namespace

class TestThumbs : public QObject
{
    Q_OBJECT
private slots:
    void placement_data()
    {
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<QSize>("scaled");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("landscape") << QSize(4000, 3000) << QSize(100, 75) << QPoint(9, 17);
        QTest::newRow("portrait") << QSize(3000, 4000) << QSize(67, 90) << QPoint(25, 10);
        QTest::newRow("square") << QSize(2000, 2000) << QSize(90, 90) << QPoint(14, 10);
        // Exactly 100 wide, not 99 from a factor that lands a hair low.
        QTest::newRow("odd width") << QSize(4001, 3000) << QSize(100, 74) << QPoint(9, 18);
        // Nearly square landscape: fitted to the well's height, centred across.
        QTest::newRow("taller than the well") << QSize(1000, 950) << QSize(94, 90) << QPoint(12, 10);
        QTest::newRow("panorama sliver") << QSize(10000, 5) << QSize(100, 1) << QPoint(9, 54);
        QTest::newRow("empty") << QSize(0, 0) << QSize() << QPoint();
    }
    void placement()
    {
        QFETCH(QSize, photo);
        QFETCH(QSize, scaled);
        QFETCH(QPoint, at);
        const TilePlacement place = PlaceInTile(photo);
        QCOMPARE(place.scaled, scaled);
        QCOMPARE(place.at, at);
        if (!scaled.isEmpty())
            QVERIFY(QRect(WellLeft, WellTop, WellWidth, WellHeight).contains(QRect(place.at, place.scaled)));
    }

    void framesFollowTheirDrawing()
    {
        const QImage plain = TileFrame(false), uploaded = TileFrame(true);
        QCOMPARE(plain.size(), QSize(118, 110));
        for (QPoint corner : {QPoint(0, 0), QPoint(117, 0), QPoint(0, 109), QPoint(117, 109)})
            QCOMPARE(plain.pixelColor(corner), ListGrey);
        QCOMPARE(plain.pixelColor(9, 10), WellGrey);
        QCOMPARE(plain.pixelColor(108, 99), WellGrey);
        QVERIFY(plain.pixelColor(8, 50).lightness() < 221);
        QCOMPARE(plain.pixelColor(109, 50), QColor(Qt::white));
        // The word changes the bottom border only, inside its box.
        bool ink = false;
        for (int y = 0; y < 110; ++y)
            for (int x = 0; x < 118; ++x)
                if (plain.pixel(x, y) != uploaded.pixel(x, y)) {
                    QVERIFY(x >= 33 && x <= 84 && y >= 103 && y <= 107);
                    ink = true;
                }
        QVERIFY(ink);
    }

    void tilesShowPhotosUprightInTheirPlace()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("wide.jpg"), jpeg(QSize(400, 300), Qt::red));
        writeFile(dir.filePath("turned.jpg"), jpeg(QSize(400, 300), Qt::red, 6));
        writeFile(dir.filePath("broken.jpg"), "not a photo");

        const QImage wide = MakeThumbnailTile(dir.filePath("wide.jpg"), false);
        QVERIFY(near(wide.pixelColor(9, 17), Qt::red));
        QVERIFY(near(wide.pixelColor(108, 91), Qt::red));
        QCOMPARE(wide.pixelColor(50, 15), WellGrey);
        QCOMPARE(wide.pixelColor(50, 93), WellGrey);

        // Stored 400 x 300 on its side: shown 67 x 90 at (25, 10).
        const QImage turned = MakeThumbnailTile(dir.filePath("turned.jpg"), true);
        QVERIFY(near(turned.pixelColor(25, 10), Qt::red));
        QVERIFY(near(turned.pixelColor(91, 99), Qt::red));
        QCOMPARE(turned.pixelColor(23, 50), WellGrey);
        QCOMPARE(turned.pixelColor(94, 50), WellGrey);
        QCOMPARE(turned.pixelColor(0, 0), ListGrey);

        QCOMPARE(MakeThumbnailTile(dir.filePath("broken.jpg"), false), TileFrame(false));
        QCOMPARE(MakeThumbnailTile(dir.filePath("missing.jpg"), true), TileFrame(true));
    }

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
        QCOMPARE(rename[0], (QList<QVariant>{2, QString("renamed.jpg")}));
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
};

QTEST_MAIN(TestThumbs)
#include "tst_thumbs.moc"
