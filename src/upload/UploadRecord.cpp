#include "upload/UploadRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>

namespace {
const QByteArray FilesSection = "FILES";

struct RecordText {
    bool readable = true; // false: the file is there but could not be read
    QList<QByteArray> lines; // as they stand in the file, without their "\n"
};

// The record line by line, as bytes. A missing file is an empty record.
RecordText readRecord(const QString &file)
{
    RecordText text;
    QFile f(file);
    if (!f.exists())
        return text;
    if (!f.open(QIODevice::ReadOnly)) {
        text.readable = false;
        return text;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        text.readable = false;
        return text;
    }
    text.lines = bytes.split('\n');
    if (!text.lines.isEmpty() && text.lines.last().isEmpty())
        text.lines.removeLast(); // the split of a final "\n"
    return text;
}

// A line holding a NUL or bytes that are not UTF-8 is not read; it stays in the file as it
// stands, for whatever wrote it.
bool isReadable(const QByteArray &line)
{
    return !line.contains('\0') && line.isValidUtf8();
}

// The section a line opens, or a null array when it opens none. Section names are not
// paths, so they keep the case-blind match of profile files.
QByteArray sectionOf(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    if (!t.startsWith('['))
        return {};
    const qsizetype end = t.indexOf(']');
    if (end < 0)
        return {};
    const QByteArray name = t.mid(1, end - 1).trimmed();
    return name.isNull() ? QByteArray("") : name;
}

bool isFilesSection(const QByteArray &name)
{
    return !name.isNull() && name.compare(FilesSection, Qt::CaseInsensitive) == 0;
}

// Splits a line of the FILES section into path and date text. The split is at the last
// "=": a Linux path may itself hold "=", a date text never does.
bool splitEntry(const QByteArray &line, QByteArray &key, QByteArray &value)
{
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.startsWith(';'))
        return false;
    const qsizetype eq = t.lastIndexOf('=');
    if (eq <= 0)
        return false;
    key = t.left(eq).trimmed();
    value = t.mid(eq + 1).trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return !key.isEmpty();
}

// Path to date text of the FILES section; the first of two equal keys counts.
QHash<QByteArray, QByteArray> filesOf(const RecordText &text)
{
    QHash<QByteArray, QByteArray> files;
    bool inFiles = false;
    for (const QByteArray &line : text.lines) {
        const QByteArray section = sectionOf(line);
        if (!section.isNull()) {
            inFiles = isFilesSection(section);
            continue;
        }
        QByteArray key, value;
        if (inFiles && isReadable(line) && splitEntry(line, key, value) && !files.contains(key))
            files.insert(key, value);
    }
    return files;
}

// A key must read back as itself: no line breaks or NULs, no blanks at its ends (a reader
// trims them), nothing that reads as a section or a comment.
bool isWritableKey(const QByteArray &key)
{
    return !key.isEmpty() && !key.contains('\n') && !key.contains('\r') && !key.contains('\0')
           && key == key.trimmed() && !key.startsWith('[') && !key.startsWith(';');
}

void setEntry(QList<QByteArray> &lines, const QByteArray &key, const QByteArray &value)
{
    const QByteArray entry = key + '=' + value;
    qsizetype lastInSection = -1;
    bool inFiles = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray section = sectionOf(lines[i]);
        if (!section.isNull()) {
            if (inFiles)
                break;
            inFiles = isFilesSection(section);
            if (inFiles)
                lastInSection = i;
            continue;
        }
        if (!inFiles)
            continue;
        QByteArray k, v;
        if (splitEntry(lines[i], k, v)) {
            if (k == key) {
                lines[i] = entry;
                return;
            }
            lastInSection = i;
        } else if (!lines[i].trimmed().isEmpty()) {
            lastInSection = i;
        }
    }
    if (lastInSection >= 0) {
        lines.insert(lastInSection + 1, entry);
        return;
    }
    if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
        lines << QByteArray();
    lines << "[" + FilesSection + "]" << entry;
}

} // namespace

QString FileDateString(const QDateTime &lastWrite)
{
    if (!lastWrite.isValid())
        return {};
    const QDateTime utc = lastWrite.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    QString text = QString::asprintf("%4d%2d%2d%2d%2d%2d%3d", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                                     t.second(), t.msec());
    text.replace(u' ', u'0');
    return text;
}

