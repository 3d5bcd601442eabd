// The upload dialog driven by its upload worker against the reference service: the bars and
// texts, the failure prompt on the UI thread, Stop, the tray's ticks, and ending mid-run.
#include "platform/Prompts.h"
#include "upload/UploadController.h"
#include "upload/UploadDialog.h"
#include "upload/UploadFailedDialog.h"
#include "upload/UploadRecord.h"

#include "support/AlbumServer.h"
#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

struct Fixture {
    AlbumServer server;
    QTemporaryDir dir;
    Settings settings;
    RecordingPrompts user;
    QString albumList = "Trip;;;";
    bool autoRunning = false;
    std::unique_ptr<UploadDialog> dialog;
    std::unique_ptr<UploadController> controller;
    UploadControllerContext context;
    QList<int> totals, photoBars;
    int stopNotifying = 0;

    explicit Fixture(const QStringList &switches = {}) : server(switches)
    {
        settings.executablePath = server.clientFolder();
        settings.httpServer = "127.0.0.1";
        settings.httpPort = server.port();
        settings.userName = AlbumServer::kEmail;
        settings.password = AlbumServer::kPassword;
        QDir().mkpath(settings.executablePath);
        context.prompts = &user.prompts;
        context.stopNotifying = [this] { ++stopNotifying; };
        context.prepareRun = [](UploadRun &run) { run.setPauseBeforeEnd(std::chrono::milliseconds(0)); };
    }

    QStringList photos(int n, qint64 size)
    {
        QStringList paths;
        for (int i = 0; i < n; ++i) {
            paths << dir.filePath(QStringLiteral("p%1.jpg").arg(i));
            writeFile(paths.last(), Bytes(size, i));
        }
        return paths;
    }

    // Opens the dialog on the photos and starts the upload once their tiles are made.
    bool start(const QStringList &photos)
    {
        UploadDialogContext c;
        c.settings = &settings;
        c.prompts = &user.prompts;
        c.albumList = &albumList;
        c.autoUploadRunning = &autoRunning;
        c.startUpload = [this](UploadDialog &d, UploadJob job) {
            context.settings = settings;
            context.promptParent = &d;
            controller = std::make_unique<UploadController>(d.model(), context);
            controller->Start(std::move(job));
        };
        dialog = std::make_unique<UploadDialog>(c, photos);
        QObject::connect(&dialog->model(), &UploadDialogModel::changed, [this] {
            const UploadDialogModel &m = dialog->model();
            if (totals.isEmpty() || totals.last() != m.totalProgress())
                totals << m.totalProgress();
            if (photoBars.isEmpty() || photoBars.last() != m.photoProgress())
                photoBars << m.photoProgress();
        });
        dialog->Open();
        if (!QTest::qWaitFor([this] { return dialog->model().state() == UploadDialogModel::State::Ready; }, 10000))
            return false;
        dialog->startUpload();
        return controller != nullptr;
    }

    bool waitClosed() { return QTest::qWaitFor([this] { return dialog->isClosed(); }, 30000); }

    QString recorded(const QString &photo) const { return UploadRecord(settings.executablePath).RecordedDate(photo); }
};

} // namespace

class TestUploadController : public QObject
{
    Q_OBJECT
private slots:
    // Every photo arrives and is recorded; both bars move; the dialog closes by itself, and
    // the tray blinks while it runs and gets its icon back at the end.
    void uploadsEverything()
    {
        Fixture f({"--delay", "20"});
        const QStringList photos = f.photos(3, 300000);
        QVERIFY(f.start(photos));
        QSignalSpy ticks(f.controller.get(), &UploadController::trayProgress);
        QSignalSpy trayEnded(f.controller.get(), &UploadController::trayProgressEnded);
        QSignalSpy finished(f.controller.get(), &UploadController::finished);
        QVERIFY(f.waitClosed());
        QVERIFY(finished.count() == 1 || finished.wait(5000));
        QCOMPARE(trayEnded.count(), 1);
        QVERIFY(!ticks.isEmpty());
        QVERIFY(ticks.first().at(1).toString().startsWith("Quillmere (uploading photos) - "));
        QVERIFY(f.dialog->uploadedSomething());
        QVERIFY(f.dialog->model().recordChanged());
        for (const QString &p : photos) {
            QVERIFY(!f.recorded(p).isEmpty());
            QCOMPARE(readFile(f.server.albumFolder("Trip") + "/" + QFileInfo(p).fileName()), readFile(p));
        }
        // Seen moving: several values on the way to 100, never back to 0 once started.
        QVERIFY(f.totals.size() > 3);
        QCOMPARE(f.totals.last(), 100);
        QVERIFY(f.photoBars.size() > 3);
    }

    // The failure prompt is asked on the UI thread, as a child of the upload dialog, while
    // the dialog stays usable; "Don't show again" is saved there.
    void failurePromptOnTheUiThread()
    {
        Fixture f({"--refuse-every", "2", "--refuse-reason", "Album locked. Later"});
        QThread *askedOn = nullptr;
        QWidget *parent = nullptr;
        f.context.askAfterFailure = [&](const UploadFailure &failure, QWidget *p) -> std::optional<FailureAnswer> {
            askedOn = QThread::currentThread();
            parent = p;
            if (failure.reason != "Album locked.")
                return std::nullopt;
            return FailureAnswer{FailureChoice::Continue, true};
        };
        QVERIFY(f.start(f.photos(3, 1000)));
        QVERIFY(f.waitClosed());
        QCOMPARE(askedOn, QApplication::instance()->thread());
        QCOMPARE(parent, f.dialog.get());
        QCOMPARE(f.stopNotifying, 1);
        QCOMPARE(f.dialog->model().totalStatus(), QString("Upload process canceled."));
        QCOMPARE(f.dialog->model().uploadedCount(), QString("2"));
    }

