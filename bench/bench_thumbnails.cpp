// How long a page of 8 tiles takes from 24 MP JPEGs, against what a careful program does: Qt's
// scaled decoding on every core, measured in the same run. Four figures: a first visit of photos
// without embedded thumbnails, a first visit of photos with faithful ones, a visit after a
// restart (the shared thumbnail cache on disk), and a return to a page in the same run (the
// photo list's pictures in memory). Also the longest gap between two events the UI thread
// processes while the photo list fills a page, and the same photos through vipsthumbnail when
// it is installed.
//
// Our pages run at normal priority here, like the baseline's threads, so that other work on the
// machine weighs alike on both; the photo list itself makes its tiles below normal priority.
#include "browse/ThumbsView.h"
#include "photo/ThumbnailCache.h"
#include "photo/ThumbnailTile.h"
#include "platform/Worker.h"

#include "support/TestPhotos.h"

#include <QApplication>
#include <QDirIterator>
#include "UiGapMeter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr int kRuns = 5;

// A photo-like picture: smooth gradients with noise, so that it compresses like a photo.
QImage photoPicture(int seed)
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
    return image;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// What a careful program does: each photo decoded at the tile's size, on every core.
QImage scaledDecodeTile(const QString &path, const QImage &frame)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    const bool sideways = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    TilePicture picture;
    picture.place = PlaceInTile(sideways ? stored.transposed() : stored);
    reader.setScaledSize(sideways ? picture.place.scaled.transposed() : picture.place.scaled);
    picture.image = reader.read();
    return ComposeTile(picture, frame);
}

double scaledDecodePage(const QStringList &paths, const QImage &frame)
{
    QElapsedTimer t;
    t.start();
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < QThread::idealThreadCount(); ++i)
        threads.emplace_back([&] {
            for (int k; (k = next++) < paths.size();)
                (void)scaledDecodeTile(paths[k], frame);
        });
    for (std::thread &thread : threads)
        thread.join();
    return double(t.nsecsElapsed()) / 1e6;
}

// Our tile path as the photo list runs it: one request per photo, each tile composed on the
// owner's thread as it arrives, cache writes at background priority once the tiles are made.
struct Pages
{
    WorkerPool pool{WorkerPool::Options{"bench-tiles"}};
    QObject owner;
    Worker tiles{&owner, pool, WorkPriority::Normal};
    Worker writes{&owner, pool, WorkPriority::Background};
    QImage frame = TileFrame(false);
    int decodes = 0;

    double page(const QStringList &paths, const ThumbnailCache &cache)
    {
        QElapsedTimer t;
        t.start();
        qsizetype left = paths.size();
        for (const QString &p : paths)
            tiles.start([p, cache](const WorkerTask &task) { return LoadTile(p, cache, {}, task.token()); },
                        [&, p](quint64, const TileLoad &load) {
                            (void)ComposeTile(load.picture, frame);
                            decodes += load.decodes;
                            if (load.failed || !load.forCache.isNull())
                                writes.start([cache, p, load](const WorkerTask &w) { StoreTileLoad(cache, p, load, w.token()); },
                                             [](quint64) {});
                            --left;
                        });
        while (left > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        while (writes.pendingCount() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return ms;
    }
};

ThumbnailCache cacheAt(const QString &root)
{
    return ThumbnailCache(ThumbnailCache::Options{root, {}, QStringLiteral("quillmere-bench")});
}

template <typename F> double bestMs(int runs, F &&f)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r)
        best = std::min(best, f(r));
    return best;
}

// The best of `runs` runs of `ours` and of `baseline`, taken in turns, so that load coming and
// going on the machine weighs on both alike.
template <typename A, typename B> std::pair<double, double> bestInTurns(int runs, A &&ours, B &&baseline)
{
    std::pair<double, double> best{1e300, 1e300};
    for (int r = 0; r < runs; ++r) {
        best.first = std::min(best.first, ours(r));
        best.second = std::min(best.second, baseline());
    }
    return best;
}

QString result(const char *name, double ours, double baseline)
{
    return QStringLiteral("RESULT %1 ours=%2ms baseline=%3ms ratio=%4\n")
        .arg(QLatin1String(name))
        .arg(ours, 0, 'f', 2)
        .arg(baseline, 0, 'f', 1)
        .arg(baseline / ours, 0, 'f', 1);
}

