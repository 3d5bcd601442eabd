#include "AlbumStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qsizetype kWriteBuffer = 256 * 1024;

QStringList SortedNames(const QString &folder, QDir::Filters filters)
{
    QStringList names = QDir(folder).entryList(filters | QDir::NoDotAndDotDot, QDir::Name);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString &n) { return !AlbumStore::nameProblem(n).isEmpty(); }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

bool ValidId(const QString &id)
{
    if (id.size() != 32)
        return false;
    return std::all_of(id.begin(), id.end(), [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

AlbumStore::Problem Trouble(int status, const QString &reason)
{
    return {status, reason};
}

// A new name in a folder is on the disk only once the folder itself is.
bool SyncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace

AlbumStore::AlbumStore(QString dataFolder) : data_(QDir(dataFolder).absolutePath())
{
    QDir().mkpath(uploadsFolder());
    dropUncheckedBytes();
}

// Bytes that were waiting for their checksum when the service stopped were never proved
// right: the upload goes on from where it stood before them.
void AlbumStore::dropUncheckedBytes()
{
    const QStringList marks = QDir(uploadsFolder()).entryList({QStringLiteral("*.unchecked")}, QDir::Files);
    for (const QString &mark : marks) {
        const QString id = mark.chopped(10);
        QFile f(pendingPath(id));
        bool ok = false;
        const qint64 start = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong(&ok) : -1;
        // No number: the mark was cut short, so no byte was written after it.
        if (ok && ValidId(id) && QFileInfo(partPath(id)).size() > start && !QFile::resize(partPath(id), start))
            continue; // tried again at the next start
        f.remove();
    }
}

QString AlbumStore::nameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("The name is empty.");
    if (name.toUtf8().size() > 255)
        return QStringLiteral("The name is longer than 255 bytes.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("The names \".\" and \"..\" are not allowed.");
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("A name may not begin with a dot.");
    for (QChar c : name) {
        if (c == u'/' || c == u'\\')
            return QStringLiteral("A name may not contain \"/\" or \"\\\".");
        if (c.category() == QChar::Other_Control) // C0, DEL and C1 (U+0085 ends a line too)
            return QStringLiteral("A name may not contain control characters.");
    }
    if (name.contains(QChar(0xFFFD)) || !name.isValidUtf16())
        return QStringLiteral("The name is not valid UTF-8 text.");
    return {};
}

QString AlbumStore::numberedName(const QString &name, int n)
{
    if (n == 0)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString stem = dot <= 0 ? name : name.left(dot);
    const QString tail = QStringLiteral(" (") + QString::number(n) + QLatin1Char(')') + (dot <= 0 ? QString() : name.mid(dot));
    while (!stem.isEmpty() && (stem + tail).toUtf8().size() > 255)
        stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
    return stem.isEmpty() ? QString() : stem + tail;
}

bool AlbumStore::addAccount(const QString &email, const QString &password, QString *error)
{
    const QString problem = nameProblem(email);
    if (!problem.isEmpty() || !email.contains(QLatin1Char('@'))) {
        if (error)
            *error = QLatin1Char('"') + email + QStringLiteral("\" cannot be an account: ")
                     + (problem.isEmpty() ? QStringLiteral("no \"@\".") : problem);
        return false;
    }
    std::lock_guard lock(mutex_);
    accounts_.insert(email, password);
    QDir().mkpath(data_ + QLatin1Char('/') + email);
    return true;
}

bool AlbumStore::checkAccount(const QString &email, const QString &password) const
{
    std::lock_guard lock(mutex_);
    const auto it = accounts_.find(email);
    return it != accounts_.end() && it.value() == password;
}

bool AlbumStore::hasAccounts() const
{
    std::lock_guard lock(mutex_);
    return !accounts_.isEmpty();
}

QStringList AlbumStore::accounts() const
{
    std::lock_guard lock(mutex_);
    return accounts_.keys();
}

QStringList AlbumStore::albums(const QString &email) const
{
    std::lock_guard lock(mutex_);
    if (!accounts_.contains(email))
        return {};
    return SortedNames(data_ + QLatin1Char('/') + email, QDir::Dirs);
}

bool AlbumStore::createAlbum(const QString &email, const QString &album, QString *error)
{
    const QString problem = nameProblem(album);
    std::lock_guard lock(mutex_);
    if (!problem.isEmpty() || !accounts_.contains(email)) {
        if (error)
            *error = problem.isEmpty() ? QStringLiteral("No such account.") : QStringLiteral("Invalid album name: ") + problem;
        return false;
    }
    return QDir().mkpath(data_ + QLatin1Char('/') + email + QLatin1Char('/') + album);
}

QStringList AlbumStore::photos(const QString &email, const QString &album) const
{
    std::lock_guard lock(mutex_);
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

QString AlbumStore::pendingPath(const QString &id) const
{
    return uploadsFolder() + QLatin1Char('/') + id + QStringLiteral(".unchecked");
}

// The one place that writes an upload's record. Names hold no line breaks (control
// characters are refused), so one value per line is unambiguous.
bool AlbumStore::writeInfo(const Upload &u) const
{
    QSaveFile f(infoPath(u.id));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("account=") + u.account + QStringLiteral("\nalbum=") + u.album
                         + QStringLiteral("\nfile=") + u.fileName + QStringLiteral("\nlength=")
                         + QString::number(u.length) + QStringLiteral("\nphoto=") + u.photo + QLatin1Char('\n');
    const QByteArray bytes = text.toUtf8();
    return f.write(bytes) == bytes.size() && f.commit();
}

std::optional<AlbumStore::Upload> AlbumStore::createUpload(const QString &account, const QString &album,
                                                           const QString &fileName, qint64 length, Problem *problem)
{
    if (const QString p = nameProblem(album); !p.isEmpty()) {
        *problem = Trouble(400, QStringLiteral("Invalid album name: ") + p);
        return std::nullopt;
    }
    if (const QString p = nameProblem(fileName); !p.isEmpty()) {
        *problem = Trouble(400, QStringLiteral("Invalid file name: ") + p);
        return std::nullopt;
    }
    if (length < 0 || length > kMaxPhotoBytes) {
        *problem = Trouble(413, QStringLiteral("A photo may hold at most ") + QString::number(kMaxPhotoBytes)
                                    + QStringLiteral(" bytes."));
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    if (!accounts_.contains(account)) {
        *problem = Trouble(401, QStringLiteral("Invalid e-mail address or password"));
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
        QFile::remove(partPath(u.id));
        *problem = Trouble(500, QStringLiteral("The service cannot store the photo now."));
        return std::nullopt;
    }
    part.close();
    if (length == 0 && !file(u, problem)) {
        QFile::remove(partPath(u.id));
        QFile::remove(infoPath(u.id));
        return std::nullopt;
    }
    return u;
}

std::optional<AlbumStore::Upload> AlbumStore::upload(const QString &account, const QString &id) const
{
    if (!ValidId(id))
        return std::nullopt;
    // Filing renames the part file and then rewrites the record, under this lock: read
    // without it, an upload being filed would look unknown for that moment.
    std::lock_guard lock(mutex_);
    QFile f(infoPath(id));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    Upload u;
    u.id = id;
    u.length = -1;
    bool hasPhoto = false;
    for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
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
            u.photo = value, hasPhoto = true;
    }
    // The record is read back from the disk: it is checked as if a client had sent it.
    if (u.account != account || !nameProblem(u.album).isEmpty() || !nameProblem(u.fileName).isEmpty()
        || u.length < 0 || u.length > kMaxPhotoBytes || !hasPhoto)
        return std::nullopt;
    if (!u.photo.isEmpty()) {
        const QString prefix = u.album + QLatin1Char('/');
        if (!u.photo.startsWith(prefix) || !nameProblem(u.photo.mid(prefix.size())).isEmpty())
            return std::nullopt;
        u.offset = u.length;
        return u;
    }
    const QFileInfo part(partPath(id));
    if (!part.isFile())
        return std::nullopt;
    u.offset = part.size();
    return u;
}

bool AlbumStore::lock(const QString &id)
{
    std::lock_guard guard(mutex_);
    if (locked_.contains(id))
        return false;
    locked_.insert(id);
    return true;
}

void AlbumStore::unlock(const QString &id)
{
    std::lock_guard guard(mutex_);
    locked_.remove(id);
}

std::unique_ptr<AlbumStore::PartWriter> AlbumStore::openPart(const Upload &u, Problem *problem, bool checked)
{
    auto part = std::make_unique<QFile>(partPath(u.id));
    if (!part->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *problem = Trouble(500, QStringLiteral("The service cannot store the photo now."));
        return nullptr;
    }
    const qint64 offset = part->size();
    QString pending;
    if (checked) {
        // Written whole before any byte it covers.
        QFile mark(pendingPath(u.id));
        const QByteArray text = QByteArray::number(offset) + '\n';
        if (!mark.open(QIODevice::WriteOnly | QIODevice::Truncate) || mark.write(text) != text.size() || !mark.flush()) {
            mark.remove();
            *problem = Trouble(500, QStringLiteral("The service cannot store the photo now."));
            return nullptr;
        }
        pending = mark.fileName();
    }
    return std::unique_ptr<PartWriter>(new PartWriter(*this, std::move(part), offset, pending));
}

qint64 AlbumStore::allowWrite(qint64 bytes)
{
    qint64 budget = writeBudget_.load();
    for (;;) {
        if (budget < 0)
            return bytes;
        const qint64 take = std::min(bytes, budget);
        if (writeBudget_.compare_exchange_weak(budget, budget - take))
            return take;
    }
}

AlbumStore::PartWriter::PartWriter(AlbumStore &store, std::unique_ptr<QFile> file, qint64 offset, QString pending)
    : store_(store), file_(std::move(file)), start_(offset), good_(offset), pending_(std::move(pending))
{
    buffer_.reserve(kWriteBuffer);
}

AlbumStore::PartWriter::~PartWriter()
{
    if (pending_.isEmpty())
        flush();
    else
        discard();
}

bool AlbumStore::PartWriter::write(const char *data, qint64 size)
{
    if (problem_.status)
        return false;
    buffer_.append(data, qsizetype(size));
    return buffer_.size() < kWriteBuffer || flush();
}

bool AlbumStore::PartWriter::flush()
{
    if (problem_.status)
        return false;
    if (buffer_.isEmpty())
        return true;
    const qint64 allowed = store_.allowWrite(buffer_.size());
    errno = 0;
    const qint64 written = file_->write(buffer_.constData(), allowed);
    if (allowed < buffer_.size())
        errno = ENOSPC; // the test seam stands for a full disk
    if (written != buffer_.size())
        return fail(file_->errorString());
    good_ += written;
    buffer_.clear();
    return true;
}

bool AlbumStore::PartWriter::fail(const QString &error)
{
    const bool full = errno == ENOSPC || errno == EDQUOT;
    buffer_.clear();
    file_->resize(good_);
    problem_ = full ? Trouble(507, QStringLiteral("The service has no room for the photo now."))
                    : Trouble(500, QStringLiteral("The service cannot store the photo now (") + error + QStringLiteral(")."));
    return false;
}

bool AlbumStore::PartWriter::keep()
{
    if (!flush())
        return false;
    if (!pending_.isEmpty())
        QFile::remove(pending_);
    pending_.clear();
    return true;
}

bool AlbumStore::PartWriter::discard()
{
    buffer_.clear();
    if (!file_->resize(start_))
        return false; // the mark stays: the next start cuts the bytes off
    good_ = start_;
    if (!pending_.isEmpty())
        QFile::remove(pending_);
    pending_.clear();
    return true;
}

bool AlbumStore::received(Upload &u, Problem *problem)
{
    if (!u.photo.isEmpty())
        return true;
    u.offset = QFileInfo(partPath(u.id)).size();
    if (u.offset < u.length)
        return true;
    if (u.offset > u.length) {
        *problem = Trouble(500, QStringLiteral("More bytes arrived than the upload announced."));
        return false;
    }
    // The reply says "filed" only for bytes that are on the disk. Syncing a big photo takes
    // a while, and needs no lock: only the holder of the upload's lock writes its part file.
    QFile part(partPath(u.id));
    if (!part.open(QIODevice::ReadOnly) || ::fsync(part.handle()) != 0) {
        *problem = Trouble(500, QStringLiteral("The service cannot store the photo now."));
        return false;
    }
    part.close();
    std::lock_guard lock(mutex_);
    return file(u, problem);
}

// Called with the lock held, so that two uploads never take the same name.
bool AlbumStore::file(Upload &u, Problem *problem)
{
    const QString albumFolder = data_ + QLatin1Char('/') + u.account + QLatin1Char('/') + u.album;
    if (!QDir().mkpath(albumFolder) || !QFileInfo(albumFolder).isDir()) {
        *problem = Trouble(500, QStringLiteral("The service cannot create the album."));
        return false;
    }
    // QFile::rename never replaces an existing file, so two photos of one name both stay.
    for (int n = 0; n < 100000; ++n) {
        const QString name = numberedName(u.fileName, n);
        if (name.isEmpty())
            break;
        const QString target = albumFolder + QLatin1Char('/') + name;
        if (QFileInfo::exists(target))
            continue;
        if (!QFile::rename(partPath(u.id), target))
            break;
        if (!SyncFolder(albumFolder)) {
            QFile::rename(target, partPath(u.id));
            break;
        }
        u.photo = u.album + QLatin1Char('/') + name;
        u.offset = u.length;
        if (!writeInfo(u)) {
            // Without its record the upload would look unfinished: put the bytes back.
            QFile::rename(target, partPath(u.id));
            u.photo.clear();
            break;
        }
        return true;
    }
    *problem = Trouble(500, QStringLiteral("The service cannot file the photo into its album."));
    return false;
}