    // The real prompt: the user checks the box and stops.
    void realPrompt()
    {
        Fixture f({"--refuse-every", "1"});
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *prompt = qobject_cast<UploadFailedDialog *>(w); prompt && prompt->isVisible()) {
                    answer.stop();
                    QCOMPARE(prompt->parentWidget(), f.dialog.get());
                    prompt->checkBox()->setChecked(true);
                    prompt->button(FailureChoice::Stop)->click();
                }
        });
        answer.start(20);
        QVERIFY(f.start(f.photos(2, 1000)));
        QVERIFY(f.waitClosed());
        QCOMPARE(f.stopNotifying, 1);
        QCOMPARE(f.dialog->model().totalStatus(), QString("Upload process canceled."));
        QVERIFY(!f.dialog->uploadedSomething());
    }

    // The user's Stop, confirmed while a failure prompt waits, answers it: the run ends.
    void stopAnswersAWaitingPrompt()
    {
        Fixture f({"--refuse-every", "1"});
        QVERIFY(f.start(f.photos(2, 1000)));
        // The prompt runs its own loop: only a timer reaches the test while it waits.
        bool stopped = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const auto *prompt = f.dialog->findChild<UploadFailedDialog *>();
            if (!stopped && prompt && prompt->isVisible()) {
                stopped = true;
                f.dialog->model().CancelConfirmed();
            }
        });
        poll.start(20);
        QVERIFY(f.waitClosed());
        QVERIFY(stopped);
        QCOMPARE(f.dialog->model().totalStatus(), QString("Upload process canceled."));
        QVERIFY(!f.dialog->findChild<UploadFailedDialog *>());
        QCOMPARE(f.stopNotifying, 0);
    }

    // The user's Stop, confirmed in the middle of a photo: the run stops before its next
    // block; nothing is in the album or the record.
    void stopMidPhoto()
    {
        Fixture f({"--delay", "100"});
        const QStringList photos = f.photos(2, 4 << 20);
        QVERIFY(f.start(photos));
        QTRY_VERIFY_WITH_TIMEOUT(f.dialog->model().photoProgress() > 0, 20000);
        f.dialog->model().CancelConfirmed();
        QVERIFY(f.waitClosed());
        QCOMPARE(f.dialog->model().totalStatus(), QString("Upload process canceled."));
        QVERIFY(QDir(f.server.albumFolder("Trip")).entryList(QDir::Files).isEmpty());
        QVERIFY(f.recorded(photos[0]).isEmpty());
    }

    // The program ends during an upload: the controller goes at once (a reply the service
    // holds back is not waited for), nothing more is shown or asked, no record is written.
    void endingDuringAnUpload()
    {
        Fixture f({"--delay", "3000"});
        const QStringList photos = f.photos(1, 200000);
        QVERIFY(f.start(photos));
        QTRY_VERIFY(f.dialog->model().totalStatus().startsWith("Upload process in progress"));
        f.controller.reset();
        QCoreApplication::processEvents();
        QVERIFY(f.user.shown.isEmpty());
        QVERIFY(f.recorded(photos[0]).isEmpty());
    }

    // Escape while the connection test still waits for a service that does not answer: the
    // dialog closes and its run goes at once, the test left behind; nothing is shown or sent.
    void closingWhileConnecting()
    {
        struct Gate {
            std::mutex mutex;
            std::condition_variable opened;
            bool open = false;
            std::atomic<bool> waiting{false};
        };
        const auto gate = std::make_shared<Gate>();
        Fixture f;
        f.context.prepareRun = [gate](UploadRun &run) {
            run.setPauseBeforeEnd(std::chrono::milliseconds(0));
            run.setConnectionTest([gate] {
                std::unique_lock lock(gate->mutex);
                gate->waiting = true;
                // Bounded, so that a run that is waited for ends the test as a failure, not a hang.
                gate->opened.wait_for(lock, std::chrono::seconds(20), [&] { return gate->open; });
                gate->waiting = false;
                return QString();
            });
        };
        const QStringList photos = f.photos(1, 1000);
        QVERIFY(f.start(photos));
        QTRY_VERIFY(gate->waiting);
        f.dialog->reject();
        QVERIFY(f.dialog->isClosed());
        f.controller.reset();
        const bool leftBehind = gate->waiting;
        {
            const std::lock_guard lock(gate->mutex);
            gate->open = true;
        }
        gate->opened.notify_all();
        QVERIFY(leftBehind);
        QCoreApplication::processEvents();
        QVERIFY(f.user.shown.isEmpty());
        QVERIFY(QDir(f.server.albumFolder("Trip")).entryList(QDir::Files).isEmpty());
        QVERIFY(f.recorded(photos[0]).isEmpty());
    }
};

QTEST_MAIN(TestUploadController)
#include "tst_uploadcontroller.moc"
