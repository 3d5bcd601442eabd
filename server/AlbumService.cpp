#include "AlbumService.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <openssl/evp.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

constexpr qint64 kMaxFormBytes = 1 << 20;
const QByteArray kTusVersion = "1.0.0";
const QByteArray kUploadsPath = "/api/v1/uploads";
const QByteArray kOctetStream = "application/offset+octet-stream";

HttpReply Error(int status, const QString &reason)
{
    HttpReply r;
    r.status = status;
    r.body = reason.toUtf8();
    r.error = true;
    return r;
}

HttpReply Error(const AlbumStore::Problem &problem)
{
    return Error(problem.status, problem.reason);
}

HttpReply NotAllowed(const QByteArray &allow)
{
    HttpReply r = Error(405, QStringLiteral("Method not allowed here."));
    r.headers.emplaceBack("Allow", allow);
    return r;
}

HttpReply Html(const QString &page)
{
    HttpReply r;
    r.contentType = "text/html; charset=utf-8";
    r.body = page.toUtf8();
    return r;
}

// `body` is markup already; the title is text.
QString Page(const QString &title, const QString &body)
{
    const QString t = title.toHtmlEscaped();
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>") + t
           + QStringLiteral("</title></head>\n<body>\n<h1>") + t + QStringLiteral("</h1>\n") + body
           + QStringLiteral("</body></html>\n");
}

QByteArray PhotoHeader(const AlbumStore::Upload &u)
{
    return u.photo.toUtf8().toPercentEncoding("/ ");
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
        // A NUL would cut the name short somewhere down the line.
        if (!decoded || decoded.decoded.contains('\0')) {
            *ok = false;
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

// Reads a body that is not upload bytes, at most `limit` bytes of it.
bool ReadSmallBody(const HttpRequest &request, qint64 limit, QByteArray *out)
{
    if (!request.readBody) {
        *out = request.body;
        return out->size() <= limit;
    }
    if (request.contentLength > limit)
        return false;
    out->clear();
    return request.readBody([&](const char *data, qint64 n) {
        out->append(data, qsizetype(n));
        return out->size() <= limit;
    });
}

} // namespace

// The tus checksum extension: "<algorithm> <base64 digest>".
struct AlbumService::Checksum
{
    const EVP_MD *md = nullptr;
    QByteArray expected;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{nullptr, EVP_MD_CTX_free};

    // False with a reason when the header cannot be used.
    bool parse(const QByteArray &header, QString *reason)
    {
        const qsizetype space = header.indexOf(' ');
        const QByteArray algorithm = header.left(space).trimmed().toLower();
        if (algorithm == "sha1")
            md = EVP_sha1();
        else if (algorithm == "sha256")
            md = EVP_sha256();
        else {
            *reason = QStringLiteral("This service checks sha1 and sha256 checksums only.");
            return false;
        }
        const auto digest = QByteArray::fromBase64Encoding(header.mid(space + 1).trimmed(),
                                                           QByteArray::AbortOnBase64DecodingErrors);
        if (space < 0 || !digest || digest.decoded.size() != EVP_MD_size(md)) {
            *reason = QStringLiteral("Upload-Checksum is not valid.");
            return false;
        }
        expected = digest.decoded;
        ctx.reset(EVP_MD_CTX_new());
        EVP_DigestInit_ex(ctx.get(), md, nullptr);
        return true;
    }
    void add(const char *data, qint64 n) { EVP_DigestUpdate(ctx.get(), data, size_t(n)); }
    bool matches()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(ctx.get(), digest, &size);
        return QByteArray(reinterpret_cast<const char *>(digest), int(size)) == expected;
    }
};

namespace {

// One writer per upload: the lock is held for one PATCH and given back however it ends.
class UploadLock
{
public:
    UploadLock(AlbumStore &store, QString id) : store_(store), id_(std::move(id)), held_(store.lock(id_)) {}
    ~UploadLock()
    {
        if (held_)
            store_.unlock(id_);
    }
    bool held() const { return held_; }

private:
    AlbumStore &store_;
    QString id_;
    bool held_;
};

} // namespace

AlbumService::AlbumService(AlbumStore &store, ServiceOptions options) : store_(store), options_(std::move(options)) {}

QByteArray AlbumService::errorBody(const HttpReply &reply) const
{
    if (!reply.error || !options_.faults.htmlErrors)
        return reply.body;
    return Page(QStringLiteral("Error ") + QString::number(reply.status),
                QStringLiteral("<p>") + QString::fromUtf8(reply.body).toHtmlEscaped() + QStringLiteral("</p>\n"))
        .toUtf8();
}

