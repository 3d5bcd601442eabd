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
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QFile::exists(filePath());
    // A desktop's own list of start-up programs switches an entry off in place, leaving the
    // file: such an entry starts nothing, so the option is off.
    bool inEntry = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('['))
            inEntry = line == "[Desktop Entry]";
        else if (inEntry && (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false"))
            return false;
    }
    return true;
}

QString AutostartEntry::execLine(const QString &programPath)
{
    // Inside a quoted argument the desktop-entry rules escape " ` $ and \ with a backslash.
    // The file's own string escaping comes on top: every backslash is doubled once more, and
    // a line break, tab or carriage return in a name is written \n, \t, \r, or it would end
    // the line and start a key of its own. "%" is written "%%": a lone one starts a field code.
    QString quoted;
    for (QChar c : programPath) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    QString value;
    for (QChar c : quoted) {
        switch (c.unicode()) {
        case u'\\': value += QStringLiteral("\\\\"); break;
        case u'\n': value += QStringLiteral("\\n"); break;
        case u'\t': value += QStringLiteral("\\t"); break;
        case u'\r': value += QStringLiteral("\\r"); break;
        case u'%': value += QStringLiteral("%%"); break;
        default: value += c; break;
        }
    }
    return u'"' + value + QStringLiteral("\" RunMinimized");
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
    return !QFile::exists(filePath()) || QFile::remove(filePath());
}
