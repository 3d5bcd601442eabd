#include "app/MainFrame.h"
#include "app/PhotoCommands.h"
#include "app/QuillmereNewClientApp.h"
#include "platform/SettingsStore.h"
#include "browse/ImageView.h"
#include "browse/ShellTree.h"
#include "browse/ThumbsView.h"
#include "support/AlbumServer.h"
#include "support/RecordingPrompts.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QSemaphore>
#include <QThread>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

namespace {

// One start of the program against a store, media and a TiVo launcher of the test's own.
struct Start {
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("Quillmere.conf")};
    RecordingPrompts user;
    QStringList drives;
    QSemaphore *mediaAnswer = nullptr; // when set, the media search waits for a release
    std::atomic<QThread *> scannedOn{nullptr};
    QStringList launched;
    bool updateStarted = false;
    int updateChecks = 0;
    QString key = QStringLiteral("qlm-startup-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::unique_ptr<CQuillmereNewClientApp> app;

    void install(const QByteArray &extra = {})
    {
        QVERIFY(store.WriteString("Settings", "ExecutablePath", dir.filePath("data")));
        QVERIFY(store.WriteInt("Settings", "LaunchTiVo", 0));
        if (!extra.isEmpty()) {
            QFile f(store.fileName());
            QVERIFY(f.open(QIODevice::Append));
            f.write(extra);
        }
    }

    AppServices services()
    {
        AppServices s;
        s.store = &store;
        s.prompts = &user.prompts;
        s.instanceKey = key;
        s.removableDrives = [this] {
            scannedOn = QThread::currentThread();
            if (mediaAnswer)
                mediaAnswer->acquire();
            return drives;
        };
        s.startDetached = [this](const QString &program, const QString &folder) {
            launched << program << folder;
            return true;
        };
        s.checkForUpdate = [this] {
            ++updateChecks;
            return updateStarted;
        };
        return s;
    }

    bool run(const QStringList &args = {"quillmere"})
    {
        app = std::make_unique<CQuillmereNewClientApp>(services());
        return app->InitInstance(args);
    }

    // Runs and waits until the first folder has been chosen and its photos read.
    bool runToFirstFolder(const QStringList &args = {"quillmere"})
    {
        if (!run(args))
            return false;
        QSignalSpy chosen(app.get(), &CQuillmereNewClientApp::startFolderChosen);
        return chosen.wait(10000);
    }

    CMainFrame *frame() const { return app->mainFrame(); }
};

// A later start of the program, against the running copy of `first`. It would be another
// process; a thread stands in for it here so that the first copy's event loop can answer.
std::pair<bool, int> startLater(Start &first, const QStringList &args)
{
    Start later;
    later.key = first.key;
    later.install();
    auto run = QtConcurrent::run([&] {
        CQuillmereNewClientApp app(later.services());
        const bool running = app.InitInstance(args);
        return std::make_pair(running, app.exitCode());
    });
    while (!run.isFinished())
        QTest::qWait(10);
    if (!later.user.shown.isEmpty())
        return {true, -1}; // the later copy must say nothing
    return run.result();
}

// A folder of ten photos, IMG_0042.JPG the last of them (on the second page), and a note.
void writePhotoFolder(const QTemporaryDir &dir)
{
    for (int i = 1; i <= 9; ++i)
        writeFile(dir.filePath(QString("IMG_000%1.JPG").arg(i)), jpeg(QSize(64, 48), Qt::darkBlue));
    writeFile(dir.filePath("IMG_0042.JPG"), jpeg(QSize(64, 48), Qt::darkGreen));
    writeFile(dir.filePath("notes.txt"));
    QVERIFY(QDir(dir.path()).mkdir("sub"));
}

QStringList recentMenuTexts(CMainFrame *frame)
{
    // The recent folders stand between the first two separators of the File menu.
    QStringList texts;
    QMenu *file = frame->menuBar()->actions().first()->menu();
    int separators = 0;
    for (QAction *a : file->actions()) {
        if (a->isSeparator()) {
            if (++separators == 2)
                break;
            continue;
        }
        if (separators == 1)
            texts << a->text();
    }
    return texts;
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void missingSettingsEndTheProgram_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no store") << QByteArray();
        QTest::newRow("no executable path") << QByteArray("[Settings]\nQLMHttpPort=80\n");
        QTest::newRow("empty executable path") << QByteArray("[Settings]\nExecutablePath=\n");
    }
    void missingSettingsEndTheProgram()
    {
        QFETCH(QByteArray, content);
        Start s;
        if (!content.isEmpty()) {
            QFile f(s.store.fileName());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QVERIFY(!s.run());
        QVERIFY(s.app->exitCode() != 0);
        QVERIFY(!s.frame());
        QCOMPARE(s.user.shown.size(), 1);
        const Prompt &p = s.user.shown[0];
        QCOMPARE(p.text, QString("Missing Quillmere settings in the registry.\nPlease reinstall Quillmere."));
        QCOMPARE(p.caption, QString("Quillmere"));
        QCOMPARE(p.icon, PromptIcon::Error);
        QCOMPARE(p.buttons, PromptButtons::Ok);
        QVERIFY(!p.owner);
        QCOMPARE(s.updateChecks, 0);
    }

    void secondStartBringsTheFirstForward()
    {
        Start first;
        first.install();
        QVERIFY(first.runToFirstFolder({"quillmere", "RunMinimized"}));
        QVERIFY(first.frame()->isMinimized());

        QCOMPARE(startLater(first, {"quillmere"}), std::make_pair(false, 0));
        QTRY_VERIFY(first.frame()->isMaximized());
        QVERIFY(first.frame()->isVisible());
        QCOMPARE(first.frame()->windowTitle(), QString("Quillmere"));
    }

    void pathOnTheCommandLineIsOpened_data()
    {
        QTest::addColumn<QString>("argument"); // relative to the photo folder
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("page"); // of the list, where the photo shown is
        QTest::addColumn<int>("place"); // on that page
        QTest::newRow("folder") << "" << "IMG_0001.JPG" << 0 << 0;
        QTest::newRow("photo on the second page") << "IMG_0042.JPG" << "IMG_0042.JPG" << 1 << 1;
        QTest::newRow("photo by a winding path") << "sub/../IMG_0042.JPG" << "IMG_0042.JPG" << 1 << 1;
        QTest::newRow("other file") << "notes.txt" << "IMG_0001.JPG" << 0 << 0;
    }
    void pathOnTheCommandLineIsOpened()
    {
        QFETCH(QString, argument);
        QFETCH(QString, shown);
        QFETCH(int, page);
        QFETCH(int, place);
        QTemporaryDir photos, recent;
        writePhotoFolder(photos);
        writeFile(recent.filePath("old.jpg"));
        Start s;
        s.install("[Recent%20File%20List]\nFile1=" + recent.path().toUtf8() + "\n");

        // The folder asked for replaces the one start-up would choose.
        QVERIFY(s.runToFirstFolder({"quillmere", photos.path() + "/" + argument}));
        CQuillmereNewClientView *view = s.frame()->GetImageView();
        QTRY_COMPARE(view->path(), photos.filePath(shown));
        QTRY_COMPARE(s.frame()->windowTitle(), shown + " - Quillmere");
        CThumbsView *list = s.frame()->GetPhotoList();
        QCOMPARE(list->currentFolder(), photos.path());
        QCOMPARE(list->pageIndex(), page);
        QCOMPARE(list->shownIndex(), place);
        QTRY_COMPARE(list->GetItemPath(place), photos.filePath(shown));
        QCOMPARE(s.frame()->GetFolderTree()->selectedPath(), photos.path());
        QTRY_COMPARE(s.store.ReadRecentFolders(), (QStringList{photos.path(), recent.path()}));
        QVERIFY(s.user.shown.isEmpty());
    }

    void missingPathIsReportedAndTheStartGoesOn()
    {
        QTemporaryDir recent;
        writeFile(recent.filePath("old.jpg"));
        Start s;
        s.install("[Recent%20File%20List]\nFile1=" + recent.path().toUtf8() + "\n");
        QVERIFY(s.runToFirstFolder({"quillmere", "/no/such/card/IMG_0042.JPG"}));
        QCOMPARE(s.user.shown.size(), 1);
        const Prompt &p = s.user.shown[0];
        QCOMPARE(p.text, QString("/no/such/card/IMG_0042.JPG"));
        QCOMPARE(p.caption, QString("Folder not found"));
        QCOMPARE(p.icon, PromptIcon::Error);
        QCOMPARE(p.owner.data(), s.frame());
        // As without a path: the most recent folder, quietly.
        QTRY_COMPARE(s.frame()->GetPhotoList()->currentFolder(), recent.path());
        QCOMPARE(s.user.shown.size(), 1);
    }

    void photoOfTheFolderBeingReadIsShownOnceRead()
    {
        QTemporaryDir photos;
        writePhotoFolder(photos);
        Start s;
        s.install();
        QVERIFY(s.runToFirstFolder());
        CThumbsView *list = s.frame()->GetPhotoList();
        list->ListFolder(photos.path());
        QVERIFY(s.app->commands()->OpenPath(photos.filePath("IMG_0042.JPG")));
        QTRY_COMPARE(s.frame()->GetImageView()->path(), photos.filePath("IMG_0042.JPG"));
        QCOMPARE(list->pageIndex(), 1);

        // Already listed: the list goes back to the page of the photo asked for.
        list->FirstPage();
        QVERIFY(s.app->commands()->OpenPath(photos.filePath("IMG_0042.JPG")));
        QCOMPARE(list->pageIndex(), 1);
        QCOMPARE(list->shownIndex(), 1);
        QVERIFY(s.app->commands()->OpenPath(photos.filePath("IMG_0003.JPG")));
        QCOMPARE(list->pageIndex(), 0);
        QCOMPARE(s.frame()->GetImageView()->path(), photos.filePath("IMG_0003.JPG"));
    }

    void foldersTheTreeDoesNotShowAreListedAllTheSame()
    {
        QTemporaryDir photos;
        writePhotoFolder(photos);
        Start s;
        s.install();
        QVERIFY(s.runToFirstFolder({"quillmere", photos.path()}));
        CShellTree *tree = s.frame()->GetFolderTree();
        QTRY_VERIFY(!tree->findItems("sub", Qt::MatchExactly | Qt::MatchRecursive).isEmpty());

        // Made after the tree read the folder above it.
        writeFile(photos.filePath("later/IMG_0007.JPG"), jpeg(QSize(64, 48), Qt::darkRed));
        QVERIFY(s.app->commands()->OpenPath(photos.filePath("later/IMG_0007.JPG")));
        QTRY_COMPARE(s.frame()->GetImageView()->path(), photos.filePath("later/IMG_0007.JPG"));
        QCOMPARE(s.frame()->GetPhotoList()->currentFolder(), photos.filePath("later"));

        // Hidden: the tree never shows it.
        writeFile(photos.filePath(".hidden/IMG_0008.JPG"), jpeg(QSize(64, 48), Qt::darkRed));
        QVERIFY(s.app->commands()->OpenPath(photos.filePath(".hidden")));
        QTRY_COMPARE(s.frame()->GetPhotoList()->currentFolder(), photos.filePath(".hidden"));
        QTRY_COMPARE(s.frame()->GetImageView()->path(), photos.filePath(".hidden/IMG_0008.JPG"));
        QVERIFY(s.user.shown.isEmpty());
    }

    void folderAskedForStandsWithoutPhotos()
    {
        QTemporaryDir empty, recent;
        writeFile(recent.filePath("old.jpg"));
        Start s;
        QSemaphore slowCard;
        s.mediaAnswer = &slowCard;
        s.install("[Recent%20File%20List]\nFile1=" + recent.path().toUtf8() + "\n");
        QVERIFY(s.run({"quillmere", empty.path()}));
        QSignalSpy read(s.frame()->GetPhotoList(), &CThumbsView::folderRead);
        QVERIFY(read.wait());
        QCOMPARE(read[0][0].toString(), empty.path());

        // The media answer after the folder turned out empty: start-up still chooses nothing.
        QSignalSpy chosen(s.app.get(), &CQuillmereNewClientApp::startFolderChosen);
        slowCard.release();
        QVERIFY(chosen.wait());
        QVERIFY(!s.frame()->GetFolderTree()->isWalking());
        QCOMPARE(s.frame()->GetFolderTree()->selectedPath(), empty.path());
        QVERIFY(s.user.shown.isEmpty());
    }

    void laterStartHandsItsPathToTheRunningCopy()
    {
        Start first;
        first.install();
        QVERIFY(first.runToFirstFolder({"quillmere", "RunMinimized"}));
        QCOMPARE(first.frame()->windowTitle(), QString("Quillmere"));
        QTemporaryDir photos;
        writePhotoFolder(photos);

        QCOMPARE(startLater(first, {"quillmere", photos.filePath("IMG_0042.JPG")}), std::make_pair(false, 0));
        QTRY_VERIFY(first.frame()->isMaximized());
        QTRY_COMPARE(first.frame()->GetImageView()->path(), photos.filePath("IMG_0042.JPG"));
        QTRY_COMPARE(first.frame()->windowTitle(), QString("IMG_0042.JPG - Quillmere"));
        QCOMPARE(first.frame()->GetPhotoList()->currentFolder(), photos.path());

        // A photo of the folder already listed is shown at once.
        QCOMPARE(startLater(first, {"quillmere", photos.filePath("IMG_0003.JPG")}), std::make_pair(false, 0));
        QTRY_COMPARE(first.frame()->GetImageView()->path(), photos.filePath("IMG_0003.JPG"));

        // Where nothing is, the running copy says so; what it shows stays.
        QVERIFY(first.user.shown.isEmpty());
        QCOMPARE(startLater(first, {"quillmere", "/no/such/folder"}), std::make_pair(false, 0));
        QTRY_COMPARE(first.user.shown.size(), 1);
        QCOMPARE(first.user.shown[0].text, QString("/no/such/folder"));
        QCOMPARE(first.user.shown[0].caption, QString("Folder not found"));
        QCOMPARE(first.user.shown[0].owner.data(), first.frame());
        QCOMPARE(first.frame()->GetPhotoList()->currentFolder(), photos.path());
        QCOMPARE(first.frame()->GetImageView()->path(), photos.filePath("IMG_0003.JPG"));
    }

    void tivoLauncherStartsWhenAsked()
    {
        Start s;
        s.install("LaunchTiVo=1\n");
        QVERIFY(s.runToFirstFolder());
        QCOMPARE(s.launched, (QStringList{s.dir.filePath("data") + "/TiVo/Quillmere TiVo", s.dir.filePath("data")}));

        Start off;
        off.install();
        QVERIFY(off.runToFirstFolder());
        QVERIFY(off.launched.isEmpty());
    }

    void startedUpdateEndsTheProgramQuietly()
    {
        Start s;
        s.install("AutomaticUpdate=1\n");
        s.updateStarted = true;
        QVERIFY(!s.run());
        QCOMPARE(s.app->exitCode(), 0);
        QCOMPARE(s.updateChecks, 1);
        QVERIFY(!s.frame());
        QVERIFY(s.user.shown.isEmpty());

        Start noCheck;
        noCheck.install();
        noCheck.updateStarted = true;
        QVERIFY(noCheck.run());
        QCOMPARE(noCheck.updateChecks, 0);
    }

    // The check's messages come before any window, with none as their owner; whatever the
    // user answers, a check that started no installation lets the window open.
    void automaticUpdateSpeaksBeforeTheWindowOpens_data()
    {
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<QStringList>("told");
        const QString question = "There is new version on the server.\nDo you want to install it?";
        QTest::newRow("No") << PromptAnswer::No << QStringList{question};
        // The test program has no updater beside it.
        QTest::newRow("Yes, no updater")
            << PromptAnswer::Yes
            << QStringList{question, "Cannot perform the live software update.\nA required object is not registered."};
    }
    void automaticUpdateSpeaksBeforeTheWindowOpens()
    {
        QFETCH(PromptAnswer, answer);
        QFETCH(QStringList, told);
        AlbumServer service({"--service-version", "3.26"});
        QVERIFY(service.running());
        Start s;
        s.install(QString("AutomaticUpdate=1\nQLMHttpServer=127.0.0.1\nQLMHttpPort=%1\nCurrentVersion=3.25\n")
                      .arg(service.port())
                      .toUtf8());
        QStringList shown;
        bool windowSeen = false;
        s.user.prompts.setHandler([&](const Prompt &p) {
            shown << p.text;
            for (QWidget *w : QApplication::topLevelWidgets())
                windowSeen = windowSeen || w->isVisible();
            windowSeen = windowSeen || p.owner;
            return p.buttons == PromptButtons::YesNo ? answer : PromptAnswer::Ok;
        });
        AppServices services = s.services();
        services.checkForUpdate = {}; // the real check
        s.app = std::make_unique<CQuillmereNewClientApp>(services);
        QVERIFY(s.app->InitInstance({"quillmere"}));
        QCOMPARE(shown, told);
        QVERIFY(!windowSeen);
        QVERIFY(s.frame()->isVisible());
        QVERIFY(!s.app->flags.noNewVersion);
    }

    void cardWithPhotosIsShownFirst()
    {
        Start s;
        QTemporaryDir e, f;
        writeFile(e.filePath("notes.txt"));
        writeFile(f.filePath("DCIM/100ABC/1.JPG"));
        s.drives = {e.path(), f.path()};
        QTemporaryDir recent;
        writeFile(recent.filePath("old.jpg"));
        s.install("[Recent%20File%20List]\nFile1=" + recent.path().toUtf8() + "\n");

        QVERIFY(s.runToFirstFolder());
        QCOMPARE(s.app->removablePhotoFolder, f.filePath("DCIM/100ABC"));
        QTRY_COMPARE(s.frame()->GetFolderTree()->selectedPath(), f.filePath("DCIM/100ABC"));
        // Listing the folder puts it at the top of the recent folders, in the store and the menu.
        QTRY_COMPARE(s.store.ReadRecentFolders(), (QStringList{f.filePath("DCIM/100ABC"), recent.path()}));
        QCOMPARE(recentMenuTexts(s.frame()),
                 (QStringList{"&1 " + f.filePath("DCIM/100ABC"), "&2 " + recent.path()}));
    }

    void mostRecentFolderIsShownWithoutCards()
    {
        Start s;
        QTemporaryDir recent;
        writeFile(recent.filePath("old.jpg"));
        s.install("[Recent%20File%20List]\nFile1=" + recent.path().toUtf8() + "\n");
        QVERIFY(s.runToFirstFolder());
        QTRY_COMPARE(s.frame()->GetFolderTree()->selectedPath(), recent.path());
        QVERIFY(s.user.shown.isEmpty());
    }

    void cardsNamedByTheServicesAreTreePlaces()
    {
        Start s;
        QTemporaryDir card;
        writeFile(card.filePath("notes.txt"));
        s.drives = {card.path()};
        s.install();
        QVERIFY(s.runToFirstFolder());
        QVERIFY(s.scannedOn.load());
        QVERIFY(s.scannedOn.load() != QThread::currentThread());
        const QList<QTreeWidgetItem *> places =
            s.frame()->GetFolderTree()->findItems(QFileInfo(card.path()).fileName(), Qt::MatchExactly);
        QCOMPARE(places.size(), 1);
        QVERIFY(places[0]->isExpanded());
    }

    void recentEntryNamingAPhotoEndsQuietlyOnItsFolder()
    {
        Start s;
        QTemporaryDir recent;
        writeFile(recent.filePath("old.jpg"));
        s.install("[Recent%20File%20List]\nFile1=" + recent.filePath("old.jpg").toUtf8() + "\n");
        QVERIFY(s.runToFirstFolder());
        QTRY_COMPARE(s.frame()->GetPhotoList()->currentFolder(), recent.path());
        QCOMPARE(s.frame()->GetFolderTree()->selectedPath(), recent.path());
        QVERIFY(s.user.shown.isEmpty());

        // From the menu, once its folder is shown, the entry changes nothing and says nothing.
        QTRY_COMPARE(s.store.ReadRecentFolders(), (QStringList{recent.path(), recent.filePath("old.jpg")}));
        QSignalSpy selected(s.frame()->GetFolderTree(), &CShellTree::folderSelected);
        s.app->commands()->OpenRecentFolder(2);
        QCOMPARE(selected.size(), 0);
        QVERIFY(s.user.shown.isEmpty());
    }

    void vanishedRecentFolderIsQuietAtStartOnly()
    {
        Start s;
        s.install("[Recent%20File%20List]\nFile1=/no/such/card/\n");
        QVERIFY(s.runToFirstFolder());
        QVERIFY(s.user.shown.isEmpty());
        QVERIFY(!s.app->flags.quietRecentOpen);
        QVERIFY(s.frame()->GetPhotoList()->currentFolder().isEmpty());

        s.app->commands()->OpenRecentFolder(1);
        QCOMPARE(s.user.shown.size(), 1);
        QCOMPARE(s.user.shown[0].text, QString("/no/such/card/"));
        QCOMPARE(s.user.shown[0].caption, QString("Folder not found"));
        QCOMPARE(s.user.shown[0].icon, PromptIcon::Error);
        QCOMPARE(s.user.shown[0].owner.data(), s.frame());
        QCOMPARE(s.store.ReadRecentFolders(), QStringList{"/no/such/card/"});
    }

    void recentEntriesAreReadFromTheStore()
    {
        Start s;
        QTemporaryDir a, b, c;
        writeFile(a.filePath("1.jpg"));
        writeFile(b.filePath("2.jpg"));
        writeFile(c.filePath("3.jpg"));
        s.install("[Recent%20File%20List]\nFile1=" + a.path().toUtf8() + "\nFile2=" + b.path().toUtf8() + "\n");
        QVERIFY(s.runToFirstFolder());
        QTRY_COMPARE(s.frame()->GetPhotoList()->currentFolder(), a.path());
        QTRY_COMPARE(s.frame()->GetPhotoList()->count(), 1);

        // The folder already shown: nothing happens, not even a new listing.
        QSignalSpy selected(s.frame()->GetFolderTree(), &CShellTree::folderSelected);
        s.app->commands()->OpenRecentFolder(1);
        QCOMPARE(selected.size(), 0);

        // An entry changed by hand since start-up is honoured.
        QStringList folders = s.store.ReadRecentFolders();
        folders[1] = c.path();
        QVERIFY(s.store.WriteRecentFolders(folders));
        s.app->commands()->OpenRecentFolder(2);
        QTRY_COMPARE(selected.size(), 1);
        QTRY_COMPARE(s.frame()->GetFolderTree()->selectedPath(), c.path());

        s.app->commands()->OpenRecentFolder(4); // empty slot: nothing
        QCOMPARE(selected.size(), 1);
        QVERIFY(s.user.shown.isEmpty());
    }

    void folderOpenedDuringTheSearchStands()
    {
        Start s;
        QTemporaryDir card, recent;
        writeFile(card.filePath("DCIM/1.jpg"));
        writeFile(recent.filePath("2.jpg"));
        s.drives = {card.path()};
        QSemaphore slowCard;
        s.mediaAnswer = &slowCard;
        s.install("[Recent%20File%20List]\nFile1=" + recent.path().toUtf8() + "\n");
        QVERIFY(s.run());
        QSignalSpy chosen(s.app.get(), &CQuillmereNewClientApp::startFolderChosen);

        s.app->commands()->OpenRecentFolder(1);
        slowCard.release();
        QVERIFY(chosen.wait());
        QCOMPARE(s.app->removablePhotoFolder, card.filePath("DCIM"));
        QTRY_COMPARE(s.frame()->GetFolderTree()->selectedPath(), recent.path());
    }

    void closingWhileTheCardIsSearchedIsSafe()
    {
        Start s;
        QTemporaryDir e;
        for (int i = 0; i < 50; ++i)
            writeFile(e.filePath(QString("d%1/x.txt").arg(i)));
        s.drives = {e.path()};
        s.install();
        QVERIFY(s.run());
        QCOMPARE(s.app->ExitInstance(7), 7);
        s.app.reset();
    }

    // A mount that no longer answers holds the media scan for good: the program still ends
    // when asked, leaving the scan behind.
    void aMediaScanThatNeverAnswersDoesNotHoldTheEnd()
    {
        Start s;
        s.install();
        auto stuck = std::make_shared<QSemaphore>();
        AppServices services = s.services();
        services.removableDrives = [stuck] {
            stuck->acquire();
            return QStringList();
        };
        s.app = std::make_unique<CQuillmereNewClientApp>(services);
        QVERIFY(s.app->InitInstance({"quillmere"}));
        QTest::qWait(50);
        QCOMPARE(s.app->ExitInstance(3), 3);
        s.app.reset();
        stuck->release();
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
