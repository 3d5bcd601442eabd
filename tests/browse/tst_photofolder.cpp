#include "browse/PhotoFolder.h"
#include "browse/ThumbsView.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestPhotoFolder : public QObject
{
    Q_OBJECT
private slots:
    void listsPhotosOfTheFolderOnly()
    {
        QTemporaryDir dir;
        // Names of two characters never count, whatever they end in.
        for (const char *name : {"IMG_10.JPG", "IMG_9.jpg", "b.tif", "x.png", "notes.txt", ".hidden.jpeg", ".j", "ab"})
            writeFile(dir.filePath(name));
        QVERIFY(QDir(dir.path()).mkpath("sub.jpg"));
        writeFile(dir.filePath("sub.jpg/inner.jpg"));
        for (const char *name : {"IMG.jpg.bak", "abc.JPEG"})
            writeFile(dir.filePath(name));
        // A folder named like a photo is listed like one; the name alone decides.
        const QStringList photos = ScanFolder(dir.path());
        QCOMPARE(photos, (QStringList{dir.filePath(".hidden.jpeg"), dir.filePath("abc.JPEG"), dir.filePath("b.tif"),
                                      dir.filePath("IMG_9.jpg"), dir.filePath("IMG_10.JPG"), dir.filePath("sub.jpg")}));
        // The same folder with a trailing slash gives the same paths.
        QCOMPARE(ScanFolder(dir.path() + "//"), photos);
        QVERIFY(ScanFolder(dir.filePath("missing")).isEmpty());
    }

    void listShowsOnlyTheNewestFolderAskedFor()
    {
        QTemporaryDir a, b;
        writeFile(a.filePath("one.jpg"));
        writeFile(b.filePath("two.jpg"));
        writeFile(b.filePath("three.jpg"));
        CThumbsView list;
        QSignalSpy read(&list, &CThumbsView::folderRead);
        for (int i = 0; i < 20; ++i)
            list.ShowFolder(i % 2 ? b.path() : a.path());
        QVERIFY(read.wait());
        QCOMPARE(read.size(), 1);
        QCOMPARE(read[0][0].toString(), b.path());
        QCOMPARE(read[0][1].toInt(), 2);
        QTRY_COMPARE(list.count(), 2);
        QCOMPARE(list.currentFolder(), b.path());
    }

    void deletingWhileReadingIsSafe()
    {
        QTemporaryDir a;
        for (int i = 0; i < 200; ++i)
            writeFile(a.filePath(QString("p%1.jpg").arg(i)));
        auto *list = new CThumbsView;
        list->ShowFolder(a.path());
        delete list;
    }
};

QTEST_MAIN(TestPhotoFolder)
#include "tst_photofolder.moc"
