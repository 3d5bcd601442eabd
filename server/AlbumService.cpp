#include "AlbumService.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qsizetype kMaxHeaderBytes = 64 * 1024;
constexpr qint64 kMaxFormBytes = 1 << 20;
const QByteArray kTusVersion = "1.0.0";
const QByteArray kUploadsPath = "/api/v1/uploads";

QByteArray ReasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

HttpReply Error(int status, const QString &reason)
{
    HttpReply r;
    r.status = status;
    r.body = reason.toUtf8();
    r.error = true;
    return r;
}

HttpReply Html(const QString &page)
{
    HttpReply r;
    r.contentType = "text/html; charset=utf-8";
    r.body = page.toUtf8();
    return r;
}

QString Page(const QString &title, const QString &body)
{
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>\n<body>\n<h1>%1</h1>\n%2</body></html>\n")
        .arg(title.toHtmlEscaped(), body);
}

// application/x-www-form-urlencoded: "+" is a blank, then percent escapes.
QMap<QString, QString> ParseForm(const QByteArray &body)
{
    QMap<QString, QString> fields;
    for (const QByteArray &pair : body.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        QByteArray key = eq < 0 ? pair : pair.left(eq), value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        key.replace('+', ' ');
        value.replace('+', ' ');
        fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(key)),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return fields;
}

// "album QWxidW0=,filename SU1HLmpwZw==" -> {album: "Album", filename: "IMG.jpg"}
QMap<QString, QString> ParseMetadata(const QByteArray &header, bool *ok)
{
    QMap<QString, QString> meta;
    *ok = true;
    for (const QByteArray &item : header.split(',')) {
        const QByteArray trimmed = item.trimmed();
        if (trimmed.isEmpty())
            continue;
        const qsizetype space = trimmed.indexOf(' ');
        const QByteArray key = space < 0 ? trimmed : trimmed.left(space);
        const QByteArray encoded = space < 0 ? QByteArray() : trimmed.mid(space + 1);
        const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            *ok = false;
            return meta;
        }
        if (decoded.decoded.contains('\0')) {
            *ok = false; // a NUL would cut the name short somewhere down the line
            return meta;
        }
        meta.insert(QString::fromLatin1(key), QString::fromUtf8(decoded.decoded));
    }
    return meta;
}

bool ParseLength(const QByteArray &text, qint64 *value)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    *value = text.toLongLong();
    return true;
}

// One client connection: reads requests one after another, streams upload bodies to disk,
// writes the replies (after the configured delay).
class HttpConnection : public QObject
{
public:
    HttpConnection(QTcpSocket *socket, AlbumService *service) : QObject(service), socket_(socket), service_(service)
    {
        socket_->setParent(this);
        connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::process);
        connect(socket_, &QTcpSocket::disconnected, this, &HttpConnection::finish);
    }

