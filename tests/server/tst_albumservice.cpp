#include "AlbumService.h"
#include "AlbumStore.h"
#include "HttpServer.h"

#include "support/AlbumServer.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray kAuth = "Basic " + (AlbumServer::kEmail + ":" + AlbumServer::kPassword).toUtf8().toBase64();

HttpRequest Request(const QByteArray &method, const QByteArray &path, const QByteArray &body = {},
                    const QMap<QByteArray, QByteArray> &headers = {})
{
    HttpRequest r;
    r.method = method;
    const qsizetype q = path.indexOf('?');
    r.path = q < 0 ? path : path.left(q);
    r.query = q < 0 ? QByteArray() : path.mid(q + 1);
    r.body = body;
    r.contentLength = body.size();
    r.headers = headers;
    return r;
}

QByteArray Header(const HttpReply &r, const QByteArray &name)
{
    for (const auto &[key, value] : r.headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// Sends raw bytes on a new connection and collects what comes back until the service
// closes the connection or `ms` have passed.
struct Exchange
{
    QByteArray received;
    bool closed = false;
};

Exchange Talk(int port, const QByteArray &bytes, int ms)
{
    Exchange e;
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!s.waitForConnected(5000))
        return e;
    s.write(bytes);
    s.waitForBytesWritten(1000);
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (s.state() != QAbstractSocket::ConnectedState || (!s.waitForReadyRead(int(deadline.remainingTime())) && s.state() != QAbstractSocket::ConnectedState)) {
            e.closed = true;
            break;
        }
        e.received += s.readAll();
    }
    e.received += s.readAll();
    return e;
}

const QByteArray kTus = "Tus-Resumable: 1.0.0\r\nAuthorization: " + kAuth + "\r\n";

// Creates an upload of album "A", file "x.jpg"; its address, or empty.
QByteArray CreateUpload(int port, qint64 length)
{
    const QByteArray reply = Talk(port,
                                  "POST /api/v1/uploads HTTP/1.1\r\nHost: a\r\n" + kTus + "Upload-Length: "
                                      + QByteArray::number(length)
                                      + "\r\nUpload-Metadata: album QQ==,filename eC5qcGc=\r\n"
                                        "Content-Length: 0\r\nConnection: close\r\n\r\n",
                                  5000)
                                 .received;
    const qsizetype at = reply.indexOf("Location: ");
    return at < 0 ? QByteArray() : reply.mid(at + 10, reply.indexOf('\r', at) - at - 10);
}

QByteArray PatchHead(const QByteArray &location, qint64 offset)
{
    return "PATCH " + location + " HTTP/1.1\r\nHost: a\r\n" + kTus
           + "Content-Type: application/offset+octet-stream\r\nUpload-Offset: " + QByteArray::number(offset) + "\r\n";
}

// A TCP socket bound to `address`:`port` (0: any port), sharing the address with others.
int BoundSocket(const char *address, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int PortOf(int fd)
{
    sockaddr_in a{};
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size);
    return ntohs(a.sin_port);
}

bool Stopped(qint64 pid)
{
    QFile f(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray stat = f.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2, 1) == "T";
}

// How many connections wait for the service listening on 127.0.0.1:`port` to take them.
qint64 AcceptQueue(int port)
{
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 4 && fields[1] == local && fields[3] == "0A") // listening
            return fields[4].split(':').last().toLongLong(nullptr, 16);
    }
    return -1;
}

qint64 ResidentKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace

