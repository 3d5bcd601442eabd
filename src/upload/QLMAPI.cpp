#include "upload/QLMAPI.h"

#include "platform/HttpClient.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QUrl>

#include <openssl/evp.h>

#include <future>

namespace {

const char kInProgressFile[] = "uploads-in-progress.ini";
constexpr qint64 kFingerprintBytes = 65536;
const QByteArray kTus = "Tus-Resumable: 1.0.0";

[[noreturn]] void Fail(const QString &message)
{
    throw new CQLMException(message);
}

bool LooksLikeMarkup(const HttpReply &reply)
{
    return reply.header("Content-Type").toLower().contains("html") || reply.body.contains('<')
           || reply.body.contains('>');
}

// A refusal: the service's reason when it sent one in plain text, else a text of ours.
[[noreturn]] void Refused(const HttpReply &reply)
{
    const QString text = QString::fromUtf8(reply.body).trimmed();
    if (!text.isEmpty() && !LooksLikeMarkup(reply))
        throw new CQLMException(text, reply.status, text);
    throw new CQLMException(QStringLiteral("The album service refused the request (status ")
                                + QString::number(reply.status) + QStringLiteral(")."),
                            reply.status);
}

[[noreturn]] void TransportFailed(const HttpReply &reply)
{
    switch (reply.failure) {
    case HttpReply::Failure::CannotConnect:
        Fail(QStringLiteral("The album service cannot be reached (") + reply.error + QStringLiteral(")."));
    case HttpReply::Failure::TimedOut:
        Fail(QStringLiteral("The album service did not answer in time (") + reply.error + QStringLiteral(")."));
    default:
        Fail(QStringLiteral("The connection to the album service failed (") + reply.error + QStringLiteral(")."));
    }
}

qint64 OffsetOf(const HttpReply &reply, const char *name)
{
    bool ok = false;
    const qint64 n = reply.header(name).toLongLong(&ok);
    return ok ? n : -1;
}

// The digest of bytes [from, to) of a file, as the checksum extension writes it:
// "<algorithm> <base64>". Empty when the file cannot give those bytes.
QByteArray FileChecksum(const QString &path, qint64 from, qint64 to, ServiceAddress::Checksum kind)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(from))
        return {};
    const bool sha1 = kind == ServiceAddress::Checksum::Sha1;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), sha1 ? EVP_sha1() : EVP_sha256(), nullptr))
        return {};
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (qint64 at = from; at < to;) {
        const qint64 n = f.read(buffer.data(), std::min<qint64>(buffer.size(), to - at));
        if (n <= 0)
            return {};
        EVP_DigestUpdate(ctx.get(), buffer.constData(), size_t(n));
        at += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &size);
    return (sha1 ? QByteArray("sha1 ") : QByteArray("sha256 "))
           + QByteArray(reinterpret_cast<const char *>(digest), int(size)).toBase64();
}

// Size, time and the first and last 64 KiB: a file replaced by another of the same size and
// time is a new photo, not the rest of an old upload.
QByteArray Fingerprint(const QFileInfo &file)
{
    QFile f(file.absoluteFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(f.read(kFingerprintBytes));
    if (f.size() > kFingerprintBytes && f.seek(std::max(kFingerprintBytes, f.size() - kFingerprintBytes)))
        hash.addData(f.read(kFingerprintBytes));
    return QByteArray::number(file.size()) + ' ' + QByteArray::number(file.lastModified().toMSecsSinceEpoch()) + ' '
           + hash.result().toHex();
}

HttpClient::Options ClientOptions(const ServiceAddress &a)
{
    HttpClient::Options o;
    o.connectTimeoutSeconds = a.connectTimeoutSeconds;
    o.timeoutSeconds = a.replyTimeoutSeconds + a.connectTimeoutSeconds;
    o.stallSeconds = a.replyTimeoutSeconds;
    o.maxReplyBytes = 256 * 1024;
    return o;
}

} // namespace