QByteArray AlbumService::contentTypeOf(const HttpReply &reply) const
{
    return reply.error && options_.faults.htmlErrors ? QByteArray("text/html; charset=utf-8") : reply.contentType;
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

HttpReply AlbumService::handle(const HttpRequest &incoming)
{
    // tus: a client behind a proxy that knows only GET and POST names the real method here.
    QByteArray method = incoming.header("x-http-method-override").trimmed().toUpper();
    if (method.isEmpty())
        method = incoming.method;
    QByteArray path = incoming.path;
    const QByteArray prefix = options_.prefix.toUtf8();
    if (!prefix.isEmpty() && (path == prefix || path.startsWith(prefix + '/')))
        path = path.mid(prefix.size());
    if (path.isEmpty())
        path = "/";
    const bool upload = path == kUploadsPath || path.startsWith(kUploadsPath + '/');

    // The log holds each body that is not photo bytes: it is read here, and the request goes
    // on with the body it had.
    HttpRequest logged;
    const HttpRequest *request = &incoming;
    if (!options_.requestLog.isEmpty()) {
        logged = incoming;
        if (!upload && logged.readBody && logged.contentLength <= kMaxFormBytes) {
            const bool whole = ReadSmallBody(incoming, kMaxFormBytes, &logged.body);
            logged.readBody = nullptr;
            if (!whole) {
                HttpReply r;
                r.hangUp = true;
                return r;
            }
        }
        log(logged);
        request = &logged;
    }

    HttpReply reply = route(*request, method, path);
    if (upload) {
        bool named = false;
        for (const auto &header : reply.headers)
            named = named || header.first == "Tus-Resumable";
        if (!named)
            reply.headers.prepend(std::pair<QByteArray, QByteArray>("Tus-Resumable", kTusVersion));
    }
    if (options_.faults.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.faults.delayMs));
    return reply;
}

HttpReply AlbumService::route(const HttpRequest &request, const QByteArray &method, const QByteArray &path)
{
    const bool get = method == "GET" || method == "HEAD";

    if (path == "/")
        return get ? gallery() : NotAllowed("GET, HEAD");
    if (path == "/support")
        return get ? Html(Page(QStringLiteral("Quillmere support"),
                               QStringLiteral("<p>Questions about your albums or prints? Write to support.</p>\n")))
                   : NotAllowed("GET, HEAD");
    if (path == "/orders_view.exe") {
        if (method == "POST")
            return order(request);
        return get ? orderPage(request) : NotAllowed("GET, HEAD, POST");
    }
    if (path == "/update" || path.startsWith("/update/"))
        return get ? update(path) : NotAllowed("GET, HEAD");
    if (path == "/RIZIruvezo/Admin/getver.exe") {
        if (method != "POST" && !get)
            return NotAllowed("GET, HEAD, POST");
        HttpReply r;
        r.body = options_.version.toUtf8() + "\r\n";
        return r;
    }
    if (!path.startsWith("/api/v1/"))
        return Error(404, QStringLiteral("There is nothing at ") + QString::fromUtf8(path) + QLatin1Char('.'));

    const bool uploads = path == kUploadsPath;
    const bool oneUpload = path.startsWith(kUploadsPath + '/');
    if (uploads && method == "OPTIONS") {
        HttpReply r;
        r.status = 204;
        r.headers = {{"Tus-Resumable", kTusVersion}, {"Tus-Version", kTusVersion},
                     {"Tus-Extension", "creation,checksum"}, {"Tus-Checksum-Algorithm", "sha1,sha256"},
                     {"Tus-Max-Size", QByteArray::number(AlbumStore::kMaxPhotoBytes)}};
        return r;
    }
    const QString account = authorizedAccount(request);
    if (account.isEmpty()) {
        HttpReply r = Error(401, QStringLiteral("Invalid e-mail address or password"));
        r.headers.emplaceBack("WWW-Authenticate", "Basic realm=\"Quillmere\"");
        return r;
    }
    if (path == "/api/v1/account") {
        if (!get)
            return NotAllowed("GET, HEAD");
        HttpReply r;
        r.body = "OK\n";
        return r;
    }
    if (path == "/api/v1/albums") {
        if (!get)
            return NotAllowed("GET, HEAD");
        HttpReply r;
        r.contentType = "application/json";
        r.body = QJsonDocument(QJsonObject{{"albums", QJsonArray::fromStringList(store_.albums(account))}})
                     .toJson(QJsonDocument::Compact);
        return r;
    }
    if (!uploads && !oneUpload)
        return Error(404, QStringLiteral("There is nothing at ") + QString::fromUtf8(path) + QLatin1Char('.'));
    if (request.header("tus-resumable") != kTusVersion) {
        HttpReply r = Error(412, QStringLiteral("This service speaks tus 1.0.0."));
        r.headers.emplaceBack("Tus-Version", kTusVersion);
        return r;
    }
    if (uploads)
        return method == "POST" ? createUpload(request, account) : NotAllowed("OPTIONS, POST");
    const QString id = QString::fromUtf8(path.mid(kUploadsPath.size() + 1));
    if (get)
        return uploadStatus(id, account);
    if (method == "PATCH")
        return patchUpload(request, id, account);
    return NotAllowed("GET, HEAD, PATCH");
}

