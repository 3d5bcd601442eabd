// What listing a folder of 10,000 files costs: the photo list's scan (photo names and
// file-manager order) against a plain directory read of the same folder, in the
// same run.
#include "browse/PhotoFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    for (int i = 0; i < 10000; ++i) {
        const char *ext = (i % 10 == 9) ? "txt" : (i % 2 ? "JPG" : "jpeg");
        QFile(dir.filePath(QStringLiteral("IMG_%1.%2").arg(i).arg(QLatin1String(ext)))).open(QIODevice::WriteOnly);
    }
    double ours = 1e300, plain = 1e300;
    qsizetype photos = 0, names = 0;
    for (int r = 0; r < 5; ++r) {
        QElapsedTimer t;
        t.start();
        names = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted).size();
        plain = std::min(plain, double(t.nsecsElapsed()) / 1e6);
        t.restart();
        photos = ScanFolder(dir.path()).size();
        ours = std::min(ours, double(t.nsecsElapsed()) / 1e6);
    }
    out << "folder of " << names << " files, " << photos << " photos: scan " << ours << " ms, plain read " << plain
        << " ms\n";
    // The ratio is below 1: the scan does the plain read and more.
    out << QStringLiteral("RESULT scan-folder ours=%1ms baseline=%2ms ratio=%3\n")
               .arg(ours, 0, 'f', 2)
               .arg(plain, 0, 'f', 2)
               .arg(plain / ours, 0, 'f', 2);
    return 0;
}
