#include "browse/ImageView.h"
#include "browse/PhotoListCommands.h"
#include "browse/ThumbsMenu.h"
#include "browse/ThumbsView.h"

#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

using C = ThumbsCommand;

QByteArray contentsOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The list and the view, wired as the frame wires them, with the commands on them.
struct Fixture
{
    QTemporaryDir dir;
    CThumbsView list;
    CQuillmereNewClientView view;
    RecordingPrompts user;
    PhotoListCommands commands{list, view, user.prompts};
    QSignalSpy finished{&commands, &PhotoListCommands::finished};

    explicit Fixture(const QStringList &names)
    {
        for (const QString &name : names)
            writeFile(dir.filePath(name), jpeg(QSize(64, 48), Qt::darkGreen));
        QObject::connect(&list, &CThumbsView::showPhoto, &view, &CQuillmereNewClientView::SetFile);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    bool listed()
    {
        QSignalSpy done(&list, &CThumbsView::workerFinished);
        list.ListFolder(dir.path());
        return done.wait(20000);
    }
    int row(const QString &name) const
    {
        for (int i = 0; i < list.count(); ++i)
            if (list.item(i)->text() == name)
                return i;
        return -1;
    }
    void select(const QList<int> &rows, int mark)
    {
        list.clearSelection();
        list.setCurrentRow(mark, QItemSelectionModel::NoUpdate);
        for (int r : rows)
            list.item(r)->setSelected(true);
    }
    QStringList labels() const
    {
        QStringList out;
        for (int i = 0; i < list.count(); ++i)
            out << list.item(i)->text();
        return out;
    }
    bool commandDone()
    {
        return !finished.isEmpty() || finished.wait(20000);
    }
};

// What a pop-up menu showed, and the entry to choose in it (none: it is closed).
struct MenuSeen
{
    bool opened = false;
    QString objectName;
    QStringList entries; // "-" for a separator
    QStringList disabled;
    QString defaultEntry;
};

std::unique_ptr<QTimer> watchForMenu(MenuSeen &seen, const QString &choose = {})
{
    auto poll = std::make_unique<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, poll.get(), [&seen, choose, timer = poll.get()] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        timer->stop();
        seen.opened = true;
        seen.objectName = menu->objectName();
        QAction *chosen = nullptr;
        for (QAction *a : menu->actions()) {
            seen.entries << (a->isSeparator() ? QString("-") : a->text());
            if (!a->isSeparator() && !a->isEnabled())
                seen.disabled << a->text();
            if (a->text() == choose)
                chosen = a;
        }
        seen.defaultEntry = menu->defaultAction() ? menu->defaultAction()->text() : QString();
        if (chosen)
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        else
            menu->close();
    });
    poll->start(10);
    return poll;
}

// A right press (which selects, as a click does) followed by the menu request the window
// system makes of it.
void rightClick(CThumbsView &list, QPoint at)
{
    QTest::mousePress(list.viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &menu);
    QTest::mouseRelease(list.viewport(), Qt::RightButton, {}, at);
}

} // namespace

class TestListCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir home_;