private:
    enum State { Headers, Body, UploadBody, Discard, Replying };

    void finish()
    {
        part_.close();
        deleteLater();
    }

    void process()
    {
        buffer_ += socket_->readAll();
        while (state_ != Replying) {
            if (state_ == Headers) {
                const qsizetype end = buffer_.indexOf("\r\n\r\n");
                if (end < 0) {
                    if (buffer_.size() > kMaxHeaderBytes) {
                        closeAfter_ = true;
                        send(Error(431, QStringLiteral("The request headers are too large.")));
                    }
                    return;
                }
                const QByteArray head = buffer_.left(end);
                buffer_.remove(0, end + 4);
                if (!startRequest(head))
                    return;
                continue;
            }
            if (buffer_.isEmpty() && remaining_ > 0)
                return;
            const qint64 n = std::min<qint64>(remaining_, buffer_.size());
            if (state_ == Body) {
                request_.body += buffer_.left(n);
            } else if (state_ == UploadBody) {
                qint64 take = n;
                const bool drop = dropAfter_ >= 0 && received_ + n >= dropAfter_;
                if (drop)
                    take = dropAfter_ - received_;
                part_.write(buffer_.constData(), take);
                received_ += take;
                if (drop) {
                    // The switch that cuts a connection: keep what came, then hang up.
                    part_.close();
                    socket_->abort();
                    return;
                }
            }
            buffer_.remove(0, n);
            remaining_ -= n;
            if (remaining_ > 0)
                return;
            if (state_ == UploadBody) {
                part_.close();
                send(service_->endUploadBody(upload_));
            } else if (state_ == Discard) {
                send(pending_);
            } else {
                send(service_->handle(request_));
            }
        }
    }

    // Parses the request line and headers; false when the connection is done with.
    bool startRequest(const QByteArray &head)
    {
        request_ = HttpRequest();
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        if (first.size() != 3 || !first[2].startsWith("HTTP/1.")) {
            closeAfter_ = true;
            send(Error(400, QStringLiteral("This is not an HTTP request.")));
            return false;
        }
        request_.method = first[0];
        request_.target = first[1];
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request_.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const qsizetype q = request_.target.indexOf('?');
        request_.path = q < 0 ? request_.target : request_.target.left(q);
        request_.query = q < 0 ? QByteArray() : request_.target.mid(q + 1);
        const QByteArray prefix = service_->options().prefix.toUtf8();
        if (!prefix.isEmpty() && (request_.path == prefix || request_.path.startsWith(prefix + '/')))
            request_.path = request_.path.mid(prefix.size());
        if (request_.path.isEmpty())
            request_.path = "/";
        closeAfter_ = request_.header("connection").toLower() == "close" || first[2] == "HTTP/1.0";

        if (!request_.header("transfer-encoding").isEmpty()) {
            closeAfter_ = true;
            send(Error(411, QStringLiteral("Send the body with a Content-Length.")));
            return false;
        }
        qint64 length = 0;
        const QByteArray cl = request_.header("content-length");
        if (!cl.isEmpty() && !ParseLength(cl, &length)) {
            closeAfter_ = true;
            send(Error(400, QStringLiteral("Content-Length is not a number.")));
            return false;
        }
        remaining_ = length;
        const bool expects = request_.header("expect").toLower() == "100-continue";

        if (request_.method == "PATCH" && request_.path.startsWith(kUploadsPath + '/')) {
            HttpReply refusal;
            if (!service_->beginUploadBody(request_, &upload_, &refusal)) {
                if (expects) {
                    closeAfter_ = true; // the body may still come: do not read it as a request
                    send(refusal);
                    return false;
                }
                pending_ = refusal;
                state_ = Discard;
                return true;
            }
            part_.setFileName(service_->partPathOf(upload_.id));
            if (!part_.open(QIODevice::WriteOnly | QIODevice::Append)) {
                pending_ = Error(500, QStringLiteral("The service cannot store the photo now."));
                state_ = Discard;
                return true;
            }
            received_ = 0;
            dropAfter_ = service_->dropAfterFor(upload_.id);
            state_ = UploadBody;
        } else if (length > kMaxFormBytes) {
            closeAfter_ = true;
            send(Error(413, QStringLiteral("The request body is too large.")));
            return false;
        } else {
            state_ = Body;
        }
        if (expects && length > 0)
            socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
        return true;
    }

    void send(const HttpReply &reply)
    {
        state_ = Replying;
        const int delay = service_->options().faults.delayMs;
        if (delay > 0)
            QTimer::singleShot(delay, this, [this, reply] { write(reply); });
        else
            write(reply);
    }

    void write(const HttpReply &reply)
    {
        const QByteArray body = reply.error ? service_->errorBody(reply) : reply.body;
        const QByteArray type = reply.error && service_->options().faults.htmlErrors ? "text/html; charset=utf-8"
                                                                                      : reply.contentType;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + ReasonPhrase(reply.status) + "\r\n";
        for (const auto &[name, value] : reply.headers)
            out += name + ": " + value + "\r\n";
        if (reply.status != 204)
            out += "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
        out += closeAfter_ ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
        out += "\r\n";
        if (request_.method != "HEAD" && reply.status != 204)
            out += body;
        socket_->write(out);
        if (closeAfter_) {
            socket_->disconnectFromHost();
            return;
        }
        state_ = Headers;
        request_ = HttpRequest();
        if (!buffer_.isEmpty())
            QTimer::singleShot(0, this, &HttpConnection::process);
    }

    QTcpSocket *socket_;
    AlbumService *service_;
    State state_ = Headers;
    QByteArray buffer_;
    HttpRequest request_;
    qint64 remaining_ = 0;
    bool closeAfter_ = false;
    AlbumStore::Upload upload_;
    QFile part_;
    qint64 received_ = 0;
    qint64 dropAfter_ = -1;
    HttpReply pending_;
};

} // namespace

