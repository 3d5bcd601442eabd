#include "app/InstallerSetup.h"

#include "app/RecentFolders.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString DefaultDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Quillmere");
}

bool SettingsInstalled(const SettingsStore &store)
{
    return store.CheckSettingsKey()
           && !store.ReadString(SettingsStore::SettingsSection, QStringLiteral("ExecutablePath")).isEmpty();
}

bool RunSetup(SettingsStore &store, const SetupOptions &options, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    // The program reads the folder without a trailing "/", and as an absolute path.
    QString folder = options.executablePath.isEmpty() ? DefaultDataFolder() : options.executablePath;
    folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Cannot create the data folder %1").arg(folder));

    const QString &section = SettingsStore::SettingsSection;
    if (!store.WriteString(section, QStringLiteral("ExecutablePath"), folder))
        return fail(QStringLiteral("Cannot write the settings file %1").arg(store.fileName()));
    if (options.httpServer)
        store.WriteString(section, QStringLiteral("QLMHttpServer"), *options.httpServer);
    if (options.httpPort)
        store.WriteInt(section, QStringLiteral("QLMHttpPort"), *options.httpPort);
    if (options.currentVersion)
        store.WriteString(section, QStringLiteral("CurrentVersion"), *options.currentVersion);
    if (!options.recentFolder.isEmpty())
        store.WriteRecentFolders(InsertRecentFolder(store.ReadRecentFolders(), AbsoluteFolderPath(options.recentFolder)));
    return true;
}

bool CompleteInstalledSettings(SettingsStore &store)
{
    if (SettingsInstalled(store))
        return true;
    if (!store.HasSystemDefaults())
        return false;
    // The service and the installed version are left to the system-wide file, so that an
    // upgrade's new version shows through.
    return RunSetup(store, SetupOptions{}, nullptr) && SettingsInstalled(store);
}