QString FileDateString(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return FileDateString(info.fileTime(QFileDevice::FileModificationTime));
}

void ScanForFiles(const QString &path, PathDates &found, bool recurse)
{
    const QFileInfo info(path);
    if (!info.exists())
        return;
    if (!info.isDir()) {
        found.insert(path, FileDateString(info.fileTime(QFileDevice::FileModificationTime)));
        return;
    }
    const QString prefix = path.endsWith(u'/') ? path : path + u'/';
    const QFileInfoList entries =
        QDir(prefix).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (!entry.isDir()) {
            if (name.size() > 3 && entry.exists())
                found.insert(prefix + name, FileDateString(entry.fileTime(QFileDevice::FileModificationTime)));
        } else if (recurse && !entry.isSymLink()) {
            ScanForFiles(prefix + name + u'/', found, recurse);
        }
    }
}

UploadRecord::UploadRecord(const QString &executablePath)
    : file_(QDir(executablePath).filePath(QStringLiteral("upload.inf")))
{
}

QString UploadRecord::RecordedDate(const QString &photoPath) const
{
    return QString::fromUtf8(filesOf(readRecord(file_)).value(QFile::encodeName(photoPath)));
}

bool UploadRecord::RecordUploadedFile(const QString &photoPath)
{
    return RecordUploadedFile(photoPath, FileDateString(photoPath));
}

bool UploadRecord::RecordUploadedFile(const QString &photoPath, const QString &dateText)
{
    const QByteArray key = QFile::encodeName(photoPath);
    if (dateText.isEmpty() || !QFileInfo::exists(photoPath) || !isWritableKey(key))
        return false;
    const QByteArray date = dateText.toUtf8();
    if (date.size() != 17 || !std::all_of(date.cbegin(), date.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;

    // Read, changed and replaced under a lock beside the record: the rename alone keeps a
    // reader from meeting half a record, not two writers from each dropping the other's entry.
    QLockFile lock(file_ + QStringLiteral(".lock"));
    if (!lock.tryLock(10000))
        return false;

    // A record that is there but cannot be read is never replaced: the entries in it would
    // be lost, and every photo they name sent again.
    RecordText text = readRecord(file_);
    if (!text.readable)
        return false;
    setEntry(text.lines, key, date);

    QSaveFile out(file_);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    for (const QByteArray &line : std::as_const(text.lines)) {
        out.write(line);
        out.write("\n");
    }
    if (beforeReplace_ && !beforeReplace_()) {
        out.cancelWriting();
        return false;
    }
    // commit() flushes the temporary file to the disk before it renames it over the record.
    return out.commit();
}

void UploadRecord::FindUploadedFiles(const QStringList &paths, PathDates &uploaded) const
{
    uploaded.clear();
    PathDates current;
    for (const QString &path : paths) {
        if (QFileInfo(path).fileName().size() <= 3)
            continue;
        const QString date = FileDateString(path);
        if (!date.isEmpty())
            current.insert(path, date);
    }
    if (current.isEmpty())
        return;
    const QHash<QByteArray, QByteArray> files = filesOf(readRecord(file_));
    for (auto it = current.cbegin(); it != current.cend(); ++it) {
        const auto recorded = files.constFind(QFile::encodeName(it.key()));
        if (recorded == files.cend())
            continue;
        const QString recordedDate = QString::fromUtf8(*recorded);
        if (it.value() <= recordedDate)
            uploaded.insert(it.key(), recordedDate);
    }
}

bool UploadRecord::CollectUploadCandidates(const QStringList &paths, bool recurse, PathDates &newFiles,
                                           PathDates &knownFiles) const
{
    newFiles.clear();
    knownFiles.clear();
    PathDates found;
    for (const QString &path : paths) {
        if (QFileInfo(path).isDir())
            ScanForFiles(path.endsWith(u'/') ? path : path + u'/', found, recurse);
        else
            ScanForFiles(path, found, recurse);
    }
    const QHash<QByteArray, QByteArray> files = filesOf(readRecord(file_));
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        const QString recorded = QString::fromUtf8(files.value(QFile::encodeName(it.key())));
        if (it.value() > recorded)
            newFiles.insert(it.key(), it.value());
        else
            knownFiles.insert(it.key(), recorded);
    }
    return !newFiles.isEmpty();
}