ServiceAddress ServiceAddress::FromSettings(const Settings &settings)
{
    ServiceAddress a;
    QString server = settings.httpServer.trimmed();
    const qsizetype slash = server.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        a.prefix = server.mid(slash);
        while (a.prefix.endsWith(QLatin1Char('/')))
            a.prefix.chop(1);
        server = server.left(slash);
    }
    if (!server.isEmpty())
        a.host = server;
    a.port = settings.httpPort > 0 && settings.httpPort <= 65535 ? settings.httpPort : 80;
    a.dataFolder = settings.executablePath;
    return a;
}

QString ServiceAddress::baseUrl() const
{
    return HttpClient::urlFor(host, port, prefix);
}

struct CQLMAPI::Impl
{
    explicit Impl(ServiceAddress a) : address(std::move(a)), http(ClientOptions(address)) {}

    ServiceAddress address;
    HttpClient http;

    // The upload under way.
    QString email, password, path;
    QByteArray fingerprint; // of the file when its upload began
    QString location;     // the upload's address, resolved against the service's
    QString resumeKey;
    QString filedAs;
    qint64 length = 0;    // the photo's size
    qint64 resumedAt = 0; // where the service had it when this start began
    qint64 position = 0;  // bytes of the photo the caller has handed over
    qint64 fed = 0;       // offset in the photo up to which bytes went into PATCHes
    qint64 patchEnd = 0;  // where the open PATCH ends
    qint64 sent = 0;      // bytes handed to the connection
    bool started = false;
    bool whole = false;   // the service confirmed the photo
    // The checksum of the next PATCH, computed while the current one is on the wire.
    std::future<QByteArray> nextSum;
    qint64 nextSumFrom = -1;

    HttpReply call(const QByteArray &method, const QString &url, const QList<QByteArray> &headers = {})
    {
        HttpClient::Request r;
        r.method = method;
        r.url = url;
        r.headers = headers;
        r.user = email;
        r.password = password;
        const HttpReply reply = http.send(r);
        if (!reply.completed())
            TransportFailed(reply);
        return reply;
    }

    // An upload address from the service, made absolute. The password goes with every request
    // to it, so it must be the very service asked: same scheme, host and port.
    QString resolve(const QByteArray &location) const
    {
        const QUrl base(address.baseUrl() + QLatin1Char('/'));
        const QUrl url = base.resolved(QUrl::fromEncoded(location, QUrl::StrictMode));
        const int defaultPort = base.scheme() == QLatin1String("https") ? 443 : 80;
        if (location.isEmpty() || !url.isValid() || url.scheme() != base.scheme()
            || url.host().compare(base.host(), Qt::CaseInsensitive) != 0
            || url.port(defaultPort) != base.port(defaultPort))
            return {};
        return url.toString(QUrl::FullyEncoded);
    }

    std::unique_ptr<QSettings> inProgress() const
    {
        if (address.dataFolder.isEmpty())
            return nullptr;
        QDir().mkpath(address.dataFolder);
        return std::make_unique<QSettings>(QDir(address.dataFolder).filePath(QLatin1String(kInProgressFile)),
                                           QSettings::IniFormat);
    }

    void forget()
    {
        if (auto s = inProgress(); s && !resumeKey.isEmpty())
            s->remove(resumeKey);
    }

    static QString PhotoOf(const HttpReply &reply)
    {
        return QString::fromUtf8(QByteArray::fromPercentEncoding(reply.header("Quillmere-Photo")));
    }

    // Where the next PATCH from `start` ends.
    qint64 planPatch(qint64 start) const
    {
        if (address.checksum == ServiceAddress::Checksum::None)
            return length;
        const qint64 size = std::clamp(start - resumedAt, address.firstPatchBytes, address.maxPatchBytes);
        return std::min(length, start + std::max<qint64>(1, size));
    }

    void openPatch()
    {
        patchEnd = planPatch(fed);
        HttpClient::Request r;
        r.method = "PATCH";
        r.url = location;
        r.user = email;
        r.password = password;
        r.headers = {kTus, "Content-Type: application/offset+octet-stream", "Upload-Offset: " + QByteArray::number(fed)};
        if (address.checksum != ServiceAddress::Checksum::None) {
            const QByteArray sum = nextSumFrom == fed && nextSum.valid()
                ? nextSum.get()
                : FileChecksum(path, fed, patchEnd, address.checksum);
            if (sum.isEmpty())
                Fail(QStringLiteral("Cannot open file ") + path);
            r.headers << "Upload-Checksum: " + sum;
            nextSumFrom = -1;
            if (patchEnd < length) {
                nextSumFrom = patchEnd;
                nextSum = std::async(std::launch::async, FileChecksum, path, patchEnd, planPatch(patchEnd), address.checksum);
            }
        }
        http.open(r, patchEnd - fed);
    }

