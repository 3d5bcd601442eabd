#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace {

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpReply::Failure FailureOf(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return HttpReply::Failure::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return HttpReply::Failure::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpReply::Failure::TimedOut;
    default:
        return HttpReply::Failure::Broken;
    }
}

bool HasHeaderLine(const QList<QByteArray> &lines, const QByteArray &name)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

QByteArray HttpReply::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool HttpReply::hasHeader(const QByteArray &name) const
{
    for (const auto &entry : headers)
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

struct HttpClient::Transfer
{
    CURL *easy = nullptr;
    curl_slist *headerList = nullptr;
    HttpReply reply;
    qsizetype maxReplyBytes = 0;
    char errorText[CURL_ERROR_SIZE] = {};
    bool done = false;
    CURLcode result = CURLE_OK;

    // A streamed body: what the caller handed over and the connection has not taken yet.
    qint64 length = 0;
    qint64 taken = 0;
    QByteArray pending;
    qsizetype pendingAt = 0;

    ~Transfer()
    {
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(headerList);
    }

    bool init(const Options &o, const Request &request)
    {
        maxReplyBytes = o.maxReplyBytes;
        CURL *h = easy = curl_easy_init();
        if (!h) {
            done = true;
            result = CURLE_FAILED_INIT;
            return false;
        }
        curl_easy_setopt(h, CURLOPT_URL, request.url.toUtf8().constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(o.connectTimeoutSeconds));
        // Any exchange that moves nothing for the stall time has failed, however long it is.
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(o.stallSeconds));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
        if (!request.user.isEmpty()) {
            curl_easy_setopt(h, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
            curl_easy_setopt(h, CURLOPT_USERNAME, request.user.toUtf8().constData());
            curl_easy_setopt(h, CURLOPT_PASSWORD, request.password.toUtf8().constData());
        }
        QList<QByteArray> lines = request.headers;
        // A 100-continue wait costs a round trip (or a second) on every request with a body.
        if (!HasHeaderLine(lines, "Expect"))
            lines << "Expect:";
        if (!HasHeaderLine(lines, "Content-Type"))
            lines << "Content-Type:";
        for (const QByteArray &line : lines)
            headerList = curl_slist_append(headerList, line.constData());
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList);
        return true;
    }

    // Runs the connections until this transfer is done or `enough` says so.
    template <typename Enough>
    void drive(CURLM *multi, Enough enough)
    {
        while (!done && !enough()) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg *msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                    done = true;
                    result = msg->data.result;
                }
            }
            if (done || enough())
                break;
            curl_multi_poll(multi, nullptr, 0, 200, nullptr);
        }
    }

    HttpReply complete(CURLM *multi)
    {
        long status = 0;
        if (easy) {
            curl_multi_remove_handle(multi, easy);
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        }
        reply.status = int(status);
        reply.failure = FailureOf(result);
        if (result != CURLE_OK)
            reply.error = QString::fromUtf8(*errorText ? errorText : curl_easy_strerror(result));
        return reply;
    }

    static size_t CollectBody(char *data, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<Transfer *>(user);
        const size_t n = size * count;
        const qsizetype room = t->maxReplyBytes - t->reply.body.size();
        if (room > 0)
            t->reply.body.append(data, std::min(qsizetype(n), room));
        return n;
    }

    static size_t CollectHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<Transfer *>(user);
        const size_t n = size * count;
        const QByteArray line = QByteArray(data, qsizetype(n)).trimmed();
        if (line.startsWith("HTTP/")) {
            t->reply.headers.clear(); // a new status line, after "100 Continue"
            return n;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            t->reply.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        return n;
    }

    static size_t ReadBody(char *buffer, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<Transfer *>(user);
        // Never more than the length announced: the rest would be read as another request.
        const qsizetype available = qsizetype(std::min<qint64>(t->pending.size() - t->pendingAt, t->length - t->taken));
        if (available == 0)
            return t->taken == t->length ? 0 : CURL_READFUNC_PAUSE;
        const size_t n = std::min(size * count, size_t(available));
        memcpy(buffer, t->pending.constData() + t->pendingAt, n);
        t->pendingAt += qsizetype(n);
        t->taken += qint64(n);
        return n;
    }
};

HttpClient::HttpClient() : HttpClient(Options()) {}

HttpClient::HttpClient(Options options) : options_(options)
{
    GlobalInit();
    multi_ = curl_multi_init();
}

