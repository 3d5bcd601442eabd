#pragma once

#include "AlbumStore.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// How the service misbehaves on purpose, so that tests can prove the client's failure paths.
struct ServiceFaults
{
    int refuseEvery = 0;        // every n-th upload is refused with `refuseReason`
    QString refuseReason = QStringLiteral("The album service refused this photo.");
    bool htmlErrors = false;    // error replies are HTML pages instead of plain text
    qint64 dropAfterBytes = -1; // the first body of each upload is cut off after this many bytes
    int delayMs = 0;            // every reply waits this long
};

struct ServiceOptions
{
    QString prefix;                           // path prefix, e.g. "/qlm"; empty for none
    QString version = QStringLiteral("3.25"); // what the version request answers
    ServiceFaults faults;
};

// One HTTP request as read off the wire.
struct HttpRequest
{
    QByteArray method;
    QByteArray target;  // path and query as sent
    QByteArray path;    // without the query, the service's prefix taken off
    QByteArray query;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;    // not for upload bodies, which go to disk as they arrive
    QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
};

struct HttpReply
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray contentType = "text/plain; charset=utf-8";
    bool error = false; // the body is a reason text, shown as HTML when the switch says so
};

// The reference album service: HTTP/1.1 on a QTcpServer, in the thread that owns it. Upload
// bodies are streamed to disk as they arrive, never held in memory.
class AlbumService : public QObject
{
    Q_OBJECT
public:
    AlbumService(AlbumStore &store, ServiceOptions options, QObject *parent = nullptr);
    ~AlbumService() override;

    bool listen(const QString &host, quint16 port, QString *error);
    quint16 port() const;

    // The answer to a request whose body has been read; exposed for tests of the routing.
    HttpReply handle(const HttpRequest &request);

    // Decides whether a PATCH may stream its body into the upload; fills `reply` when not.
    bool beginUploadBody(const HttpRequest &request, AlbumStore::Upload *upload, HttpReply *reply);
    HttpReply endUploadBody(AlbumStore::Upload &upload);
    qint64 dropAfterFor(const QString &uploadId);
    QString partPathOf(const QString &id) const;

    const ServiceOptions &options() const { return options_; }
    QByteArray errorBody(const HttpReply &reply) const;

private:
    void accept();
    QString authorizedAccount(const HttpRequest &request) const;
    HttpReply createUpload(const HttpRequest &request, const QString &account);
    HttpReply uploadStatus(const HttpRequest &request, const QString &account);
    HttpReply order(const HttpRequest &request);
    HttpReply gallery() const;
    HttpReply orderPage() const;

    AlbumStore &store_;
    ServiceOptions options_;
    QTcpServer *server_;
    int uploadsCreated_ = 0;
    QStringList droppedOnce_;
    QStringList lastOrder_;
};
