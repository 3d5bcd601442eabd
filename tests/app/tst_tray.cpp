#include "app/MainFrame.h"
#include "app/MediaWatcher.h"
#include "app/PhotoCommands.h"
#include "app/QuillmereNewClientApp.h"
#include "app/TrayIcon.h"
#include "platform/Icons.h"
#include "platform/SettingsStore.h"
#include "upload/AccountSettings.h"
#include "upload/UploadDialog.h"
#include "upload/UploadRecord.h"

#include "support/AlbumServer.h"
#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <memory>

namespace {

// One start of the program with a tray (or none), a card and an album service of the test's own.
struct Start {
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("Quillmere.conf")};
    RecordingPrompts user;
    QStringList drives;
    bool tray = true;
    QString key = QStringLiteral("qlm-tray-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::unique_ptr<CQuillmereNewClientApp> app;

    explicit Start(const AlbumServer *server = nullptr, int automaticUpload = 1)
    {
        QVERIFY(store.WriteString("Settings", "ExecutablePath", dir.filePath("data")));
        QVERIFY(store.WriteInt("Settings", "LaunchTiVo", 0));
        QVERIFY(store.WriteInt("Settings", "AutomaticUpload", automaticUpload));
        if (server) {
            QVERIFY(store.WriteString("Settings", "QLMHttpServer", "127.0.0.1"));
            QVERIFY(store.WriteInt("Settings", "QLMHttpPort", server->port()));
            QVERIFY(store.WriteString("Settings", "QLMUserName", AlbumServer::kEmail));
            QVERIFY(store.WriteString("Settings", "QLMPassword", AlbumServer::kPassword));
        }
    }

    bool run(const QStringList &args = {"quillmere"})
    {
        AppServices s;
        s.store = &store;
        s.prompts = &user.prompts;
        s.instanceKey = key;
        s.removableDrives = [this] { return drives; };
        s.startDetached = [](const QString &, const QString &) { return true; };
        s.checkForUpdate = [] { return false; };
        s.trayAvailable = [this] { return tray; };
        s.mediaWatchPeriod = std::chrono::milliseconds(100);
        s.autostartFolder = dir.filePath("autostart");
        app = std::make_unique<CQuillmereNewClientApp>(s);
        if (!app->InitInstance(args))
            return false;
        QSignalSpy chosen(app.get(), &CQuillmereNewClientApp::startFolderChosen);
        return chosen.wait(10000);
    }

    CMainFrame *frame() const { return app->mainFrame(); }
    TrayIcon *trayIcon() const { return app->trayIcon(); }
    MediaWatcher *watcher() const { return app->mediaWatcher(); }

    void minimize()
    {
        frame()->showMinimized();
        QTRY_VERIFY(trayIcon()->isFrameMinimized() && watcher()->isWatching());
    }
};

} // namespace

