#include "app/CommandLine.h"
#include "app/StartFolder.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Makes the files (and their folders) named relative to root.
void make(const QString &root, const QStringList &files)
{
    for (const QString &f : files) {
        const QString path = root + u'/' + f;
        if (f.endsWith(u'/')) {
            QVERIFY(QDir().mkpath(path));
            continue;
        }
        writeFile(path);
    }
}
} // namespace

class TestStartFolder : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<QString>("path"); // relative ones are made absolute
        QTest::addColumn<bool>("help");
        QTest::newRow("none") << QStringList{"quillmere"} << false << "" << false;
        QTest::newRow("exact word") << QStringList{"quillmere", "RunMinimized"} << true << "" << false;
        QTest::newRow("after flags") << QStringList{"quillmere", "-x", "--y", "RunMinimized"} << true << "" << false;
        QTest::newRow("other case is a path") << QStringList{"quillmere", "runminimized"} << false << "runminimized" << false;
        // An absolute path begins with "/": it is no flag, and it is not swallowed.
        QTest::newRow("absolute path") << QStringList{"quillmere", "/photos/IMG_0042.JPG"} << false
                                       << "/photos/IMG_0042.JPG" << false;
        QTest::newRow("with slash") << QStringList{"quillmere", "/RunMinimized"} << false << "/RunMinimized" << false;
        QTest::newRow("with dash") << QStringList{"quillmere", "-RunMinimized"} << false << "" << false;
        QTest::newRow("word after a path") << QStringList{"quillmere", "photo.jpg", "RunMinimized"} << false
                                           << "photo.jpg" << false;
        QTest::newRow("path after the word") << QStringList{"quillmere", "RunMinimized", "/photos"} << true
                                             << "/photos" << false;
        QTest::newRow("only the first path") << QStringList{"quillmere", "/a", "/b"} << false << "/a" << false;
        QTest::newRow("empty argument") << QStringList{"quillmere", "", "/a"} << false << "/a" << false;
        QTest::newRow("flags end at --") << QStringList{"quillmere", "--", "-x.jpg"} << false << "-x.jpg" << false;
        QTest::newRow("help") << QStringList{"quillmere", "/a", "--help"} << false << "/a" << true;
        QTest::newRow("short help") << QStringList{"quillmere", "-h"} << false << "" << true;
        QTest::newRow("no help after --") << QStringList{"quillmere", "--", "--help"} << false << "--help" << false;
        QTest::newRow("program name itself") << QStringList{"RunMinimized"} << false << "" << false;
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, minimized);
        QFETCH(QString, path);
        QFETCH(bool, help);
        const StartOptions options = ParseStartArguments(args);
        QCOMPARE(options.runMinimized, minimized);
        QCOMPARE(options.path, path.isEmpty() ? QString() : QDir::current().absoluteFilePath(path));
        QCOMPARE(options.help, help);
    }

    void firstPhotoDecides_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("folder"); // relative to the card; "-" for none
        QTest::newRow("camera folders") << QStringList{"DCIM/100ABC/1.JPG", "MISC/info.txt"} << "DCIM/100ABC";
        QTest::newRow("photo in the root") << QStringList{"a.jpg"} << "";
        QTest::newRow("no photo") << QStringList{"DCIM/", "notes.txt", "x.png", "y.jpe"} << "-";
        QTest::newRow("subfolders in numeric order")
            << QStringList{"DCIM/10/a.jpg", "DCIM/9/b.jpg"} << "DCIM/9";
        QTest::newRow("a later photo in the parent takes over")
            << QStringList{"a/1.jpg", "b.jpg", "c/2.jpg"} << "";
        QTest::newRow("no subfolder entered after a result")
            << QStringList{"a/1.jpg", "b/2.jpg", "b.txt"} << "a";
        QTest::newRow("photo first stops the folder") << QStringList{"a.jpg", "b/1.jpg"} << "";
        QTest::newRow("hidden folders are searched") << QStringList{".thumbs/t.jpg"} << ".thumbs";
        QTest::newRow("deep") << QStringList{"x/y/z/w/deep.tif"} << "x/y/z/w";
    }
    void firstPhotoDecides()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, folder);
        QTemporaryDir card;
        make(card.path(), files);
        QString found;
        FindFirstPhotoFolder(card.path(), found);
        const QString expected = folder == "-" ? QString() : folder.isEmpty() ? card.path() : card.filePath(folder);
        QCOMPARE(found, expected);
    }

    void firstCardWithAPhotoWins()
    {
        QTemporaryDir e, f, g;
        make(e.path(), {"DCIM/", "readme.txt"});
        make(f.path(), {"DCIM/100ABC/1.JPG"});
        make(g.path(), {"DCIM/2.JPG"});
        const QStringList drives{e.path(), f.path(), g.path()};
        QCOMPARE(FindRemovablePhotoFolder(drives), f.filePath("DCIM/100ABC"));
        QCOMPARE(FindRemovablePhotoFolder({}), QString());
    }

    void photoInACardRootGetsItsSlash()
    {
        QTemporaryDir e;
        make(e.path(), {"a.jpg"});
        const QString found = FindRemovablePhotoFolder({e.path()});
        QCOMPARE(found, e.path());
        QCOMPARE(TreePathForRemovableFolder(found, {e.path()}), e.path() + "/");
        QCOMPARE(TreePathForRemovableFolder(e.filePath("DCIM"), {e.path()}), e.filePath("DCIM"));
    }

    void stoppedSearchEndsAtOnce()
    {
        QTemporaryDir card;
        make(card.path(), {"DCIM/1.jpg"});
        auto state = std::make_shared<workerdetail::TaskState>(1);
        state->cancel();
        QCOMPARE(FindRemovablePhotoFolder({card.path()}, CancelToken(state)), QString());
    }

    void linkedFoldersAreNotFollowed()
    {
        QTemporaryDir card;
        make(card.path(), {"DCIM/", "z/photo.jpg"});
        // A loop back to the card's root would never end; a link elsewhere is not the card.
        QVERIFY(QFile::link(card.path(), card.filePath("DCIM/loop")));
        QString found;
        FindFirstPhotoFolder(card.path(), found);
        QCOMPARE(found, card.filePath("z"));
    }
};

QTEST_GUILESS_MAIN(TestStartFolder)
#include "tst_startfolder.moc"
