#pragma once

#include <QString>
#include <QStringList>

#include <memory>

struct Settings;

// The error of every album service call, thrown as a pointer (the caller deletes it). The
// message is the service's own plain-text reason when it gave one.
class CQLMException
{
public:
    explicit CQLMException(QString message) : message_(std::move(message)) {}
    virtual ~CQLMException() = default;
    QString getMessage() const { return message_; }

private:
    QString message_;
};

// Where the album service is and how long to wait for it.
struct ServiceAddress
{
    static constexpr const char *kDefaultHost = "albums.quillmere.example";

    QString host = QString::fromLatin1(kDefaultHost);
    QString prefix;     // "" or "/something"
    int port = 80;      // 443 means HTTPS
    QString dataFolder; // where unfinished uploads are remembered; empty: nowhere
    int connectTimeoutSeconds = 15;
    int replyTimeoutSeconds = 60; // a service silent this long has failed

    // From QLMHttpServer ("host" or "host/prefix"), QLMHttpPort and ExecutablePath.
    static ServiceAddress FromSettings(const Settings &settings);
    QString baseUrl() const;
};

// The album service client: account check, album list, and uploads that stream each photo
// as one request while the caller hands it over in blocks of at most 65,536 bytes. Every call
// blocks; use it from one thread at a time (a worker, never the UI thread). An upload that
// was cut off resumes where the service has it when the same file is started again, also
// after the program was restarted.
class CQLMAPI
{
public:
    static constexpr int kMaxBlock = 65536;

    CQLMAPI(); // the address from the user's settings
    explicit CQLMAPI(ServiceAddress address);
    ~CQLMAPI(); // an upload not ended is cancelled (and stays resumable)
    CQLMAPI(const CQLMAPI &) = delete;
    CQLMAPI &operator=(const CQLMAPI &) = delete;

    // True for a valid account, false for an invalid one; throws when the service cannot say.
    bool verify(const QString &email, const QString &password);
    QStringList getAlbums(const QString &email, const QString &password);

    void startUpload(const QString &email, const QString &password, const QString &album, const QString &path);
    void uploadChunk(const char *data, int size);
    void endUpload();

    // Where the service already had the current upload when it started (0 for a new one),
    // and how many bytes this client has put on the wire for it.
    qint64 resumedAt() const;
    qint64 bytesSent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
