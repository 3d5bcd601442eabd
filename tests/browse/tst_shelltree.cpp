#include "browse/ShellTree.h"
#include "browse/ThumbsView.h"

#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"

#include <QAccessible>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestShellTree : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase()
    {
        for (const char *d : {"Photos/2026/May", "Photos/IMG_10", "Photos/IMG_2", "Photos/.old/inside", "photos",
                              "Empty", "Music"})
            QDir().mkpath(dir_.filePath(d));
        writeFile(dir_.filePath("Photos/a.jpg"));
        writeFile(dir_.filePath("notes.txt"));
    }

    void subfolders()
    {
        const QList<SubfolderEntry> top = ListSubfolders(dir_.path());
        QStringList names;
        for (const SubfolderEntry &e : top)
            names << e.name + (e.hasSubfolders ? "+" : "");
        QCOMPARE(names, QStringList({"Empty", "Music", "Photos+", "photos"}));
        names.clear();
        for (const SubfolderEntry &e : ListSubfolders(dir_.filePath("Photos")))
            names << e.name;
        QCOMPARE(names, QStringList({"2026", "IMG_2", "IMG_10"})); // no files, no dot-folders
        QCOMPARE(ListSubfolders(dir_.filePath("missing")).size(), 0);

        const QList<FolderPlace> places = DefaultFolderPlaces({"/media/someone/CARD"});
        QCOMPARE(places.first().path, QDir::homePath());
        QCOMPARE(places.last().name, QString("CARD"));
        QCOMPARE(places[places.size() - 2].path, QString("/"));
    }

    void buildsAndWalks()
    {
        RecordingPrompts user;
        CShellTree tree(user.prompts);
        tree.SetPlaces({{"Here", dir_.path()}, {"Photos", dir_.filePath("Photos")}});
        QSignalSpy selected(&tree, &CShellTree::folderSelected);
        tree.show();
        QCOMPARE(tree.topLevelItemCount(), 2);
        QVERIFY(tree.topLevelItem(0)->isExpanded());
        QTRY_COMPARE(tree.topLevelItem(0)->childCount(), 4);
        // The first place is selected without being listed.
        QCOMPARE(tree.selectedPath(), dir_.path());
        QCOMPARE(selected.size(), 0);
        // Items are read by their names and paths; the hidden column header by what it holds.
        QAccessibleInterface *access = QAccessible::queryAccessibleInterface(&tree);
        QCOMPARE(access->child(0)->role(), QAccessible::ColumnHeader);
        QCOMPARE(access->child(0)->text(QAccessible::Name), QString("Folders"));
        QCOMPARE(access->child(1)->text(QAccessible::Name), QString("Here"));
        QCOMPARE(access->child(1)->text(QAccessible::Description), dir_.path());
        QTreeWidgetItem *photos = tree.topLevelItem(0)->child(2);
        QCOMPARE(photos->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        QCOMPARE(tree.topLevelItem(0)->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

        // The most specific place is walked from; names match exactly first.
        QVERIFY(tree.SelectPath(dir_.filePath("Photos/2026/May/")));
        QTRY_COMPARE(tree.selectedPath(), dir_.filePath("Photos/2026/May"));
        QCOMPARE(tree.currentItem()->parent()->parent(), tree.topLevelItem(1));
        QCOMPARE(selected.size(), 1); // only the folder reached is listed
        QVERIFY(tree.SelectPath(dir_.filePath("photos")));
        QTRY_COMPARE(tree.selectedPath(), dir_.filePath("photos"));

        // A hidden folder is not in the tree: the walk ends on its parent, which is listed.
        QVERIFY(tree.SelectPath(dir_.filePath("Photos/.old/inside")));
        QTRY_COMPARE(tree.selectedPath(), dir_.filePath("Photos"));
        QCOMPARE(selected.last().first().toString(), dir_.filePath("Photos"));

        QVERIFY(!tree.SelectPath(dir_.filePath("nowhere")));
        QCOMPARE(user.shown.size(), 1);
        QCOMPARE(user.shown[0].text, dir_.filePath("nowhere"));
        QCOMPARE(user.shown[0].caption, QString("Folder not found"));
        QCOMPARE(user.shown[0].icon, PromptIcon::Error);
        QCOMPARE(tree.selectedPath(), dir_.filePath("Photos"));

        // A user's selection lists the folder and reads its children.
        QTreeWidgetItem *music = tree.topLevelItem(0)->child(1);
        tree.setCurrentItem(music);
        QCOMPARE(selected.last().first().toString(), dir_.filePath("Music"));
        QTRY_COMPARE(music->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    }

    void aWalkNeverOvertakesANewerChoice()
    {
        RecordingPrompts user;
        CShellTree tree(user.prompts);
        CThumbsView list;
        connect(&tree, &CShellTree::folderSelected, &list, &CThumbsView::ListFolder);
        tree.SetPlaces({{"Here", dir_.path()}});
        tree.show();
        QTreeWidgetItem *here = tree.topLevelItem(0);
        QTRY_COMPARE(here->childCount(), 4);
        const quint64 before = tree.folderRequests();

        // The walk has to read Photos and 2026 on its way down; meanwhile the user picks Photos.
        QVERIFY(tree.SelectPath(dir_.filePath("Photos/2026/May")));
        QVERIFY(tree.folderRequests() > before);
        QTreeWidgetItem *photos = here->child(2);
        tree.setCurrentItem(photos);
        QVERIFY(!tree.isWalking());

        // Everything the walk would have needed gets read all the same.
        QTRY_COMPARE(photos->childCount(), 3);
        photos->child(0)->setExpanded(true);
        QTRY_COMPARE(photos->child(0)->childCount(), 1);
        QTRY_COMPARE(list.count(), 1);
        QCOMPARE(tree.selectedPath(), dir_.filePath("Photos"));
        QCOMPARE(list.currentFolder(), dir_.filePath("Photos"));
    }
};

QTEST_MAIN(TestShellTree)
#include "tst_shelltree.moc"
