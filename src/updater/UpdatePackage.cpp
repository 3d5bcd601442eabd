#include "updater/UpdatePackage.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

bool IsPlainPackageName(const QString &name)
{
    if (name.isEmpty() || name.size() > 255 || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')
                           || QStringView(u"._+~-").contains(c);
        if (!plain)
            return false;
    }
    return true;
}

std::optional<UpdateAnnouncement> ParseUpdateAnnouncement(const QByteArray &json, QString *why)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject()) {
        *why = QStringLiteral("the announcement is not a JSON object");
        return std::nullopt;
    }
    const QJsonObject o = document.object();
    UpdateAnnouncement a;
    a.version = o.value(QStringLiteral("version")).toString();
    a.name = o.value(QStringLiteral("name")).toString();
    const QJsonValue size = o.value(QStringLiteral("size"));
    const QByteArray hex = o.value(QStringLiteral("sha256")).toString().toLatin1();
    a.sha256 = QByteArray::fromHex(hex);
    // A JSON number is a double: sizes are exact up to 2^53, far above the largest package.
    const double bytes = size.toDouble(-1);
    if (a.version.isEmpty())
        *why = QStringLiteral("the announcement names no version");
    else if (!IsPlainPackageName(a.name))
        *why = QStringLiteral("the announced package name is not a plain file name");
    else if (!a.name.endsWith(QStringLiteral(".deb")))
        // xdg-open hands a file to whatever the desktop links with its type: for a Debian
        // package that is the software installer, for others it may be a program that runs it.
        *why = QStringLiteral("the announced package is not a Debian package (.deb)");
    else if (!size.isDouble() || bytes < 0 || bytes > double(kMaxPackageBytes) || bytes != std::floor(bytes))
        *why = QStringLiteral("the announced size is not a number from 0 to ") + QString::number(kMaxPackageBytes);
    else if (hex.size() != 64 || a.sha256.size() != 32 || a.sha256.toHex() != hex.toLower())
        *why = QStringLiteral("the announced SHA-256 is not 64 hexadecimal digits");
    else {
        a.size = qint64(bytes);
        return a;
    }
    return std::nullopt;
}

QString ServiceAddressOf(const QString &checkAddress)
{
    QString base = checkAddress;
    if (base.endsWith(QStringLiteral("/support")))
        base.chop(8);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

FetchedPackage FetchUpdatePackage(const QString &checkAddress, const QString &tempFolder,
                                  const HttpClient::Options &options)
{
    FetchedPackage result;
    const QString service = ServiceAddressOf(checkAddress);
    HttpClient::Options small = options;
    small.maxReplyBytes = 64 * 1024;
    HttpClient announcer(small);
    const HttpReply offer = announcer.get(service + QStringLiteral("/update"));
    if (!offer.completed()) {
        result.error = QStringLiteral("cannot ask ") + service + QStringLiteral(" for an update: ") + offer.error;
        return result;
    }
    if (offer.status == 404) {
        result.outcome = FetchedPackage::NoPackage;
        return result;
    }
    if (offer.status != 200) {
        result.error = service + QStringLiteral("/update answered with status ") + QString::number(offer.status);
        return result;
    }
    QString why;
    const std::optional<UpdateAnnouncement> announced = ParseUpdateAnnouncement(offer.body, &why);
    if (!announced) {
        result.error = why;
        return result;
    }

    HttpClient::Options big = options;
    big.timeoutSeconds = 0; // a large package on a slow line takes what it takes; stalls still end it
    big.maxReplyBytes = announced->size + 1; // one byte more shows a body longer than announced
    HttpClient downloader(big);
    const HttpReply package = downloader.get(service + QStringLiteral("/update/") + announced->name);
    if (!package.completed() || package.status != 200) {
        result.error = QStringLiteral("cannot download ") + announced->name + QStringLiteral(": ")
                       + (package.completed() ? QStringLiteral("status ") + QString::number(package.status)
                                              : package.error);
        return result;
    }
    if (package.body.size() != announced->size) {
        result.error = announced->name + QStringLiteral(" is not the size announced");
        return result;
    }
    if (QCryptographicHash::hash(package.body, QCryptographicHash::Sha256) != announced->sha256) {
        result.error = announced->name + QStringLiteral(" does not have the SHA-256 announced");
        return result;
    }

    QTemporaryDir folder(QDir(tempFolder).filePath(QStringLiteral("quillmere-update-XXXXXX")));
    if (!folder.isValid()) {
        result.error = QStringLiteral("cannot make a folder in ") + tempFolder + QStringLiteral(": ") + folder.errorString();
        return result;
    }
    QFile file(folder.filePath(announced->name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(package.body) != package.body.size() || !file.flush()) {
        result.error = QStringLiteral("cannot write ") + file.fileName() + QStringLiteral(": ") + file.errorString();
        return result;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("cannot write ") + file.fileName() + QStringLiteral(": ") + file.errorString();
        return result;
    }
    // The installer reads the package after this program has ended.
    folder.setAutoRemove(false);
    result.outcome = FetchedPackage::Fetched;
    result.file = file.fileName();
    return result;
}

bool HandToDesktop(const QString &file, int waitMs, QString *error)
{
    const QByteArray path = QFile::encodeName(file);
    char program[] = "xdg-open";
    char *argv[] = {program, const_cast<char *>(path.constData()), nullptr};
    pid_t pid = 0;
    // Not QProcess: it would kill an xdg-open still busy when this program ends.
    const int spawned = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
    if (spawned != 0) {
        *error = QStringLiteral("cannot start xdg-open: ") + QString::fromLocal8Bit(std::strerror(spawned));
        return false;
    }
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                return true;
            *error = WIFEXITED(status) ? QStringLiteral("xdg-open failed with status ") + QString::number(WEXITSTATUS(status))
                                       : QStringLiteral("xdg-open was ended by a signal");
            return false;
        }
        if (done < 0 && errno != EINTR) {
            *error = QStringLiteral("cannot wait for xdg-open: ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (deadline.hasExpired())
            return true;
        QThread::msleep(20);
    }
}