class TestAlbumService : public QObject
{
    Q_OBJECT

private slots:
    void ordersAreEachAccountsOwn()
    {
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        store.addAccount("ann@example.com", "p w&=");
        store.addAccount("bob@example.com", "b");
        QVERIFY(store.createAlbum("ann@example.com", "<b>Trips"));
        ServiceOptions options;
        options.version = "3.26";
        AlbumService service(store, options);

        HttpReply r = service.handle(Request("POST", "/orders_view.exe",
                                             "fromclient=yes&user=ann%40example.com&pass=p+w%26%3D&pic1=IMG+%251.JPG"
                                             "&date1=20261207114921000&pic2=b.jpg&date2=20261207114921001"));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body.split('\n').first().trimmed(), QByteArray("0"));
        const auto page = [&](const QByteArray &credentials) {
            return service.handle(Request("GET", "/orders_view.exe?show=yes", {},
                                          {{"authorization", "Basic " + credentials.toBase64()}}));
        };
        r = page("ann@example.com:p w&=");
        QCOMPARE(r.status, 200);
        QVERIFY(r.body.contains("IMG %1.JPG (20261207114921000)"));
        r = page("bob@example.com:b");
        QVERIFY(!r.body.contains("IMG"));
        QVERIFY(r.body.contains("No photos are waiting"));
        r = service.handle(Request("GET", "/orders_view.exe?show=yes"));
        QCOMPARE(r.status, 401);
        QVERIFY(!r.body.contains("IMG"));
        QVERIFY(!Header(r, "WWW-Authenticate").isEmpty());
        r = service.handle(Request("POST", "/orders_view.exe", "fromclient=yes&user=ann%40example.com&pass=no"));
        QVERIFY(r.body.split('\n').first().trimmed() != "0");

        QCOMPARE(service.handle(Request("POST", "/RIZIruvezo/Admin/getver.exe")).body, QByteArray("3.26\r\n"));
        QCOMPARE(service.handle(Request("GET", "/support")).status, 200);
        r = service.handle(Request("GET", "/"));
        QVERIFY(r.body.contains("&lt;b&gt;Trips"));
        QVERIFY(!r.body.contains("<b>Trips"));
        QCOMPARE(service.handle(Request("GET", "/nothing%1")).status, 404);

