// The wait between slides on a folder of 24-megapixel photos, on a 1920 x 1080 screen: the
// slideshow (slides decoded on workers at the size shown, the next one made ready while the
// current one shows) against decoding the photo when the slide is asked for, as a slideshow
// that decodes on the spot does, in the same run. Also how long a slide takes to make ready,
// which must stay well under the shortest period (3 s) for the next slide never to wait.
#include "browse/SlideShowDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QStringList photos;
    for (int i = 0; i < 6; ++i) {
        // Detail everywhere, so the encoder and decoder do real work.
        QImage image(6000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                line[x] = qRgb((x * (7 + i)) ^ y, (y * 3 + x) & 255, ((x + y) * 5) & 255);
        }
        photos << dir.filePath(QString("photo%1.jpg").arg(i));
        image.save(photos.last(), "JPEG", 90);
    }
    QImageReader::setAllocationLimit(1024);
    const QSize window(1920, 1080);
    const QSize area(window.width(), window.height() - SlidePanelStrip);

    // Decoding when the slide is asked for: the whole photo, then scaled to its fit.
    std::vector<double> onTheSpot;
    for (const QString &path : photos) {
        QElapsedTimer t;
        t.start();
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QImage full = reader.read();
        const SlideFit fit = FitSlide(full.size(), area);
        const QImage shown = full.scaled(fit.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        onTheSpot.push_back(t.nsecsElapsed() / 1e6);
    }

    CSlideShowDlg show(photos, 0);
    show.setWindowState(Qt::WindowNoState);
    show.resize(window);
    show.show();
    QSignalSpy shown(&show, &CSlideShowDlg::slideShown);
    shown.wait(20000);
    std::vector<double> waits, ready;
    for (int step = 0; step < 2 * int(photos.size()); ++step) {
        const int next = (show.slideIndex() + 1) % int(photos.size());
        // The current slide shows for the shortest period; the next one is made meanwhile.
        QElapsedTimer t;
        t.start();
        while (!show.isPrepared(next) && t.elapsed() < 3000)
            QTest::qWait(1);
        ready.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        show.Next();
        if (!show.slideReady())
            shown.wait(20000);
        waits.push_back(t.nsecsElapsed() / 1e6);
    }
    const double ours = median(waits), baseline = median(onTheSpot);
    std::printf("6000x4000 JPEGs on %dx%d: the next slide appears %.2f ms after it is asked for (longest %.2f ms); "
                "decoding it then would take %.1f ms; a slide is ready %.1f ms (longest %.1f ms) after the one "
                "before is shown\n",
                window.width(), window.height(), ours, *std::max_element(waits.begin(), waits.end()), baseline,
                median(ready), *std::max_element(ready.begin(), ready.end()));
    std::printf("RESULT slideshow_next_wait_ms ours=%.2f baseline=%.1f ratio=%.4f\n", ours, baseline, ours / baseline);
    return 0;
}
