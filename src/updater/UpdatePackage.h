#pragma once

#include "platform/HttpClient.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What quillmere-updater does with the check address it is given: asks the service at that
// address which update package it offers, downloads it into a private folder, checks its size
// and SHA-256 against what the service announced, and hands the checked file to the desktop,
// whose software installer takes it from there. It never runs what it downloaded.

// The updater's exit statuses; the program reads them (see its manual page).
enum UpdaterExit { UpdaterHandedOver = 0, UpdaterFailed = 1, UpdaterUsage = 2, UpdaterNoPackage = 3 };

// What the service announces of its package: `GET <service>/update`.
struct UpdateAnnouncement
{
    QString version;
    QString name;      // a plain file name, also the last part of its address
    qint64 size = 0;
    QByteArray sha256; // 32 bytes
};

inline constexpr qint64 kMaxPackageBytes = qint64(256) << 20;

// A name that can be a file name in the download folder and an address's last part as it
// stands: 1 to 255 of A-Z a-z 0-9 "." "_" "+" "~" "-", not beginning with ".".
bool IsPlainPackageName(const QString &name);
// The announcement in a JSON reply body; none, with the reason in `why`, when anything is
// missing, of the wrong type or out of range, or the package is not a Debian package (".deb").
std::optional<UpdateAnnouncement> ParseUpdateAnnouncement(const QByteArray &json, QString *why);
// The service's address from the check address: its support page's folder.
QString ServiceAddressOf(const QString &checkAddress);

struct FetchedPackage
{
    enum Outcome { Fetched, NoPackage, Failed };
    Outcome outcome = Failed;
    QString file;  // with Fetched: the checked package, in a folder of its own
    QString error; // with Failed: why, for the updater's standard error
};
// Downloads the announced package into a new private folder below `tempFolder` (mode 0700);
// the folder stays for the installer to read from. A package that is not what was announced
// is never written, and nothing is left behind.
FetchedPackage FetchUpdatePackage(const QString &checkAddress, const QString &tempFolder,
                                  const HttpClient::Options &options);

// Hands the file to xdg-open. True when xdg-open ended well, or is still busy opening it after
// `waitMs` (some desktops keep it until the installer closes): it is then left running.
bool HandToDesktop(const QString &file, int waitMs, QString *error);
