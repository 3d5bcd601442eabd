#include "platform/PhotoFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestPhotoFiles : public QObject
{
    Q_OBJECT
private slots:
    void isPhotoFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("photo");
        QTest::newRow("upper-case JPG") << "/cards/x.JPG" << true;
        QTest::newRow("jpeg") << "/a/b.jpeg" << true;
        QTest::newRow("mixed-case Tiff") << "scan.TiFf" << true;
        QTest::newRow("tif") << "scan.tif" << true;
        QTest::newRow("jpe is not a photo") << "x.jpe" << false;
        QTest::newRow("png is not a photo") << "x.png" << false;
        QTest::newRow("no extension") << "/a/README" << false;
        QTest::newRow("dot only in folder name") << "/a.jpg/README" << false;
        QTest::newRow("last dot decides") << "x.jpg.bak" << false;
        QTest::newRow("name that is only an extension") << "/a/.jpg" << true;
        QTest::newRow("trailing dot") << "x.jpg." << false;
        QTest::newRow("empty") << "" << false;
    }
    void isPhotoFile()
    {
        QFETCH(QString, path);
        QFETCH(bool, photo);
        QCOMPARE(IsPhotoFile(path), photo);
    }

    void fileManagerOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbers by value")
            << QStringList{"IMG_10.jpg", "IMG_2.jpg", "IMG_1.jpg"} << QStringList{"IMG_1.jpg", "IMG_2.jpg", "IMG_10.jpg"};
        QTest::newRow("case does not split the order")
            << QStringList{"b.jpg", "A.jpg", "a2.jpg", "C.jpg"} << QStringList{"A.jpg", "a2.jpg", "b.jpg", "C.jpg"};
        QTest::newRow("names equal but for case keep one fixed order")
            << QStringList{"img.jpg", "IMG.JPG", "Img.jpg"} << QStringList{"IMG.JPG", "Img.jpg", "img.jpg"};
        QTest::newRow("folders of a camera") << QStringList{"101ABC", "99ABC", "100ABC"}
                                             << QStringList{"99ABC", "100ABC", "101ABC"};
    }
    void fileManagerOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        SortLikeFileManager(names);
        QCOMPARE(names, sorted);
        // The same names in another order give the same result: ties never depend on input.
        std::reverse(names.begin(), names.end());
        SortLikeFileManager(names);
        QCOMPARE(names, sorted);
    }

    void folderEntriesIncludeHiddenAndSkipDots()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(".hidden"));
        QVERIFY(QDir(dir.path()).mkdir("sub10"));
        QVERIFY(QDir(dir.path()).mkdir("sub9"));
        QFile(dir.filePath("a.jpg")).open(QIODevice::WriteOnly);
        const QStringList names = FolderEntryNames(dir.path());
        QCOMPARE(names.size(), 4);
        QVERIFY(names.contains(".hidden"));
        QVERIFY(!names.contains(".") && !names.contains(".."));
        QVERIFY(names.indexOf("sub9") < names.indexOf("sub10"));
    }

    void folderEntriesOfNothing()
    {
        QVERIFY(FolderEntryNames(QString()).isEmpty());
        QVERIFY(FolderEntryNames("/no/such/folder/here").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPhotoFiles)
#include "tst_photofiles.moc"
