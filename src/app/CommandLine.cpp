#include "app/CommandLine.h"

#include <QFileInfo>

#include <utility>

StartOptions ParseStartArguments(const QStringList &arguments)
{
    StartOptions options;
    bool flags = true;
    bool firstPlain = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (flags && arg == u"--") {
            flags = false;
            continue;
        }
        if (flags && arg.startsWith(u'-')) {
            if (arg == u"-h" || arg == u"--help")
                options.help = true;
            continue;
        }
        if (arg.isEmpty() || !options.path.isEmpty())
            continue;
        const bool wasFirst = std::exchange(firstPlain, false);
        if (wasFirst && arg == u"RunMinimized") {
            options.runMinimized = true;
            continue;
        }
        // The running copy may have another current folder: the path travels absolute.
        options.path = QFileInfo(arg).absoluteFilePath();
    }
    return options;
}

QString StartHelpText()
{
    return QStringLiteral(
        "Usage: quillmere [RunMinimized] [PATH]\n"
        "       quillmere --photo-info FILE...\n"
        "       quillmere --upload [--album NAME] [--all] PATH...\n"
        "Browse photos and upload them into an album on the Quillmere album service.\n"
        "\n"
        "Options:\n"
        "  -h, --help               Show this help and end.\n"
        "  --photo-info <FILE...>   Print the camera (EXIF) report of each FILE on standard\n"
        "                           output and end, without a window.\n"
        "  --upload <PATH...>       Upload the photos PATH names (photo files, or folders:\n"
        "                           their photos) with the stored account, without a\n"
        "                           window, and end. Only photos not uploaded yet, or\n"
        "                           changed since, unless --all. A line per photo and a\n"
        "                           summary go to standard error; the exit status is 0 when\n"
        "                           every photo was uploaded, 1 when one was not, 2 for bad\n"
        "                           usage or no stored account.\n"
        "  --album <NAME>           With --upload: the album to upload into. Without it each\n"
        "                           photo goes to the album named after its folder.\n"
        "  --all                    With --upload: also the photos uploaded before.\n"
        "\n"
        "Arguments:\n"
        "  RunMinimized             As the first argument: start minimized.\n"
        "  PATH                     The folder to open, or a photo to show in its folder.\n"
        "                           A copy already running opens it and comes forward.\n");
}
