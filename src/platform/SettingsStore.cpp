#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <limits>
#include <vector>

namespace {

constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QString key(const QString &section, const QString &name)
{
    return section + u'/' + name;
}

QString recentName(int n)
{
    return QStringLiteral("File%1").arg(n);
}

QString textOf(const QVariant &value)
{
    // A hand-edited "a,b" is read back by the INI format as a list; it was meant as text.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

// The store's integers are 32-bit words: anything that is not one takes the default.
int intOf(const QVariant &value, int defaultValue)
{
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong n = textOf(value).trimmed().toLongLong(&ok);
    if (!ok || n < std::numeric_limits<qint32>::min() || n > qlonglong(std::numeric_limits<quint32>::max()))
        return defaultValue;
    return int(quint32(n));
}

} // namespace

QString SettingsStore::defaultFile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tessaly"),
                     QStringLiteral("Quillmere"))
        .fileName();
}

QStringList SettingsStore::systemFiles()
{
    const QString programFolder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return systemFiles(qEnvironmentVariable("XDG_CONFIG_DIRS"), programFolder);
}

QStringList SettingsStore::systemFiles(const QString &xdgConfigDirs, const QString &programFolder)
{
    // The base-directory rules: relative folders are ignored, and an unset or empty variable
    // means /etc/xdg.
    QStringList folders;
    for (const QString &folder : xdgConfigDirs.split(u':', Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(folder))
            folders << QDir::cleanPath(folder);
    if (folders.isEmpty())
        folders << QStringLiteral("/etc/xdg");
    // An installation below another prefix than /usr (/usr/local, /opt/quillmere) has its
    // defaults in <prefix>/etc/xdg, which the rules above never name: without it, its first
    // start would find nothing installed. Last, so that it never overrides the rules' folders.
    if (QDir::isAbsolutePath(programFolder)) {
        const QDir bin(QDir::cleanPath(programFolder));
        if (bin.dirName() == u"bin") {
            const QString prefix = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("..")));
            const bool system = prefix == u"/usr" || prefix == u"/";
            const QString own = system ? QStringLiteral("/etc/xdg") : prefix + QStringLiteral("/etc/xdg");
            if (!folders.contains(own))
                folders << own;
        }
    }
    QStringList files;
    for (const QString &folder : folders)
        files << folder + QStringLiteral("/Tessaly/Quillmere.conf");
    return files;
}

SettingsStore::SettingsStore(QString file)
    : SettingsStore(file, file == defaultFile() ? systemFiles() : QStringList())
{
}

SettingsStore::SettingsStore(QString file, QStringList systemFiles)
    : file_(std::move(file)), systemFiles_(std::move(systemFiles))
{
}

SettingsStore::~SettingsStore() = default;

// Reads a value from the store's own file, else from the first system-wide file that has it.
class SettingsStore::Reader
{
public:
    Reader(const QString &file, const QStringList &systemFiles)
    {
        files_.push_back(std::make_unique<QSettings>(file, QSettings::IniFormat));
        for (const QString &system : systemFiles)
            files_.push_back(std::make_unique<QSettings>(system, QSettings::IniFormat));
    }

    QVariant value(const QString &key) const
    {
        for (const auto &file : files_) {
            QVariant v = file->value(key);
            if (v.isValid())
                return v;
        }
        return {};
    }

private:
    std::vector<std::unique_ptr<QSettings>> files_;
};

std::unique_ptr<QSettings> SettingsStore::open() const
{
    return std::make_unique<QSettings>(file_, QSettings::IniFormat);
}

std::unique_ptr<SettingsStore::Reader> SettingsStore::read() const
{
    return std::make_unique<Reader>(file_, systemFiles_);
}

bool SettingsStore::HasSystemDefaults() const
{
    for (const QString &file : systemFiles_) {
        const QFileInfo info(file);
        if (info.isFile() && info.isReadable())
            return true;
    }
    return false;
}

void SettingsStore::makePrivate() const
{
    // The store holds the account's password. QSettings keeps the mode of a file that
    // exists but creates a new one readable by all, so the file is made here first.
    constexpr QFile::Permissions Others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
                                          | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    const QFileInfo info(file_);
    if (info.exists()) {
        // A file made by hand or by an older copy is tightened at the next write.
        if (QFile::permissions(file_) & Others)
            QFile::setPermissions(file_, OwnerOnly);
        return;
    }
    QDir().mkpath(info.absolutePath());
    QFile file(file_);
    file.open(QIODevice::WriteOnly, OwnerOnly);
}

