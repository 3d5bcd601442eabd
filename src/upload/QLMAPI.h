#pragma once

#include "platform/Settings.h"

#include <QString>
#include <QStringList>

#include <memory>

struct Settings;

// The error of every album service call, thrown as a pointer (the caller deletes it).
// `getMessage` is the text to show: the service's own plain-text reason when it gave one,
// otherwise a text of this client's (never a service's HTML page). `serviceReason` is that
// reason alone (empty when the service gave none), `status` the service's HTTP status (0 when
// no answer came: no connection, a time-out, a broken connection, a local file).
class CQLMException
{
public:
    explicit CQLMException(QString message, int status = 0, QString serviceReason = {})
        : message_(std::move(message)), reason_(std::move(serviceReason)), status_(status)
    {
    }
    virtual ~CQLMException() = default;
    QString getMessage() const { return message_; }
    QString serviceReason() const { return reason_; }
    int status() const { return status_; }

private:
    QString message_;
    QString reason_;
    int status_;
};

// Where the album service is, how long to wait for it, and how uploads are checked.
struct ServiceAddress
{
    static constexpr const char *kDefaultHost = kDefaultServiceHost;
    enum class Checksum { None, Sha1, Sha256 };

    QString host = QString::fromLatin1(kDefaultHost);
    QString prefix;     // "" or "/something"
    int port = 80;      // 443 means HTTPS
    QString dataFolder; // where unfinished uploads are remembered; empty: nowhere
    int connectTimeoutSeconds = 15;
    int replyTimeoutSeconds = 60; // a service silent this long has failed
    // Each PATCH carries the checksum of its bytes, so the service files nothing damaged. A
    // checksummed PATCH that is cut off is lost whole, so the photo goes in PATCHes that
    // start at `firstPatchBytes` and double (up to `maxPatchBytes`): a cut costs at most about
    // as much as had already arrived, and a big photo pays few round trips. Without a
    // checksum the whole photo is one PATCH.
    Checksum checksum = Checksum::Sha1;
    qint64 firstPatchBytes = qint64(1) << 20;
    qint64 maxPatchBytes = qint64(64) << 20;

    // From QLMHttpServer ("host" or "host/prefix"), QLMHttpPort and ExecutablePath.
    static ServiceAddress FromSettings(const Settings &settings);
    QString baseUrl() const;
};

// The album service client: account check, album list, and uploads that stream each photo
// while the caller hands it over in blocks of at most 65,536 bytes; `uploadChunk` returns once
// its block is on the connection. Every call blocks; use it from one thread at a time (a
// worker, never the UI thread). An upload that was cut off resumes where the service has it
// when the same file (same content fingerprint) is started again, also after a restart.
//
// `endUpload` returns normally only when the service confirmed the whole photo: the request
// that completed it was answered with success, or, when only that answer was lost, the
// service names the filed photo (`Quillmere-Photo`). A service that merely reports all bytes
// received is no proof; the next start of that photo begins afresh.
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

    // After `endUpload`: where the service filed the photo ("album/name"), when it said so;
    // empty for a service that does not name filed photos.
    QString filedAs() const;
    // Where the service already had the current upload when it started (0 for a new one),
    // and how many bytes this client has put on the wire for it.
    qint64 resumedAt() const;
    qint64 bytesSent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
