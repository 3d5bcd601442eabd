#include "platform/FileMoves.h"

#include "support/TestFiles.h"

#include <QScopeGuard>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cerrno>
#include <unistd.h>

namespace {

// The trash's record of a trashed file: where it came from.
QString trashedFrom(const QString &trash, const QString &name)
{
    const QString info = QString::fromUtf8(readFile(trash + "/info/" + name + ".trashinfo"));
    const qsizetype at = info.indexOf("\nPath=");
    return at < 0 ? QString() : QUrl::fromPercentEncoding(info.mid(at + 6).section(u'\n', 0, 0).toUtf8());
}

} // namespace

class TestFileMoves : public QObject
{
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase()
    {
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home_.filePath("data")));
    }

    void neverReplaces_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("target"); // what already has the new name
        QTest::addColumn<int>("error");
        const struct {
            NoReplaceMethod method;
            const char *name;
        } methods[] = {{NoReplaceMethod::Best, "best"},
                       {NoReplaceMethod::LinkThenUnlink, "link"},
                       {NoReplaceMethod::CheckThenRename, "check"}};
        for (const auto &m : methods) {
            QTest::addRow("%s, free name", m.name) << int(m.method) << "" << 0;
            QTest::addRow("%s, a file", m.name) << int(m.method) << "file" << EEXIST;
            QTest::addRow("%s, a dangling link", m.name) << int(m.method) << "link" << EEXIST;
        }
        // Folders cannot be hard-linked; the best method falls back past the links.
        QTest::addRow("best, a folder") << int(NoReplaceMethod::Best) << "folder" << EEXIST;
        QTest::addRow("check, a folder") << int(NoReplaceMethod::CheckThenRename) << "folder" << EEXIST;
    }
    void neverReplaces()
    {
        QFETCH(int, method);
        QFETCH(QString, target);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString from = dir.filePath("beach.jpg"), to = dir.filePath("sea.jpg");
        writeFile(from, "beach");
        if (target == "file")
            writeFile(to, "sea");
        else if (target == "link")
            QVERIFY(::symlink("nowhere.jpg", QFile::encodeName(to).constData()) == 0);
        else if (target == "folder")
            QVERIFY(QDir().mkdir(to));

        QCOMPARE(RenameWithoutReplacing(from, to, NoReplaceMethod(method)), error);
        if (error == 0) {
            QVERIFY(!QFileInfo::exists(from));
            QCOMPARE(readFile(to), QByteArray("beach"));
        } else {
            QCOMPARE(readFile(from), QByteArray("beach"));
            if (target == "file")
                QCOMPARE(readFile(to), QByteArray("sea"));
            QCOMPARE(QFileInfo(to).isSymLink(), target == "link");
            QCOMPARE(QFileInfo(to).isDir(), target == "folder");
        }
    }

    void aFolderTooIsRenamed()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkdir(dir.filePath("trip.jpg")));
        QCOMPARE(RenameWithoutReplacing(dir.filePath("trip.jpg"), dir.filePath("tour.jpg")), 0);
        QVERIFY(QFileInfo(dir.filePath("tour.jpg")).isDir());
    }

    void aNulNeverCutsTheName()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("beach.jpg"), "beach");
        QCOMPARE(RenameWithoutReplacing(dir.filePath("beach.jpg"), dir.filePath(QString("sea") + QChar(0) + ".jpg")),
                 EINVAL);
        QVERIFY(QFileInfo::exists(dir.filePath("beach.jpg")));
        QVERIFY(!QFileInfo::exists(dir.filePath("sea")));
    }

    void trashedPhotosKeepTheirNamesApartAndTheirOrigin()
    {
        // Two photos of one name from two folders: neither replaces the other in the trash,
        // and each knows where it came from.
        QTemporaryDir dir;
        const QString first = dir.filePath("a/IMG 1.jpg"), second = dir.filePath("b/IMG 1.jpg");
        writeFile(first, "first");
        writeFile(second, "second");
        QVERIFY(MoveToTrash(first));
        QVERIFY(MoveToTrash(second));
        QVERIFY(!QFileInfo::exists(first) && !QFileInfo::exists(second));
        const QString trash = home_.filePath("data/Trash");
        const QStringList names = QDir(trash + "/files").entryList(QDir::Files);
        QCOMPARE(names.size(), 2);
        QStringList origins;
        QList<QByteArray> contents;
        for (const QString &name : names) {
            origins << trashedFrom(trash, name);
            contents << readFile(trash + "/files/" + name);
        }
        QCOMPARE(QSet<QString>(origins.begin(), origins.end()), (QSet<QString>{first, second}));
        QCOMPARE(contents[origins.indexOf(first)], QByteArray("first"));
        QCOMPARE(contents[origins.indexOf(second)], QByteArray("second"));
    }

    void aPhotoOnAnotherVolumeGoesToThatVolumesTrash()
    {
        // /dev/shm is a volume of its own on most systems: a card or a second disk as far as
        // the trash is concerned.
        const QStorageInfo volume(QStringLiteral("/dev/shm"));
        if (!volume.isValid() || volume.rootPath() != "/dev/shm" || volume == QStorageInfo(home_.path())
            || !QFileInfo("/dev/shm").isWritable())
            QSKIP("no writable volume apart from the home folder's");
        const QString trash = QStringLiteral("/dev/shm/.Trash-") + QString::number(::getuid());
        const bool trashWasThere = QFileInfo::exists(trash);
        QTemporaryDir dir(QStringLiteral("/dev/shm/qlm-trash-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString photo = dir.filePath("card photo.jpg");
        writeFile(photo, "on the card");
        QVERIFY(MoveToTrash(photo));
        QVERIFY(!QFileInfo::exists(photo));
        QString trashed;
        for (const QString &name : QDir(trash + "/files").entryList({"card photo*.jpg"}, QDir::Files))
            if (trashedFrom(trash, name) == photo)
                trashed = name;
        const auto cleanUp = qScopeGuard([&] {
            QFile::remove(trash + "/files/" + trashed);
            QFile::remove(trash + "/info/" + trashed + ".trashinfo");
            if (!trashWasThere)
                QDir(trash).removeRecursively();
        });
        QVERIFY(!trashed.isEmpty());
        QCOMPARE(readFile(trash + "/files/" + trashed), QByteArray("on the card"));
        QVERIFY(QDir(home_.filePath("data/Trash/files")).entryList({"card photo*"}).isEmpty());
    }
};

QTEST_MAIN(TestFileMoves)
#include "tst_filemoves.moc"
