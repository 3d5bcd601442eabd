#include "platform/RemovableDrives.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestRemovableDrives : public QObject
{
    Q_OBJECT
private slots:
    void listKeepsFiveExistingRootsInPathOrder()
    {
        QTemporaryDir dir;
        QStringList given;
        for (const char *name : {"g", "c", "f", "a", "e", "b", "d"}) {
            QVERIFY(QDir(dir.path()).mkdir(name));
            given << dir.filePath(name);
        }
        given.insert(2, dir.filePath("not-attached"));
        given << dir.filePath("c") + "/" << QString();
        const QStringList roots = RemovableRootsFromList(given.join(':'));
        QCOMPARE(roots, (QStringList{dir.filePath("a"), dir.filePath("b"), dir.filePath("c"), dir.filePath("d"),
                                     dir.filePath("e")}));
    }

    void pickSkipsSystemRootAndFixedDisks()
    {
        const QList<MountedVolume> volumes = {
            {"/", "/dev/sda1"}, {"/media/ann/CARD/", "/dev/sdb1"}, {"/home", "/dev/sda2"}, {"/mnt/cam", "/dev/sdc1"}};
        const QStringList roots = PickRemovableRoots(volumes, [](const MountedVolume &v) {
            return v.device != u"/dev/sda2"; // "/" says removable too, and must still be skipped
        });
        QCOMPARE(roots, (QStringList{"/media/ann/CARD", "/mnt/cam"}));
    }

    void removableFlagIsReadFromTheDiskOfAPartition()
    {
        QTemporaryDir sys;
        // The layout of /sys/class/block: links into the device tree, a partition inside its disk.
        const QString devices = sys.filePath("devices/pci0/usb1/block");
        writeFile(devices + "/sdb/removable", "1\n");
        QVERIFY(QDir().mkpath(devices + "/sdb/sdb1"));
        writeFile(devices + "/sda/removable", "0\n");
        QVERIFY(QDir().mkpath(devices + "/sda/sda1"));
        const QString block = sys.filePath("class/block");
        QVERIFY(QDir().mkpath(block));
        QVERIFY(QFile::link(devices + "/sdb/sdb1", block + "/sdb1"));
        QVERIFY(QFile::link(devices + "/sda/sda1", block + "/sda1"));
        QVERIFY(QFile::link(devices + "/sdb", block + "/sdb"));
        // Devices are named by their /dev path; these stand for them.
        QTemporaryDir dev;
        for (const char *name : {"sdb1", "sda1", "sdb"})
            writeFile(dev.filePath(name), "");
        auto removable = [&](const QString &mount, const QString &devName) {
            return IsRemovableVolume({mount, "/dev/../" + dev.filePath(devName)}, block);
        };
        // The device path must start with /dev/ to be looked up; the test devices live elsewhere.
        QVERIFY(!IsRemovableVolume({"/mnt/x", dev.filePath("sdb1")}, block));
        QVERIFY(removable("/mnt/card", "sdb1"));
        QVERIFY(removable("/mnt/whole", "sdb"));
        QVERIFY(!removable("/mnt/data", "sda1"));
        QVERIFY(IsRemovableVolume({"/media/ann/CARD", "tmpfs"}, block));
        QVERIFY(IsRemovableVolume({"/run/media/ann/CARD", ""}, block));
        QVERIFY(!IsRemovableVolume({"/mediaX", ""}, block));
    }

    void environmentReplacesTheScan()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("card"));
        qputenv("QUILLMERE_REMOVABLE_ROOTS", (dir.filePath("card") + ":/no/such/card").toLocal8Bit());
        QCOMPARE(EnumerateRemovableDrives(), QStringList{dir.filePath("card")});
        qputenv("QUILLMERE_REMOVABLE_ROOTS", "");
        QCOMPARE(EnumerateRemovableDrives(), QStringList());
        qunsetenv("QUILLMERE_REMOVABLE_ROOTS");
        QVERIFY(EnumerateRemovableDrives().size() <= MaxRemovableDrives);
    }
};

QTEST_GUILESS_MAIN(TestRemovableDrives)
#include "tst_removabledrives.moc"
