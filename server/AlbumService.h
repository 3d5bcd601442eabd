#pragma once

#include "AlbumStore.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <utility>

// How the service misbehaves on purpose, so that tests can prove the client's failure paths.
struct ServiceFaults
{
    int refuseEvery = 0;        // every n-th upload creation is refused with `refuseReason`
    QString refuseReason = QStringLiteral("The album service refused this photo.");
    bool htmlErrors = false;    // error replies are HTML pages instead of plain text
    qint64 dropAtByte = -1;     // the connection of each upload is cut once when it reaches this byte
    int delayMs = 0;            // every reply waits this long
};

struct ServiceOptions
{
    QString prefix;                           // path prefix, e.g. "/qlm"; empty for none
    QString version = QStringLiteral("3.25"); // what the version request answers
    QString updatePackage;                    // the update package offered (a file); empty: none
    QString requestLog;                       // test switch: every request is written here
    ServiceFaults faults;
};

// Receives the pieces of a request body; false stops the reading.
using BodySink = std::function<bool(const char *data, qint64 size)>;

// One HTTP request, as the transport hands it over.
struct HttpRequest
{
    QByteArray method;
    QByteArray path;    // without the query, before the service's prefix is taken off
    QByteArray query;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    qint64 contentLength = 0;
    QByteArray body;    // the body, when it was read before
    // Reads the body not read before, piece by piece; false when it did not arrive whole.
    std::function<bool(const BodySink &)> readBody;
    QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
};

struct HttpReply
{
    int status = 200;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray contentType = "text/plain; charset=utf-8";
    bool error = false;   // the body is a reason text, shown as HTML when the switch says so
    bool hangUp = false;  // no reply at all: the connection is cut
};

// The reference album service's protocol, apart from any transport: accounts, albums, tus
// uploads with their bytes streamed to the store, print orders and pages. Safe to call from
// several threads at once.
class AlbumService
{
public:
    AlbumService(AlbumStore &store, ServiceOptions options);

    HttpReply handle(const HttpRequest &request);

    const ServiceOptions &options() const { return options_; }
    // The body to send for `reply`: its reason as plain text, or as a page with the switch.
    QByteArray errorBody(const HttpReply &reply) const;
    QByteArray contentTypeOf(const HttpReply &reply) const;

private:
    struct Checksum;
    HttpReply route(const HttpRequest &request, const QByteArray &method, const QByteArray &path);
    QString authorizedAccount(const HttpRequest &request) const;
    HttpReply createUpload(const HttpRequest &request, const QString &account);
    HttpReply uploadStatus(const QString &id, const QString &account);
    HttpReply patchUpload(const HttpRequest &request, const QString &id, const QString &account);
    HttpReply receiveBytes(const HttpRequest &request, AlbumStore::Upload &upload, Checksum *checksum);
    bool cutOnce(const AlbumStore::Upload &upload, qint64 bytes, qint64 *cutAt);
    HttpReply order(const HttpRequest &request);
    HttpReply orderPage(const HttpRequest &request) const;
    HttpReply gallery() const;
    HttpReply update(const QByteArray &path) const;
    void log(const HttpRequest &request);

    AlbumStore &store_;
    ServiceOptions options_;
    mutable std::mutex mutex_; // guards what follows
    int uploadsCreated_ = 0;
    QStringList cutOnce_;
    QMap<QString, QStringList> orders_; // account -> the photos of its latest order
    std::mutex logMutex_;               // one request's line at a time
};

// The update package's file name as it is offered: a plain name that every client can store
// and ask for as it stands.
bool IsOfferedPackageName(const QString &name);
