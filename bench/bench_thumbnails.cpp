// How long a page of 8 tiles takes from 24 MP JPEGs: the tile code (scaled decoding, one
// worker request per photo on every core) against the naive way (full decode, then scale, one
// photo after the other), measured in the same run. Also: the longest gap between two events
// the UI thread processes while the photo list fills that page (its requests run at low
// priority; the measurement above runs them at normal priority, so that other work on the
// machine weighs less on the figure).
#include "browse/ThumbsView.h"
#include "photo/ThumbnailTile.h"
#include "platform/Worker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

namespace {
// A photo-like picture: smooth gradients with noise, so that it compresses like a photo.
void writePhoto(const QString &path, int seed)
{
    QImage image(6000, 4000, QImage::Format_RGB32);
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

QImage naiveTile(const QString &path)
{
    QImage tile = TileFrame(false);
    const QImage full(path);
    if (full.isNull())
        return tile;
    const TilePlacement place = PlaceInTile(full.size());
    QPainter(&tile).drawImage(place.at, full.scaled(place.scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return tile;
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
    for (int i = 0; i < 8; ++i) {
        paths << dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i));
        writePhoto(paths.last(), i);
    }

    const double naive = bestMs(2, [&] {
        for (const QString &p : paths)
            (void)naiveTile(p);
    });
    const double oneCore = bestMs(3, [&] {
        for (const QString &p : paths)
            (void)MakeThumbnailTile(p, false);
    });
    WorkerPool pool(WorkerPool::Options{"bench-tiles"});
    QObject owner;
    Worker worker(&owner, pool);
    const double ours = bestMs(3, [&] {
        qsizetype left = paths.size();
        for (const QString &p : paths)
            worker.start([p](const WorkerTask &task) { return MakeThumbnailTile(p, false, task.token()); },
                         [&](quint64, const QImage &) { --left; });
        while (left > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    });

    // The photo list filling the page while a timer stands for the user's events.
    CThumbsView list;
    list.resize(320, 600);
    list.show();
    QSignalSpy done(&list, &CThumbsView::workerFinished);
    QElapsedTimer clock;
    qint64 last = 0, longestGap = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });
    list.ListFolder(dir.path());
    clock.start();
    tick.start();
    done.wait(60000);
    tick.stop();
    const double fill = double(clock.nsecsElapsed()) / 1e6;

    out << "page of 8 tiles from 24 MP JPEGs on " << QThread::idealThreadCount() << " cores: naive full decode "
        << naive << " ms, scaled decoding on one core " << oneCore << " ms, on every core " << ours << " ms\n";
    out << "photo list filling the page: " << fill << " ms, longest gap between UI events "
        << double(longestGap) / 1e6 << " ms\n";
    out << QStringLiteral("RESULT thumbnail-page ours=%1ms baseline=%2ms ratio=%3\n")
               .arg(ours, 0, 'f', 1)
               .arg(naive, 0, 'f', 1)
               .arg(naive / ours, 0, 'f', 2);
    return 0;
}
