#pragma once

#include <QString>

// The entry that starts the program when the user logs on: an XDG autostart file
// Quillmere.desktop whose command is the quoted program path followed by " RunMinimized".
// Its presence says that the option is on, unless the desktop has switched it off in place.
class AutostartEntry
{
public:
    // The user's autostart folder.
    static QString defaultFolder();

    explicit AutostartEntry(QString folder = defaultFolder());

    QString filePath() const;
    bool isPresent() const;
    bool write(const QString &programPath) const;
    bool remove() const;

    // The Exec value: "<program path>" RunMinimized, quoted and escaped for a desktop file.
    static QString execLine(const QString &programPath);
    static QString fileText(const QString &programPath);

private:
    QString folder_;
};
