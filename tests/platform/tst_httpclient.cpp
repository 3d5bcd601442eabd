#include "platform/HttpClient.h"

#include <httplib.h>

#include <QTest>

#include <atomic>
#include <thread>

namespace {

// A small HTTP server on a free port of 127.0.0.1, in this process, for one test.
class LocalServer
{
public:
    httplib::Server http;

    void start()
    {
        port_ = http.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { http.listen_after_bind(); });
        // The socket listens from the bind on; connections wait in its backlog until then.
    }
    ~LocalServer()
    {
        while (thread_.joinable() && !http.is_running())
            std::this_thread::yield(); // a stop before the listen would be lost
        http.stop();
        if (thread_.joinable())
            thread_.join();
    }
    QString url(const char *path) const { return HttpClient::urlFor("127.0.0.1", port_, QString::fromLatin1(path)); }
    int port() const { return port_; }

private:
    int port_ = 0;
    std::thread thread_;
};

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT

private slots:
    void requestsAndReplies()
    {
        LocalServer server;
        std::string seenType, seenAuth, seenBody;
        server.http.Get("/hello", [](const httplib::Request &, httplib::Response &res) {
            res.set_header("X-Answer", "42");
            res.set_content("hello", "text/plain");
        });
        server.http.Post("/form", [&](const httplib::Request &req, httplib::Response &res) {
            seenType = req.has_header("Content-Type") ? req.get_header_value("Content-Type") : "(none)";
            seenAuth = req.get_header_value("Authorization");
            seenBody = req.body;
            res.status = 201;
        });
        server.http.Get("/big", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(std::string(5000, 'x'), "text/plain");
        });
        server.start();

        HttpClient::Options options;
        options.maxReplyBytes = 1000;
        HttpClient client(options);
        HttpReply r = client.get(server.url("/hello"));
        QVERIFY(r.completed());
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, QByteArray("hello"));
        QCOMPARE(r.header("x-answer"), QByteArray("42"));
        QVERIFY(!r.hasHeader("X-Missing"));

        // A form body goes as it is: no content type the caller did not ask for.
        r = client.post(server.url("/form"), "a=1&b=%26");
        QCOMPARE(r.status, 201);
        QCOMPARE(seenType, std::string("(none)"));
        QCOMPARE(seenBody, std::string("a=1&b=%26"));
        QVERIFY(seenAuth.empty());

        HttpClient::Request request;
        request.method = "POST";
        request.url = server.url("/form");
        request.user = "ann@example.com";
        request.password = "p:w";
        request.headers = {"Content-Type: text/plain"};
        request.body = "x";
        QCOMPARE(client.send(request).status, 201);
        QCOMPARE(seenType, std::string("text/plain"));
        QCOMPARE(seenAuth, "Basic " + std::string(QByteArray("ann@example.com:p:w").toBase64().constData()));

        r = client.get(server.url("/big"));
        QCOMPARE(r.body.size(), 1000); // cut at the reply limit, the exchange still complete
        QVERIFY(r.completed());
        QCOMPARE(client.get(server.url("/nothing")).status, 404);
    }

    void streamedBody()
    {
        LocalServer server;
        std::string received;
        server.http.Patch("/up", [&](const httplib::Request &, httplib::Response &res,
                                     const httplib::ContentReader &reader) {
            reader([&](const char *data, size_t n) {
                received.append(data, n);
                return true;
            });
            res.status = 204;
            res.set_header("Upload-Offset", std::to_string(received.size()));
        });
        // The body handed over short goes here, so that the server's thread, still reading it
        // after the client gave up, never touches what the next exchange receives.
        server.http.Patch("/cut", [](const httplib::Request &, httplib::Response &res,
                                     const httplib::ContentReader &reader) {
            reader([](const char *, size_t) { return true; });
            res.status = 204;
        });
        server.http.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
            if (req.path != "/refuse")
                return httplib::Server::HandlerResponse::Unhandled;
            res.status = 409;
            res.set_content("No.", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        });
        server.start();

        HttpClient client;
        QByteArray bytes(200000, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        HttpClient::Request request;
        request.method = "PATCH";
        request.url = server.url("/up");
        request.headers = {"Content-Type: application/offset+octet-stream"};
        client.open(request, bytes.size());
        QVERIFY(client.streaming());
        for (qsizetype at = 0; at < bytes.size(); at += 65536)
            QVERIFY(client.write(bytes.constData() + at, std::min<qsizetype>(65536, bytes.size() - at)));
        const HttpReply r = client.finish();
        QVERIFY(!client.streaming());
        QCOMPARE(r.status, 204);
        QCOMPARE(r.header("Upload-Offset"), QByteArray::number(bytes.size()));
        QCOMPARE(QByteArray::fromStdString(received), bytes);

        // A service that answers before taking the body ends the stream early: the caller
        // learns it from `write` and reads the answer from `finish`.
        request.url = server.url("/refuse");
        client.open(request, 50 << 20);
        bool taken = true;
        QByteArray block(65536, 'x');
        for (int i = 0; i < 800 && taken; ++i)
            taken = client.write(block.constData(), block.size());
        QVERIFY(!taken);
        const HttpReply refused = client.finish();
        QCOMPARE(refused.status, 409);

        // A body handed over short can never be whole: finishing fails at once, and bytes
        // past the announced length are never sent as the start of another request.
        request.url = server.url("/cut");
        client.open(request, 1000);
        QVERIFY(client.write(bytes.constData(), 500));
        const HttpReply cut = client.finish();
        QCOMPARE(cut.failure, HttpReply::Failure::Broken);
        QVERIFY(!client.streaming());
        received.clear();
        request.url = server.url("/up");
        client.open(request, 1000);
        QVERIFY(!client.write(bytes.constData(), 1500));
        QCOMPARE(client.finish().status, 204);
        QCOMPARE(QByteArray::fromStdString(received), bytes.left(1000));
    }

    void failures()
    {
        LocalServer server;
        server.http.Get("/slow", [](const httplib::Request &, httplib::Response &res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            res.set_content("late", "text/plain");
        });
        server.start();

        HttpClient::Options options;
        options.stallSeconds = 1;
        HttpClient client(options);
        HttpReply r = client.get(server.url("/slow"));
        QCOMPARE(r.failure, HttpReply::Failure::TimedOut);
        QVERIFY(!r.error.isEmpty());

        options.stallSeconds = 60;
        options.timeoutSeconds = 1; // the whole request
        r = HttpClient(options).get(server.url("/slow"));
        QCOMPARE(r.failure, HttpReply::Failure::TimedOut);

        r = client.get(HttpClient::urlFor("127.0.0.1", 1, "/"));
        QCOMPARE(r.failure, HttpReply::Failure::CannotConnect);
        QCOMPARE(r.status, 0);

        // Only http and https are spoken, and nothing is followed elsewhere.
        QCOMPARE(client.get("file:///etc/passwd").failure, HttpReply::Failure::Broken);
        QVERIFY(client.finish().error.size() > 0); // nothing open
    }

    void addresses()
    {
        QCOMPARE(HttpClient::urlFor("example.org", 443, "/a"), QString("https://example.org:443/a"));
        QCOMPARE(HttpClient::urlFor("example.org", 8080, "/a"), QString("http://example.org:8080/a"));
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
