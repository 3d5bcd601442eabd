#include "app/MainFrame.h"
#include "app/PhotoCommands.h"
#include "app/RunFlags.h"
#include "browse/ImageView.h"
#include "browse/SlideShowDlg.h"
#include "browse/ThumbsView.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "upload/AccountSettings.h"
#include "upload/UploadDialog.h"
#include "upload/UploadRecord.h"

#include "support/AlbumServer.h"
#include "support/RecordingPrompts.h"
#include "support/RequestLog.h"
#include "support/StandInProgram.h"
#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The controller with its homes replaced by a log of what reached them, so that the route
// from the frame's actions and the list's requests can be seen.
class RecordingCommands : public PhotoCommands
{
public:
    using PhotoCommands::PhotoCommands;

    struct Call {
        QString home;
        QStringList paths;
        bool buyMode = false;
        bool operator==(const Call &) const = default;
    };
    QList<Call> calls;

    void UploadPhotos(const QStringList &sources) override { calls.append({"UploadPhotos", sources, buyMode()}); }
    void ShowAdvancedSettings() override { calls.append({"ShowAdvancedSettings", {}, buyMode()}); }
    void ShowSlideShow() override { calls.append({"ShowSlideShow", {}, buyMode()}); }
    void SendPhotosByMail(const QStringList &paths) override { calls.append({"SendPhotosByMail", paths, buyMode()}); }
    void RenamePhoto(const QString &path, const QString &newName) override
    {
        calls.append({"RenamePhoto", {path, newName}, buyMode()});
    }
    void OnLiveUpdate() override { calls.append({"OnLiveUpdate", {}, buyMode()}); }
};

struct Fixture {
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("Quillmere.conf")};
    Settings settings;
    RunFlags flags;
    RecordingPrompts user;
    CMainFrame frame{user.prompts};

    Fixture()
    {
        settings.executablePath = dir.filePath("data");
        settings.userName = "ann@example.com";
        settings.password = "pw";
    }

    CommandContext context(AccountVerifier verify = {})
    {
        return CommandContext{&settings, &flags, &store, &user.prompts, std::move(verify)};
    }
};

QAction *recentEntry(CMainFrame &frame, int n)
{
    QMenu *file = frame.menuBar()->actions().first()->menu();
    for (QAction *a : file->actions())
        if (a->text().startsWith(QStringLiteral("&%1 ").arg(n)))
            return a;
    return nullptr;
}

// Answers the account dialog once it is up, as a user would.
void answerAccountDialog(bool uploadOnlyNew)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, uploadOnlyNew] {
        auto *dialog = qobject_cast<AccountSettingsDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->deleteLater();
        dialog->setUploadOnlyNew(uploadOnlyNew);
        dialog->next();
    });
    poll->start(10);
}

// The controller with the upload worker and the print order replaced by a log; the worker
// may be told how to answer the dialog.
class UploadingCommands : public PhotoCommands
{
public:
    using PhotoCommands::PhotoCommands;

    QList<UploadJob> jobs;
    int printOrders = 0;
    std::function<void(UploadDialogModel &)> worker;

    void StartUpload(UploadDialog &dialog, UploadJob job) override
    {
        jobs << job;
        if (worker)
            worker(dialog.model());
    }
    void PlacePrintOrder() override { ++printOrders; }
};

// Once the upload dialog has made its tiles: what it shows, then `then` on it.
struct Seen {
    QString number;
    QStringList selection;
    bool visible = false;
};
void whenUploadDialogReady(PhotoCommands &commands, Seen &seen, std::function<void(UploadDialog &)> then)
{
    auto *poll = new QTimer(&commands); // a dialog that never comes leaves no poll behind
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &commands, &seen, then] {
        UploadDialog *dialog = commands.activeUploadDialog();
        if (!dialog || dialog->model().state() != UploadDialogModel::State::Ready)
            return;
        poll->deleteLater();
        seen = {dialog->model().numberText(), dialog->model().selection(), dialog->isVisible()};
        then(*dialog);
    });
    poll->start(10);
}

