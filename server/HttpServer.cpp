#include "HttpServer.h"

#include "AlbumService.h"

#include <QDir>

#include <httplib.h>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <thread>

namespace {

constexpr qint64 kDrainLimit = 64 * 1024;

// Digits only, and few enough to be a number: cpp-httplib would read "12x" or "+12" as 12,
// the service as something else, and the bytes between as a request of their own.
bool PlainLength(const std::string &text)
{
    return !text.empty() && text.size() <= 18
           && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A thread for each connection while there are fewer than the limit, so that idle
// connections do not keep others waiting; beyond it, connections wait in line.
class GrowingPool : public httplib::TaskQueue
{
public:
    explicit GrowingPool(size_t max) : max_(max) {}
    ~GrowingPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(fn));
        if (idle_ == 0 && threads_.size() < max_)
            threads_.emplace_back([this] { work(); });
        else
            cond_.notify_one();
    }

    void shutdown() override
    {
        {
            std::unique_lock lock(mutex_);
            if (stopping_)
                return;
            stopping_ = true;
        }
        cond_.notify_all();
        for (std::thread &t : threads_)
            t.join();
    }

private:
    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            cond_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (jobs_.empty())
                return;
            std::function<void()> fn = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            fn();
            lock.lock();
        }
    }

    const size_t max_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    size_t idle_ = 0;
    bool stopping_ = false;
};

// cpp-httplib 0.11 listens with a queue of 5 connections: in a burst (many uploads starting at
// once, while new threads are being made) the kernel dropped the rest, and their clients tried
// again only a second or more later.
class Listener : public httplib::Server
{
public:
    bool deepenQueue() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

// An address as cpp-httplib writes it into a request (numeric, with an IPv6 zone), and its port.
bool AddressOf(const sockaddr_storage &address, socklen_t size, std::string *text, int *port)
{
    char host[NI_MAXHOST] = {}, service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&address), size, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV)
        != 0)
        return false;
    *text = host;
    *port = atoi(service);
    return true;
}

// cpp-httplib hands a handler no socket. To hang up on purpose (the fault switch, a body that
// was not read) the connection is found by its two ends, and shut down; the thread serving it
// closes it.
void CutConnection(const httplib::Request &req)
{
    const int fd = ConnectionSocket(req.remote_addr, req.remote_port, req.local_addr, req.local_port);
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

} // namespace

// A connection's two ends are the kernel's key for it: no two sockets share them, so the one
// found is the very connection that asked, held open by the thread that is asking.
int ConnectionSocket(const std::string &peerAddress, int peerPort, const std::string &localAddress, int localPort)
{
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const int fd = name.toInt();
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        sockaddr_storage peer{}, local{};
        socklen_t peerSize = sizeof peer, localSize = sizeof local;
        std::string peerText, localText;
        int port = 0, ownPort = 0;
        if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) == 0
            && getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) == 0
            && AddressOf(peer, peerSize, &peerText, &port) && AddressOf(local, localSize, &localText, &ownPort)
            && port == peerPort && ownPort == localPort && peerText == peerAddress && localText == localAddress)
            return fd;
    }
    return -1;
}

struct AlbumHttpServer::Impl
{
    AlbumService &service;
    Limits limits;
    Listener http;
    int port = 0;

    Impl(AlbumService &s, Limits l) : service(s), limits(l) {}

    void reply(const HttpReply &r, const httplib::Request &req, httplib::Response &res, bool bodyRead)
    {
        if (r.hangUp) {
            CutConnection(req);
            return;
        }
        res.status = r.status;
        for (const auto &[name, value] : r.headers)
            res.set_header(name.constData(), value.toStdString());
        if (r.status != 204 && r.status != 304) {
            const QByteArray body = service.errorBody(r);
            res.set_content(body.toStdString(), service.contentTypeOf(r).constData());
        }
        // The rest of a body that was not read must not be taken for the next request.
        if (!bodyRead)
            res.set_header("Connection", "close");
    }