private slots:
    void initTestCase()
    {
        // The trash of these tests is their own.
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home_.filePath("data")));
    }

    void menuStates_data()
    {
        QTest::addColumn<int>("mark");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("hit");
        QTest::addColumn<int>("shown");
        QTest::addColumn<bool>("showEnabled");
        QTest::addColumn<bool>("oneEnabled"); // rename and extended info
        QTest::addColumn<int>("defaultCommand"); // -1: none
        QTest::newRow("one selected") << 2 << 1 << 2 << 0 << true << true << int(C::ShowPhoto);
        QTest::newRow("the shown one") << 2 << 1 << 2 << 2 << false << true << -1;
        QTest::newRow("two selected") << 2 << 2 << 2 << 0 << false << false << int(C::UploadPhotos);
        QTest::newRow("mark, none selected") << 2 << -1 << 2 << 0 << false << false << int(C::UploadPhotos);
        QTest::newRow("no mark") << -1 << 1 << 2 << 0 << false << false << int(C::UploadPhotos);
    }
    void menuStates()
    {
        QFETCH(int, mark);
        QFETCH(int, selected);
        QFETCH(int, hit);
        QFETCH(int, shown);
        QFETCH(bool, showEnabled);
        QFETCH(bool, oneEnabled);
        QFETCH(int, defaultCommand);
        const ThumbsMenuStates s = ComputeThumbsMenuStates({mark, selected, hit, shown});
        QCOMPARE(s.isEnabled(C::ShowPhoto), showEnabled);
        QCOMPARE(s.isEnabled(C::RenamePhoto), oneEnabled);
        QCOMPARE(s.isEnabled(C::ExtendedPhotoInfo), oneEnabled);
        for (C always : {C::UploadPhotos, C::BuyPhotos, C::SendAsEmail, C::DeletePhotos})
            QVERIFY(s.isEnabled(always));
        QCOMPARE(s.defaultCommand ? int(*s.defaultCommand) : -1, defaultCommand);
    }

    void theMenuOpensOnItemsOnly()
    {
        Fixture f({"a.jpg", "b.jpg", "c.jpg"});
        QVERIFY(f.listed());
        f.list.resize(700, 400);
        f.list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.list));

        // Empty space: no menu.
        MenuSeen none;
        auto poll = watchForMenu(none);
        rightClick(f.list, QPoint(650, 350));
        QVERIFY(!none.opened);

        // Two selected, one of them right-clicked: the selection stays; Upload is the default.
        f.select({0, 2}, 0);
        MenuSeen two;
        poll = watchForMenu(two);
        rightClick(f.list, f.list.visualItemRect(f.list.item(2)).center());
        QVERIFY(two.opened);
        QCOMPARE(two.objectName, QString("ThumbsViewPopupMenu"));
        QCOMPARE(two.entries, (QStringList{"&Show Photo", "-", "Upload Photo(s)", "-", "Buy Photo(s)", "-",
                                           "Send as E-mail", "Rename Photo", "Delete Photo(s)", "-",
                                           "Extended Photo Info"}));
        QCOMPARE(two.defaultEntry, QString("Upload Photo(s)"));
        QCOMPARE(two.disabled, (QStringList{"&Show Photo", "Rename Photo", "Extended Photo Info"}));
        QCOMPARE(f.list.GetSelectedCount(), 2);

        // The photo shown, alone selected: nothing to show, no default.
        f.list.ShowPhotoAt(1, true);
        MenuSeen shown;
        poll = watchForMenu(shown);
        rightClick(f.list, f.list.visualItemRect(f.list.item(1)).center());
        QVERIFY(shown.opened);
        QCOMPARE(shown.disabled, QStringList{"&Show Photo"});
        QVERIFY(shown.defaultEntry.isEmpty());

        // From the keyboard, on the selection mark; a chosen command that is not the list's own
        // is handed on.
        QSignalSpy handedOn(&f.list, &CThumbsView::commandRequested);
        f.select({2}, 2);
        MenuSeen keyboard;
        poll = watchForMenu(keyboard, "Delete Photo(s)");
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), f.list.mapToGlobal(QPoint()));
        QApplication::sendEvent(&f.list, &menuKey);
        QVERIFY(keyboard.opened);
        QCOMPARE(keyboard.defaultEntry, QString("&Show Photo"));
        QCOMPARE(handedOn.size(), 1);
        QCOMPARE(handedOn[0][0].value<ThumbsCommand>(), C::DeletePhotos);

        // Show Photo shows the selection mark's photo; without a mark, no menu from the keyboard.
        f.list.RunCommand(C::ShowPhoto);
        QCOMPARE(f.view.path(), f.path("c.jpg"));
        f.list.setCurrentRow(-1);
        MenuSeen noMark;
        poll = watchForMenu(noMark);
        QApplication::sendEvent(&f.list, &menuKey);
        QVERIFY(!noMark.opened);
    }

    void rename_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption"); // of the message; empty: none
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("renamed");
        const QString invalid = "Invalid file name! Please enter a different name.\n"
                                "A file name cannot contain any of the following characters:\n"
                                " /   \\   %   :   *   <   >   |   \"";
        const QString extension = "Cannot change file extension.";
        const QString exists = "File with that name already exists.";
        QTest::newRow("sea.jpg") << "sea.jpg" << "" << "" << true;
        QTest::newRow("sea.JPG") << "sea.JPG" << "Rename error" << extension << false;
        QTest::newRow("sea.png") << "sea.png" << "Rename error" << extension << false;
        QTest::newRow("sea") << "sea" << "Rename error" << extension << false;
        QTest::newRow("after the dot, a folder") << "sea.jpg/x" << "Rename error" << extension << false;
        QTest::newRow(".jpg") << ".jpg" << "" << "" << false;
        QTest::newRow("empty") << "" << "" << "" << false;
        QTest::newRow("sea?.jpg") << "sea?.jpg" << "Invalid File Name" << invalid << false;
        QTest::newRow("into a folder") << "../sea.jpg" << "Invalid File Name" << invalid << false;
        QTest::newRow("a NUL") << QString("sea") + QChar(0) + ".jpg" << "Invalid File Name" << invalid << false;
        QTest::newRow("50%.jpg") << "50%.jpg" << "" << "" << true;
        QTest::newRow("unchanged") << "beach.jpg" << "Rename error" << exists << false;
        QTest::newRow("another photo's name") << "taken.jpg" << "Rename error" << exists << false;
        QTest::newRow("a folder's name") << "album.jpg" << "Rename error" << exists << false;
        // Names differ by case here: Beach.jpg is free, and the photo takes it.
        QTest::newRow("Beach.jpg") << "Beach.jpg" << "" << "" << true;
    }
    void rename()
    {
        QFETCH(QString, text);
        QFETCH(QString, caption);
        QFETCH(QString, message);
        QFETCH(bool, renamed);
        Fixture f({"beach.jpg", "taken.jpg"});
        QVERIFY(QDir(f.dir.path()).mkdir("album.jpg"));
        const QString beach = f.path("beach.jpg");
        QVERIFY(QFile::setPermissions(beach, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray taken = contentsOf(f.path("taken.jpg"));
        QVERIFY(f.listed());
        const int row = f.row("beach.jpg");
        f.list.ShowPhotoAt(row, true);

        f.commands.RenamePhoto(beach, text);
        QVERIFY(f.commandDone());
        if (caption.isEmpty()) {
            QVERIFY(f.user.shown.isEmpty());
        } else {
            QCOMPARE(f.user.shown.size(), 1);
            QCOMPARE(f.user.shown[0].caption, caption);
            QCOMPARE(f.user.shown[0].text, message);
            QCOMPARE(f.user.shown[0].icon, PromptIcon::Error);
        }
        const QString now = renamed ? f.path(text) : beach;
        QVERIFY(QFileInfo(now).isFile());
        QCOMPARE(QFileInfo::exists(beach), !renamed);
        QCOMPARE(contentsOf(f.path("taken.jpg")), taken);
        QVERIFY(QFileInfo(f.path("album.jpg")).isDir());
        // The entry keeps its place, under its new name; the view follows it.
        QCOMPARE(f.list.item(row)->text(), QFileInfo(now).fileName());
        QCOMPARE(f.list.photos().indexOf(now), row);
        QCOMPARE(f.view.path(), now);
        // The owner may write the photo only once it is really renamed.
        QCOMPARE(bool(QFile::permissions(now) & QFile::WriteOwner), renamed);
    }

    void anEditEndedByAClickElsewhereRenamesTheEditedPhoto()
    {
        Fixture f({"a.jpg", "b.jpg", "c.jpg"});
        QVERIFY(f.listed());
        f.list.show();
        QSignalSpy asked(&f.list, &CThumbsView::renameRequested);
        f.select({1}, 1);
        f.list.StartRename();
        auto *editor = f.list.findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->setText("sea.jpg");
        // Another item becomes current before the edit is committed.
        f.list.setCurrentRow(2);
        QTRY_COMPARE(asked.size(), 1);
        QCOMPARE(asked[0], (QList<QVariant>{f.path("b.jpg"), QString("sea.jpg")}));
    }

    void deletingThreePhotos()
    {
        // The data folder does not exist yet: the trash is made in it (not in the working folder).
        Fixture f({"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg"});
        QVERIFY(f.listed());
        f.list.ShowPhotoAt(1, true);
        f.select({1, 2, 3}, 1);

        // Answered No: nothing happens.
        f.user.answers << PromptAnswer::No;
        f.commands.DeletePhotos();
        QVERIFY(f.commandDone());
        QCOMPARE(f.list.count(), 5);
        QVERIFY(QFileInfo::exists(f.path("p2.jpg")));
        const Prompt question = f.user.shown.takeFirst();
        QCOMPARE(question.text, QString("Do you want to delete these 3 images?\nDeleting images will move them to the Trash."));
        QCOMPARE(question.caption, QString("Delete images?"));
        QCOMPARE(question.icon, PromptIcon::Warning);
        QCOMPARE(question.buttons, PromptButtons::YesNo);
        QCOMPARE(question.defaultAnswer, PromptAnswer::No);

        f.finished.clear();
        f.user.answers << PromptAnswer::Yes;
        f.commands.DeletePhotos();
        QVERIFY(f.commandDone());
        QCOMPARE(f.user.shown.size(), 1); // the question only
        const QString trash = home_.filePath("data/Trash/files/");
        for (const char *gone : {"p2.jpg", "p3.jpg", "p4.jpg"}) {
            QVERIFY(!QFileInfo::exists(f.path(gone)));
            QVERIFY(QFileInfo::exists(trash + gone));
        }
        QCOMPARE(f.labels(), (QStringList{"p1.jpg", "p5.jpg"}));
        QCOMPARE(f.list.photos(), (QStringList{f.path("p1.jpg"), f.path("p5.jpg")}));
        // The photo shown went: the view shows the first that remains.
        QCOMPARE(f.view.path(), f.path("p1.jpg"));

        // What remains keeps its place: a photo saved again replaces its own item.
        f.list.AddOrReplacePhoto(f.path("p5.jpg"));
        QCOMPARE(f.labels(), (QStringList{"p1.jpg", "p5.jpg"}));
    }

    void deletingTheShownPhotoOfAOnePhotoPage()
    {
        QStringList names;
        for (int i = 1; i <= 9; ++i)
            names << QString("q%1.jpg").arg(i);
        Fixture f(names);
        QVERIFY(f.listed());
        QSignalSpy done(&f.list, &CThumbsView::workerFinished);
        f.list.NextPage();
        QVERIFY(done.wait(20000));
        QCOMPARE(f.labels(), QStringList{"q9.jpg"});
        f.list.ShowPhotoAt(0, true);
        QCOMPARE(f.view.path(), f.path("q9.jpg"));
        f.select({0}, 0);
        f.user.answers << PromptAnswer::Yes;
        f.commands.DeletePhotos();
        QVERIFY(f.commandDone());
        QCOMPARE(f.user.shown[0].text, QString("Do you want to delete this image?\nDeleting images will move them to the Trash."));
        QCOMPARE(f.list.count(), 0);
        QVERIFY(f.view.path().isEmpty());
        QCOMPARE(f.list.photos().size(), 8);
    }

    void aTrashThatFailsKeepsThePhoto()
    {
        Fixture f({"keep.jpg", "other.jpg"});
        QVERIFY(f.listed());
        // A file where the trash folder should be: nothing can be moved into it.
        QVERIFY(QDir().mkpath(home_.filePath("data")));
        const QString trash = home_.filePath("data/Trash");
        QDir(trash).removeRecursively();
        writeFile(trash, "in the way");
        f.select({0}, 0);
        f.user.answers << PromptAnswer::Yes;
        f.commands.DeletePhotos();
        QVERIFY(f.commandDone());
        QFile::remove(trash);
        QVERIFY(QFileInfo::exists(f.path("keep.jpg")));
        QVERIFY(!QFileInfo::exists("files/keep.jpg"));
        QCOMPARE(f.labels(), (QStringList{"keep.jpg", "other.jpg"}));
        QCOMPARE(f.list.photos().size(), 2);
        QCOMPARE(f.user.shown.size(), 2);
        QCOMPARE(f.user.shown[1].caption, QString("Quillmere"));
        QVERIFY(f.user.shown[1].text.startsWith("These photos could not be moved to the Trash and were kept:\nkeep.jpg: "));
    }

    void extendedPhotoInfo()
    {
        Fixture f({"plain.jpg"});
        writeFile(f.path("camera.jpg"), jpeg(QSize(64, 48), Qt::red, 6));
        QVERIFY(QDir(f.dir.path()).mkdir("folder.jpg"));
        QVERIFY(f.listed());

        f.select({f.row("camera.jpg")}, f.row("camera.jpg"));
        f.commands.ShowExtendedPhotoInfo();
        QVERIFY(f.commandDone());
        QCOMPARE(f.user.shown.size(), 1);
        QCOMPARE(f.user.shown[0].caption, QString("Extended Image Info"));
        QCOMPARE(f.user.shown[0].icon, PromptIcon::None);
        QCOMPARE(f.user.shown[0].buttons, PromptButtons::Ok);
        QVERIFY(f.user.shown[0].text.startsWith("Width x Height   : 64 x 48\n"));
        QVERIFY(f.user.shown[0].text.contains("Orientation  : Rotated 90 CW\n"));

        f.finished.clear();
        f.select({f.row("plain.jpg")}, f.row("plain.jpg"));
        f.commands.ShowExtendedPhotoInfo();
        QVERIFY(f.commandDone());
        QCOMPARE(f.user.shown[1].text, QString("No extended image information found!"));
        QCOMPARE(f.user.shown[1].caption, QString("Extended Image Info"));

        // Nothing readable, or nothing marked: nothing shown.
        for (int mark : {f.row("folder.jpg"), -1}) {
            f.finished.clear();
            f.select({}, mark);
            f.commands.ShowExtendedPhotoInfo();
            QVERIFY(f.commandDone());
        }
        QCOMPARE(f.user.shown.size(), 2);
    }
};

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
