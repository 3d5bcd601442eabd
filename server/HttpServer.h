#pragma once

#include <QString>

#include <memory>
#include <string>

class AlbumService;

// The descriptor of this process's socket whose ends are these (addresses written numerically,
// as in a cpp-httplib request); -1 when there is none.
int ConnectionSocket(const std::string &peerAddress, int peerPort, const std::string &localAddress, int localPort);

// The album service's HTTP/1.1 transport on cpp-httplib: request framing, keep-alive,
// time-outs and a thread per connection (from a pool that grows as connections come). The
// service owns the protocol; this class only maps requests and replies, refuses framing that
// could smuggle a request (two Content-Lengths, Transfer-Encoding), and closes a connection
// whose body was not read.
class AlbumHttpServer
{
public:
    struct Limits
    {
        int readTimeoutSeconds = 30; // no byte of a request for this long closes the connection
        int keepAliveSeconds = 10;   // an idle connection between requests is closed after this
        int maxThreads = 256;        // connections beyond this wait for a free thread
    };

    AlbumHttpServer(AlbumService &service, Limits limits);
    ~AlbumHttpServer();
    AlbumHttpServer(const AlbumHttpServer &) = delete;
    AlbumHttpServer &operator=(const AlbumHttpServer &) = delete;

    // Binds to `host` and `port` (0: a free one); false with the reason in `error`.
    bool bind(const QString &host, int port, QString *error);
    int port() const;
    // Serves until `stop` is called (from another thread).
    void run();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
