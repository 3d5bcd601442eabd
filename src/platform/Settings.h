#pragma once

#include <QString>
#include <QtGlobal>

// The album service host built into the program: the album client falls back on it, and the
// print order's pages live below "/qlm" there.
inline constexpr const char *kDefaultServiceHost = "albums.quillmere.example";

// The values the program holds in memory for the whole run, with the defaults that stand
// when the store has no value. Flags are kept as integers: the store holds 0 or 1.
struct Settings {
    QString executablePath;      // ExecutablePath: the program's data folder
    QString httpServer;          // QLMHttpServer: host, optionally "/" and a path prefix
    int httpPort = 80;           // QLMHttpPort
    QString userName;            // QLMUserName: the account's e-mail address
    QString password;            // QLMPassword
    int automaticUpload = 0;     // AutomaticUpload
    int automaticUpdate = 0;     // AutomaticUpdate
    int automaticResize = 0;     // AutomaticResize
    quint32 maxPixelSize = 300;  // MaxPixelSize
    int launchTiVo = 1;          // LaunchTiVo
    int notifyIfUploadFails = 1; // NotifyIfUploadFails
};
