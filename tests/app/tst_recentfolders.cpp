#include "app/RecentFolders.h"
#include "platform/PhotoFiles.h"

#include <QDir>
#include <QTest>

class TestRecentFolders : public QObject
{
    Q_OBJECT
private slots:
    void insert_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("first") << QStringList{} << "/photos" << QStringList{"/photos"};
        QTest::newRow("newest on top") << QStringList{"/photos"} << "/cards" << QStringList{"/cards", "/photos"};
        QTest::newRow("equal entry moves up, others keep order")
            << QStringList{"/a", "/b", "/c"} << "/c" << QStringList{"/c", "/a", "/b"};
        QTest::newRow("names that differ by case are two folders")
            << QStringList{"/cards", "/Photos"} << "/photos" << QStringList{"/photos", "/cards", "/Photos"};
        QTest::newRow("fifth pushes the oldest out")
            << QStringList{"/a", "/b", "/c", "/d"} << "/e" << QStringList{"/e", "/a", "/b", "/c"};
        QTest::newRow("full list, equal entry: nothing dropped")
            << QStringList{"/a", "/b", "/c", "/d"} << "/d" << QStringList{"/d", "/a", "/b", "/c"};
    }
    void insert()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, folder);
        QFETCH(QStringList, after);
        QCOMPARE(InsertRecentFolder(before, folder), after);
    }

    void relativePathsAreMadeAbsoluteAsTyped()
    {
        QCOMPARE(AbsoluteFolderPath("/abs/../x"), QString("/abs/../x"));
        QCOMPARE(AbsoluteFolderPath("a/../b"), QDir::currentPath() + "/a/../b");
        QCOMPARE(AbsoluteFolderPath(QString()), QString());
    }

    void volumeRootLosesItsSlashOnly()
    {
        QCOMPARE(WithoutVolumeRootSlash("/"), QString("/"));
        const QString home = QDir::homePath();
        QCOMPARE(WithoutVolumeRootSlash(home + "/"), home == "/" ? QString("/") : home + "/");
        QCOMPARE(WithoutVolumeRootSlash("/no/such/card/"), QString("/no/such/card/"));
        QCOMPARE(WithoutVolumeRootSlash("/proc/"), QString("/proc"));
    }

    void menuEntries()
    {
        const QList<RecentMenuEntry> none = RecentMenuEntries({});
        QCOMPARE(none.size(), 1);
        QCOMPARE(none[0].text, QString("Recent Folder"));
        QVERIFY(!none[0].enabled);

        const QList<RecentMenuEntry> two = RecentMenuEntries({"/home/ann/Photos", "/media/Tom & Jerry"});
        QCOMPARE(two.size(), 2);
        QCOMPARE(two[0].text, QString("&1 /home/ann/Photos"));
        QCOMPARE(two[0].prompt, QString("Show this folder"));
        QCOMPARE(two[0].index, 1);
        QCOMPARE(two[1].text, QString("&2 /media/Tom && Jerry"));
        QCOMPARE(two[1].prompt, QString("Open this document"));
        QVERIFY(two[1].enabled);
    }

    void longPathsKeepTheirLastPart()
    {
        const QString longPath = "/home/ann/" + QString(80, 'x') + "/Holiday 2026";
        QCOMPARE(CompactPath(longPath, 30), QString("/home/ann/xxxx.../Holiday 2026"));
        QCOMPARE(CompactPath("/" + QString(100, 'y'), 20).size(), 20);
    }
};

QTEST_GUILESS_MAIN(TestRecentFolders)
#include "tst_recentfolders.moc"