qint64 folderBytes(const QString &folder, int *files)
{
    qint64 bytes = 0;
    *files = 0;
    for (QDirIterator it(folder, QDir::Files); it.hasNext();) {
        bytes += QFileInfo(it.next()).size();
        ++*files;
    }
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QImageReader::setAllocationLimit(1024);
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString plainFolder = dir.filePath("plain"), cameraFolder = dir.filePath("camera"),
                  bothFolder = dir.filePath("sixteen");
    for (const QString &f : {plainFolder, cameraFolder, bothFolder})
        QDir().mkpath(f);

    // The same eight photos twice: as saved by an editor (no thumbnail), and as a camera saves
    // them (a 160 x 107 thumbnail in the EXIF block).
    QStringList plain, camera;
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("IMG_%1.jpg").arg(i);
        const QImage picture = photoPicture(i);
        const QByteArray bytes = encodedJpeg(picture, 90);
        const QByteArray thumbnail =
            encodedJpeg(picture.scaled(160, 107, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 85);
        plain << plainFolder + u'/' + name;
        camera << cameraFolder + u'/' + name;
        if (!writeBytes(plain.last(), bytes) || !writeBytes(camera.last(), withExifThumbnail(bytes, thumbnail))
            || !writeBytes(bothFolder + QStringLiteral("/A_%1.jpg").arg(i), bytes)
            || !writeBytes(bothFolder + QStringLiteral("/B_%1.jpg").arg(i), bytes))
            return 1;
    }

    const QImage frame = TileFrame(false);
    auto baselinePage = [&] { return scaledDecodePage(plain, frame); };

    // First visits: a cache of its own for every run, empty when the page is shown.
    Pages pages;
    const auto [first, baseline] = bestInTurns(
        kRuns, [&](int r) { return pages.page(plain, cacheAt(dir.filePath(QStringLiteral("first%1").arg(r)))); }, baselinePage);
    const int firstDecodes = pages.decodes;
    pages.decodes = 0;
    const auto [embedded, baselineCamera] = bestInTurns(
        kRuns, [&](int r) { return pages.page(camera, cacheAt(dir.filePath(QStringLiteral("camera%1").arg(r)))); },
        [&] { return scaledDecodePage(camera, frame); });
    const int embeddedDecodes = pages.decodes;

    // After a restart: nothing in memory, the entries the first visit wrote on disk.
    const ThumbnailCache filled = cacheAt(dir.filePath("first0"));
    Pages restarted;
    const auto [cached, baselineCached] = bestInTurns(kRuns, [&](int) { return restarted.page(plain, filled); }, baselinePage);

    // The photo list: page 1, page 2, back to page 1. The tiles are shown as it returns; its
    // requests then only check the files.
    CThumbsView list;
    list.SetThumbnailCache(cacheAt(dir.filePath("list")));
    list.resize(320, 600);
    list.show();
    QSignalSpy done(&list, &CThumbsView::workerFinished);
    list.ListFolder(bothFolder);
    done.wait(120000);
    double shown = 1e300, settled = 1e300;
    for (int r = 0; r < kRuns; ++r) {
        list.NextPage();
        done.wait(120000);
        QElapsedTimer t;
        t.start();
        list.PrevPage();
        const double atOnce = double(t.nsecsElapsed()) / 1e6;
        done.wait(120000);
        shown = std::min(shown, list.count() == 8 ? atOnce : 1e300);
        settled = std::min(settled, double(t.nsecsElapsed()) / 1e6);
    }

    // The photo list filling a first page of photos it must decode, while a timer stands for
    // the user's events.
    CThumbsView filling;
    filling.SetThumbnailCache(ThumbnailCache());
    filling.resize(320, 600);
    filling.show();
    QSignalSpy fillDone(&filling, &CThumbsView::workerFinished);
    UiGapMeter gaps;
    filling.ListFolder(plainFolder);
    gaps.start();
    fillDone.wait(120000);
    gaps.stop();
    const double fill = gaps.elapsedMs();

    int entries = 0;
    const qint64 entryBytes = folderBytes(filled.options().root + QStringLiteral("/normal"), &entries);
    int cameraEntries = 0;
    const qint64 cameraBytes = folderBytes(dir.filePath("camera0/normal"), &cameraEntries);

    out << "page of 8 tiles from 24 MP JPEGs on " << QThread::idealThreadCount()
        << " cores; Qt scaled decoding on every core, best in each series: " << baseline << ", " << baselineCamera << ", "
        << baselineCached << " ms\n";
    out << "ours: first visit " << first << " ms (" << firstDecodes / kRuns << " decodes a page), with embedded thumbnails "
        << embedded << " ms (" << embeddedDecodes / kRuns << " decodes), after a restart " << cached
        << " ms, return to a page: tiles shown after " << shown << " ms, checked after " << settled << " ms\n";
    out << "photo list filling a page: " << fill << " ms, longest gap between UI events " << gaps.longestMs()
        << " ms\n";
    if (entries > 0 && cameraEntries > 0)
        out << "cache entries: " << entryBytes / entries << " bytes from decoding, " << cameraBytes / cameraEntries
            << " bytes from embedded thumbnails; 1,000 photos take about " << double(entryBytes) / entries * 1000 / 1e6
            << " MB\n";

    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (vips.isEmpty()) {
        out << "vipsthumbnail is not installed: no comparison with it\n";
    } else {
        const double vipsMs = bestMs(kRuns, [&](int r) {
            QElapsedTimer t;
            t.start();
            QList<QProcess *> running;
            const QString target = dir.filePath(QStringLiteral("vips%1").arg(r));
            QDir().mkpath(target);
            const int cores = QThread::idealThreadCount();
            for (int c = 0; c < cores; ++c) {
                QStringList args{QStringLiteral("--size"), QStringLiteral("100x90"), QStringLiteral("-o"),
                                 target + QStringLiteral("/%s.jpg")};
                for (int k = c; k < plain.size(); k += cores)
                    args << plain[k];
                auto *p = new QProcess;
                p->start(vips, args);
                running << p;
            }
            for (QProcess *p : running) {
                p->waitForFinished(120000);
                delete p;
            }
            return double(t.nsecsElapsed()) / 1e6;
        });
        out << "vipsthumbnail on " << QThread::idealThreadCount() << " processes: " << vipsMs << " ms\n";
    }

    out << result("thumbnail-page", first, baseline);
    out << result("thumbnail-page-embedded", embedded, baselineCamera);
    out << result("thumbnail-page-cached", cached, baselineCached);
    out << result("thumbnail-page-return", settled, baseline);
    return 0;
}
