// 200 photos of about 200 KB uploaded to the reference service on loopback: the cost per photo
// of the whole upload run (resume record, checksums, progress, the record of uploads written
// to disk after each photo) against the album client alone sending the same photos one after
// the other, in the same run. Then the upload dialog doing the same with its worker, while a
// 2 ms timer on the UI thread measures the longest gap between two events the UI thread
// processes, against the same timer on an idle UI thread.
#include "platform/Prompts.h"
#include "upload/QLMAPI.h"
#include "upload/UploadController.h"
#include "upload/UploadDialog.h"
#include "upload/UploadWorker.h"

#include "support/AlbumServer.h"
#include "support/RecordingFrontEnd.h"

#include <QApplication>
#include "UiGapMeter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kPhotos = 200;

QStringList WritePhotos(const QString &folder)
{
    QStringList paths;
    QRandomGenerator rng(7);
    for (int i = 0; i < kPhotos; ++i) {
        QImage image(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(int(rng.bounded(256)), (x + i) & 255, (y * 3) & 255));
        paths << folder + QStringLiteral("/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'));
        image.save(paths.last(), "JPEG", 97);
    }
    return paths;
}

Settings ServiceSettings(const AlbumServer &server)
{
    Settings s;
    s.httpServer = QStringLiteral("127.0.0.1");
    s.httpPort = server.port();
    s.executablePath = server.clientFolder();
    s.userName = AlbumServer::kEmail;
    s.password = AlbumServer::kPassword;
    return s;
}

UploadJob Job(const QStringList &photos, const QString &album)
{
    UploadJob job;
    job.email = AlbumServer::kEmail;
    job.password = AlbumServer::kPassword;
    job.album = album;
    job.selection = photos;
    for (const QString &p : photos)
        job.totalBytes += QFileInfo(p).size();
    return job;
}

double ClientAloneMs(const AlbumServer &server, const QStringList &photos)
{
    QElapsedTimer t;
    t.start();
    std::vector<char> block(CQLMAPI::kMaxBlock);
    for (const QString &path : photos) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        CQLMAPI api(server.address());
        api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword, QStringLiteral("Client"), path);
        qint64 n = 0;
        do {
            n = file.read(block.data(), qint64(block.size()));
            api.uploadChunk(block.data(), int(n));
        } while (n == qint64(block.size()));
        api.endUpload();
    }
    return double(t.nsecsElapsed()) / 1e6;
}

double WorkerMs(const AlbumServer &server, const QStringList &photos)
{
    RecordingFrontEnd ui;
    QElapsedTimer t;
    t.start();
    UploadRun run(ServiceSettings(server), ui, std::make_shared<UploadCancel>());
    run.setPauseBeforeEnd(std::chrono::milliseconds(0));
    if (!run.Run(Job(photos, QStringLiteral("Worker"))).completed)
        std::fprintf(stderr, "the worker's upload failed\n");
    return double(t.nsecsElapsed()) / 1e6;
}

// The longest gap between two ticks of a 2 ms timer while `busy` says work goes on.
double LongestGapMs(const std::function<bool()> &busy)
{
    UiGapMeter gaps(2);
    gaps.start();
    while (busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return gaps.longestMs();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QStringList photos = WritePhotos(dir.path());
    qint64 bytes = 0;
    for (const QString &p : photos)
        bytes += QFileInfo(p).size();

    AlbumServer server;
    if (!server.running()) {
        std::fprintf(stderr, "quillmere-albumd did not start\n");
        return 1;
    }
    double client = 1e300, worker = 1e300;
    for (int round = 0; round < 2; ++round) {
        client = std::min(client, ClientAloneMs(server, photos));
        worker = std::min(worker, WorkerMs(server, photos));
    }

    // The dialog with its worker; the gap is measured from Start Upload to the dialog's close.
    Settings settings = ServiceSettings(server);
    Prompts prompts;
    const QString albums = QStringLiteral("Dialog;;;");
    const bool autoRunning = false;
    std::unique_ptr<UploadController> controller;
    UploadDialogContext c;
    c.settings = &settings;
    c.prompts = &prompts;
    c.albumList = &albums;
    c.autoUploadRunning = &autoRunning;
    c.startUpload = [&](UploadDialog &d, UploadJob job) {
        UploadControllerContext uc;
        uc.settings = settings;
        uc.prompts = &prompts;
        uc.promptParent = &d;
        controller = std::make_unique<UploadController>(d.model(), uc);
        controller->Start(std::move(job));
    };
    UploadDialog dialog(c, photos);
    dialog.Open();
    while (dialog.model().state() != UploadDialogModel::State::Ready)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double idleGap = LongestGapMs([started = QElapsedTimer()]() mutable {
        if (!started.isValid())
            started.start();
        return started.elapsed() < 3000;
    });
    QElapsedTimer dialogTime;
    dialogTime.start();
    dialog.startUpload();
    const double uploadGap = LongestGapMs([&] { return !dialog.isClosed(); });
    const double dialogMs = double(dialogTime.nsecsElapsed()) / 1e6;

    std::printf("%d photos, %.0f KB on average, on loopback: the upload run %.2f ms a photo, the client alone "
                "%.2f ms a photo; the dialog with its worker %.2f ms a photo (with its 1 s pause at the end)\n",
                kPhotos, double(bytes) / kPhotos / 1024, worker / kPhotos, client / kPhotos, dialogMs / kPhotos);
    std::printf("Longest gap between UI events: %.1f ms while the dialog uploads, %.1f ms idle\n", uploadGap, idleGap);
    std::printf("RESULT upload-per-photo ours=%.2fms baseline=%.2fms ratio=%.2f\n", worker / kPhotos, client / kPhotos,
                client / worker);
    std::printf("RESULT upload-ui-gap ours=%.1fms baseline=%.1fms ratio=%.2f\n", uploadGap, idleGap, idleGap / uploadGap);
    return 0;
}