HttpReply AlbumService::createUpload(const HttpRequest &request, const QString &account)
{
    qint64 length = 0;
    if (!ParseLength(request.header("upload-length"), &length))
        return Error(400, QStringLiteral("Upload-Length is missing or not a number."));
    if (length > AlbumStore::kMaxPhotoBytes)
        return Error(413, QStringLiteral("A photo may hold at most ") + QString::number(AlbumStore::kMaxPhotoBytes)
                              + QStringLiteral(" bytes."));
    bool ok = false;
    const QMap<QString, QString> meta = ParseMetadata(request.header("upload-metadata"), &ok);
    if (!ok)
        return Error(400, QStringLiteral("Upload-Metadata is not valid."));
    {
        std::lock_guard lock(mutex_);
        ++uploadsCreated_;
        if (options_.faults.refuseEvery > 0 && uploadsCreated_ % options_.faults.refuseEvery == 0)
            return Error(403, options_.faults.refuseReason);
    }
    AlbumStore::Problem problem;
    const auto upload = store_.createUpload(account, meta.value(QStringLiteral("album")),
                                            meta.value(QStringLiteral("filename")), length, &problem);
    if (!upload)
        return Error(problem);
    HttpReply r;
    r.status = 201;
    r.headers = {{"Location", options_.prefix.toUtf8() + kUploadsPath + '/' + upload->id.toUtf8()},
                 {"Upload-Offset", QByteArray::number(upload->offset)}};
    if (!upload->photo.isEmpty())
        r.headers.emplaceBack("Quillmere-Photo", PhotoHeader(*upload));
    return r;
}

HttpReply AlbumService::uploadStatus(const QString &id, const QString &account)
{
    auto upload = store_.upload(account, id);
    if (!upload)
        return Error(404, QStringLiteral("No such upload."));
    // Whole means filed: bytes that are all there but not in an album yet are filed now, or
    // the reason why not is the answer.
    AlbumStore::Problem problem;
    if (upload->whole() && upload->photo.isEmpty()) {
        UploadLock lock(store_, id);
        if (!lock.held())
            return Error(423, QStringLiteral("The upload is busy; try again shortly."));
        if (!store_.received(*upload, &problem))
            return Error(problem);
    }
    HttpReply r;
    r.headers = {{"Upload-Offset", QByteArray::number(upload->offset)},
                 {"Upload-Length", QByteArray::number(upload->length)},
                 {"Cache-Control", "no-store"}};
    if (!upload->photo.isEmpty())
        r.headers.emplaceBack("Quillmere-Photo", PhotoHeader(*upload));
    return r;
}

HttpReply AlbumService::patchUpload(const HttpRequest &request, const QString &id, const QString &account)
{
    const QByteArray type = request.header("content-type").split(';').first().trimmed().toLower();
    if (type != kOctetStream)
        return Error(415, QStringLiteral("Send the bytes as application/offset+octet-stream."));
    qint64 offset = 0;
    if (!ParseLength(request.header("upload-offset"), &offset))
        return Error(400, QStringLiteral("Upload-Offset is missing or not a number."));
    Checksum check;
    const QByteArray checksum = request.header("upload-checksum");
    QString reason;
    if (!checksum.isEmpty() && !check.parse(checksum, &reason))
        return Error(400, reason);
    UploadLock lock(store_, id);
    auto upload = store_.upload(account, id);
    if (!upload)
        return Error(404, QStringLiteral("No such upload."));
    if (!lock.held())
        return Error(423, QStringLiteral("Another request is sending bytes of this upload; try again shortly."));
    if (offset != upload->offset) {
        HttpReply r = Error(409, QStringLiteral("The upload is at byte ") + QString::number(upload->offset)
                                     + QLatin1Char('.'));
        r.headers.emplaceBack("Upload-Offset", QByteArray::number(upload->offset));
        return r;
    }
    if (offset + request.contentLength > upload->length)
        return Error(413, QStringLiteral("More bytes than the upload announced."));
    return receiveBytes(request, *upload, checksum.isEmpty() ? nullptr : &check);
}

