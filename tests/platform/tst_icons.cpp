#include "platform/Icons.h"

#include "support/TestFiles.h"

#include <QDirIterator>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

// Every picture the toolbar and the menus ask for by name.
const QStringList kCommandPictures = {
    "document-save-as", "upload-photo", "upload-folder", "buy-photo", "buy-folder",
    "go-first", "go-previous", "go-next", "go-last", "zoom-in", "zoom-out",
    "zoom-25", "zoom-50", "zoom-100", "zoom-200", "zoom-fit-best",
    "object-rotate-left", "object-rotate-right", "media-playback-start", "web-site", "help-about",
};

QImage imageOf(const QIcon &icon, QSize size, QIcon::Mode mode = QIcon::Normal)
{
    return icon.pixmap(size, 1.0, mode).toImage().convertToFormat(QImage::Format_ARGB32);
}

int visiblePixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0;
    return n;
}

// The largest difference between the colour channels of any visible pixel: 0 for pure greys.
int largestChroma(const QImage &image)
{
    int chroma = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 0)
                continue;
            const int hi = std::max({qRed(p), qGreen(p), qBlue(p)});
            const int lo = std::min({qRed(p), qGreen(p), qBlue(p)});
            chroma = std::max(chroma, hi - lo);
        }
    return chroma;
}

bool isCyan(QRgb p)
{
    return qAlpha(p) == 255 && qRed(p) < 100 && qGreen(p) > 170 && qBlue(p) > 200;
}

int cyanPixels(const QImage &image, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += isCyan(image.pixel(x, y));
    return n;
}

const char *kSquareSvg = "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>"
                         "<rect width='16' height='16' fill='%1'/></svg>\n";

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT
    QTemporaryDir themes_;

    // A theme "test" holding only go-next (red) and quillmere (magenta), and an empty theme
    // "bare": the desktop's own themes stay out of the test.
    void useTheme(const QString &name)
    {
        QIcon::setThemeSearchPaths({themes_.path()});
        QIcon::setFallbackThemeName(QStringLiteral("bare"));
        QIcon::setThemeName(name);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(themes_.isValid());
        const QByteArray index = "[Icon Theme]\nName=%1\nDirectories=scalable\n\n"
                                 "[scalable]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n";
        writeFile(themes_.filePath("test/index.theme"), QString::fromLatin1(index).arg("test").toUtf8());
        writeFile(themes_.filePath("test/scalable/go-next.svg"), QString::fromLatin1(kSquareSvg).arg("#ff0000").toUtf8());
        writeFile(themes_.filePath("test/scalable/quillmere.svg"), QString::fromLatin1(kSquareSvg).arg("#ff00ff").toUtf8());
        writeFile(themes_.filePath("bare/index.theme"), QString::fromLatin1(index).arg("bare").toUtf8());
        useTheme("bare");
    }

    void everyCommandPictureIsThere()
    {
        // A picture that nothing asks for, or a name asked for that has no picture, is a slip.
        ProgramIcon();
        QStringList found;
        for (QDirIterator it(":/icons/commands"); it.hasNext();)
            found << QFileInfo(it.next()).completeBaseName();
        found.sort();
        QStringList wanted = kCommandPictures;
        wanted.sort();
        QCOMPARE(found, wanted);
    }

    void commandPicturesDrawAndLookDisabledWhenDisabled_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : kCommandPictures)
            QTest::newRow(qPrintable(name)) << name;
    }

    void commandPicturesDrawAndLookDisabledWhenDisabled()
    {
        QFETCH(QString, name);
        const QIcon icon = CommandIcon(QString(), CommandIconResource(name));
        // The toolbar's pictures are 40 x 28.
        const QImage normal = imageOf(icon, QSize(40, 28));
        QCOMPARE(normal.size(), QSize(40, 28));
        QVERIFY2(visiblePixels(normal) > 40 * 28 / 8, "the picture is (almost) empty");
        const QImage disabled = imageOf(icon, QSize(40, 28), QIcon::Disabled);
        QCOMPARE(disabled.size(), QSize(40, 28));
        QVERIFY(disabled != normal);
        QCOMPARE(visiblePixels(disabled), visiblePixels(normal));
        QVERIFY2(largestChroma(disabled) <= 8, "a disabled picture is grey");
    }

    void themeIconIsUsedWhenTheThemeHasIt_data()
    {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QString>("themeName");
        QTest::addColumn<bool>("themed");
        QTest::newRow("theme has the name") << "test" << "go-next" << true;
        QTest::newRow("theme lacks the name") << "test" << "go-previous" << false;
        QTest::newRow("no theme icon asked for") << "test" << "" << false;
        QTest::newRow("empty theme") << "bare" << "go-next" << false;
    }

    void themeIconIsUsedWhenTheThemeHasIt()
    {
        QFETCH(QString, theme);
        QFETCH(QString, themeName);
        QFETCH(bool, themed);
        useTheme(theme);
        const QString fallback = CommandIconResource("go-next");
        const QImage shown = imageOf(CommandIcon(themeName, fallback), QSize(28, 28));
        const QImage ours = imageOf(QIcon(fallback), QSize(28, 28));
        QCOMPARE(shown.isNull(), false);
        QCOMPARE(shown.pixel(14, 14) == qRgb(255, 0, 0), themed);
        QCOMPARE(shown == ours, !themed);
        useTheme("bare");
    }

    void programIconComesFromTheThemeWhenInstalled()
    {
        useTheme("test");
        QCOMPARE(imageOf(ProgramIcon(), QSize(32, 32)).pixel(16, 16), qRgb(255, 0, 255));
        useTheme("bare");
        const QImage ours = imageOf(ProgramIcon(), QSize(32, 32));
        QVERIFY(ours.pixel(16, 16) != qRgb(255, 0, 255));
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            QVERIFY(visiblePixels(imageOf(ProgramIcon(), QSize(size, size))) > size * size / 3);
    }

    void trayFramesAlternateAndLightTheSquare()
    {
        const QSize size(16, 16);
        const QImage first = imageOf(TrayProgressIcon(0), size);
        const QImage second = imageOf(TrayProgressIcon(1), size);
        QVERIFY(visiblePixels(first) > 16 * 16 / 3);
        QVERIFY(first != second);
        QCOMPARE(imageOf(TrayProgressIcon(2), size), first);
        QCOMPARE(imageOf(TrayProgressIcon(7), size), second);
        QCOMPARE(imageOf(TrayProgressIcon(-1), size), second);
        QCOMPARE(imageOf(TrayProgressIcon(-2), size), first);

        // The small square at the lower left lights up cyan in the first frame only, and
        // neither frame is the plain program icon.
        const QRect lowerLeft(0, 8, 8, 8);
        const QImage plain = imageOf(ProgramIcon(), size);
        QVERIFY(cyanPixels(first, lowerLeft) >= 8);
        QCOMPARE(cyanPixels(plain, lowerLeft), 0);
        QVERIFY(second != plain);
        QVERIFY(first != plain);
    }

    void failureBadgeIsARoundOrangeBadge()
    {
        const QImage badge = FailureBadge().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(badge.size(), QSize(24, 24));
        for (QPoint corner : {QPoint(0, 0), QPoint(23, 0), QPoint(0, 23), QPoint(23, 23)})
            QCOMPARE(qAlpha(badge.pixel(corner)), 0);
        const QRgb inside = badge.pixel(6, 12);
        QCOMPARE(qAlpha(inside), 255);
        QVERIFY(qRed(inside) > 200 && qGreen(inside) < 170 && qBlue(inside) < 80);
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
