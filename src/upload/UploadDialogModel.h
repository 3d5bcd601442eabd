#pragma once

#include "upload/UploadJob.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

// The album names of the account's album list text: names each followed by ";;;", trimmed,
// leading ";" dropped. The first empty name ends the list, and so does a text without ";;;".
QStringList ParseAlbumList(const QString &albumList);

// "0 KB", "1 KB" ... "998 KB", then megabytes with two decimals ("0.98 MB" for 999 KB,
// "1.00 MB" for 1,048,576 bytes). A selection of bytes that add up to less than 1 KB shows
// "1 KB": only an empty selection, or one of empty files, shows "0 KB".
QString SelectionSizeText(int count, qint64 totalBytes);

// The import percentage once photo i (from 0) of count has its tile: i / count x 100 in
// floating point, truncated, so that the 30th of 100 shows 28 (29 / 100 x 100 is a hair
// below 29).
int ImportPercent(int i, int count);

// The upload dialog without its widgets: the selection and the list's items, the totals and
// every text, bar and enabled state the dialog shows, in each of its states. The dialog copies
// it onto its controls whenever it changes; tests drive it directly. The upload worker drives
// it through the calls under "the upload worker's reports", each on the UI thread.
class UploadDialogModel : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Importing, // tiles are being made (when the dialog opens, or for photos added)
        Ready,     // the user may change the selection and start
        Uploading, // the job has been handed to the upload worker
        Stopping,  // the user confirmed the cancel; the worker has not ended yet
        Finished,  // the worker has ended and asked for the dialog to close
        Closed,
    };
    Q_ENUM(State)
    enum class Control { List, Remove, Add, Albums, NewAlbum, AddAlbum, Start, Close };
    Q_ENUM(Control)
    static constexpr int ControlCount = 8;

    // An item of the list, in the list's order (which after an addition is not the
    // selection's).
    struct Item {
        QString path;
        bool missing = false; // the file was not there when its tile was made
        bool operator==(const Item &) const = default;
    };

    enum class StartCheck { NoEmail, NoPassword, NoAlbum, Ready };
    Q_ENUM(StartCheck)
    enum class CloseAction { Ignore, Close, AskToCancel };
    Q_ENUM(CloseAction)

    UploadDialogModel(QStringList selection, const QString &albumList, bool automatic, QObject *parent = nullptr);

    State state() const { return state_; }
    bool automatic() const { return automatic_; }
    bool importing() const { return state_ == State::Importing; }
    bool enabled(Control control) const { return enabled_[size_t(control)]; }

    const QStringList &selection() const { return selection_; }
    const QList<Item> &items() const { return items_; }
    qint64 totalBytes() const { return totalBytes_; }

    QString importPercentText() const { return importPercentText_; }
    int importProgress() const { return importProgress_; }
    QString numberText() const { return numberText_; }
    QString sizeText() const { return sizeText_; }
    QString photoName() const { return photoName_; }
    QString photoStatus() const { return photoStatus_; }
    int photoProgress() const { return photoProgress_; }
    QString uploadedCount() const { return uploadedCount_; }
    QString totalStatus() const { return totalStatus_; }
    int totalProgress() const { return totalProgress_; }
    int totalPercent() const { return totalPercent_; }
    QString closeText() const { return closeText_; }

    const QStringList &albums() const { return albums_; }
    int currentAlbum() const { return currentAlbum_; }
    QString albumText() const;
    QString newAlbumText() const { return newAlbumText_; }

    bool cancelRequested() const { return cancelRequested_; }
    bool recordChanged() const { return recordChanged_; }
    bool anyUploaded() const { return anyUploaded_; }
    bool uploadedSomething() const { return uploadedSomething_; }

    // The import when the dialog opens: the paths whose tiles are to be made, in order.
    QStringList BeginImport();
    // "Add to selection": appends the chosen paths not yet selected (compared exactly) and
    // returns them; when there are any, their import begins.
    QStringList AddToSelection(const QStringList &chosen);
    // The tile of photo i (from 0) of the import under way is made; size < 0 means the file
    // was missing. Returns the list position of its item: i, so that added photos come first
    // in the list while the selection has them at its end.
    int TileImported(int i, qint64 size);
    void ImportFinished();

    // Counts the selection, adds up its sizes as the imports found them, sets the number
    // and size texts and the buttons; returns the count.
    int UpdateSelectionInfo();

    // The list's selection mark changed.
    void ListSelectionChanged(int selectedCount);
    // Removes the items in the given list rows; returns the rows to delete from the list,
    // one after the other.
    QList<int> RemoveItems(QList<int> rows);

    void SetCurrentAlbum(int index);
    void SetNewAlbumText(const QString &text);
    // Selects the album named in the field (any letter case), or adds it; clears the field.
    void AddAlbum();

    StartCheck CheckStart(const QString &email, const QString &password, bool autoUploadRunning) const;
    // Start Upload passed its checks: the job for the worker.
    UploadJob BeginUpload(const QString &email, const QString &password, bool autoUploadRunning);

    // What the Close / Stop button (byButton), Escape or the close box do now.
    CloseAction CloseAsked(bool byButton) const;
    void CancelConfirmed();
    void Closed();

    // The upload worker's reports.
    void UploadBegan();
    void SetPhotoName(const QString &text);
    void SetPhotoStatus(const QString &text);
    void SetPhotoProgress(int percent);
    void SetTotalStatus(const QString &text);
    void SetTotalProgress(int percent);
    void PhotoUploaded(int uploadedCount);
    // The run is over (completed: no photo failed or was cancelled): the dialog closes.
    void UploadEnded(bool completed);

signals:
    void changed();
    void focusRequested(UploadDialogModel::Control control);
    // Automatic mode: the tiles are made, the upload is to start.
    void startRequested();
    // The upload worker has ended: the dialog is to take its Close path.
    void closeRequested();
    // The user confirmed the cancel: the upload worker is to stop.
    void stopRequested();

private:
    void enable(std::initializer_list<Control> controls, bool on);
    void beginImport(const QStringList &paths);
    void focus(Control control);

    State state_ = State::Importing;
    const bool automatic_;
    std::array<bool, ControlCount> enabled_{};

    QStringList selection_;
    QList<Item> items_;
    QHash<QString, qint64> sizes_; // as each photo's import found it; < 0: missing
    qint64 totalBytes_ = 0;
    QStringList importPaths_;
    bool openingImport_ = false;
    bool uploadStarted_ = false;

    QString importPercentText_;
    int importProgress_ = 0;
    QString numberText_;
    QString sizeText_;
    QString photoName_;
    QString photoStatus_;
    int photoProgress_ = 0;
    QString uploadedCount_;
    QString totalStatus_;
    int totalProgress_ = 0;
    int totalPercent_ = 0;
    QString closeText_;

    QStringList albums_;
    int currentAlbum_ = -1;
    QString newAlbumText_;

    bool cancelRequested_ = false;
    bool recordChanged_ = false;
    bool anyUploaded_ = false;
    bool uploadedSomething_ = false;
};