AlbumService::AlbumService(AlbumStore &store, ServiceOptions options, QObject *parent)
    : QObject(parent), store_(store), options_(std::move(options)), server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &AlbumService::accept);
}

AlbumService::~AlbumService() = default;

bool AlbumService::listen(const QString &host, quint16 port, QString *error)
{
    if (!server_->listen(QHostAddress(host), port)) {
        *error = server_->errorString();
        return false;
    }
    return true;
}

quint16 AlbumService::port() const
{
    return server_->serverPort();
}

QString AlbumService::partPathOf(const QString &id) const
{
    return store_.partPath(id);
}

void AlbumService::accept()
{
    while (QTcpSocket *socket = server_->nextPendingConnection())
        new HttpConnection(socket, this);
}

QByteArray AlbumService::errorBody(const HttpReply &reply) const
{
    if (!options_.faults.htmlErrors)
        return reply.body;
    return Page(QStringLiteral("Error %1").arg(reply.status),
                QStringLiteral("<p>%1</p>\n").arg(QString::fromUtf8(reply.body).toHtmlEscaped()))
        .toUtf8();
}

QString AlbumService::authorizedAccount(const HttpRequest &request) const
{
    const QByteArray auth = request.header("authorization");
    if (!auth.startsWith("Basic "))
        return {};
    const auto decoded = QByteArray::fromBase64Encoding(auth.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (colon < 0)
        return {};
    const QString email = QString::fromUtf8(decoded.decoded.left(colon));
    return store_.checkAccount(email, QString::fromUtf8(decoded.decoded.mid(colon + 1))) ? email : QString();
}

HttpReply AlbumService::handle(const HttpRequest &request)
{
    const QByteArray &path = request.path;
    const QByteArray &method = request.method;
    const bool get = method == "GET" || method == "HEAD";

    if (path == "/" && get)
        return gallery();
    if (path == "/support" && get)
        return Html(Page(QStringLiteral("Quillmere support"),
                         QStringLiteral("<p>Questions about your albums or prints? Write to support.</p>\n")));
    if (path == "/orders_view.exe") {
        if (method == "POST")
            return order(request);
        if (get)
            return orderPage();
    }
    if (path == "/RIZIruvezo/Admin/getver.exe" && (method == "POST" || get)) {
        HttpReply r;
        r.body = options_.version.toUtf8() + "\r\n";
        return r;
    }
    if (!path.startsWith("/api/v1/"))
        return Error(404, QStringLiteral("There is nothing at %1.").arg(QString::fromUtf8(path)));

    if (path == kUploadsPath && method == "OPTIONS") {
        HttpReply r;
        r.status = 204;
        r.headers = {{"Tus-Resumable", kTusVersion}, {"Tus-Version", kTusVersion}, {"Tus-Extension", "creation"},
                     {"Tus-Max-Size", QByteArray::number(AlbumStore::kMaxPhotoBytes)}};
        return r;
    }
    const QString account = authorizedAccount(request);
    if (account.isEmpty()) {
        HttpReply r = Error(401, QStringLiteral("Invalid e-mail address or password"));
        r.headers.append(QPair<QByteArray, QByteArray>{"WWW-Authenticate", "Basic realm=\"Quillmere\""});
        return r;
    }
    if (path == "/api/v1/account" && get) {
        HttpReply r;
        r.body = "OK\n";
        return r;
    }
    if (path == "/api/v1/albums" && get) {
        HttpReply r;
        r.contentType = "application/json";
        r.body = QJsonDocument(QJsonObject{{"albums", QJsonArray::fromStringList(store_.albums(account))}})
                     .toJson(QJsonDocument::Compact);
        return r;
    }
    if (path == kUploadsPath || path.startsWith(kUploadsPath + '/')) {
        if (request.header("tus-resumable") != kTusVersion) {
            HttpReply r = Error(412, QStringLiteral("This service speaks tus 1.0.0."));
            r.headers.append(QPair<QByteArray, QByteArray>{"Tus-Version", kTusVersion});
            return r;
        }
        if (path == kUploadsPath && method == "POST")
            return createUpload(request, account);
        if (path != kUploadsPath && get)
            return uploadStatus(request, account);
        return Error(405, QStringLiteral("Method not allowed here."));
    }
    return Error(404, QStringLiteral("There is nothing at %1.").arg(QString::fromUtf8(path)));
}

HttpReply AlbumService::createUpload(const HttpRequest &request, const QString &account)
{
    qint64 length = 0;
    if (!ParseLength(request.header("upload-length"), &length))
        return Error(400, QStringLiteral("Upload-Length is missing or not a number."));
    bool ok = false;
    const QMap<QString, QString> meta = ParseMetadata(request.header("upload-metadata"), &ok);
    if (!ok)
        return Error(400, QStringLiteral("Upload-Metadata is not valid."));
    ++uploadsCreated_;
    if (options_.faults.refuseEvery > 0 && uploadsCreated_ % options_.faults.refuseEvery == 0)
        return Error(403, options_.faults.refuseReason);
    QString error;
    const auto upload = store_.createUpload(account, meta.value(QStringLiteral("album")),
                                            meta.value(QStringLiteral("filename")), length, &error);
    if (!upload)
        return Error(400, error);
    HttpReply r;
    r.status = 201;
    r.headers = {{"Tus-Resumable", kTusVersion},
                 {"Location", options_.prefix.toUtf8() + kUploadsPath + '/' + upload->id.toUtf8()},
                 {"Upload-Offset", QByteArray::number(upload->offset)}};
    if (!upload->photo.isEmpty())
        r.headers.append(QPair<QByteArray, QByteArray>{"Quillmere-Photo", upload->photo.toUtf8().toPercentEncoding("/ ")});
    return r;
}

HttpReply AlbumService::uploadStatus(const HttpRequest &request, const QString &account)
{
    const QString id = QString::fromUtf8(request.path.mid(kUploadsPath.size() + 1));
    const auto upload = store_.upload(account, id);
    if (!upload)
        return Error(404, QStringLiteral("No such upload."));
    HttpReply r;
    r.status = 200;
    r.headers = {{"Tus-Resumable", kTusVersion},
                 {"Upload-Offset", QByteArray::number(upload->offset)},
                 {"Upload-Length", QByteArray::number(upload->length)},
                 {"Cache-Control", "no-store"}};
    if (!upload->photo.isEmpty())
        r.headers.append(QPair<QByteArray, QByteArray>{"Quillmere-Photo", upload->photo.toUtf8().toPercentEncoding("/ ")});
    return r;
}

bool AlbumService::beginUploadBody(const HttpRequest &request, AlbumStore::Upload *upload, HttpReply *reply)
{
    const QString account = authorizedAccount(request);
    if (account.isEmpty()) {
        *reply = Error(401, QStringLiteral("Invalid e-mail address or password"));
        return false;
    }
    if (request.header("tus-resumable") != kTusVersion) {
        *reply = Error(412, QStringLiteral("This service speaks tus 1.0.0."));
        return false;
    }
    if (request.header("content-type") != "application/offset+octet-stream") {
        *reply = Error(415, QStringLiteral("Send the bytes as application/offset+octet-stream."));
        return false;
    }
    const auto found = store_.upload(account, QString::fromUtf8(request.path.mid(kUploadsPath.size() + 1)));
    if (!found) {
        *reply = Error(404, QStringLiteral("No such upload."));
        return false;
    }
    qint64 offset = -1, length = 0;
    ParseLength(request.header("upload-offset"), &offset);
    ParseLength(request.header("content-length"), &length);
    if (offset != found->offset) {
        *reply = Error(409, QStringLiteral("The upload is at byte %1.").arg(found->offset));
        reply->headers.append(QPair<QByteArray, QByteArray>{"Upload-Offset", QByteArray::number(found->offset)});
        return false;
    }
    if (!found->photo.isEmpty() || offset + length > found->length) {
        *reply = Error(413, QStringLiteral("More bytes than the upload announced."));
        return false;
    }
    *upload = *found;
    return true;
}

HttpReply AlbumService::endUploadBody(AlbumStore::Upload &upload)
{
    QString error;
    if (!store_.received(upload, &error))
        return Error(500, error);
    HttpReply r;
    r.status = 204;
    r.headers = {{"Tus-Resumable", kTusVersion}, {"Upload-Offset", QByteArray::number(upload.offset)}};
    if (!upload.photo.isEmpty())
        r.headers.append(QPair<QByteArray, QByteArray>{"Quillmere-Photo", upload.photo.toUtf8().toPercentEncoding("/ ")});
    return r;
}

qint64 AlbumService::dropAfterFor(const QString &uploadId)
{
    if (options_.faults.dropAfterBytes < 0 || droppedOnce_.contains(uploadId))
        return -1;
    droppedOnce_.append(uploadId);
    return options_.faults.dropAfterBytes;
}

HttpReply AlbumService::order(const HttpRequest &request)
{
    const QMap<QString, QString> form = ParseForm(request.body);
    HttpReply r;
    if (!store_.checkAccount(form.value(QStringLiteral("user")), form.value(QStringLiteral("pass")))) {
        r.body = "1\r\nInvalid e-mail address or password\r\n";
        return r;
    }
    lastOrder_.clear();
    for (int n = 1; form.contains(QStringLiteral("pic%1").arg(n)); ++n)
        lastOrder_ << QStringLiteral("%1 (%2)").arg(form.value(QStringLiteral("pic%1").arg(n)),
                                                    form.value(QStringLiteral("date%1").arg(n)));
    r.body = "0\r\n";
    return r;
}

HttpReply AlbumService::orderPage() const
{
    QString list;
    for (const QString &line : lastOrder_)
        list += QStringLiteral("<li>%1</li>\n").arg(line.toHtmlEscaped());
    return Html(Page(QStringLiteral("Your print order"),
                     lastOrder_.isEmpty() ? QStringLiteral("<p>No photos are waiting to be printed.</p>\n")
                                          : QStringLiteral("<ul>\n%1</ul>\n").arg(list)));
}

HttpReply AlbumService::gallery() const
{
    QString body;
    for (const QString &account : store_.accounts()) {
        body += QStringLiteral("<h2>%1</h2>\n").arg(account.toHtmlEscaped());
        const QStringList albums = store_.albums(account);
        if (albums.isEmpty())
            body += QStringLiteral("<p>No albums yet.</p>\n");
        for (const QString &album : albums) {
            body += QStringLiteral("<h3>%1</h3>\n<ul>\n").arg(album.toHtmlEscaped());
            for (const QString &photo : store_.photos(account, album))
                body += QStringLiteral("<li>%1</li>\n").arg(photo.toHtmlEscaped());
            body += QStringLiteral("</ul>\n");
        }
    }
    return Html(Page(QStringLiteral("Quillmere albums"), body));
}
