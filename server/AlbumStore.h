#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class QFile;

// What the reference album service keeps on disk, under one data folder:
//   <data>/<e-mail>/<album>/<photo>      the albums, one folder each
//   <data>/.uploads/<id>.info, <id>.part uploads still being received
// A photo enters its album only when it is whole, by renaming the finished part file, so an
// album never shows half a photo. Every name that comes from a request, or back from the
// disk, is checked before it is used, so nothing can leave the data folder. Safe to use from
// several threads at once.
class AlbumStore
{
public:
    static constexpr qint64 kMaxPhotoBytes = qint64(4) << 30;

    struct Upload
    {
        QString id;
        QString account;
        QString album;
        QString fileName;
        qint64 length = 0;
        qint64 offset = 0;
        QString photo; // "album/name" once filed; empty before
        bool whole() const { return offset == length; }
    };

    // What went wrong with a request on the store, with the HTTP status that says so.
    struct Problem
    {
        int status = 0;
        QString reason;
    };

    // Appends one upload's bytes to its part file. Every write is checked: a failed one cuts
    // the file back to the last good offset, which `offset` then reports. Bytes that still
    // have to pass a checksum are marked as such on disk until `keep` or `discard`, so that
    // a crash in between never leaves them counted (the next start cuts them off).
    class PartWriter
    {
    public:
        ~PartWriter(); // keeps unchecked bytes; discards bytes still waiting for their checksum
        bool write(const char *data, qint64 size);
        bool flush();
        qint64 offset() const { return good_ + buffer_.size(); }
        const Problem &problem() const { return problem_; }
        // The bytes written are good: flushed, and no longer waiting for a checksum.
        bool keep();
        // Cuts the part file back to where this writer began.
        bool discard();

    private:
        friend class AlbumStore;
        PartWriter(AlbumStore &store, std::unique_ptr<QFile> file, qint64 offset, QString pending);
        bool fail(const QString &error);

        AlbumStore &store_;
        std::unique_ptr<QFile> file_;
        const qint64 start_;
        qint64 good_;
        QByteArray buffer_;
        Problem problem_;
        QString pending_; // the mark of bytes waiting for their checksum; empty when none
    };

    // Opening the store cuts off bytes that a crash left waiting for their checksum.
    explicit AlbumStore(QString dataFolder);

    // Accounts: e-mail address -> password. An e-mail address that could not be a folder name
    // is refused (false) with the reason in `error`.
    bool addAccount(const QString &email, const QString &password, QString *error = nullptr);
    bool checkAccount(const QString &email, const QString &password) const;
    bool hasAccounts() const;

    // The account's albums, sorted by name.
    QStringList albums(const QString &email) const;
    bool createAlbum(const QString &email, const QString &album, QString *error = nullptr);
    // Photos of an album, sorted by name.
    QStringList photos(const QString &email, const QString &album) const;
    QStringList accounts() const;

    // Why `name` cannot be an album or photo name; empty when it can.
    static QString nameProblem(const QString &name);
    // "IMG.jpg", then "IMG (1).jpg", "IMG (2).jpg", ..., the stem shortened where the number
    // would make the name longer than 255 bytes.
    static QString numberedName(const QString &name, int n);

    // Starts an upload; a photo of length 0 is filed at once. Returns the upload, or nothing
    // with what went wrong.
    std::optional<Upload> createUpload(const QString &account, const QString &album, const QString &fileName,
                                       qint64 length, Problem *problem);
    // The upload `id` of `account`, with its offset as received so far; nothing when unknown,
    // another account's, or its record does not hold up.
    std::optional<Upload> upload(const QString &account, const QString &id) const;

    // One writer per upload at a time: false while another holds it.
    bool lock(const QString &id);
    void unlock(const QString &id);
    // Writes at the end of the upload's part file (the caller holds the upload's lock);
    // `checked`: the bytes count only once their checksum has been found right (`keep`).
    std::unique_ptr<PartWriter> openPart(const Upload &upload, Problem *problem, bool checked = false);

    // Reads the offset from the part file and, when the photo is whole, files it into its
    // album under a name no other photo there has (the caller holds the upload's lock). False,
    // with the problem, when the bytes are whole but cannot be filed now; a later call tries
    // again.
    bool received(Upload &upload, Problem *problem);

    QString partPath(const QString &id) const;
    QString pendingPath(const QString &id) const;

    // For tests: every write of upload bytes fails, as on a full disk, once this many more
    // bytes have been written. Negative: never.
    void failWritesAfter(qint64 bytes) { writeBudget_ = bytes; }

private:
    QString uploadsFolder() const;
    QString infoPath(const QString &id) const;
    void dropUncheckedBytes();
    bool writeInfo(const Upload &upload) const;
    bool file(Upload &upload, Problem *problem);
    qint64 allowWrite(qint64 bytes);

    QString data_;
    mutable std::mutex mutex_;
    QMap<QString, QString> accounts_;
    QSet<QString> locked_;
    std::atomic<qint64> writeBudget_ = -1;
};
