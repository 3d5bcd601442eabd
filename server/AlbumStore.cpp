#include "AlbumStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>

namespace {

QStringList SortedNames(const QString &folder, QDir::Filters filters)
{
    QStringList names = QDir(folder).entryList(filters | QDir::NoDotAndDotDot, QDir::Name);
    names.erase(std::remove_if(names.begin(), names.end(), [](const QString &n) { return n.startsWith(QLatin1Char('.')); }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

// "IMG.jpg", then "IMG (1).jpg", "IMG (2).jpg", ...
QString NumberedName(const QString &name, int n)
{
    if (n == 0)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QStringLiteral("%1 (%2)").arg(name).arg(n);
    return QStringLiteral("%1 (%2)%3").arg(name.left(dot)).arg(n).arg(name.mid(dot));
}

bool ValidId(const QString &id)
{
    if (id.size() != 32)
        return false;
    return std::all_of(id.begin(), id.end(), [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

} // namespace

AlbumStore::AlbumStore(QString dataFolder) : data_(QDir(dataFolder).absolutePath())
{
    QDir().mkpath(uploadsFolder());
}

QString AlbumStore::nameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("The name is empty.");
    if (name.toUtf8().size() > 255)
        return QStringLiteral("The name is longer than 255 bytes.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("The name \"%1\" is not allowed.").arg(name);
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("A name may not begin with a dot.");
    for (QChar c : name) {
        if (c == u'/' || c == u'\\')
            return QStringLiteral("A name may not contain \"/\" or \"\\\".");
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("A name may not contain control characters.");
    }
    if (name.contains(QChar(0xFFFD)))
        return QStringLiteral("The name is not valid UTF-8 text.");
    return {};
}

bool AlbumStore::addAccount(const QString &email, const QString &password, QString *error)
{
    const QString problem = nameProblem(email);
    if (!problem.isEmpty() || !email.contains(QLatin1Char('@'))) {
        if (error)
            *error = QStringLiteral("\"%1\" cannot be an account: %2").arg(email, problem.isEmpty() ? QStringLiteral("no \"@\".") : problem);
        return false;
    }
    accounts_.insert(email, password);
    QDir().mkpath(data_ + QLatin1Char('/') + email);
    return true;
}

bool AlbumStore::checkAccount(const QString &email, const QString &password) const
{
    const auto it = accounts_.find(email);
    return it != accounts_.end() && it.value() == password;
}

QStringList AlbumStore::albums(const QString &email) const
{
    if (!accounts_.contains(email))
        return {};
    return SortedNames(data_ + QLatin1Char('/') + email, QDir::Dirs);
}

bool AlbumStore::createAlbum(const QString &email, const QString &album, QString *error)
{
    const QString problem = nameProblem(album);
    if (!problem.isEmpty() || !accounts_.contains(email)) {
        if (error)
            *error = problem.isEmpty() ? QStringLiteral("No such account.") : QStringLiteral("Invalid album name: ") + problem;
        return false;
    }
    return QDir().mkpath(data_ + QLatin1Char('/') + email + QLatin1Char('/') + album);
}

QStringList AlbumStore::photos(const QString &email, const QString &album) const
{
    if (!accounts_.contains(email) || !nameProblem(album).isEmpty())
        return {};
    return SortedNames(data_ + QLatin1Char('/') + email + QLatin1Char('/') + album, QDir::Files);
}

QString AlbumStore::uploadsFolder() const
{
    return data_ + QStringLiteral("/.uploads");
}

QString AlbumStore::infoPath(const QString &id) const
{
    return uploadsFolder() + QLatin1Char('/') + id + QStringLiteral(".info");
}

QString AlbumStore::partPath(const QString &id) const
{
    return uploadsFolder() + QLatin1Char('/') + id + QStringLiteral(".part");
}

bool AlbumStore::writeInfo(const Upload &u) const
{
    QSaveFile f(infoPath(u.id));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("account=%1\nalbum=%2\nfile=%3\nlength=%4\nphoto=%5\n")
                             .arg(u.account, u.album, u.fileName)
                             .arg(u.length)
                             .arg(u.photo);
    f.write(text.toUtf8());
    return f.commit();
}

std::optional<AlbumStore::Upload> AlbumStore::createUpload(const QString &account, const QString &album,
                                                           const QString &fileName, qint64 length, QString *error)
{
    if (!accounts_.contains(account)) {
        *error = QStringLiteral("Invalid e-mail address or password");
        return std::nullopt;
    }
    if (const QString p = nameProblem(album); !p.isEmpty()) {
        *error = QStringLiteral("Invalid album name: ") + p;
        return std::nullopt;
    }
    if (const QString p = nameProblem(fileName); !p.isEmpty()) {
        *error = QStringLiteral("Invalid file name: ") + p;
        return std::nullopt;
    }
    if (length < 0 || length > kMaxPhotoBytes) {
        *error = QStringLiteral("A photo may hold at most %1 bytes.").arg(kMaxPhotoBytes);
        return std::nullopt;
    }
    Upload u;
    u.id = QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0')
           + QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
    u.account = account;
    u.album = album;
    u.fileName = fileName;
    u.length = length;
    QFile part(partPath(u.id));
    if (!part.open(QIODevice::WriteOnly) || !writeInfo(u)) {
        *error = QStringLiteral("The service cannot store the photo now.");
        return std::nullopt;
    }
    part.close();
    if (!received(u, error))
        return std::nullopt;
    return u;
}

std::optional<AlbumStore::Upload> AlbumStore::upload(const QString &account, const QString &id) const
{
    if (!ValidId(id))
        return std::nullopt;
    QFile f(infoPath(id));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    Upload u;
    u.id = id;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq), value = line.mid(eq + 1);
        if (key == QLatin1String("account"))
            u.account = value;
        else if (key == QLatin1String("album"))
            u.album = value;
        else if (key == QLatin1String("file"))
            u.fileName = value;
        else if (key == QLatin1String("length"))
            u.length = value.toLongLong();
        else if (key == QLatin1String("photo"))
            u.photo = value;
    }
    if (u.account != account)
        return std::nullopt;
    u.offset = u.photo.isEmpty() ? QFileInfo(partPath(id)).size() : u.length;
    return u;
}

bool AlbumStore::received(Upload &u, QString *error)
{
    if (!u.photo.isEmpty())
        return true;
    u.offset = QFileInfo(partPath(u.id)).size();
    if (u.offset < u.length)
        return true;
    if (u.offset > u.length) {
        *error = QStringLiteral("More bytes arrived than the upload announced.");
        return false;
    }
    return file(u, error);
}

bool AlbumStore::file(Upload &u, QString *error)
{
    const QString albumFolder = data_ + QLatin1Char('/') + u.account + QLatin1Char('/') + u.album;
    if (!QDir().mkpath(albumFolder)) {
        *error = QStringLiteral("The service cannot create the album.");
        return false;
    }
    // QFile::rename never replaces an existing file, so two photos of one name both stay.
    for (int n = 0; n < 100000; ++n) {
        const QString name = NumberedName(u.fileName, n);
        if (name.toUtf8().size() > 255)
            break;
        const QString target = albumFolder + QLatin1Char('/') + name;
        if (QFileInfo::exists(target))
            continue;
        if (QFile::rename(partPath(u.id), target)) {
            u.photo = u.album + QLatin1Char('/') + name;
            writeInfo(u);
            return true;
        }
    }
    *error = QStringLiteral("The service cannot file the photo into its album.");
    return false;
}