// A folder of photos shown in the frame's list, two of them recorded as uploaded.
struct PhotoFolder {
    QTemporaryDir dir;
    QStringList paths;

    PhotoFolder(Fixture &f, int count, int recorded)
    {
        for (int i = 0; i < count; ++i) {
            paths << dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i, 2, 10, QChar(u'0')));
            writeFile(paths.last(), jpeg(QSize(40, 30), Qt::darkBlue));
        }
        QDir().mkpath(f.settings.executablePath);
        UploadRecord record(f.settings.executablePath);
        for (int i = 0; i < recorded; ++i)
            QVERIFY(record.RecordUploadedFile(paths[i * 3]));
        f.frame.show();
        f.frame.GetPhotoList()->ListFolder(dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(f.frame.GetPhotoList()->photos().size(), count, 20000);
        f.frame.UpdateCommandUi();
    }
};

AccountVerifier albums(const QString &list)
{
    return [list](const QString &, const QString &, QString &albums) {
        albums = list;
        return 0;
    };
}

} // namespace

class TestPhotoCommands : public QObject
{
    Q_OBJECT
private slots:
    void commandsAndRequestsReachTheirHomes()
    {
        Fixture f;
        QTemporaryDir photos, other;
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            writeFile(photos.filePath(name), jpeg(QSize(64, 48), Qt::darkGreen));
        writeFile(other.filePath("d.jpg"), jpeg(QSize(64, 48), Qt::darkRed));
        QVERIFY(f.store.WriteRecentFolders({other.path()}));

        RecordingCommands commands(f.frame, f.context());
        f.frame.show();
        CThumbsView *list = f.frame.GetPhotoList();
        list->ListFolder(photos.path());
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 3, 20000);
        QTRY_COMPARE(f.frame.GetImageView()->path(), photos.filePath("a.jpg"));
        const QStringList all{photos.filePath("a.jpg"), photos.filePath("b.jpg"), photos.filePath("c.jpg")};
        using Call = RecordingCommands::Call;

        const struct {
            FrameCommand id;
            Call call;
        } routes[] = {
            {FrameCommand::UploadPhoto, {"UploadPhotos", {all[0]}, false}},
            {FrameCommand::UploadFolder, {"UploadPhotos", all, false}},
            {FrameCommand::BuyPhoto, {"UploadPhotos", {all[0]}, true}},
            {FrameCommand::BuyFolder, {"UploadPhotos", all, true}},
            {FrameCommand::SlideShow, {"ShowSlideShow", {}, false}},
            {FrameCommand::AdvancedSettings, {"ShowAdvancedSettings", {}, false}},
            {FrameCommand::LiveUpdate, {"OnLiveUpdate", {}, false}},
        };
        for (const auto &route : routes) {
            commands.calls.clear();
            f.frame.UpdateCommandUi();
            f.frame.action(route.id)->trigger();
            QCOMPARE(commands.calls, QList<Call>{route.call});
            QVERIFY(!commands.buyMode());
        }

        // A pane's own commands stay in the frame.
        commands.calls.clear();
        for (FrameCommand id : {FrameCommand::RotateRight, FrameCommand::Toolbar, FrameCommand::StatusBar})
            f.frame.action(id)->trigger();
        QVERIFY(commands.calls.isEmpty());

        // The list's requests arrive with the photo's path.
        emit list->renameRequested(all[1], "sea.jpg");
        QCOMPARE(commands.calls, (QList<Call>{{"RenamePhoto", {all[1], "sea.jpg"}, false}}));

