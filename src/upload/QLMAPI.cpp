#include "upload/QLMAPI.h"

#include "platform/Settings.h"
#include "platform/SettingsStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <curl/curl.h>

#include <mutex>

namespace {

constexpr size_t kMaxReplyBody = 256 * 1024;
const char kInProgressFile[] = "uploads-in-progress.ini";

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

[[noreturn]] void Fail(const QString &message)
{
    throw new CQLMException(message);
}

struct Reply
{
    long status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

size_t CollectBody(char *data, size_t size, size_t count, void *user)
{
    auto *reply = static_cast<Reply *>(user);
    const size_t n = size * count;
    if (size_t(reply->body.size()) < kMaxReplyBody)
        reply->body.append(data, qsizetype(std::min(n, kMaxReplyBody - size_t(reply->body.size()))));
    return n;
}

size_t CollectHeader(char *data, size_t size, size_t count, void *user)
{
    auto *reply = static_cast<Reply *>(user);
    const size_t n = size * count;
    const QByteArray line = QByteArray(data, qsizetype(n)).trimmed();
    if (line.startsWith("HTTP/")) {
        reply->headers.clear(); // a new status line (after 100 Continue)
        return n;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon > 0)
        reply->headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    return n;
}

// The service's reason for a refusal, or a text that says what happened instead.
QString ReasonOf(const Reply &reply)
{
    const QString text = QString::fromUtf8(reply.body).trimmed();
    if (!text.isEmpty())
        return text;
    return QStringLiteral("The album service answered with status %1.").arg(reply.status);
}

QString TransportError(CURLcode code, const char *detail)
{
    const QString what = QString::fromUtf8(*detail ? detail : curl_easy_strerror(code));
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("The album service cannot be reached (%1).").arg(what);
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("The album service did not answer in time (%1).").arg(what);
    default:
        return QStringLiteral("The connection to the album service failed (%1).").arg(what);
    }
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
    return QStringLiteral("%1://%2:%3%4").arg(port == 443 ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(port)
        .arg(prefix);
}

struct CQLMAPI::Impl
{
    ServiceAddress address;
    char errorText[CURL_ERROR_SIZE] = {};

    // The upload under way.
    QString email, password;
    QString location;     // the upload's address, as the service gave it
    QString resumeKey;
    qint64 length = 0;    // the photo's size
    qint64 resumedAt = 0; // where the service had it when this start began
    qint64 position = 0;  // bytes of the photo the caller has handed over
    qint64 sent = 0;      // bytes handed to the connection
    bool started = false;
    bool whole = false;   // the service has filed the photo

    CURLM *multi = nullptr;
    CURL *patch = nullptr;
    curl_slist *patchHeaders = nullptr;
    QByteArray pending;   // handed over by the caller, not yet taken by the connection
    qsizetype pendingAt = 0;
    bool transferDone = false;
    CURLcode transferResult = CURLE_OK;
    Reply patchReply;

    ~Impl() { stopTransfer(); }

    void stopTransfer()
    {
        if (patch) {
            curl_multi_remove_handle(multi, patch);
            curl_easy_cleanup(patch);
            patch = nullptr;
        }
        if (multi) {
            curl_multi_cleanup(multi);
            multi = nullptr;
        }
        curl_slist_free_all(patchHeaders);
        patchHeaders = nullptr;
    }

    QString url(const QString &path) const
    {
        if (path.startsWith(QLatin1String("http://")) || path.startsWith(QLatin1String("https://")))
            return path;
        // The service's Location already holds the prefix.
        const QString origin = QStringLiteral("%1://%2:%3")
                                   .arg(address.port == 443 ? QStringLiteral("https") : QStringLiteral("http"), address.host)
                                   .arg(address.port);
        return path.startsWith(address.prefix + QLatin1Char('/')) && !address.prefix.isEmpty() ? origin + path
                                                                                                : origin + address.prefix + path;
    }

