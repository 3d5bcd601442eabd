#include "app/CommandLine.h"
#include "app/QuillmereNewClientApp.h"
#include "app/UploadCommand.h"
#include "platform/SettingsStore.h"
#include "platform/Prompts.h"
#include "photo/PhotoReport.h"
#include "upload/UploadWorker.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>

#include <unistd.h>

int main(int argc, char *argv[])
{
    // The report and the help need no window, no settings and no running copy: answer
    // before any of them is touched.
    if (argc >= 2 && std::strcmp(argv[1], "--photo-info") == 0)
        return RunPhotoInfoCommand(argc - 2, argv + 2, stdout, stderr);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Uploading from scripts and timers: no display, no window, no running copy needed.
    if (argc >= 2 && std::strcmp(argv[1], "--upload") == 0) {
        QCoreApplication core(argc, argv);
        // Standard error carries a line per photo and the summary, for scripts to read: the
        // image library's remarks on a damaged photo it still decodes for a resized copy are
        // not among them. QT_LOGGING_RULES still overrides this.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false"));
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaly"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
        SettingsStore store;
        const auto cancel = std::make_shared<UploadCancel>();
        StopOnSignals(cancel.get());
        const int code = RunUploadCommand(arguments.mid(2), store, stderr, isatty(STDERR_FILENO) == 1, cancel);
        StopOnSignals(nullptr);
        return code;
    }
    if (ParseStartArguments(arguments).help) {
        std::fputs(StartHelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication qapp(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationVersion(QStringLiteral("3.25"));
    // Wayland finds the desktop entry, and with it the icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("Quillmere"));

    SettingsStore store;
    Prompts prompts;
    // Headless runs (scripts, CI, a person trying the program over ssh) read the boxes on
    // standard error instead of waiting for a click that never comes.
    if (qgetenv("QUILLMERE_PROMPTS") == "stderr")
        prompts.setHandler(Prompts::stderrHandler());
    AppServices services;
    services.store = &store;
    services.prompts = &prompts;

    CQuillmereNewClientApp app(std::move(services));
    if (!app.InitInstance(QApplication::arguments()))
        return app.exitCode();
    return app.ExitInstance(QApplication::exec());
}