        // The listed folder went to the top of the recent folders; the second entry opens.
        QCOMPARE(commands.recentFolders(), (QStringList{photos.path(), other.path()}));
        QCOMPARE(f.store.ReadRecentFolders(), commands.recentFolders());
        QAction *second = recentEntry(f.frame, 2);
        QVERIFY(second);
        second->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(list->currentFolder(), other.path(), 20000);
    }

    void theListsCommandsReachTheirHomes()
    {
        Fixture f;
        QTemporaryDir photos;
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            writeFile(photos.filePath(name), jpeg(QSize(64, 48), Qt::darkGreen));
        RecordingCommands commands(f.frame, f.context());
        CThumbsView *list = f.frame.GetPhotoList();
        QSignalSpy done(list, &CThumbsView::workerFinished);
        list->ListFolder(photos.path());
        QVERIFY(done.wait(20000));
        list->setCurrentRow(1);
        list->item(2)->setSelected(true);
        const QStringList selected{photos.filePath("b.jpg"), photos.filePath("c.jpg")};
        using Call = RecordingCommands::Call;

        const struct {
            ThumbsCommand command;
            Call call;
        } routes[] = {
            {ThumbsCommand::UploadPhotos, {"UploadPhotos", selected, false}},
            {ThumbsCommand::BuyPhotos, {"UploadPhotos", selected, true}},
            {ThumbsCommand::SendAsEmail, {"SendPhotosByMail", selected, false}},
        };
        for (const auto &route : routes) {
            commands.calls.clear();
            emit list->commandRequested(route.command);
            QCOMPARE(commands.calls, QList<Call>{route.call});
        }
        // Without a selection mark they do nothing.
        list->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
        commands.calls.clear();
        for (const auto &route : routes)
            emit list->commandRequested(route.command);
        QVERIFY(commands.calls.isEmpty());
    }

    void theSlideShowStartsAtThePhotoShown()
    {
        Fixture f;
        QTemporaryDir photos;
        QStringList all;
        for (int i = 1; i <= 10; ++i) {
            all << photos.filePath(QString("p%1.jpg").arg(i, 2, 10, QChar('0')));
            writeFile(all.last(), jpeg(QSize(64, 48), Qt::darkBlue));
        }
        PhotoCommands commands(f.frame, f.context());
        f.frame.show();
        CThumbsView *list = f.frame.GetPhotoList();
        QSignalSpy done(list, &CThumbsView::workerFinished);
        list->ListFolder(photos.path());
        QVERIFY(done.wait(20000));
        QCOMPARE(commands.SlideShowStart(), 0);
        // On the second page, its first photo shown: the ninth of the folder.
        list->NextPage();
        QVERIFY(done.wait(20000));
        list->ShowPhotoAt(0, true);
        QCOMPARE(commands.SlideShowStart(), 8);
        // The view shows a photo the list does not hold: the list's shown photo, on its page.
        f.frame.GetImageView()->SetFile(photos.filePath("elsewhere.jpg"));
        list->ShowPhotoAt(1, false);
        f.frame.GetImageView()->SetFile(photos.filePath("elsewhere.jpg"));
        QCOMPARE(commands.SlideShowStart(), 9);

        // The frame's command opens it there, over the whole folder; Escape ends it.
        list->ShowPhotoAt(0, true);
        int index = -1;
        QStringList slides;
        QTimer::singleShot(0, [&] {
            auto *show = qobject_cast<CSlideShowDlg *>(QApplication::activeModalWidget());
            QVERIFY(show);
            index = show->slideIndex();
            slides = show->slideList();
            QTest::keyClick(show, Qt::Key_Escape);
        });
        f.frame.Execute(FrameCommand::SlideShow);
        QCOMPARE(index, 8);
        QCOMPARE(slides, all);
    }

    void theAccountDialogAnswersIntoTheFieldsOwners()
    {
        Fixture f;
        f.settings.userName = "ann@example.com";
        f.settings.password = "secret";
        PhotoCommands commands(f.frame, f.context([](const QString &, const QString &, QString &albums) {
            albums = "Trips;;;Garden;;;";
            return 0;
        }));

        answerAccountDialog(false);
        QVERIFY(commands.ShowAccountSettings());
        QCOMPARE(commands.albumList(), QString("Trips;;;Garden;;;"));
        QVERIFY(!f.flags.uploadOnlyNew);
        QCOMPARE(f.settings.userName, QString("ann@example.com"));
    }

    void uploadAllOpensTheDialogOnTheCandidates_data()
    {
        QTest::addColumn<bool>("onlyNew");
        QTest::addColumn<int>("offered");
        QTest::newRow("only new photos") << true << 18;
        QTest::newRow("every photo") << false << 20;
    }
    void uploadAllOpensTheDialogOnTheCandidates()
    {
        QFETCH(bool, onlyNew);
        QFETCH(int, offered);
        Fixture f;
        PhotoFolder folder(f, 20, 2);
        UploadingCommands commands(f.frame, f.context(albums("Trips;;;")));

        Seen seen;
        answerAccountDialog(onlyNew);
        whenUploadDialogReady(commands, seen, [](UploadDialog &dialog) { dialog.closeOrStop(); });
        f.frame.action(FrameCommand::UploadFolder)->trigger();

        QVERIFY(seen.visible);
        QCOMPARE(seen.number, QString::number(offered));
        QStringList expected = folder.paths;
        if (onlyNew) {
            expected.removeOne(folder.paths[0]);
            expected.removeOne(folder.paths[3]);
            QCOMPARE(commands.newFiles().keys(), expected);
            QCOMPARE(commands.knownFiles().keys(), (QStringList{folder.paths[0], folder.paths[3]}));
        }
        QCOMPARE(seen.selection, expected);
        QVERIFY(!commands.activeUploadDialog());
        QCOMPARE(commands.printOrders, 0);
    }

    void nothingNewStillShowsTheDialogButBuysAtOnce()
    {
        for (bool buy : {false, true}) {
            Fixture f;
            PhotoFolder folder(f, 2, 1);
            UploadingCommands commands(f.frame, f.context(albums("")));
            f.frame.GetImageView()->SetFile(folder.paths[0]);
            Seen seen;
            answerAccountDialog(true);
            whenUploadDialogReady(commands, seen, [](UploadDialog &dialog) { dialog.reject(); });
            buy ? commands.BuyThisPhoto() : commands.UploadThisPhoto();
            QCOMPARE(seen.visible, !buy);
            QCOMPARE(seen.number, buy ? QString() : QString("0"));
            QCOMPARE(commands.printOrders, buy ? 1 : 0);
            QCOMPARE(commands.printOrderMap().keys(), buy ? QStringList{folder.paths[0]} : QStringList{});
            if (buy)
                QCOMPARE(commands.printOrderMap().first(), FileDateString(folder.paths[0]));
            QVERIFY(!commands.buyMode());
        }
    }

    void cancelledAccountDialogOpensNothing()
    {
        Fixture f;
        PhotoFolder folder(f, 3, 0);
        UploadingCommands commands(f.frame, f.context(albums("")));
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        commands.UploadAllPhotos();
        QVERIFY(!commands.activeUploadDialog());
        QVERIFY(commands.newFiles().isEmpty());
        commands.UploadPhotos({}); // no source: nothing at all, not even the account dialog
    }

    void startHandsTheJobOnAndAnUploadRedrawsTheList()
    {
        Fixture f;
        PhotoFolder folder(f, 3, 0);
        QTRY_VERIFY(!f.frame.GetPhotoList()->IsWorkerRunning());
        UploadingCommands commands(f.frame, f.context(albums("Trips;;;Garden;;;")));
        commands.worker = [](UploadDialogModel &model) {
            model.UploadBegan();
            model.PhotoUploaded(1);
            model.UploadEnded(false);
        };
        QSignalSpy redrawn(f.frame.GetPhotoList(), &CThumbsView::workerFinished);
        Seen seen;
        answerAccountDialog(true);
        whenUploadDialogReady(commands, seen, [](UploadDialog &dialog) { dialog.startUpload(); });
        commands.BuyAllPhotos();

        QCOMPARE(commands.jobs.size(), 1);
        const UploadJob &job = commands.jobs[0];
        QCOMPARE(job.email, QString("ann@example.com"));
        QCOMPARE(job.password, QString("pw"));
        QCOMPARE(job.album, QString("Trips"));
        QCOMPARE(job.selection, folder.paths);
        QVERIFY(!job.automatic);
        QCOMPARE(commands.printOrders, 1);
        QCOMPARE(commands.printOrderMap().size(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!redrawn.isEmpty(), 20000);
    }

    void buyingWhatIsUploadedOrdersAtOnceAndOpensThePage()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath("requests.log");
        AlbumServer service({"--request-log", log});
        QVERIFY(service.running());
        Fixture f;
        f.settings.httpServer = "127.0.0.1";
        f.settings.httpPort = service.port();
        f.settings.password = AlbumServer::kPassword;
        PhotoFolder folder(f, 2, 1);
        QList<QUrl> opened;
        CommandContext context = f.context(albums(""));
        context.openUrl = [&opened](const QUrl &url) {
            opened << url;
            return true;
        };
        PhotoCommands commands(f.frame, context);
        f.frame.GetImageView()->SetFile(folder.paths[0]);
        answerAccountDialog(true);
        commands.BuyThisPhoto();

        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 20000);
        QCOMPARE(opened[0], QUrl(QString("http://127.0.0.1:%1/orders_view.exe?show=yes").arg(service.port())));
        const QList<LoggedRequest> orders = RequestsTo(log, "/orders_view.exe");
        QCOMPARE(orders.size(), 1);
        QCOMPARE(orders[0].body, "fromclient=yes&user=ann%40example.com&pass=s3cret%3A+with+blanks&pic1=IMG_00.jpg&date1="
                                     + FileDateString(folder.paths[0]).toLatin1());
    }

    void liveUpdateFromTheHelpMenu_data()
    {
        QTest::addColumn<QString>("served");
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<int>("updaterExit");
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<bool>("ends");
        const QString question = "There is new version on the server.\nDo you want to install it?";
        QTest::newRow("nothing newer") << "3.25" << PromptAnswer::None << 0
                                       << QStringList{"There is no new version."} << false;
        QTest::newRow("newer, No: the program goes on") << "3.26" << PromptAnswer::No << 0 << QStringList{question}
                                                        << false;
        QTest::newRow("newer, Yes: installing ends the program") << "3.26" << PromptAnswer::Yes << 0
                                                                 << QStringList{question} << true;
        QTest::newRow("newer, Yes, no package") << "3.26" << PromptAnswer::Yes << 3
                                                << QStringList{question, "Cannot find update files on Quillmere server!"}
                                                << false;
    }
    void liveUpdateFromTheHelpMenu()
    {
        QFETCH(QString, served);
        QFETCH(PromptAnswer, answer);
        QFETCH(int, updaterExit);
        QFETCH(QStringList, told);
        QFETCH(bool, ends);
        AlbumServer service({"--service-version", served});
        QVERIFY(service.running());
        StandInProgram updater("quillmere-updater", updaterExit);
        Fixture f;
        f.settings.httpServer = "127.0.0.1";
        f.settings.httpPort = service.port();
        QVERIFY(f.store.WriteString("Settings", "CurrentVersion", "3.25"));
        f.flags.noNewVersion = true; // from the check at start-up; the menu's check starts afresh
        CommandContext context = f.context();
        context.updaterProgram = updater.program;
        PhotoCommands commands(f.frame, context);
        f.frame.show();
        if (answer != PromptAnswer::None)
            f.user.answers << answer;
        f.frame.Execute(FrameCommand::LiveUpdate);

        QTRY_COMPARE_WITH_TIMEOUT(f.user.shown.size(), told.size(), 20000);
        for (int i = 0; i < told.size(); ++i) {
            QCOMPARE(f.user.shown[i].text, told[i]);
            QCOMPARE(f.user.shown[i].owner.data(), &f.frame);
        }
        if (served == "3.25") {
            QCOMPARE(f.user.shown[0].caption, QString("Quillmere"));
            QCOMPARE(f.user.shown[0].icon, PromptIcon::Information);
        }
        if (ends)
            QTRY_VERIFY_WITH_TIMEOUT(!f.frame.isVisible(), 20000);
        else
            QVERIFY(f.frame.isVisible());
        QCOMPARE(updater.calls(), answer == PromptAnswer::Yes ? QList<QStringList>{{QString("http://127.0.0.1:%1/support").arg(service.port())}}
                                                              : QList<QStringList>());
    }
};

QTEST_MAIN(TestPhotoCommands)
#include "tst_photocommands.moc"
