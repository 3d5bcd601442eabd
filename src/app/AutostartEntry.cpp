#include "app/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

QString AutostartEntry::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

AutostartEntry::AutostartEntry(QString folder) : folder_(std::move(folder)) {}

QString AutostartEntry::filePath() const
{
    return folder_ + QStringLiteral("/Quillmere.desktop");
}

bool AutostartEntry::isPresent() const
{
    return QFile::exists(filePath());
}

QString AutostartEntry::execLine(const QString &programPath)
{
    // Inside a quoted argument the desktop-entry rules escape " ` $ and \ with a backslash;
    // the file's own string escaping then doubles every backslash once more, and "%" is
    // written "%%" because a lone one starts a field code.
    QString quoted;
    for (QChar c : programPath) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + QStringLiteral("\" RunMinimized");
}

QString AutostartEntry::fileText(const QString &programPath)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Quillmere\n"
                          "Comment=Upload new photos from cameras and card readers\n"
                          "Exec=%1\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execLine(programPath));
}

bool AutostartEntry::write(const QString &programPath) const
{
    if (!QDir().mkpath(folder_))
        return false;
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(fileText(programPath).toUtf8());
    return file.commit();
}

bool AutostartEntry::remove() const
{
    return !isPresent() || QFile::remove(filePath());
}