    // Waits for the answer to the open PATCH; true when the service took all of it.
    bool closePatch(HttpReply *reply)
    {
        *reply = http.finish();
        return reply->completed() && reply->status / 100 == 2 && OffsetOf(*reply, "Upload-Offset") == patchEnd;
    }

    [[noreturn]] void patchFailed(const HttpReply &reply)
    {
        if (!reply.completed())
            TransportFailed(reply);
        if (reply.status / 100 == 2)
            Fail(QStringLiteral("The album service did not take the whole photo."));
        Refused(reply);
    }

    void feed(const char *data, qint64 size)
    {
        while (size > 0) {
            if (!http.streaming())
                openPatch();
            const qint64 n = std::min(size, patchEnd - fed);
            if (!http.write(data, qsizetype(n)))
                patchFailed(http.finish());
            sent += n;
            fed += n;
            data += n;
            size -= n;
            // The PATCH that carries the last byte is answered in endUpload.
            if (fed == patchEnd && patchEnd < length) {
                HttpReply reply;
                if (!closePatch(&reply))
                    patchFailed(reply);
            }
        }
    }

    // After the answer to the last PATCH was lost: only a service that names the filed photo
    // proves that it has it.
    bool serviceFiledIt()
    {
        try {
            const HttpReply r = call("HEAD", location, {kTus});
            if (r.status == 200 && OffsetOf(r, "Upload-Offset") == length && r.hasHeader("Quillmere-Photo")) {
                filedAs = PhotoOf(r);
                return true;
            }
        } catch (CQLMException *e) {
            delete e;
        }
        return false;
    }
};

CQLMAPI::CQLMAPI()
{
    Settings settings;
    SettingsStore().LoadSettings(settings);
    d = std::make_unique<Impl>(ServiceAddress::FromSettings(settings));
}

CQLMAPI::CQLMAPI(ServiceAddress address) : d(std::make_unique<Impl>(std::move(address))) {}

CQLMAPI::~CQLMAPI() = default;

bool CQLMAPI::verify(const QString &email, const QString &password)
{
    d->email = email;
    d->password = password;
    const HttpReply r = d->call("GET", d->address.baseUrl() + QStringLiteral("/api/v1/account"));
    if (r.status == 200)
        return true;
    if (r.status == 401)
        return false;
    Refused(r);
}

QStringList CQLMAPI::getAlbums(const QString &email, const QString &password)
{
    d->email = email;
    d->password = password;
    const HttpReply r = d->call("GET", d->address.baseUrl() + QStringLiteral("/api/v1/albums"));
    if (r.status != 200)
        Refused(r);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.body, &error);
    const QJsonValue albums = doc.object().value(QStringLiteral("albums"));
    if (error.error != QJsonParseError::NoError || !albums.isArray())
        Fail(QStringLiteral("The album service sent an album list this program cannot read."));
    QStringList names;
    for (const QJsonValue &v : albums.toArray())
        names << v.toString();
    return names;
}