bool SettingsStore::finish(QSettings &settings) const
{
    settings.sync();
    // A file that could not be parsed whole is still rewritten from what could be read;
    // only a failure to write counts.
    return settings.status() != QSettings::AccessError;
}

bool SettingsStore::CheckSettingsKey() const
{
    const QFileInfo info(file_);
    if (!info.isFile() || !info.isReadable() || !info.isWritable())
        return false;
    auto settings = open();
    return settings->status() != QSettings::AccessError && settings->childGroups().contains(SettingsSection);
}

QString SettingsStore::ReadString(const QString &section, const QString &name) const
{
    return textOf(read()->value(key(section, name)));
}

int SettingsStore::ReadInt(const QString &section, const QString &name, int defaultValue) const
{
    return intOf(read()->value(key(section, name)), defaultValue);
}

bool SettingsStore::WriteString(const QString &section, const QString &name, const QString &value)
{
    makePrivate();
    auto settings = open();
    settings->setValue(key(section, name), value);
    return finish(*settings);
}

bool SettingsStore::WriteInt(const QString &section, const QString &name, int value)
{
    makePrivate();
    auto settings = open();
    settings->setValue(key(section, name), value);
    return finish(*settings);
}

bool SettingsStore::LoadSettings(Settings &s) const
{
    // One fresh open serves every value, read in the order the option table lists them.
    auto st = read();
    auto str = [&](const char *name) { return textOf(st->value(key(SettingsSection, QLatin1String(name)))); };
    auto num = [&](const char *name, int def) { return intOf(st->value(key(SettingsSection, QLatin1String(name))), def); };
    s.executablePath = str("ExecutablePath");
    s.httpServer = str("QLMHttpServer");
    s.httpPort = num("QLMHttpPort", 80);
    s.userName = str("QLMUserName");
    s.password = str("QLMPassword");
    s.automaticUpload = num("AutomaticUpload", 0);
    s.automaticUpdate = num("AutomaticUpdate", 0);
    s.automaticResize = num("AutomaticResize", 0);
    s.maxPixelSize = quint32(num("MaxPixelSize", 300));
    s.launchTiVo = num("LaunchTiVo", 1);
    s.notifyIfUploadFails = num("NotifyIfUploadFails", 1);
    return true;
}

bool SettingsStore::SaveSettings(const Settings &s)
{
    makePrivate();
    auto st = open();
    st->beginGroup(SettingsSection);
    st->setValue(QStringLiteral("AutomaticUpload"), s.automaticUpload);
    st->setValue(QStringLiteral("AutomaticUpdate"), s.automaticUpdate);
    st->setValue(QStringLiteral("AutomaticResize"), s.automaticResize);
    st->setValue(QStringLiteral("MaxPixelSize"), s.maxPixelSize);
    st->setValue(QStringLiteral("LaunchTiVo"), s.launchTiVo);
    st->setValue(QStringLiteral("NotifyIfUploadFails"), s.notifyIfUploadFails);
    st->endGroup();
    return finish(*st);
}

QStringList SettingsStore::ReadRecentFolders() const
{
    auto st = read();
    QStringList folders;
    for (int n = 1; n <= RecentFolderCount; ++n) {
        const QString folder = textOf(st->value(key(RecentSection, recentName(n))));
        if (folder.isEmpty())
            break;
        folders << folder;
    }
    return folders;
}

QString SettingsStore::ReadRecentFolder(int n) const
{
    if (n < 1 || n > RecentFolderCount)
        return {};
    return ReadString(RecentSection, recentName(n));
}

bool SettingsStore::WriteRecentFolders(const QStringList &folders)
{
    makePrivate();
    auto st = open();
    // The section is dropped and written anew in the same save, so a stale fifth entry can
    // never survive and no reader ever sees half a list.
    st->remove(RecentSection);
    int n = 0;
    for (const QString &folder : folders) {
        if (folder.isEmpty())
            continue;
        if (++n > RecentFolderCount)
            break;
        st->setValue(key(RecentSection, recentName(n)), folder);
    }
    return finish(*st);
}
