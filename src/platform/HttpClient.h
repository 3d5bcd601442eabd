#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <utility>

// What came back from one HTTP exchange. A transport failure (no connection, time-out,
// broken connection) is data here, never an exception: `failure` says which, `error` says it
// in words, and `status` holds whatever status line had arrived (0 when none).
struct HttpReply
{
    enum class Failure { None, CannotConnect, TimedOut, Broken };

    int status = 0;
    QList<std::pair<QByteArray, QByteArray>> headers; // in the order received, names as sent
    QByteArray body;                                  // at most the client's reply limit
    Failure failure = Failure::None;
    QString error;

    bool completed() const { return failure == Failure::None; }
    // The first header of that name, compared without regard to case; empty when absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

// The one small blocking HTTP/1.1 client of the program, over libcurl. Every call blocks the
// calling thread (never the UI thread) until the exchange is over or has timed out.
// Connections are kept between calls of one client, so a run of requests to one service
// shares one connection. Redirects are never followed; only http and https are spoken.
//
// A request body can be streamed: `open` starts the request, `write` hands over one piece at
// a time and returns once that piece has been taken by the connection (so the caller knows
// what is on the wire), `finish` waits for the reply. Destroying the client, or opening
// another stream, abandons a stream that was not finished.
class HttpClient
{
public:
    struct Options
    {
        int connectTimeoutSeconds = 15;
        int timeoutSeconds = 75;   // a whole request without a streamed body; 0: no limit
        int stallSeconds = 60;     // no byte moving either way for this long fails any exchange
        qsizetype maxReplyBytes = 1 << 20; // a longer reply body is cut here
    };

    struct Request
    {
        QByteArray method = "GET";
        QString url;
        // "Name: value" lines. "Name:" with nothing after it removes a header libcurl would
        // add by itself. No Content-Type is sent unless given here.
        QList<QByteArray> headers;
        QByteArray body;           // not used by `open`
        QString user, password;    // HTTP Basic authentication when `user` is not empty
    };

    HttpClient();
    explicit HttpClient(Options options);
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    const Options &options() const { return options_; }

    // "http://host:port/path", or "https://..." when the port is 443.
    static QString urlFor(const QString &host, int port, const QString &path);

    HttpReply send(const Request &request);
    HttpReply get(const QString &url, const QList<QByteArray> &headers = {});
    HttpReply post(const QString &url, const QByteArray &body, const QList<QByteArray> &headers = {});

    // A request whose body of exactly `bodyLength` bytes follows through `write`.
    void open(const Request &request, qint64 bodyLength);
    // False when the exchange ended before taking these bytes (the service answered early,
    // or the connection failed): `finish` then tells what happened.
    bool write(const char *data, qsizetype size);
    HttpReply finish();
    // Gives up the open stream: the connection closes with the body unfinished.
    void abandon();
    bool streaming() const;

    struct Transfer; // one exchange on the connection cache

private:
    Options options_;
    void *multi_ = nullptr; // CURLM*, kept for its connection cache
    std::unique_ptr<Transfer> stream_;
};
