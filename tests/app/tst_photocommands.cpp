#include "app/MainFrame.h"
#include "app/PhotoCommands.h"
#include "app/RunFlags.h"
#include "browse/ImageView.h"
#include "browse/SlideShowDlg.h"
#include "browse/ThumbsView.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "upload/AccountSettings.h"

#include "support/RecordingPrompts.h"
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

    Fixture() { settings.executablePath = dir.filePath("data"); }

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
};

QTEST_MAIN(TestPhotoCommands)
#include "tst_photocommands.moc"