void CQLMAPI::startUpload(const QString &email, const QString &password, const QString &album, const QString &path)
{
    Impl &s = *d;
    s.email = email;
    s.password = password;
    s.path = path;
    s.position = s.sent = s.resumedAt = s.fed = s.patchEnd = 0;
    s.nextSumFrom = -1;
    s.whole = false;
    s.filedAs.clear();
    s.started = true;

    const QFileInfo file(path);
    const QByteArray fingerprint = file.isFile() ? Fingerprint(file) : QByteArray();
    if (fingerprint.isEmpty())
        Fail(QStringLiteral("Cannot open file ") + path);
    s.fingerprint = fingerprint;
    s.length = file.size();
    // The same content at the same place, to the same album of the same account and
    // service, continues where the service has it.
    const QString identity = QStringList{s.address.baseUrl(), email, album, file.absoluteFilePath(),
                                         QString::fromLatin1(fingerprint)}
                                 .join(QLatin1Char('\n'));
    s.resumeKey = QStringLiteral("uploads/")
                  + QString::fromLatin1(QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex());

    s.location.clear();
    if (auto record = s.inProgress())
        s.location = s.resolve(record->value(s.resumeKey).toString().toUtf8());
    if (!s.location.isEmpty()) {
        const HttpReply r = s.call("HEAD", s.location, {kTus});
        const qint64 offset = OffsetOf(r, "Upload-Offset");
        // The service has the upload but cannot go on with it now; 423: another request (one
        // this client gave up on) is still finishing it, and a new upload would file it twice.
        if (r.status == 401 || r.status == 423 || r.status >= 500)
            Refused(r);
        if (r.status == 200 && OffsetOf(r, "Upload-Length") == s.length && offset >= 0 && offset < s.length) {
            s.resumedAt = s.fed = offset;
        } else if (r.status == 200 && offset == s.length && r.hasHeader("Quillmere-Photo")) {
            s.whole = true; // filed already; only the answer had been lost
            s.filedAs = Impl::PhotoOf(r);
        } else {
            // Unknown, gone, or whole without being named as filed: start afresh.
            s.location.clear();
            s.forget();
        }
    }
    if (s.location.isEmpty() && !s.whole) {
        const QByteArray metadata = "Upload-Metadata: album " + album.toUtf8().toBase64() + ",filename "
                                    + file.fileName().toUtf8().toBase64();
        const HttpReply r = s.call("POST", s.address.baseUrl() + QStringLiteral("/api/v1/uploads"),
                                   {kTus, "Upload-Length: " + QByteArray::number(s.length), metadata});
        if (r.status != 201)
            Refused(r);
        s.location = s.resolve(r.header("Location"));
        if (s.location.isEmpty())
            Fail(QStringLiteral("The album service gave an upload address on another server; the photo was not sent."));
        // A photo of no bytes is complete with its creation.
        s.whole = s.length == 0;
        s.filedAs = Impl::PhotoOf(r);
        if (!s.whole)
            if (auto record = s.inProgress())
                record->setValue(s.resumeKey, s.location);
    }
}

void CQLMAPI::uploadChunk(const char *data, int size)
{
    Impl &s = *d;
    if (!s.started)
        Fail(QStringLiteral("No upload has been started."));
    if (size < 0 || size > kMaxBlock)
        Fail(QStringLiteral("A block holds at most 65536 bytes."));
    const qint64 blockStart = s.position;
    s.position += size;
    if (s.position > s.length)
        Fail(QStringLiteral("The photo is longer than when its upload began."));
    if (s.whole)
        return;
    // The last byte files the photo. A file rewritten while it was read has been handed over
    // partly old and partly new: that photo never goes whole.
    if (blockStart < s.length && s.position == s.length && Fingerprint(QFileInfo(s.path)) != s.fingerprint) {
        s.http.abandon();
        s.forget();
        Fail(QStringLiteral("The photo changed while it was being uploaded."));
    }
    // What the service already has is not sent again.
    const qint64 skip = std::clamp<qint64>(s.resumedAt - blockStart, 0, size);
    s.feed(data + skip, size - skip);
}

void CQLMAPI::endUpload()
{
    Impl &s = *d;
    if (!s.started)
        Fail(QStringLiteral("No upload has been started."));
    s.started = false;
    if (!s.whole) {
        if (s.position != s.length)
            Fail(QStringLiteral("The photo was not handed over whole (") + QString::number(s.position)
                 + QStringLiteral(" of ") + QString::number(s.length) + QStringLiteral(" bytes)."));
        if (!s.http.streaming())
            Fail(QStringLiteral("The album service did not take the whole photo."));
        HttpReply reply;
        if (s.closePatch(&reply))
            s.filedAs = Impl::PhotoOf(reply);
        else if (reply.completed() || !s.serviceFiledIt())
            s.patchFailed(reply);
        s.whole = true;
    }
    s.forget();
}

QString CQLMAPI::filedAs() const
{
    return d->filedAs;
}

qint64 CQLMAPI::resumedAt() const
{
    return d->resumedAt;
}

qint64 CQLMAPI::bytesSent() const
{
    return d->sent;
}