HttpClient::~HttpClient()
{
    abandon();
    curl_multi_cleanup(static_cast<CURLM *>(multi_));
}

QString HttpClient::urlFor(const QString &host, int port, const QString &path)
{
    return (port == 443 ? QStringLiteral("https://") : QStringLiteral("http://")) + host + QLatin1Char(':')
           + QString::number(port) + path;
}

HttpReply HttpClient::send(const Request &request)
{
    abandon();
    Transfer t;
    CURLM *multi = static_cast<CURLM *>(multi_);
    if (!t.init(options_, request))
        return t.complete(multi);
    if (options_.timeoutSeconds > 0)
        curl_easy_setopt(t.easy, CURLOPT_TIMEOUT, long(options_.timeoutSeconds));
    if (request.method == "HEAD") {
        curl_easy_setopt(t.easy, CURLOPT_NOBODY, 1L);
    } else if (request.method == "POST" || !request.body.isEmpty()) {
        curl_easy_setopt(t.easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
        curl_easy_setopt(t.easy, CURLOPT_COPYPOSTFIELDS, request.body.constData());
    }
    if (request.method != "GET" && request.method != "HEAD" && request.method != "POST")
        curl_easy_setopt(t.easy, CURLOPT_CUSTOMREQUEST, request.method.constData());
    curl_multi_add_handle(multi, t.easy);
    t.drive(multi, [] { return false; });
    return t.complete(multi);
}

HttpReply HttpClient::get(const QString &url, const QList<QByteArray> &headers)
{
    Request r;
    r.url = url;
    r.headers = headers;
    return send(r);
}

HttpReply HttpClient::post(const QString &url, const QByteArray &body, const QList<QByteArray> &headers)
{
    Request r;
    r.method = "POST";
    r.url = url;
    r.headers = headers;
    r.body = body;
    return send(r);
}

void HttpClient::open(const Request &request, qint64 bodyLength)
{
    abandon();
    stream_ = std::make_unique<Transfer>();
    Transfer &t = *stream_;
    t.length = bodyLength;
    if (!t.init(options_, request))
        return;
    curl_easy_setopt(t.easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(t.easy, CURLOPT_CUSTOMREQUEST, request.method.constData());
    curl_easy_setopt(t.easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(bodyLength));
    curl_easy_setopt(t.easy, CURLOPT_READFUNCTION, Transfer::ReadBody);
    curl_easy_setopt(t.easy, CURLOPT_READDATA, &t);
    curl_easy_setopt(t.easy, CURLOPT_UPLOAD_BUFFERSIZE, 65536L);
    curl_multi_add_handle(static_cast<CURLM *>(multi_), t.easy);
}

bool HttpClient::streaming() const
{
    return stream_ != nullptr;
}

bool HttpClient::write(const char *data, qsizetype size)
{
    if (!stream_ || stream_->done)
        return false;
    Transfer &t = *stream_;
    if (t.pendingAt >= t.pending.size()) {
        t.pending.clear();
        t.pendingAt = 0;
    }
    t.pending.append(data, size);
    curl_easy_pause(t.easy, CURLPAUSE_CONT);
    t.drive(static_cast<CURLM *>(multi_), [&] { return t.pendingAt >= t.pending.size(); });
    return t.pendingAt >= t.pending.size() && t.result == CURLE_OK;
}

HttpReply HttpClient::finish()
{
    if (!stream_) {
        HttpReply r;
        r.failure = HttpReply::Failure::Broken;
        r.error = QStringLiteral("No request is open.");
        return r;
    }
    const std::unique_ptr<Transfer> t = std::move(stream_);
    if (t->easy && !t->done && t->taken + (t->pending.size() - t->pendingAt) < t->length) {
        // The body can never be whole: waiting for it would wait for ever.
        curl_multi_remove_handle(static_cast<CURLM *>(multi_), t->easy);
        HttpReply r;
        r.failure = HttpReply::Failure::Broken;
        r.error = QStringLiteral("The request body was not handed over whole.");
        return r;
    }
    if (t->easy && !t->done) {
        curl_easy_pause(t->easy, CURLPAUSE_CONT);
        t->drive(static_cast<CURLM *>(multi_), [] { return false; });
    }
    return t->complete(static_cast<CURLM *>(multi_));
}

void HttpClient::abandon()
{
    if (stream_ && stream_->easy)
        curl_multi_remove_handle(static_cast<CURLM *>(multi_), stream_->easy);
    stream_.reset();
}
