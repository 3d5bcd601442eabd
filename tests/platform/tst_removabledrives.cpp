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

    void removableIsReadFromSysfsOrTheBus()
    {
        QTemporaryDir sys;
        // The layout of /sys/class/block: links into the device tree, a partition inside its
        // disk. sdb is a card reader on USB; sdc a SATA disk that says removable; sda a fixed
        // SATA disk; sdd a USB disk that calls itself fixed, as many card readers do.
        const QString sata = sys.filePath("devices/pci0/ata1");
        const QString usb = sys.filePath("devices/pci0/usb1/1-1");
        const QString block = sys.filePath("class/block");
        QVERIFY(QDir().mkpath(block));
        const struct {
            QString parent;
            const char *disk;
            const char *removable;
        } disks[] = {{usb, "sdb", "1\n"}, {sata, "sda", "0\n"}, {sata, "sdc", "1\n"}, {usb, "sdd", "0\n"}};
        QTemporaryDir dev; // devices are named by their /dev path; these stand for them
        for (const auto &d : disks) {
            const QString disk = d.parent + "/block/" + d.disk;
            const QString part = disk + "/" + d.disk + "1";
            writeFile(disk + "/removable", d.removable);
            QVERIFY(QDir().mkpath(part));
            QVERIFY(QFile::link(disk, block + "/" + d.disk));
            QVERIFY(QFile::link(part, block + "/" + d.disk + "1"));
            writeFile(dev.filePath(d.disk), "");
            writeFile(dev.filePath(QString(d.disk) + "1"), "");
        }
        auto removable = [&](const QString &devName) {
            return IsRemovableVolume({"/mnt/x", "/dev/../" + dev.filePath(devName)}, block);
        };
        // The device path must start with /dev/ to be looked up; the test devices live elsewhere.
        QVERIFY(!IsRemovableVolume({"/mnt/x", dev.filePath("sdb1")}, block));
        QVERIFY(removable("sdb1"));
        QVERIFY(removable("sdb"));
        QVERIFY(!removable("sda1"));
        QVERIFY(removable("sdc1"));
        QVERIFY(removable("sdd1"));
        QVERIFY(IsRemovableVolume({"/media/ann/CARD", "tmpfs"}, block));
        QVERIFY(IsRemovableVolume({"/run/media/ann/CARD", ""}, block));
        QVERIFY(!IsRemovableVolume({"/mediaX", ""}, block));
    }

    void camerasAreFoldersOfTheDesktopsFuseMount()
    {
        QTemporaryDir gvfs;
        for (const char *name : {"mtp:host=Cam_X1", "gphoto2:host=%5Busb%3A001%2C004%5D", "smb-share:server=nas",
                                 "sftp:host=pc"})
            QVERIFY(QDir(gvfs.path()).mkdir(name));
        QStringList roots = CameraRootsUnder(gvfs.path());
        roots.sort();
        QCOMPARE(roots, (QStringList{gvfs.filePath("gphoto2:host=%5Busb%3A001%2C004%5D"),
                                     gvfs.filePath("mtp:host=Cam_X1")}));
        QCOMPARE(CameraRootsUnder(gvfs.filePath("none")), QStringList());
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