        options.faults.htmlErrors = true;
        AlbumService html(store, options);
        r = html.handle(Request("GET", "/api/v1/account"));
        QVERIFY(html.errorBody(r).startsWith("<!DOCTYPE html>"));
        QCOMPARE(html.contentTypeOf(r), QByteArray("text/html; charset=utf-8"));
    }

    void tusConformance_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QStringList>("headers"); // "name: value"
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("mustHave"); // a reply header that must be there
        const QString tus = "tus-resumable: 1.0.0", auth = "authorization: " + QString::fromLatin1(kAuth);
        const QString octets = "content-type: Application/Offset+Octet-Stream; x=y";
        QTest::newRow("no tus version") << QByteArray("HEAD") << QByteArray("/api/v1/uploads/0") << QStringList{auth} << 412 << QByteArray("Tus-Version");
        QTest::newRow("PATCH without tus version") << QByteArray("PATCH") << QByteArray("/api/v1/uploads/0") << QStringList{auth, octets, "upload-offset: 0"} << 412 << QByteArray("Tus-Version");
        QTest::newRow("error carries Tus-Resumable") << QByteArray("HEAD") << QByteArray("/api/v1/uploads/0123") << QStringList{auth, tus} << 404 << QByteArray("Tus-Resumable");
        QTest::newRow("401 carries Tus-Resumable") << QByteArray("POST") << QByteArray("/api/v1/uploads") << QStringList{tus} << 401 << QByteArray("Tus-Resumable");
        QTest::newRow("longer than the maximum") << QByteArray("POST") << QByteArray("/api/v1/uploads") << QStringList{auth, tus, "upload-length: 4294967297", "upload-metadata: album QQ==,filename eA=="} << 413 << QByteArray("Tus-Resumable");
        QTest::newRow("405 names what is allowed") << QByteArray("DELETE") << QByteArray("/api/v1/uploads") << QStringList{auth, tus} << 405 << QByteArray("Allow");
        QTest::newRow("method override") << QByteArray("POST") << QByteArray("/api/v1/uploads/00000000000000000000000000000000") << QStringList{auth, tus, octets, "upload-offset: 0", "x-http-method-override: PATCH"} << 404 << QByteArray("Tus-Resumable");
        QTest::newRow("content type of another case") << QByteArray("PATCH") << QByteArray("/api/v1/uploads/00000000000000000000000000000000") << QStringList{auth, tus, octets, "upload-offset: 0"} << 404 << QByteArray("Tus-Resumable");
        QTest::newRow("wrong content type") << QByteArray("PATCH") << QByteArray("/api/v1/uploads/00000000000000000000000000000000") << QStringList{auth, tus, "content-type: text/plain", "upload-offset: 0"} << 415 << QByteArray("Tus-Resumable");
        QTest::newRow("unknown checksum") << QByteArray("PATCH") << QByteArray("/api/v1/uploads/00000000000000000000000000000000") << QStringList{auth, tus, octets, "upload-offset: 0", "upload-checksum: md4 AAAA"} << 400 << QByteArray("Tus-Resumable");
        QTest::newRow("options") << QByteArray("OPTIONS") << QByteArray("/api/v1/uploads") << QStringList{} << 204 << QByteArray("Tus-Checksum-Algorithm");
    }

    void tusConformance()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QStringList, headers);
        QFETCH(int, status);
        QFETCH(QByteArray, mustHave);
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        store.addAccount(AlbumServer::kEmail, AlbumServer::kPassword);
        AlbumService service(store, {});
        QMap<QByteArray, QByteArray> map;
        for (const QString &h : headers)
            map.insert(h.section(':', 0, 0).toUtf8(), h.section(':', 1).trimmed().toUtf8());
        const HttpReply r = service.handle(Request(method, path, {}, map));
        QCOMPARE(r.status, status);
        QVERIFY2(!Header(r, mustHave).isEmpty(), mustHave.constData());
    }

    // Requests that try the framing, and clients that hold connections: each is answered or
    // closed, and never taken for more than it is.
    void hostileRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status"); // "" for no answer at all
        const QByteArray auth = "Authorization: " + kAuth + "\r\n";
        QTest::newRow("two Content-Lengths") << QByteArray("PATCH /api/v1/uploads/x HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nContent-Length: 40\r\n\r\nabcGET /support HTTP/1.1\r\nHost: a\r\n\r\n") << QByteArray("400");
        QTest::newRow("chunked PATCH") << QByteArray("PATCH /api/v1/uploads/x HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n") << QByteArray("411");
        QTest::newRow("chunked and a length") << QByteArray("POST /orders_view.exe HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n") << QByteArray("411");
        QTest::newRow("bare line feeds") << QByteArray("GET /support HTTP/1.1\nHost: a\n\n") << QByteArray("400");
        QTest::newRow("body shorter than its length") << QByteArray("POST /orders_view.exe HTTP/1.1\r\nHost: a\r\nContent-Length: 100\r\n\r\nabc") << QByteArray();
        QTest::newRow("idle connection") << QByteArray() << QByteArray();
        QTest::newRow("Content-Length with letters") << QByteArray("PATCH /api/v1/uploads/x HTTP/1.1\r\nHost: a\r\nContent-Length: 36x\r\n\r\nGET /support HTTP/1.1\r\nHost: a\r\n\r\n") << QByteArray("400");
        QTest::newRow("Content-Length past any photo") << QByteArray("PATCH /api/v1/uploads/x HTTP/1.1\r\nHost: a\r\nContent-Length: 18446744073709551652\r\n\r\nGET /support HTTP/1.1\r\nHost: a\r\n\r\n") << QByteArray("4");
        QTest::newRow("refused body is not a request") << QByteArray("PATCH /api/v1/uploads/x HTTP/1.1\r\nHost: a\r\nContent-Length: 36\r\n\r\nGET /support HTTP/1.1\r\nHost: a\r\n\r\n") << QByteArray("401");
        QTest::newRow("refused long body is not a request") << "PATCH /api/v1/uploads/0 HTTP/1.1\r\nHost: a\r\n" + auth + "Content-Length: 100036\r\n\r\nGET /support HTTP/1.1\r\nHost: a\r\n\r\n" + QByteArray(100000, 'x') << QByteArray("412");
    }

    void hostileRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        AlbumServer server({"--timeout", "2"});
        QVERIFY(server.running());
        const Exchange e = Talk(server.port(), request, 15000);
        QVERIFY2(e.closed, "the connection must be closed within the time-out");
        if (status.isEmpty()) {
            QVERIFY2(e.received.isEmpty(), e.received.constData());
        } else {
            QVERIFY2(e.received.startsWith("HTTP/1.1 " + status), e.received.left(200).constData());
            QCOMPARE(e.received.count("HTTP/1.1 "), 1);
        }
    }

    // Idle connections do not keep anyone else out.
    void manyIdleConnections()
    {
        AlbumServer server({"--timeout", "30"});
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 200; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
            QVERIFY(idle.back()->waitForConnected(5000));
        }
        const Exchange e = Talk(server.port(), "GET /api/v1/account HTTP/1.1\r\nHost: a\r\nAuthorization: " + kAuth
                                                   + "\r\nConnection: close\r\n\r\n",
                                10000);
        QVERIFY2(e.received.startsWith("HTTP/1.1 200"), e.received.left(100).constData());
    }

    // Connections that come faster than the service takes them wait in the kernel's queue:
    // none is dropped, to be tried again seconds later.
    void burstOfConnectionsWaits()
    {
        AlbumServer server;
        QVERIFY(server.running());
        QCOMPARE(::kill(pid_t(server.pid()), SIGSTOP), 0); // takes no connection at all
        const auto resume = qScopeGuard([&] { ::kill(pid_t(server.pid()), SIGCONT); });
        QTRY_VERIFY(Stopped(server.pid()));
        std::vector<std::unique_ptr<QTcpSocket>> burst;
        for (int i = 0; i < 64; ++i) {
            burst.push_back(std::make_unique<QTcpSocket>());
            burst.back()->connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(AcceptQueue(server.port()), qint64(burst.size()), 20000);
    }

    // A client that sends request after request and never reads the answers: the service
    // stops when the connection stops taking replies, its memory stays bounded.
    void pipeliningClientThatNeverReads()
    {
        AlbumServer server({"--timeout", "2"});
        const qint64 before = ResidentKiB(server.pid());
        QVERIFY(before > 0);
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY(s.waitForConnected(5000));
        s.setReadBufferSize(1); // take in nothing the service sends
        const QByteArray one = "GET /support HTTP/1.1\r\nHost: a\r\n\r\n";
        QByteArray many;
        for (int i = 0; i < 2000; ++i)
            many += one;
        for (int i = 0; i < 100 && s.state() == QAbstractSocket::ConnectedState; ++i) {
            s.write(many);
            s.waitForBytesWritten(50);
        }
        const qint64 during = ResidentKiB(server.pid());
        QVERIFY2(during - before < 30 * 1024, qPrintable(QString::number(during - before) + " KiB more"));
        QVERIFY(Talk(server.port(), "GET /support HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 5000)
                    .received.startsWith("HTTP/1.1 200"));
    }

    // One PATCH per upload at a time: a second one is refused while the first is under way,
    // and the first then completes the photo with exactly its bytes.
    void twoPatchesAtOnce()
    {
        AlbumServer server({"--timeout", "10"});
        const QByteArray location = CreateUpload(server.port(), 200000);
        QVERIFY(!location.isEmpty());
        const QByteArray patch = PatchHead(location, 0);
        QByteArray bytes(200000, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 13);

        QTcpSocket first;
        first.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY(first.waitForConnected(5000));
        first.write(patch + "Content-Length: 200000\r\n\r\n" + bytes.left(1000));
        QVERIFY(first.waitForBytesWritten(5000));
        // An empty PATCH at the same offset: harmless on its own, refused while the first runs.
        QByteArray second;
        QTRY_VERIFY_WITH_TIMEOUT((second = Talk(server.port(), patch + "Content-Length: 0\r\nConnection: close\r\n\r\n", 5000).received)
                                     .startsWith("HTTP/1.1 423"),
                                 10000);
        first.write(bytes.mid(1000));
        QVERIFY(first.waitForBytesWritten(5000));
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((first.waitForReadyRead(100), answer += first.readAll()).contains("\r\n\r\n"), 10000);
        QVERIFY2(answer.startsWith("HTTP/1.1 204"), answer.constData());
        QVERIFY(answer.contains("Quillmere-Photo: A/x.jpg"));
        QFile photo(server.albumFolder("A") + "/x.jpg");
        QVERIFY(photo.open(QIODevice::ReadOnly));
        QCOMPARE(photo.readAll(), bytes);
    }

    // Hanging up finds a connection by both of its ends. A service listening on every address
    // can hold two connections from one address and port of a client, to two addresses of
    // its own: the one that asks is cut, never the other.
    void connectionIsFoundByBothEnds()
    {
        const int listenOne = BoundSocket("127.0.0.1", 0);
        const int port = PortOf(listenOne);
        const int listenTwo = BoundSocket("127.0.0.2", port);
        const int clientOne = BoundSocket("127.0.0.1", 0);
        const int clientTwo = BoundSocket("127.0.0.1", PortOf(clientOne));
        const auto closeAll = qScopeGuard([&] {
            for (int fd : {listenOne, listenTwo, clientOne, clientTwo})
                if (fd >= 0)
                    ::close(fd);
        });
        if (listenTwo < 0 || clientTwo < 0)
            QSKIP("this computer does not route 127.0.0.2 to itself");
        QCOMPARE(::listen(listenOne, 1), 0);
        QCOMPARE(::listen(listenTwo, 1), 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(quint16(port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        QCOMPARE(::connect(clientOne, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        ::inet_pton(AF_INET, "127.0.0.2", &to.sin_addr);
        QCOMPARE(::connect(clientTwo, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        const int servedOne = ::accept4(listenOne, nullptr, nullptr, SOCK_CLOEXEC);
        const int servedTwo = ::accept4(listenTwo, nullptr, nullptr, SOCK_CLOEXEC);
        const auto closeServed = qScopeGuard([&] {
            ::close(servedOne);
            ::close(servedTwo);
        });
        const int clientPort = PortOf(clientOne);
        QCOMPARE(ConnectionSocket("127.0.0.1", clientPort, "127.0.0.2", port), servedTwo);
        QCOMPARE(ConnectionSocket("127.0.0.1", clientPort, "127.0.0.1", port), servedOne);
        QCOMPARE(ConnectionSocket("127.0.0.3", clientPort, "127.0.0.1", port), -1);
    }

    // A crash in the middle of a checksummed PATCH: the bytes that had come were never
    // checked, so after the restart they are no part of the upload.
    void uncheckedBytesDoNotOutliveACrash()
    {
        AlbumServer server;
        const QByteArray location = CreateUpload(server.port(), 2000000);
        QVERIFY(!location.isEmpty());
        const QByteArray digest = QCryptographicHash::hash(QByteArray(1000000, 'g'), QCryptographicHash::Sha1).toBase64();
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY(s.waitForConnected(5000));
        s.write(PatchHead(location, 0) + "Upload-Checksum: sha1 " + digest + "\r\nContent-Length: 1000000\r\n\r\n"
                + QByteArray(600000, 'B'));
        QVERIFY(s.waitForBytesWritten(5000));
        const QString part = server.dataFolder() + "/.uploads/" + QString::fromLatin1(location.split('/').last()) + ".part";
        QTRY_VERIFY(QFileInfo(part).size() > 0);
        server.crashAndRestart();
        QVERIFY(server.running());
        const QByteArray head = Talk(server.port(), "HEAD " + location + " HTTP/1.1\r\nHost: a\r\n" + kTus
                                                       + "Connection: close\r\n\r\n",
                                     5000)
                                    .received;
        QVERIFY2(head.startsWith("HTTP/1.1 200") && head.contains("\r\nUpload-Offset: 0\r\n"), head.constData());
    }
};

QTEST_GUILESS_MAIN(TestAlbumService)
#include "tst_albumservice.moc"
