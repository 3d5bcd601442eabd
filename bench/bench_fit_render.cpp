// Showing a 24-megapixel photo fitted to 1600 x 1000: the picture pipeline against the naive
// path (decode at full size, then scale), in the same run. Also a zoom step on the photo
// shown, which must scale the decoded picture at hand instead of reading the file again.
#include "photo/PhotoImage.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath("24mp.jpg");
    {
        // Detail everywhere, so the encoder and decoder do real work.
        QImage image(6000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                line[x] = qRgb((x * 7) ^ y, (y * 3 + x) & 255, ((x + y) * 5) & 255);
        }
        image.save(path, "JPEG", 90);
    }
    QImageReader::setAllocationLimit(1024);
    const QSize client(1600, 1000);

    double ours = 1e300, naive = 1e300, step = 1e300;
    int decodes = 0;
    QSize oursSize, naiveSize;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer t;
        t.start();
        QImageReader reader(path);
        const QImage full = reader.read();
        const DisplaySize d = ComputeDisplaySize(0, full.width(), full.height(), client.width(), client.height());
        const QImage scaled = full.scaled(d.width, d.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        naive = std::min(naive, t.nsecsElapsed() / 1e6);
        naiveSize = scaled.size();

        DecodedPhotoCache cache;
        t.restart();
        const RenderResult r = RenderPhoto({path, 0, client, 0}, &cache);
        ours = std::min(ours, t.nsecsElapsed() / 1e6);
        oursSize = r.picture.size();

        // One step out from the fit: served from the decoded picture kept at hand.
        t.restart();
        RenderPhoto({path, r.currentZoom - 5, client, 0}, &cache);
        step = std::min(step, t.nsecsElapsed() / 1e6);
        decodes = cache.decodeCount();
    }
    std::printf("6000x4000 JPEG fitted to %dx%d: pipeline %.1f ms (%dx%d), naive %.1f ms (%dx%d); zoom step out on the "
                "photo shown %.1f ms (decodes: %d)\n",
                client.width(), client.height(), ours, oursSize.width(), oursSize.height(), naive, naiveSize.width(),
                naiveSize.height(), step, decodes);
    std::printf("RESULT fit-render ours=%.1fms baseline=%.1fms ratio=%.2f\n", ours, naive, naive / ours);
    return 0;
}
