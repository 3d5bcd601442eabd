#pragma once

#include "platform/Settings.h"

#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

// The program's per-user key-value store, sections "Settings" and "Recent File List".
// It owns the format: names, types and defaults. Each call opens the store afresh, so a
// value changed by another program (or another thread of this one) is read as it is now.
// Nothing here throws or reports: a value that cannot be read takes its default, and a
// write that fails returns false.
class SettingsStore
{
public:
    static inline const QString SettingsSection = QStringLiteral("Settings");
    static inline const QString RecentSection = QStringLiteral("Recent File List");
    static constexpr int RecentFolderCount = 4;

    // The user's own store: Tessaly/Quillmere.conf in the user's configuration folder.
    static QString defaultFile();
    // The installer's values for every user: Tessaly/Quillmere.conf in each folder of
    // $XDG_CONFIG_DIRS (/etc/xdg when it is unset), the most important first, then in
    // <prefix>/etc/xdg of the installation the running program belongs to (<prefix>/bin).
    static QStringList systemFiles();
    static QStringList systemFiles(const QString &xdgConfigDirs, const QString &programFolder);

    // The store in `file`. The user's own store also reads the system-wide files, for the
    // values it has none of its own.
    explicit SettingsStore(QString file = defaultFile());
    // The store in `file`, reading `systemFiles` for the values it lacks. Writes go to `file`
    // alone.
    SettingsStore(QString file, QStringList systemFiles);
    ~SettingsStore();

    QString fileName() const { return file_; }

    // True when the section "Settings" exists in the store's own file and that file can be
    // both read and written. The system-wide files do not count.
    bool CheckSettingsKey() const;
    // A system-wide file is there: the program was installed by its package.
    bool HasSystemDefaults() const;

    // Every held value, ExecutablePath included (the album client finds its resume record
    // there).
    bool LoadSettings(Settings &settings) const;
    // Writes the six option values, in the order the options dialog lists them; false when
    // the store could not be written.
    bool SaveSettings(const Settings &settings);

    // Absent strings read as empty text, absent or unreadable integers as the default.
    QString ReadString(const QString &section, const QString &name) const;
    int ReadInt(const QString &section, const QString &name, int defaultValue) const;
    bool WriteString(const QString &section, const QString &name, const QString &value);
    bool WriteInt(const QString &section, const QString &name, int value);

    // File1 to File4, most recent first; the list ends at the first missing entry.
    QStringList ReadRecentFolders() const;
    // Entry n (1 to 4), read from the store itself.
    QString ReadRecentFolder(int n) const;
    // Replaces the whole list in one write.
    bool WriteRecentFolders(const QStringList &folders);

private:
    class Reader;
    std::unique_ptr<QSettings> open() const;
    std::unique_ptr<Reader> read() const;
    void makePrivate() const;
    bool finish(QSettings &settings) const;

    QString file_;
    QStringList systemFiles_;
};
