// How much the file-manager order costs on a big folder: sorting by precomputed collation
// keys against collating on every comparison (the baseline), with a plain code-point sort of
// the same names, measured in the same run, for scale.
#include "platform/PhotoFiles.h"

#include <QCollator>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QRandomGenerator>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace {
QStringList cameraNames(int count)
{
    QStringList names;
    QRandomGenerator rng(2026);
    for (int i = 0; i < count; ++i) {
        const char *prefix = (i % 3 == 0) ? "IMG_" : (i % 3 == 1) ? "dsc" : "Holiday ";
        names << QStringLiteral("%1%2.%3").arg(QLatin1String(prefix)).arg(rng.bounded(100000)).arg(i % 5 ? "JPG" : "jpeg");
    }
    return names;
}

// Best of several runs: the least disturbed by the rest of the machine.
qint64 bestOf(int runs, const QStringList &input, const std::function<void(QStringList &)> &sort)
{
    qint64 best = std::numeric_limits<qint64>::max();
    for (int r = 0; r < runs; ++r) {
        QStringList names = input;
        QElapsedTimer t;
        t.start();
        sort(names);
        best = std::min(best, t.nsecsElapsed());
    }
    return best;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    double oursMs = 0, baselineMs = 0;
    for (int count : {1000, 20000}) {
        const QStringList names = cameraNames(count);
        const qint64 plain = bestOf(5, names, [](QStringList &n) { n.sort(); });
        const qint64 keyed = bestOf(5, names, [](QStringList &n) { SortLikeFileManager(n); });
        const qint64 direct = bestOf(5, names, [](QStringList &n) {
            QCollator c(QLocale(QLocale::English, QLocale::UnitedStates));
            c.setNumericMode(true);
            c.setCaseSensitivity(Qt::CaseInsensitive);
            std::sort(n.begin(), n.end(), [&](const QString &a, const QString &b) { return c.compare(a, b) < 0; });
        });
        out << count << " names: file-manager order (sort keys) " << double(keyed) / double(plain)
            << "x a plain sort; collator per comparison " << double(direct) / double(plain) << "x\n";
        oursMs = double(keyed) / 1e6;
        baselineMs = double(direct) / 1e6;
    }
    out << QStringLiteral("RESULT folder-order ours=%1ms baseline=%2ms ratio=%3\n")
               .arg(oursMs, 0, 'f', 2)
               .arg(baselineMs, 0, 'f', 2)
               .arg(baselineMs / oursMs, 0, 'f', 2);
    return 0;
}
