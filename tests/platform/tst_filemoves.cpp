#include "platform/FileMoves.h"

#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <unistd.h>

class TestFileMoves : public QObject
{
    Q_OBJECT
private slots:
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
};

QTEST_MAIN(TestFileMoves)
#include "tst_filemoves.moc"
