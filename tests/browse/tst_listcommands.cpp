#include "browse/ImageView.h"
#include "browse/PhotoListCommands.h"
#include "browse/ThumbsMenu.h"
#include "browse/ThumbsView.h"

#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QScopeGuard>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ThumbsMenuSnapshot)

namespace {

using C = ThumbsCommand;

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
    int row(const QString &name) const { return list.row(list.findItems(name, Qt::MatchExactly).value(0)); }
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
    // Runs a command to its end, messages included.
    bool run(const std::function<void()> &command)
    {
        finished.clear();
        command();
        return !finished.isEmpty() || finished.wait(20000);
    }
};

// The entries of the pop-up menu when it opens ("-" a separator, "*" before the default, "!"
// before a disabled one); then `choose` is clicked, or the menu closed.
QStringList menuAfter(const std::function<void()> &open, const QString &choose = {})
{
    QStringList seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || !seen.isEmpty())
            return;
        seen << menu->objectName();
        for (QAction *a : menu->actions())
            seen << (a->isSeparator() ? QString("-")
                                      : QString(menu->defaultAction() == a ? "*" : "") + (a->isEnabled() ? "" : "!") + a->text());
        QAction *chosen = nullptr;
        for (QAction *a : menu->actions())
            if (a->text() == choose)
                chosen = a;
        if (chosen)
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        else
            menu->close();
    });
    poll.start(10);
    open();
    return seen;
}