// With the upload's lock held: its bytes from the request body, checked as they are written.
HttpReply AlbumService::receiveBytes(const HttpRequest &request, AlbumStore::Upload &upload, Checksum *check)
{
    const qint64 start = upload.offset;
    const bool checked = check != nullptr;
    AlbumStore::Problem problem;
    if (upload.photo.isEmpty()) {
        auto writer = store_.openPart(upload, &problem, checked);
        if (!writer)
            return Error(problem);
        qint64 cutAt = -1;
        const bool cut = cutOnce(upload, request.contentLength, &cutAt);
        qint64 got = 0;
        bool writeFailed = false;
        const bool whole = request.contentLength == 0 || (request.readBody && request.readBody([&](const char *data, qint64 n) {
            const qint64 take = cut ? std::min(n, cutAt - start - got) : n;
            if (take > 0) {
                if (checked)
                    check->add(data, take);
                if (!writer->write(data, take)) {
                    writeFailed = true;
                    return false;
                }
                got += take;
            }
            return take == n;
        }));
        // Bytes that cannot be verified never become part of a photo; unchecked bytes that
        // arrived are kept, so the upload can go on from there.
        const auto giveBack = [&] {
            if (checked)
                writer->discard();
            else
                writer->keep();
        };
        if (writeFailed || (whole && !writer->flush())) {
            problem = writer->problem();
            giveBack();
            HttpReply r = Error(problem);
            r.headers.emplaceBack("Upload-Offset", QByteArray::number(writer->offset()));
            return r;
        }
        if (!whole || got != request.contentLength) {
            giveBack();
            HttpReply r;
            r.hangUp = true;
            return r;
        }
        if (checked && !check->matches()) {
            writer->discard();
            HttpReply r = Error(460, QStringLiteral("The bytes arrived damaged (checksum mismatch); send them again."));
            r.headers.emplaceBack("Upload-Offset", QByteArray::number(start));
            return r;
        }
        writer->keep(); // flushed above: only the mark of unchecked bytes goes
        writer.reset();
        if (!store_.received(upload, &problem)) {
            HttpReply r = Error(problem);
            r.headers.emplaceBack("Upload-Offset", QByteArray::number(std::min(upload.offset, upload.length - 1)));
            return r;
        }
        if (cut && cutAt == start + got) {
            // Cut after the last byte: everything was taken, only the answer is lost.
            HttpReply r;
            r.hangUp = true;
            return r;
        }
    }
    HttpReply r;
    r.status = 204;
    r.headers = {{"Upload-Offset", QByteArray::number(upload.offset)}};
    if (!upload.photo.isEmpty())
        r.headers.emplaceBack("Quillmere-Photo", PhotoHeader(upload));
    return r;
}

// The switch that cuts connections: once per upload, at the byte it names.
bool AlbumService::cutOnce(const AlbumStore::Upload &upload, qint64 bytes, qint64 *cutAt)
{
    const qint64 at = options_.faults.dropAtByte;
    if (at < upload.offset || at > upload.offset + bytes)
        return false;
    std::lock_guard lock(mutex_);
    if (cutOnce_.contains(upload.id))
        return false;
    cutOnce_.append(upload.id);
    *cutAt = at;
    return true;
}

HttpReply AlbumService::order(const HttpRequest &request)
{
    QByteArray body;
    if (!ReadSmallBody(request, kMaxFormBytes, &body)) {
        if (body.size() > kMaxFormBytes || request.contentLength > kMaxFormBytes)
            return Error(413, QStringLiteral("The request body is too large."));
        HttpReply r; // the body never came whole: nobody is waiting for an answer
        r.hangUp = true;
        return r;
    }
    const QMap<QString, QString> form = ParseForm(body);
    HttpReply r;
    const QString user = form.value(QStringLiteral("user"));
    if (!store_.checkAccount(user, form.value(QStringLiteral("pass")))) {
        r.body = "1\r\nInvalid e-mail address or password\r\n";
        return r;
    }
    QStringList photos;
    for (int n = 1; form.contains(QStringLiteral("pic") + QString::number(n)); ++n)
        photos << form.value(QStringLiteral("pic") + QString::number(n)) + QStringLiteral(" (")
                      + form.value(QStringLiteral("date") + QString::number(n)) + QLatin1Char(')');
    {
        std::lock_guard lock(mutex_);
        orders_.insert(user, photos);
    }
    r.body = "0\r\n";
    return r;
}

