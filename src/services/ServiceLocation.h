#pragma once

#include <QByteArray>
#include <QString>

// Where the print order and the version check find the album service: QLMHttpServer, a host
// optionally followed by "/" and a path prefix, at QLMHttpPort.
struct ServiceLocation
{
    QString host;
    QString prefix; // "" or "/something", never ending in "/"
    int port = 80;  // 443 means HTTPS

    // "host/app" -> host "host", prefix "/app". A "/" at the very start is part of the host;
    // a prefix that is only slashes is dropped. A port outside 1 to 65535 is 80, as the album
    // client takes it.
    static ServiceLocation FromSettings(const QString &server, int port);

    // A host that could not stand in an address by itself (empty, or holding a character that
    // would make part of it a user name, a path, a query or a fragment) reaches nothing.
    bool valid() const;

    // "http://host/prefix/path", or "https://..." on port 443; the port is written only when
    // it is not the scheme's own.
    QString url(const QString &path) const;
};

// The first line of a reply body, without its line end ("\r\n", "\n" or a lone "\r").
QByteArray FirstLine(const QByteArray &body);