    CURL *easy(const QString &target, const QString &user, const QString &pass, Reply *reply, bool wholeTimeout)
    {
        GlobalInit();
        CURL *h = curl_easy_init();
        if (!h)
            Fail(QStringLiteral("The album service client cannot start."));
        errorText[0] = 0;
        const QByteArray u = url(target).toUtf8();
        curl_easy_setopt(h, CURLOPT_URL, u.constData());
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(address.connectTimeoutSeconds));
        if (wholeTimeout)
            curl_easy_setopt(h, CURLOPT_TIMEOUT, long(address.replyTimeoutSeconds + address.connectTimeoutSeconds));
        // A transfer that moves nothing for the reply time has failed, however long it is.
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(address.replyTimeoutSeconds));
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(h, CURLOPT_USERNAME, user.toUtf8().constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, pass.toUtf8().constData());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, reply);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, reply);
        return h;
    }

    // One request with no body to send, answered in full.
    Reply request(const char *method, const QString &target, const QString &user, const QString &pass,
                  const QList<QByteArray> &headers = {})
    {
        Reply reply;
        CURL *h = easy(target, user, pass, &reply, true);
        curl_slist *list = nullptr;
        for (const QByteArray &header : headers)
            list = curl_slist_append(list, header.constData());
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
        if (qstrcmp(method, "HEAD") == 0)
            curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        else if (qstrcmp(method, "POST") == 0)
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, 0L), curl_easy_setopt(h, CURLOPT_POSTFIELDS, "");
        else if (qstrcmp(method, "GET") != 0)
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method);
        const CURLcode code = curl_easy_perform(h);
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply.status);
        const QString failure = code == CURLE_OK ? QString() : TransportError(code, errorText);
        curl_easy_cleanup(h);
        curl_slist_free_all(list);
        if (!failure.isEmpty())
            Fail(failure);
        return reply;
    }

    // The record of unfinished uploads in the data folder.
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

    static size_t ReadBlock(char *buffer, size_t size, size_t count, void *user)
    {
        auto *d = static_cast<Impl *>(user);
        const size_t room = size * count;
        const qsizetype available = d->pending.size() - d->pendingAt;
        if (available == 0)
            return d->sent == d->length - d->resumedAt ? 0 : CURL_READFUNC_PAUSE;
        const size_t n = std::min(room, size_t(available));
        memcpy(buffer, d->pending.constData() + d->pendingAt, n);
        d->pendingAt += qsizetype(n);
        d->sent += qint64(n);
        return n;
    }

    void beginPatch()
    {
        multi = curl_multi_init();
        patch = easy(location, email, password, &patchReply, false);
        patchHeaders = curl_slist_append(patchHeaders, "Tus-Resumable: 1.0.0");
        patchHeaders = curl_slist_append(patchHeaders, "Content-Type: application/offset+octet-stream");
        patchHeaders = curl_slist_append(patchHeaders, QByteArray("Upload-Offset: " + QByteArray::number(resumedAt)).constData());
        patchHeaders = curl_slist_append(patchHeaders, "Expect:");
        curl_easy_setopt(patch, CURLOPT_HTTPHEADER, patchHeaders);
        curl_easy_setopt(patch, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(patch, CURLOPT_CUSTOMREQUEST, "PATCH");
        curl_easy_setopt(patch, CURLOPT_INFILESIZE_LARGE, curl_off_t(length - resumedAt));
        curl_easy_setopt(patch, CURLOPT_READFUNCTION, ReadBlock);
        curl_easy_setopt(patch, CURLOPT_READDATA, this);
        curl_easy_setopt(patch, CURLOPT_UPLOAD_BUFFERSIZE, long(CQLMAPI::kMaxBlock));
        curl_multi_add_handle(multi, patch);
    }

    // Runs the connection until the pending bytes are taken (or, with `toEnd`, until the reply
    // is in). False when the transfer ended first.
    bool drive(bool toEnd)
    {
        while (!transferDone && (toEnd || pendingAt < pending.size())) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg *msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg == CURLMSG_DONE) {
                    transferDone = true;
                    transferResult = msg->data.result;
                }
            }
            if (transferDone || (!toEnd && pendingAt >= pending.size()))
                break;
            curl_multi_poll(multi, nullptr, 0, 200, nullptr);
        }
        return !transferDone || toEnd;
    }

    QString transferFailure()
    {
        long status = 0;
        curl_easy_getinfo(patch, CURLINFO_RESPONSE_CODE, &status);
        patchReply.status = status;
        if (transferResult != CURLE_OK)
            return TransportError(transferResult, errorText);
        if (status != 204)
            return ReasonOf(patchReply);
        return {};
    }

    // After a lost reply: whether the service has the whole photo anyway.
    bool serviceHasItWhole()
    {
        try {
            const Reply r = request("HEAD", location, email, password, {"Tus-Resumable: 1.0.0"});
            return r.status == 200 && r.headers.value("upload-offset").toLongLong() == length;
        } catch (CQLMException *e) {
            delete e;
            return false;
        }
    }
};

CQLMAPI::CQLMAPI() : d(std::make_unique<Impl>())
{
    Settings settings;
    SettingsStore().LoadSettings(settings);
    d->address = ServiceAddress::FromSettings(settings);
}

CQLMAPI::CQLMAPI(ServiceAddress address) : d(std::make_unique<Impl>())
{
    d->address = std::move(address);
}

CQLMAPI::~CQLMAPI() = default;

bool CQLMAPI::verify(const QString &email, const QString &password)
{
    const Reply r = d->request("GET", QStringLiteral("/api/v1/account"), email, password);
    if (r.status == 200)
        return true;
    if (r.status == 401)
        return false;
    Fail(ReasonOf(r));
}

