#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Photo path to date text. Keys are full paths compared exactly: on Linux IMG.JPG and
// img.jpg are two photos.
using PathDates = QMap<QString, QString>;

// A last-write time in UTC as 17 digits, year to millisecond: 2006-03-07 09:05:02.040 gives
// 20060307090502040. Two such texts compare correctly as byte strings.
QString FileDateString(const QDateTime &lastWrite);

// The date text of a file or folder's last write; empty when it does not exist.
QString FileDateString(const QString &path);

// Adds to `found` the file `path` names, or, when it names a folder (ending in "/"), the
// files in it whose names are longer than 3 characters, each with its date text; with
// `recurse` the subfolders too (symbolic links to folders are not followed, so a link loop
// cannot make the walk endless). A path that does not exist adds nothing.
void ScanForFiles(const QString &path, PathDates &found, bool recurse);

// The uploaded-files record: upload.inf in the program's data folder, section FILES, one
// line per uploaded photo, "full path=date text", the path as the file system's bytes. Other
// sections, keys and lines are kept as they stand, in their order; so is a line that cannot
// be read (a NUL, bytes that are not UTF-8), which is skipped and costs no other entry. Every
// read goes to the disk, so that a record written by the upload worker is seen at once by the
// photo list; every write replaces the file atomically, so that a reader or a crash never
// meets half a record.
class UploadRecord
{
public:
    explicit UploadRecord(const QString &executablePath);

    QString filePath() const { return file_; }

    // The recorded date text of a photo; empty when the record does not hold it or cannot
    // be read.
    QString RecordedDate(const QString &photoPath) const;

    // Records a photo with its current date text. False when the photo has vanished (no
    // date to record), when the path cannot be written as a record key, or when the record
    // is there but cannot be read, or cannot be written; the record is then left as it was.
    bool RecordUploadedFile(const QString &photoPath);
    // Records a photo with the date text it had when it was read for sending: a photo
    // written again during its upload stays newer than its entry, so it is offered again.
    // Two programs recording at once (the window and the command line) take turns, so that
    // neither loses the other's entry.
    bool RecordUploadedFile(const QString &photoPath, const QString &dateText);

    // Fills `uploaded` with those of `paths` that the record holds and that have not been
    // written since: each with its recorded date text. Names of 3 characters or fewer and
    // missing files never count.
    void FindUploadedFiles(const QStringList &paths, PathDates &uploaded) const;

    // Refills both maps from the files `paths` name (folders give their files): photos
    // never sent or written since they were sent go into `newFiles` with their current date
    // text, the others into `knownFiles` with the recorded one. True when any is new.
    bool CollectUploadCandidates(const QStringList &paths, bool recurse, PathDates &newFiles, PathDates &knownFiles) const;

    // Called after the new record is written to its temporary file and before it replaces
    // the old one; returning false abandons the write there, as a crash would. For tests.
    void setBeforeReplace(std::function<bool()> hook) { beforeReplace_ = std::move(hook); }

private:
    QString file_;
    std::function<bool()> beforeReplace_;
};
