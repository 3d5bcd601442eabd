// quillmere-setup: the installer's part. Writes ExecutablePath (and on request the album
// service's address and the installed version) into the user's settings, and creates the
// program's data folder.
#include "app/InstallerSetup.h"
#include "platform/SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication qapp(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmere-setup"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes the settings Quillmere needs to start."));
    parser.addHelpOption();
    const QCommandLineOption dataFolder(QStringLiteral("executable-path"),
                                        QStringLiteral("The program's data folder (default: %1).").arg(DefaultDataFolder()),
                                        QStringLiteral("folder"));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Album service host[/prefix]."),
                                    QStringLiteral("host"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Album service port."), QStringLiteral("port"));
    const QCommandLineOption version(QStringLiteral("current-version"), QStringLiteral("Installed version, e.g. 3.25."),
                                     QStringLiteral("version"));
    const QCommandLineOption recent(QStringLiteral("recent-folder"),
                                    QStringLiteral("Put this folder at the top of the recent folders."),
                                    QStringLiteral("folder"));
    const QCommandLineOption ifMissing(QStringLiteral("if-missing"),
                                       QStringLiteral("Write the settings only when they are not there yet "
                                                      "(--recent-folder is written in any case)."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Write nothing; exit 0 when the settings are there, 1 when not."));
    const QCommandLineOption file(QStringLiteral("settings-file"),
                                  QStringLiteral("Use this settings file instead of the user's own."), QStringLiteral("file"));
    const QCommandLineOption account(QStringLiteral("account"),
                                     QStringLiteral("Album service account EMAIL:PASSWORD, written only when no account "
                                                    "is saved yet."),
                                     QStringLiteral("account"));
    const QCommandLineOption print(QStringLiteral("print"),
                                   QStringLiteral("Write nothing; print the service, data folder and account settings "
                                                  "as NAME=VALUE lines."));
    parser.addOptions({dataFolder, server, port, version, recent, ifMissing, check, file, account, print});
    parser.process(qapp);

    QTextStream err(stderr);
    SettingsStore store(parser.isSet(file) ? parser.value(file) : SettingsStore::defaultFile());
    if (parser.isSet(check))
        return SettingsInstalled(store) ? 0 : 1;
    const QString section = SettingsStore::SettingsSection;
    if (parser.isSet(print)) {
        QTextStream out(stdout);
        for (const char *name : {"QLMHttpServer", "QLMHttpPort", "ExecutablePath", "QLMUserName", "QLMPassword"})
            out << name << '=' << store.ReadString(section, QString::fromLatin1(name)) << '\n';
        return 0;
    }
    if (parser.isSet(account)) {
        const QString value = parser.value(account);
        const qsizetype colon = value.indexOf(QLatin1Char(':'));
        if (colon <= 0) {
            err << "quillmere-setup: --account takes EMAIL:PASSWORD\n";
            return 2;
        }
        if (store.ReadString(section, QStringLiteral("QLMUserName")).isEmpty()
            && (!store.WriteString(section, QStringLiteral("QLMUserName"), value.left(colon))
                || !store.WriteString(section, QStringLiteral("QLMPassword"), value.mid(colon + 1)))) {
            err << "quillmere-setup: cannot write the account into " << store.fileName() << '\n';
            return 1;
        }
    }

    SetupOptions options;
    options.executablePath = parser.value(dataFolder);
    if (parser.isSet(server))
        options.httpServer = parser.value(server);
    if (parser.isSet(port)) {
        bool ok = false;
        const int p = parser.value(port).toInt(&ok);
        if (!ok || p <= 0 || p > 65535) {
            err << "quillmere-setup: the port must be a number from 1 to 65535\n";
            return 2;
        }
        options.httpPort = p;
    }
    if (parser.isSet(version))
        options.currentVersion = parser.value(version);
    options.recentFolder = parser.value(recent);

    if (parser.isSet(ifMissing) && SettingsInstalled(store)) {
        // Only the recent folder is asked for; the installed settings stay as they are.
        SetupOptions onlyRecent;
        onlyRecent.recentFolder = options.recentFolder;
        if (onlyRecent.recentFolder.isEmpty())
            return 0;
        onlyRecent.executablePath = store.ReadString(SettingsStore::SettingsSection, QStringLiteral("ExecutablePath"));
        options = onlyRecent;
    }

    QString error;
    if (!RunSetup(store, options, &error)) {
        err << "quillmere-setup: " << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "Settings written to " << store.fileName() << '\n';
    return 0;
}