    // Every request, whatever its method, goes to the service.
    void serve(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader)
    {
        HttpRequest request;
        request.method = QByteArray::fromStdString(req.method);
        const QByteArray target = QByteArray::fromStdString(req.target);
        const qsizetype q = target.indexOf('?');
        request.path = q < 0 ? target : target.left(q);
        request.query = q < 0 ? QByteArray() : target.mid(q + 1);
        for (const auto &[name, value] : req.headers) {
            const QByteArray key = QByteArray::fromStdString(name).toLower();
            // cpp-httplib files the connection's ends among the headers; the client sent none of them.
            if (key == "remote_addr" || key == "remote_port" || key == "local_addr" || key == "local_port")
                continue;
            if (!request.headers.contains(key))
                request.headers.insert(key, QByteArray::fromStdString(value));
        }
        request.contentLength = QByteArray::fromStdString(req.get_header_value("Content-Length")).toLongLong();
        bool bodyRead = request.contentLength == 0;
        bool bodyStarted = false;
        if (reader) {
            request.readBody = [&](const BodySink &sink) {
                bodyStarted = true;
                const bool whole = (*reader)([&](const char *data, size_t n) { return sink(data, qint64(n)); });
                bodyRead = whole;
                return whole;
            };
        } else {
            request.body = QByteArray::fromStdString(req.body);
            bodyRead = true;
        }
        const HttpReply r = service.handle(request);
        // A short body nobody read is read and dropped; one read in part cannot be resumed.
        if (!bodyRead && !bodyStarted && reader && request.contentLength <= kDrainLimit)
            bodyRead = (*reader)([](const char *, size_t) { return true; });
        reply(r, req, res, bodyRead);
    }

    // Framing that two parsers could read two ways is refused before any body is read.
    httplib::Server::HandlerResponse screen(const httplib::Request &req, httplib::Response &res)
    {
        QString reason;
        int status = 400;
        if (req.get_header_value_count("Content-Length") > 1)
            reason = QStringLiteral("The request has more than one Content-Length.");
        else if (req.has_header("Content-Length") && !PlainLength(req.get_header_value("Content-Length")))
            reason = QStringLiteral("The request's Content-Length is not a number.");
        else if (req.has_header("Transfer-Encoding"))
            status = 411, reason = QStringLiteral("Send the body with a Content-Length.");
        if (reason.isEmpty())
            return httplib::Server::HandlerResponse::Unhandled;
        HttpReply r;
        r.status = status;
        r.body = reason.toUtf8();
        r.error = true;
        r.headers.emplaceBack("Tus-Resumable", "1.0.0"); // it may have been an upload's request
        reply(r, req, res, false);
        return httplib::Server::HandlerResponse::Handled;
    }
};

AlbumHttpServer::AlbumHttpServer(AlbumService &service, Limits limits) : d(std::make_unique<Impl>(service, limits))
{
    httplib::Server &http = d->http;
    const size_t threads = size_t(std::max(1, limits.maxThreads));
    http.new_task_queue = [threads] { return new GrowingPool(threads); };
    http.set_read_timeout(limits.readTimeoutSeconds, 0);
    http.set_write_timeout(limits.readTimeoutSeconds, 0);
    http.set_keep_alive_timeout(limits.keepAliveSeconds);
    http.set_keep_alive_max_count(1000);
    http.set_tcp_nodelay(true);
    http.set_payload_max_length(size_t(AlbumStore::kMaxPhotoBytes) + 1);
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) { return d->screen(req, res); });
    const auto plain = [this](const httplib::Request &req, httplib::Response &res) { d->serve(req, res, nullptr); };
    const auto streamed = [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
        d->serve(req, res, &reader);
    };
    http.Get(".*", plain);
    http.Options(".*", plain);
    http.Post(".*", streamed);
    http.Put(".*", streamed);
    http.Patch(".*", streamed);
    http.Delete(".*", streamed);
    // A reply that asks for the connection to be closed is followed by the close itself.
    http.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        if (res.get_header_value("Connection") == "close")
            CutConnection(req);
    });
}

AlbumHttpServer::~AlbumHttpServer()
{
    stop();
}

bool AlbumHttpServer::bind(const QString &host, int port, QString *error)
{
    const std::string address = host.toStdString();
    d->port = port == 0 ? d->http.bind_to_any_port(address) : (d->http.bind_to_port(address, port) ? port : -1);
    if (d->port <= 0 || !d->http.deepenQueue()) {
        *error = QStringLiteral("the address is taken or not this computer's");
        return false;
    }
    return true;
}

int AlbumHttpServer::port() const
{
    return d->port;
}

void AlbumHttpServer::run()
{
    d->http.listen_after_bind();
}

void AlbumHttpServer::stop()
{
    d->http.stop();
}
