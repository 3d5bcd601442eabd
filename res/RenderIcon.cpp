// qlm_render_icon SVG NAME FOLDER SIZE...
// Draws an SVG icon as FOLDER/<SIZE>x<SIZE>/apps/NAME.png for each size, the layout of an icon
// theme. The build makes the installed PNG icons with it, so that they come from the same SVG
// engine that draws the icon inside the program.
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5) {
        err << "usage: qlm_render_icon SVG NAME FOLDER SIZE...\n";
        return 2;
    }
    const QIcon icon(args[1]);
    for (qsizetype i = 4; i < args.size(); ++i) {
        bool ok = false;
        const int size = args[i].toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            err << "qlm_render_icon: " << args[i] << " is not a size\n";
            return 2;
        }
        const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
        if (pixmap.isNull() || pixmap.size() != QSize(size, size)) {
            err << "qlm_render_icon: cannot draw " << args[1] << " at " << size << " pixels\n";
            return 1;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(args[3]).arg(size);
        const QString file = folder + u'/' + args[2] + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !pixmap.save(file, "PNG")) {
            err << "qlm_render_icon: cannot write " << file << "\n";
            return 1;
        }
    }
    return 0;
}
