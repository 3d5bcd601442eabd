// How long the upload dialog takes to make the tiles of 100 photos of 8 MP: its importer (one
// request per photo on every core, tiles handed over in order) against one worker making them
// one after the other in order, measured in the same run with the same tile code. Also: the
// longest gap between two events the UI thread processes while the dialog imports them.
#include "photo/ThumbnailTile.h"
#include "platform/Settings.h"
#include "platform/Worker.h"
#include "upload/TileImporter.h"
#include "upload/UploadDialog.h"

#include <QApplication>
#include "UiGapMeter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <sys/resource.h>

namespace {
// A photo-like picture: smooth gradients with noise, so that it compresses like a photo.
void writePhoto(const QString &path, int seed)
{
    QImage image(3264, 2448, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(rng.bounded(24));
            line[x] = qRgb((x / 24 + n + seed * 30) & 255, (y / 16 + n) & 255, ((x + y) / 40 + n) & 255);
        }
    }
    image.save(path, "JPEG", 90);
}

double cpuMs()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e3 + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e3;
}

template <typename F> double bestMs(int runs, F &&f)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QImageReader::setAllocationLimit(1024);
    QTextStream out(stdout);
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 10; ++i)
        writePhoto(dir.filePath(QStringLiteral("seed%1.jpg").arg(i)), i);
    for (int i = 0; i < 100; ++i) {
        paths << dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QChar(u'0')));
        QFile::copy(dir.filePath(QStringLiteral("seed%1.jpg").arg(i % 10)), paths.last());
    }

    // Both at normal priority, so that other work on the machine weighs less on the figures.
    WorkerPool::Options normal = TileImporter::defaultOptions();
    normal.priority = WorkPriority::Normal;

    const auto importer = [&] {
        TileImporter importer(nullptr, normal);
        QSignalSpy done(&importer, &TileImporter::finished);
        importer.Start(paths);
        done.wait(600000);
    };
    WorkerPool onePool(WorkerPool::Options{"bench-one", WorkPriority::Normal, 1});
    QObject owner;
    Worker one(&owner, onePool);
    const auto oneWorker = [&] {
        int handed = 0;
        bool done = false;
        one.start(
            [&paths, &handed](const WorkerTask &task) {
                for (const QString &p : paths) {
                    QImage tile = MakeThumbnailTile(p, false, task.token());
                    task.post([&handed, tile] { handed += tile.isNull() ? 0 : 1; });
                }
            },
            [&done](quint64) { done = true; });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    // Taken in turns, so that a change in the machine's load weighs on both alike. The
    // processor time of each says what the work costs whatever else the machine is doing.
    double ours = 1e300, sequential = 1e300, oursCpu = 1e300, sequentialCpu = 1e300;
    for (int round = 0; round < 3; ++round) {
        const double before = cpuMs();
        sequential = std::min(sequential, bestMs(1, oneWorker));
        const double between = cpuMs();
        ours = std::min(ours, bestMs(1, importer));
        sequentialCpu = std::min(sequentialCpu, between - before);
        oursCpu = std::min(oursCpu, cpuMs() - between);
    }

    // The dialog importing them while a timer stands for the user's events.
    Settings settings;
    const QString albums;
    UploadDialogContext context;
    context.settings = &settings;
    context.albumList = &albums;
    UploadDialog dialog(context, paths);
    UiGapMeter gaps;
    gaps.start();
    dialog.Open();
    while (dialog.model().state() != UploadDialogModel::State::Ready)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    gaps.stop();
    const double fill = gaps.elapsedMs();

    out << "tiles of 100 photos of 8 MP on " << QThread::idealThreadCount() << " cores: one worker in order "
        << sequential << " ms (processor " << sequentialCpu << " ms), the importer " << ours << " ms (processor "
        << oursCpu << " ms)\n";
    out << "the dialog importing them: " << fill << " ms, longest gap between UI events "
        << gaps.longestMs() << " ms\n";
    out << QStringLiteral("RESULT upload-import ours=%1ms baseline=%2ms ratio=%3\n")
               .arg(ours, 0, 'f', 1)
               .arg(sequential, 0, 'f', 1)
               .arg(sequential / ours, 0, 'f', 2);
    return 0;
}