class TestTray : public QObject
{
    Q_OBJECT
private slots:
    void minimizingGoesIntoTheTrayWhereThereIsOne_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }
    void minimizingGoesIntoTheTrayWhereThereIsOne()
    {
        QFETCH(bool, tray);
        Start s;
        s.tray = tray;
        QVERIFY(s.run());
        QVERIFY(s.frame()->isVisible());
        QVERIFY(!s.trayIcon()->icon()->isVisible());
        QVERIFY(!s.watcher()->isWatching());

        s.minimize();
        // Without a tray the window stays in the task bar, where the user finds it again.
        QTRY_COMPARE(s.frame()->isVisible(), !tray);
        QCOMPARE(s.trayIcon()->icon()->isVisible(), tray);
        QCOMPARE(s.trayIcon()->icon()->toolTip(), QString("Quillmere"));

        if (tray) {
            s.trayIcon()->RestoreFromTray();
        } else {
            s.frame()->showNormal(); // as the task bar does
        }
        QTRY_VERIFY(s.frame()->isVisible() && !s.frame()->isMinimized());
        QVERIFY(!s.trayIcon()->icon()->isVisible());
        QVERIFY(!s.watcher()->isWatching());
        QVERIFY(!s.trayIcon()->isFrameMinimized());

        // A tray that appears later is used at the next minimize.
        s.tray = true;
        s.minimize();
        QTRY_VERIFY(!s.frame()->isVisible());
        QVERIFY(s.trayIcon()->icon()->isVisible());
        // The icon's double-click, and its menu.
        emit s.trayIcon()->icon()->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(s.frame()->isVisible());
        QVERIFY(!s.trayIcon()->icon()->isVisible());
        QStringList entries;
        for (QAction *a : s.trayIcon()->menu()->actions())
            entries << (a->isSeparator() ? "-" : a->text());
        QCOMPARE(entries, (QStringList{"Open", "-", "Exit"}));
    }

    void aTrayThatGoesAwayGivesTheWindowBackToTheTaskBar()
    {
        Start s;
        QVERIFY(s.run());
        s.minimize();
        QTRY_VERIFY(!s.frame()->isVisible());
        s.tray = false; // the panel holding the tray has ended
        QTRY_VERIFY(s.frame()->isVisible());
        QVERIFY(s.frame()->isMinimized());
        QVERIFY(!s.trayIcon()->icon()->isVisible());
        QVERIFY(s.watcher()->isWatching());
        s.frame()->showNormal(); // as the task bar does
        QTRY_VERIFY(!s.watcher()->isWatching());
    }

    void runMinimizedStartsInTheTray()
    {
        Start s;
        QVERIFY(s.run({"quillmere", "RunMinimized"}));
        QVERIFY(s.trayIcon()->icon()->isVisible());
        QVERIFY(!s.frame()->isVisible());
        QVERIFY(s.watcher()->isWatching());
        s.trayIcon()->openAction()->trigger();
        QTRY_VERIFY(s.frame()->isVisible() && !s.frame()->isMinimized());
        QVERIFY(!s.trayIcon()->icon()->isVisible());
    }

    void progressBlinksAndTheTipCountsWhileMinimized()
    {
        Start s;
        QVERIFY(s.run());
        TrayIcon *tray = s.trayIcon();
        const QString tip = "Quillmere (uploading photos) - 40%";
        const QImage plain = tray->icon()->icon().pixmap(16).toImage();
        // Shown: the tip stays.
        tray->ShowProgress(0, tip);
        QCOMPARE(tray->icon()->toolTip(), QString("Quillmere"));
        s.minimize();
        tray->ShowProgress(1, tip);
        QCOMPARE(tray->icon()->toolTip(), tip);
        const QImage one = tray->icon()->icon().pixmap(16).toImage();
        tray->ShowProgress(0, tip);
        const QImage zero = tray->icon()->icon().pixmap(16).toImage();
        QVERIFY(one != zero);
        QVERIFY(plain != zero && plain != one);
        tray->EndProgress();
        QCOMPARE(tray->icon()->toolTip(), QString("Quillmere"));
        QCOMPARE(tray->icon()->icon().pixmap(16).toImage(), ProgramIcon().pixmap(16).toImage());
    }

    void aCardIsUploadedHiddenIntoAlbumsNamedAfterItsFolders()
    {
        AlbumServer server;
        QVERIFY(server.running());
        Start s(&server);
        const QString card = s.dir.filePath("card");
        writeFile(card + "/DCIM/100CANON/IMG_0001.JPG", jpeg(QSize(64, 48), Qt::red));
        writeFile(card + "/DCIM/101CANON/IMG_0002.JPG", jpeg(QSize(64, 48), Qt::blue));
        writeFile(card + "/DCIM/101CANON/IMG_0003.JPE", jpeg(QSize(64, 48), Qt::blue));
        s.drives = {card};
        QVERIFY(s.run());

        QSignalSpy ended(s.watcher(), &MediaWatcher::runEnded);
        bool dialogSeen = false;
        QTimer watchDialog;
        connect(&watchDialog, &QTimer::timeout, this, [&] {
            if (UploadDialog *d = s.app->commands()->activeUploadDialog()) {
                dialogSeen = true;
                QVERIFY(!d->isVisible());
                QVERIFY(s.app->flags.autoUploadRunning);
            }
        });
        watchDialog.start(5);
        s.minimize();
        QVERIFY(ended.wait(10000));
        QCOMPARE(ended.at(0).at(0).toBool(), true);
        QVERIFY(dialogSeen);
        QVERIFY(s.user.shown.isEmpty());
        QVERIFY(QFile::exists(server.albumFolder("100CANON") + "/IMG_0001.JPG"));
        QVERIFY(QFile::exists(server.albumFolder("101CANON") + "/IMG_0002.JPG"));
        QVERIFY(!QFile::exists(server.albumFolder("101CANON") + "/IMG_0003.JPE"));
        QVERIFY(!s.app->flags.autoUploadRunning);
        UploadRecord record(s.dir.filePath("data"));
        QVERIFY(!record.RecordedDate(card + "/DCIM/100CANON/IMG_0001.JPG").isEmpty());

        // The next ticks find nothing new and start no dialog.
        dialogSeen = false;
        QVERIFY(ended.wait(10000));
        QCOMPARE(ended.at(1).at(0).toBool(), false);
        QVERIFY(!dialogSeen);
        QVERIFY(s.watcher()->isWatching());
    }

    void nothingStartsWhileAnUploadDialogIsOpen()
    {
        // Hand-started, on a photo of the shown folder, then minimized with the window.
        AlbumServer server;
        Start s(&server);
        s.drives = {s.dir.filePath("card")};
        writeFile(s.drives[0] + "/new.jpg", jpeg(QSize(32, 32), Qt::green));
        QVERIFY(s.run());
        PhotoCommands *commands = s.app->commands();
        QSignalSpy ended(s.watcher(), &MediaWatcher::runEnded);
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(commands->activeUploadDialog());
            s.minimize();
            QVERIFY(!s.frame()->isVisible());
            for (int i = 0; i < 3; ++i)
                s.watcher()->OnMediaWatchTimer();
            QVERIFY(!s.watcher()->isRunning());
            // Nor does a second upload command: its dialog would replace the open one. An
            // account dialog that comes anyway is closed, and counted.
            bool accountAsked = false;
            QTimer closeAccount;
            connect(&closeAccount, &QTimer::timeout, this, [&] {
                if (auto *account = qobject_cast<AccountSettingsDialog *>(QApplication::activeModalWidget())) {
                    accountAsked = true;
                    account->reject();
                }
            });
            closeAccount.start(10);
            UploadDialog *open = commands->activeUploadDialog();
            commands->UploadPhotos({s.drives[0] + "/new.jpg"});
            QVERIFY(!accountAsked);
            QCOMPARE(commands->activeUploadDialog(), open);
            // "Exit" with the dialog open brings the window and the dialog back instead.
            s.trayIcon()->exitAction()->trigger();
            QTRY_VERIFY(s.frame()->isVisible());
            QTRY_VERIFY(commands->activeUploadDialog()->isVisible());
            QTRY_VERIFY(commands->activeUploadDialog()->model().state() == UploadDialogModel::State::Ready);
            commands->activeUploadDialog()->reject();
        });
        QVERIFY(!commands->RunUploadDialog({s.drives[0] + "/new.jpg"}, false));
        QVERIFY(ended.isEmpty());
        QVERIFY(s.frame()->isVisible());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