// A right press (which selects, as a click does), then the menu request the window system
// makes of it.
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
        // A trash of the tests' own, in a data folder that does not exist yet.
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home_.filePath("data")));
    }

    void menuStates_data()
    {
        QTest::addColumn<ThumbsMenuSnapshot>("snapshot");
        QTest::addColumn<bool>("showEnabled");
        QTest::addColumn<bool>("oneEnabled"); // rename and extended info
        QTest::addColumn<int>("defaultCommand"); // -1: none
        QTest::newRow("one selected") << ThumbsMenuSnapshot{2, 1, 2, 0} << true << true << int(C::ShowPhoto);
        QTest::newRow("the shown one") << ThumbsMenuSnapshot{2, 1, 2, 2} << false << true << -1;
        QTest::newRow("two selected") << ThumbsMenuSnapshot{2, 2, 2, 0} << false << false << int(C::UploadPhotos);
        QTest::newRow("no mark") << ThumbsMenuSnapshot{-1, 1, 2, 0} << false << false << int(C::UploadPhotos);
    }
    void menuStates()
    {
        QFETCH(ThumbsMenuSnapshot, snapshot);
        QFETCH(bool, showEnabled);
        QFETCH(bool, oneEnabled);
        QFETCH(int, defaultCommand);
        const ThumbsMenuStates s = ComputeThumbsMenuStates(snapshot);
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
        QVERIFY(menuAfter([&] { rightClick(f.list, QPoint(650, 350)); }).isEmpty());

        // Two selected, one of them right-clicked: the selection stays.
        f.select({0, 2}, 0);
        const QStringList two = menuAfter([&] { rightClick(f.list, f.list.visualItemRect(f.list.item(2)).center()); });
        QCOMPARE(two, (QStringList{"ThumbsViewPopupMenu", "!&Show Photo", "-", "*Upload Photo(s)", "-", "Buy Photo(s)",
                                   "-", "Send as E-mail", "!Rename Photo", "Delete Photo(s)", "-", "!Extended Photo Info"}));
        QCOMPARE(f.list.GetSelectedCount(), 2);

        // From the keyboard, on the selection mark; a command not the list's own is handed on.
        QSignalSpy handedOn(&f.list, &CThumbsView::commandRequested);
        f.select({2}, 2);
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), f.list.mapToGlobal(QPoint()));
        const QStringList one = menuAfter([&] { QApplication::sendEvent(&f.list, &menuKey); }, "Delete Photo(s)");
        QCOMPARE(one.value(1), QString("*&Show Photo"));
        QCOMPARE(handedOn.size(), 1);
        QCOMPARE(handedOn[0][0].value<ThumbsCommand>(), C::DeletePhotos);
    }

    void theMenuKeyOpensTheMenuOnTheItemInSight()
    {
        Fixture f({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg", "g.jpg", "h.jpg"});
        QVERIFY(f.listed());
        f.list.resize(170, 200); // one tile across, one and a bit down
        f.list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.list));
        f.select({7}, 7);
        f.list.scrollToTop();
        QPoint menuAt;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QWidget *menu = QApplication::activePopupWidget()) {
                menuAt = menu->pos();
                menu->close();
            }
        });
        poll.start(10);
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), f.list.mapToGlobal(QPoint()));
        QApplication::sendEvent(&f.list, &menuKey);
        const QRect item = f.list.visualItemRect(f.list.item(7));
        QVERIFY(f.list.viewport()->rect().contains(item.center()));
        QCOMPARE(menuAt, f.list.viewport()->mapToGlobal(item.center()));
    }

    void enterAndShowPhoto_data()
    {
        QTest::addColumn<bool>("byMenu"); // Show Photo; else the Enter key
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("gone");   // the photo left the disk since it was listed
        QTest::addColumn<bool>("shown");
        QTest::newRow("Enter") << false << int(Qt::NoModifier) << false << true;
        QTest::newRow("Enter on the keypad") << false << int(Qt::KeypadModifier) << false << true;
        QTest::newRow("Ctrl+Enter") << false << int(Qt::ControlModifier) << false << false;
        QTest::newRow("Enter, photo gone") << false << int(Qt::NoModifier) << true << false;
        QTest::newRow("Show Photo, photo gone") << true << int(Qt::NoModifier) << true << true;
    }
    void enterAndShowPhoto()
    {
        QFETCH(bool, byMenu);
        QFETCH(int, modifiers);
        QFETCH(bool, gone);
        QFETCH(bool, shown);
        Fixture f({"a.jpg", "b.jpg"});
        QVERIFY(f.listed());
        QCOMPARE(f.view.path(), f.path("a.jpg"));
        f.select({1}, 1);
        if (gone)
            QVERIFY(QFile::remove(f.path("b.jpg")));
        if (byMenu)
            f.list.RunCommand(C::ShowPhoto);
        else
            QTest::keyClick(&f.list, Qt::Key_Return, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f.view.path(), shown ? f.path("b.jpg") : f.path("a.jpg"));
        QCOMPARE(f.list.shownIndex(), shown ? 1 : 0);
    }

    void thePhotoShownIsThatOfItsOwnPage()
    {
        QStringList names;
        for (int i = 1; i <= 10; ++i)
            names << QString("r%1.jpg").arg(i, 2, 10, QChar('0'));
        Fixture f(names);
        QVERIFY(f.listed());
        f.list.resize(700, 400);
        f.list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.list));
        auto menuOnFirst = [&] {
            f.select({0}, 0);
            return menuAfter([&] { rightClick(f.list, f.list.visualItemRect(f.list.item(0)).center()); }).value(1);
        };
        QCOMPARE(menuOnFirst(), QString("!&Show Photo"));
        // The first photo of the folder is shown; the next page's first item is another photo.
        QSignalSpy done(&f.list, &CThumbsView::workerFinished);
        f.list.NextPage();
        QVERIFY(done.wait(20000));
        QCOMPARE(menuOnFirst(), QString("*&Show Photo"));
        f.list.PrevPage();
        QVERIFY(done.wait(20000));
        QCOMPARE(menuOnFirst(), QString("!&Show Photo"));
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
        QTest::newRow("a slash after the dot") << "sea.jpg/x" << "Rename error" << extension << false;
        QTest::newRow(".jpg") << ".jpg" << "" << "" << false;
        QTest::newRow("sea?.jpg") << "sea?.jpg" << "Invalid File Name" << invalid << false;
        QTest::newRow("into the folder above") << "../sea.jpg" << "Invalid File Name" << invalid << false;
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
        const QByteArray taken = readFile(f.path("taken.jpg"));
        QVERIFY(f.listed());
        const int row = f.row("beach.jpg");
        f.list.ShowPhotoAt(row, true);

        QVERIFY(f.run([&] { f.commands.RenamePhoto(beach, text); }));
        QCOMPARE(f.user.shown.size(), caption.isEmpty() ? 0 : 1);
        if (!caption.isEmpty()) {
            QCOMPARE(f.user.shown[0].caption, caption);
            QCOMPARE(f.user.shown[0].text, message);
            QCOMPARE(f.user.shown[0].icon, PromptIcon::Error);
        }
        const QString now = renamed ? f.path(text) : beach;
        QVERIFY(QFileInfo(now).isFile());
        QCOMPARE(QFileInfo::exists(beach), !renamed);
        QCOMPARE(readFile(f.path("taken.jpg")), taken);
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
        f.list.setCurrentRow(2); // another item becomes current before the edit is committed
        QTRY_COMPARE(asked.size(), 1);
        QCOMPARE(asked[0], (QList<QVariant>{f.path("b.jpg"), QString("sea.jpg")}));
    }

    void aRefusedNameTypedIntoTheLabelIsToldOnceTheEditEnds()
    {
        Fixture f({"beach.jpg", "sea.jpg"});
        QVERIFY(f.listed());
        QObject::connect(&f.list, &CThumbsView::renameRequested, &f.commands, &PhotoListCommands::RenamePhoto);
        // As a real message box does: a window of its own takes the focus from the label's
        // editor, and its event loop runs until the user answers.
        f.user.prompts.setHandler([&](const Prompt &p) {
            f.user.shown << p;
            QDialog box;
            QTimer::singleShot(50, &box, &QDialog::accept);
            box.exec();
            return PromptAnswer::Ok;
        });
        f.list.show();
        f.list.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.list));
        for (const QString &typed : {QString("sea?.jpg"), QString("sea.png"), QString("sea.jpg")}) {
            f.finished.clear();
            f.select({0}, 0);
            f.list.StartRename();
            auto *editor = f.list.findChild<QLineEdit *>();
            QVERIFY(editor);
            editor->setText(typed);
            QTest::keyClick(editor, Qt::Key_Return);
            QVERIFY(!f.finished.isEmpty() || f.finished.wait(20000));
            QTRY_VERIFY(!f.list.findChild<QLineEdit *>());
            QCOMPARE(f.labels(), (QStringList{"beach.jpg", "sea.jpg"}));
        }
        QCOMPARE(f.user.shown.size(), 3);
        QCOMPARE(f.user.shown[2].text, QString("File with that name already exists."));
    }

    void deletingThreePhotos()
    {
        Fixture f({"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg"});
        QVERIFY(f.listed());
        f.list.ShowPhotoAt(1, true);
        f.select({1, 2, 3}, 1);
        f.user.answers << PromptAnswer::No << PromptAnswer::Yes;
        QVERIFY(f.run([&] { f.commands.DeletePhotos(); }));
        QCOMPARE(f.list.count(), 5);
        const Prompt question = f.user.shown.takeFirst();
        QCOMPARE(question.text, QString("Do you want to delete these 3 images?\nDeleting images will move them to the Trash."));
        QCOMPARE(question.caption, QString("Delete images?"));
        QCOMPARE(question.icon, PromptIcon::Warning);
        QCOMPARE(question.buttons, PromptButtons::YesNo);
        QCOMPARE(question.defaultAnswer, PromptAnswer::No);

        QVERIFY(f.run([&] { f.commands.DeletePhotos(); }));
        QCOMPARE(f.user.shown.size(), 1); // the question only
        for (const char *gone : {"p2.jpg", "p3.jpg", "p4.jpg"}) {
            QVERIFY(!QFileInfo::exists(f.path(gone)));
            QVERIFY(QFileInfo::exists(home_.filePath("data/Trash/files/") + gone));
        }
        QCOMPARE(f.labels(), (QStringList{"p1.jpg", "p5.jpg"}));
        QCOMPARE(f.list.photos(), (QStringList{f.path("p1.jpg"), f.path("p5.jpg")}));
        QCOMPARE(f.view.path(), f.path("p1.jpg")); // the photo shown went: the first that remains
        // What remains keeps its place: a photo saved again replaces its own item.
        f.list.AddOrReplacePhoto(f.path("p5.jpg"));
        QCOMPARE(f.labels(), (QStringList{"p1.jpg", "p5.jpg"}));
    }

    void photosAfterThePageMoveUpOntoIt()
    {
        QStringList names;
        for (int i = 1; i <= 10; ++i)
            names << QString("m%1.jpg").arg(i, 2, 10, QChar('0'));
        Fixture f(names);
        QVERIFY(f.listed());
        QSignalSpy pages(&f.list, &CThumbsView::pageChanged);
        f.select({1, 2}, 1);
        f.user.answers << PromptAnswer::Yes;
        QVERIFY(f.run([&] { f.commands.DeletePhotos(); }));
        // One page is left, and it shows every photo that remains.
        QCOMPARE(f.list.GetPageCount(), 1);
        QCOMPARE(pages.last(), (QList<QVariant>{0, 1}));
        QTRY_COMPARE(f.labels(), (QStringList{"m01.jpg", "m04.jpg", "m05.jpg", "m06.jpg", "m07.jpg", "m08.jpg", "m09.jpg",
                                              "m10.jpg"}));
        QCOMPARE(f.view.path(), f.path("m01.jpg"));
    }

    void deletingTheShownPhotoOfTheLastPageAlone()
    {
        QStringList names;
        for (int i = 1; i <= 9; ++i)
            names << QString("q%1.jpg").arg(i);
        Fixture f(names);
        QVERIFY(f.listed());
        QSignalSpy done(&f.list, &CThumbsView::workerFinished);
        f.list.NextPage();
        QVERIFY(done.wait(20000));
        f.list.ShowPhotoAt(0, true);
        f.select({0}, 0);
        QSignalSpy pages(&f.list, &CThumbsView::pageChanged);
        f.user.answers << PromptAnswer::Yes;
        QVERIFY(f.run([&] { f.commands.DeletePhotos(); }));
        QCOMPARE(f.user.shown[0].text, QString("Do you want to delete this image?\nDeleting images will move them to the Trash."));
        // The last page is gone: the list is on the page that is last now, and the view shows
        // its first photo.
        QCOMPARE(f.list.photos().size(), 8);
        QCOMPARE(f.list.pageIndex(), 0);
        QCOMPARE(pages.last(), (QList<QVariant>{0, 1}));
        QCOMPARE(f.view.path(), f.path("q1.jpg"));
        QTRY_COMPARE(f.list.count(), 8);
    }

    void deletingWhileThePageIsMadeShowsItsFirstPhoto()
    {
        // The page's first photo is a FIFO nobody writes: its tile never comes, and with a
        // pool that takes no read for stuck, the page stays in the making.
        QTemporaryDir dir;
        const QString fifo = dir.filePath("a.jpg");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        for (const char *name : {"b.jpg", "c.jpg", "d.jpg"})
            writeFile(dir.filePath(name), jpeg(QSize(64, 48), Qt::darkGreen));
        WorkerPool pictures{WorkerPool::Options{"test-tiles", WorkPriority::Low, 0, std::chrono::hours(1)}};
        CThumbsView list(pictures);
        CQuillmereNewClientView view;
        RecordingPrompts user;
        PhotoListCommands commands(list, view, user.prompts);
        QObject::connect(&list, &CThumbsView::showPhoto, &view, &CQuillmereNewClientView::SetFile);
        const auto release = qScopeGuard([&] {
            // Writers come and go until every read of the FIFO has ended and the page is made.
            (void)QTest::qWaitFor(
                [&] {
                    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                    if (writer >= 0)
                        ::close(writer);
                    return !list.IsWorkerRunning();
                },
                20000);
        });
        list.ListFolder(dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(list.count(), 3, 20000);
        QVERIFY(list.IsWorkerRunning());

        const int c = list.row(list.findItems("c.jpg", Qt::MatchExactly).value(0));
        list.ShowPhotoAt(c, true);
        list.setCurrentRow(c);
        user.answers << PromptAnswer::Yes;
        QSignalSpy finished(&commands, &PhotoListCommands::finished);
        commands.DeletePhotos();
        QVERIFY(finished.wait(20000));
        QVERIFY(!QFileInfo::exists(dir.filePath("c.jpg")));
        // The page is made again from what remains; the view shows its first photo, not the
        // first whose tile happens to be there.
        QCOMPARE(view.path(), fifo);
    }

    void aTrashThatFailsKeepsThePhoto()
    {
        Fixture f({"keep.jpg", "other.jpg"});
        QVERIFY(f.listed());
        // A file where the trash folder should be: nothing can go into it.
        const QString trash = home_.filePath("data/Trash");
        QDir(trash).removeRecursively();
        writeFile(trash, "in the way");
        f.select({0}, 0);
        f.user.answers << PromptAnswer::Yes;
        QVERIFY(f.run([&] { f.commands.DeletePhotos(); }));
        QFile::remove(trash);
        QVERIFY(QFileInfo::exists(f.path("keep.jpg")));
        QVERIFY(!QFileInfo::exists("files/keep.jpg")); // not moved into the working folder either
        QCOMPARE(f.labels(), (QStringList{"keep.jpg", "other.jpg"}));
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
        for (const char *name : {"camera.jpg", "plain.jpg", "folder.jpg"}) {
            f.select({}, f.row(name));
            QVERIFY(f.run([&] { f.commands.ShowExtendedPhotoInfo(); }));
        }
        f.select({}, -1);
        QVERIFY(f.run([&] { f.commands.ShowExtendedPhotoInfo(); }));
        // Nothing for what cannot be read, nor without a selection mark.
        QCOMPARE(f.user.shown.size(), 2);
        for (const Prompt &p : f.user.shown) {
            QCOMPARE(p.caption, QString("Extended Image Info"));
            QCOMPARE(p.icon, PromptIcon::None);
            QCOMPARE(p.buttons, PromptButtons::Ok);
        }
        QVERIFY(f.user.shown[0].text.startsWith("Width x Height   : 64 x 48\n"));
        QVERIFY(f.user.shown[0].text.contains("Orientation  : Rotated 90 CW\n"));
        QCOMPARE(f.user.shown[1].text, QString("No extended image information found!"));
    }
};

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