// The order page belongs to whoever signs in: each account sees its own latest order.
HttpReply AlbumService::orderPage(const HttpRequest &request) const
{
    const QString account = authorizedAccount(request);
    if (account.isEmpty()) {
        HttpReply r = Html(Page(QStringLiteral("Your print order"),
                                QStringLiteral("<p>Sign in with your e-mail address and password to see your order.</p>\n")));
        r.status = 401;
        r.headers.emplaceBack("WWW-Authenticate", "Basic realm=\"Quillmere\"");
        return r;
    }
    QStringList photos;
    {
        std::lock_guard lock(mutex_);
        photos = orders_.value(account);
    }
    QString list;
    for (const QString &line : photos)
        list += QStringLiteral("<li>") + line.toHtmlEscaped() + QStringLiteral("</li>\n");
    return Html(Page(QStringLiteral("Your print order"),
                     photos.isEmpty() ? QStringLiteral("<p>No photos are waiting to be printed.</p>\n")
                                      : QStringLiteral("<ul>\n") + list + QStringLiteral("</ul>\n")));
}

bool IsOfferedPackageName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_+~-][A-Za-z0-9._+~-]{0,254}$"));
    return plain.match(name).hasMatch();
}

// "/update" announces the package (version, name, size and SHA-256, read afresh each time);
// "/update/<name>" is the package itself.
HttpReply AlbumService::update(const QByteArray &path) const
{
    const QString name = QFileInfo(options_.updatePackage).fileName();
    if (options_.updatePackage.isEmpty() || (path != "/update" && path != "/update/" + name.toUtf8()))
        return Error(404, QStringLiteral("No update package is offered here."));
    QFile file(options_.updatePackage);
    if (!file.open(QIODevice::ReadOnly))
        return Error(500, QStringLiteral("The update package cannot be read."));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error(500, QStringLiteral("The update package cannot be read."));
    HttpReply r;
    if (path == "/update") {
        QJsonObject o;
        o.insert(QStringLiteral("version"), options_.version);
        o.insert(QStringLiteral("name"), name);
        o.insert(QStringLiteral("size"), double(bytes.size()));
        o.insert(QStringLiteral("sha256"),
                 QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
        r.contentType = "application/json";
        r.body = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        return r;
    }
    r.contentType = name.endsWith(QStringLiteral(".deb")) ? "application/vnd.debian.binary-package"
                                                          : "application/octet-stream";
    r.body = bytes;
    return r;
}

// One JSON line per request: method, target, headers and, when it is not photo bytes, the body
// (base64, so that every byte is seen as it came).
void AlbumService::log(const HttpRequest &request)
{
    QJsonObject headers;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
        headers.insert(QString::fromLatin1(it.key()), QString::fromLatin1(it.value()));
    QJsonObject line;
    line.insert(QStringLiteral("method"), QString::fromLatin1(request.method));
    line.insert(QStringLiteral("target"), QString::fromLatin1(request.query.isEmpty() ? request.path
                                                                                        : request.path + '?' + request.query));
    line.insert(QStringLiteral("headers"), headers);
    if (!request.readBody)
        line.insert(QStringLiteral("body"), QString::fromLatin1(request.body.toBase64()));
    std::lock_guard lock(logMutex_);
    QFile file(options_.requestLog);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

HttpReply AlbumService::gallery() const
{
    QString body;
    for (const QString &account : store_.accounts()) {
        body += QStringLiteral("<h2>") + account.toHtmlEscaped() + QStringLiteral("</h2>\n");
        const QStringList albums = store_.albums(account);
        if (albums.isEmpty())
            body += QStringLiteral("<p>No albums yet.</p>\n");
        for (const QString &album : albums) {
            body += QStringLiteral("<h3>") + album.toHtmlEscaped() + QStringLiteral("</h3>\n<ul>\n");
            for (const QString &photo : store_.photos(account, album))
                body += QStringLiteral("<li>") + photo.toHtmlEscaped() + QStringLiteral("</li>\n");
            body += QStringLiteral("</ul>\n");
        }
    }
    return Html(Page(QStringLiteral("Quillmere albums"), body));
}
