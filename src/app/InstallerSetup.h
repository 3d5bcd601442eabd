#pragma once

#include <QString>

#include <optional>

class SettingsStore;

// What the installer writes into the store. Only ExecutablePath is always written; the
// service address and the installed version only when asked for.
struct SetupOptions {
    QString executablePath;              // empty: DefaultDataFolder()
    std::optional<QString> httpServer;   // QLMHttpServer
    std::optional<int> httpPort;         // QLMHttpPort
    std::optional<QString> currentVersion;
    QString recentFolder;                // put at the top of the recent folders when set
};

// The program's data folder: upload.inf and the TiVo launcher live in it.
QString DefaultDataFolder();

// True when the store is there with an ExecutablePath, as start-up needs it.
bool SettingsInstalled(const SettingsStore &store);

// Creates the data folder and writes the values. On failure returns false with a reason.
bool RunSetup(SettingsStore &store, const SetupOptions &options, QString *error);

// The first start of a program installed by its package, which wrote the installer's values
// for every user into the system-wide file but cannot write a user's own ExecutablePath: when
// the user's settings lack it and the system-wide file is there, it is written now, as
// quillmere-setup writes it. True when the settings are there, as start-up needs them.
bool CompleteInstalledSettings(SettingsStore &store);
