#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// What the reference album service keeps on disk, under one data folder:
//   <data>/<e-mail>/<album>/<photo>      the albums, one folder each
//   <data>/.uploads/<id>.info, <id>.part uploads still being received
// A photo enters its album only when it is whole, by renaming the finished part file, so an
// album never shows half a photo. Every name that comes from a request is checked before it
// touches the disk, so nothing can leave the data folder.
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
    };

    explicit AlbumStore(QString dataFolder);

    // Accounts: e-mail address -> password. An e-mail address that could not be a folder name
    // is refused (false) with the reason in `error`.
    bool addAccount(const QString &email, const QString &password, QString *error = nullptr);
    bool checkAccount(const QString &email, const QString &password) const;
    bool hasAccounts() const { return !accounts_.isEmpty(); }

    // The account's albums, sorted by name.
    QStringList albums(const QString &email) const;
    bool createAlbum(const QString &email, const QString &album, QString *error = nullptr);
    // Photos of an album, sorted by name.
    QStringList photos(const QString &email, const QString &album) const;
    QStringList accounts() const { return accounts_.keys(); }

    // Why `name` cannot be an album or photo name; empty when it can.
    static QString nameProblem(const QString &name);

    // Starts an upload; a photo of length 0 is filed at once. Returns the upload, or nothing
    // with the reason in `error`.
    std::optional<Upload> createUpload(const QString &account, const QString &album, const QString &fileName,
                                       qint64 length, QString *error);
    // The upload `id` of `account`, with its offset as received so far.
    std::optional<Upload> upload(const QString &account, const QString &id) const;
    // Where the bytes of an upload are collected; whoever receives them appends there.
    QString partPath(const QString &id) const;
    // Reads the offset from the part file and, when the photo is whole, files it into its
    // album under a name no other photo there has.
    bool received(Upload &upload, QString *error);

private:
    QString uploadsFolder() const;
    QString infoPath(const QString &id) const;
    bool writeInfo(const Upload &upload) const;
    bool file(Upload &upload, QString *error);

    QString data_;
    QMap<QString, QString> accounts_;
};
