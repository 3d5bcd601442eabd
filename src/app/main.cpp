#include "app/QuillmereNewClientApp.h"
#include "platform/SettingsStore.h"
#include "platform/Prompts.h"
#include "photo/PhotoReport.h"

#include <QApplication>

#include <cstring>

int main(int argc, char *argv[])
{
    // The report needs no window, no settings and no running copy: answer before any of
    // them is touched.
    if (argc >= 2 && std::strcmp(argv[1], "--photo-info") == 0)
        return RunPhotoInfoCommand(argc - 2, argv + 2, stdout, stderr);

    QApplication qapp(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationVersion(QStringLiteral("3.25"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillmere"));

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