QStringList CQLMAPI::getAlbums(const QString &email, const QString &password)
{
    const Reply r = d->request("GET", QStringLiteral("/api/v1/albums"), email, password);
    if (r.status != 200)
        Fail(ReasonOf(r));
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
    s.stopTransfer();
    s.email = email;
    s.password = password;
    s.position = s.sent = s.resumedAt = 0;
    s.pending.clear();
    s.pendingAt = 0;
    s.transferDone = false;
    s.whole = false;
    s.patchReply = Reply();
    s.started = true;

    const QFileInfo file(path);
    if (!file.isFile())
        Fail(QStringLiteral("Cannot open file ") + path);
    s.length = file.size();
    // The same file of the same size and time, to the same album of the same account and
    // service, continues where the service has it.
    const QString identity = QStringList{s.address.baseUrl(), email, album, file.absoluteFilePath(),
                                         QString::number(s.length),
                                         QString::number(file.lastModified().toMSecsSinceEpoch())}
                                 .join(QLatin1Char('\n'));
    s.resumeKey = QStringLiteral("uploads/")
                  + QString::fromLatin1(QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex());

    s.location.clear();
    if (auto record = s.inProgress())
        s.location = record->value(s.resumeKey).toString();
    if (!s.location.isEmpty()) {
        const Reply r = s.request("HEAD", s.location, email, password, {"Tus-Resumable: 1.0.0"});
        if (r.status == 200 && r.headers.value("upload-length").toLongLong() == s.length) {
            s.resumedAt = r.headers.value("upload-offset").toLongLong();
            s.whole = r.headers.contains("quillmere-photo");
        } else if (r.status == 401) {
            Fail(ReasonOf(r));
        } else {
            s.location.clear(); // the service no longer knows it: start afresh
            s.forget();
        }
    }
    if (s.location.isEmpty()) {
        const QByteArray metadata = "Upload-Metadata: album " + album.toUtf8().toBase64() + ",filename "
                                    + file.fileName().toUtf8().toBase64();
        const Reply r = s.request("POST", QStringLiteral("/api/v1/uploads"), email, password,
                                  {"Tus-Resumable: 1.0.0", "Upload-Length: " + QByteArray::number(s.length), metadata});
        if (r.status != 201 || r.headers.value("location").isEmpty())
            Fail(ReasonOf(r));
        s.location = QString::fromUtf8(r.headers.value("location"));
        s.whole = r.headers.contains("quillmere-photo");
        if (!s.whole)
            if (auto record = s.inProgress())
                record->setValue(s.resumeKey, s.location);
    }
    if (!s.whole && s.resumedAt < s.length)
        s.beginPatch();
}

void CQLMAPI::uploadChunk(const char *data, int size)
{
    Impl &s = *d;
    if (!s.started)
        Fail(QStringLiteral("No upload has been started."));
    if (size < 0 || size > kMaxBlock)
        Fail(QStringLiteral("A block holds at most %1 bytes.").arg(kMaxBlock));
    const qint64 blockStart = s.position;
    s.position += size;
    if (s.position > s.length)
        Fail(QStringLiteral("The photo is longer than when its upload began."));
    if (s.whole || !s.patch)
        return;
    // What the service already has is not sent again.
    const qint64 skip = std::clamp<qint64>(s.resumedAt - blockStart, 0, size);
    if (skip == size)
        return;
    if (s.pendingAt >= s.pending.size()) {
        s.pending.clear();
        s.pendingAt = 0;
    }
    s.pending.append(data + skip, qsizetype(size - skip));
    curl_easy_pause(s.patch, CURLPAUSE_CONT);
    if (!s.drive(false)) {
        const QString failure = s.transferFailure();
        Fail(failure.isEmpty() ? QStringLiteral("The album service stopped taking the photo.") : failure);
    }
}

void CQLMAPI::endUpload()
{
    Impl &s = *d;
    if (!s.started)
        Fail(QStringLiteral("No upload has been started."));
    s.started = false;
    if (s.position != s.length && !s.whole)
        Fail(QStringLiteral("The photo was not handed over whole (%1 of %2 bytes).").arg(s.position).arg(s.length));
    if (!s.whole && s.patch) {
        curl_easy_pause(s.patch, CURLPAUSE_CONT);
        s.drive(true);
        const QString failure = s.transferFailure();
        const bool filed = failure.isEmpty()
            ? s.patchReply.headers.value("upload-offset").toLongLong() == s.length
            : s.transferResult != CURLE_OK && s.serviceHasItWhole(); // only the answer was lost
        s.stopTransfer();
        if (!filed)
            Fail(failure.isEmpty() ? QStringLiteral("The album service did not take the whole photo.") : failure);
    } else if (!s.whole && !s.serviceHasItWhole()) {
        Fail(QStringLiteral("The album service does not have the whole photo."));
    }
    s.whole = true;
    s.forget();
}

qint64 CQLMAPI::resumedAt() const
{
    return d->resumedAt;
}

qint64 CQLMAPI::bytesSent() const
{
    return d->sent;
}
