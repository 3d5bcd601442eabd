#include "upload/UploadDialogModel.h"

#include <algorithm>

namespace {
const QString kSeparator = QStringLiteral(";;;");
const QString kCounting = QStringLiteral(".....");
const QString kClose = QStringLiteral("Close");
const QString kStop = QStringLiteral("Stop");
} // namespace

QStringList ParseAlbumList(const QString &albumList)
{
    QString text = albumList.trimmed();
    qsizetype leading = 0;
    while (leading < text.size() && text[leading] == u';')
        ++leading;
    text.remove(0, leading);
    if (!text.endsWith(kSeparator))
        text += kSeparator;
    QStringList albums;
    qsizetype at;
    while (!text.isEmpty() && (at = text.indexOf(kSeparator)) > 0) {
        albums << text.left(at);
        text = text.mid(at + kSeparator.size()).trimmed();
    }
    return albums;
}

QString SelectionSizeText(int count, qint64 totalBytes)
{
    const qint64 kb = totalBytes / 1024;
    if (kb >= 999)
        return QString::number(double(kb) * 0.0009765625, 'f', 2) + QStringLiteral(" MB");
    if (kb > 0)
        return QString::number(kb) + QStringLiteral(" KB");
    return count == 0 || totalBytes <= 0 ? QStringLiteral("0 KB") : QStringLiteral("1 KB");
}

int ImportPercent(int i, int count)
{
    if (count <= 0)
        return 0;
    return int(double(i) / double(count) * 100.0);
}

UploadDialogModel::UploadDialogModel(QStringList selection, const QString &albumList, bool automatic, QObject *parent)
    : QObject(parent), automatic_(automatic), selection_(std::move(selection)), closeText_(kClose)
{
    selection_.removeDuplicates();
    albums_ = ParseAlbumList(albumList);
    if (!albums_.isEmpty())
        currentAlbum_ = 0;
    enable({Control::List, Control::NewAlbum}, true);
    enable({Control::Albums}, !albums_.isEmpty());
}

QString UploadDialogModel::albumText() const
{
    return currentAlbum_ >= 0 && currentAlbum_ < albums_.size() ? albums_[currentAlbum_] : QString();
}

void UploadDialogModel::enable(std::initializer_list<Control> controls, bool on)
{
    for (Control c : controls)
        enabled_[size_t(c)] = on;
}

void UploadDialogModel::focus(Control control)
{
    emit focusRequested(control);
}

void UploadDialogModel::beginImport(const QStringList &paths)
{
    state_ = State::Importing;
    importPaths_ = paths;
    enable({Control::Remove, Control::Add, Control::Start, Control::Close}, false);
    numberText_ = kCounting;
    sizeText_ = kCounting;
    importPercentText_ = QStringLiteral("0%");
    importProgress_ = 0;
    emit changed();
}

QStringList UploadDialogModel::BeginImport()
{
    openingImport_ = true;
    beginImport(selection_);
    return selection_;
}

QStringList UploadDialogModel::AddToSelection(const QStringList &chosen)
{
    if (state_ != State::Ready && state_ != State::Finished)
        return {};
    QStringList appended;
    for (const QString &path : chosen)
        if (!path.isEmpty() && !selection_.contains(path) && !appended.contains(path))
            appended << path;
    if (appended.isEmpty())
        return {};
    selection_ += appended;
    openingImport_ = false;
    beginImport(appended);
    focus(Control::List);
    return appended;
}

int UploadDialogModel::TileImported(int i, qint64 size)
{
    if (state_ != State::Importing || i < 0 || i >= importPaths_.size())
        return -1;
    const QString &path = importPaths_[i];
    sizes_.insert(path, size);
    const int at = std::min(i, int(items_.size()));
    items_.insert(at, Item{path, size < 0});
    importProgress_ = ImportPercent(i, int(importPaths_.size()));
    importPercentText_ = QString::number(importProgress_) + u'%';
    emit changed();
    return at;
}

void UploadDialogModel::ImportFinished()
{
    if (state_ != State::Importing)
        return;
    importPaths_.clear();
    importPercentText_ = QStringLiteral("Completed.");
    importProgress_ = 0;
    state_ = State::Ready;
    UpdateSelectionInfo();
    if (automatic_ && openingImport_)
        emit startRequested();
}

int UploadDialogModel::UpdateSelectionInfo()
{
    enable({Control::Start, Control::Remove, Control::Add, Control::Close}, false);
    const int count = int(selection_.size());
    totalBytes_ = 0;
    // A file that was missing adds nothing. Sizes are 64-bit: a video-sized file of 3 GB
    // counts as what it is, not as a wrapped-around negative number.
    for (const QString &path : std::as_const(selection_))
        totalBytes_ += std::max<qint64>(0, sizes_.value(path, 0));
    numberText_ = QString::number(count);
    sizeText_ = SelectionSizeText(count, totalBytes_);
    enable({Control::Close, Control::Add}, true);
    enable({Control::Start}, count > 0);
    // Controls take the focus only once enabled: the view learns of that first.
    emit changed();
    focus(count > 0 ? Control::Start : Control::Close);
    return count;
}

void UploadDialogModel::ListSelectionChanged(int selectedCount)
{
    const bool idle = state_ == State::Ready || state_ == State::Finished;
    const bool on = selectedCount > 0 && idle;
    if (on == enabled(Control::Remove))
        return;
    enable({Control::Remove}, on);
    emit changed();
}

QList<int> UploadDialogModel::RemoveItems(QList<int> rows)
{
    if (state_ != State::Ready && state_ != State::Finished)
        return {};
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int r) { return r < 0 || r >= items_.size(); }),
               rows.end());
    if (rows.isEmpty())
        return {};
    QStringList paths;
    for (int row : std::as_const(rows))
        paths << items_[row].path;
    QList<int> deleted;
    for (int k = 0; k < rows.size(); ++k) {
        selection_.removeOne(paths[k]);
        items_.removeAt(rows[k] - k);
        deleted << rows[k] - k;
    }
    UpdateSelectionInfo();
    return deleted;
}

void UploadDialogModel::SetCurrentAlbum(int index)
{
    if (index < -1 || index >= albums_.size() || index == currentAlbum_)
        return;
    currentAlbum_ = index;
    emit changed();
}

void UploadDialogModel::SetNewAlbumText(const QString &text)
{
    newAlbumText_ = text;
    enable({Control::AddAlbum}, enabled(Control::NewAlbum) && !text.trimmed().isEmpty());
    emit changed();
}

void UploadDialogModel::AddAlbum()
{
    const QString name = newAlbumText_.trimmed();
    if (name.isEmpty() || !enabled(Control::NewAlbum))
        return;
    const auto same = std::find_if(albums_.cbegin(), albums_.cend(), [&name](const QString &album) {
        return album.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (same != albums_.cend()) {
        currentAlbum_ = int(same - albums_.cbegin());
    } else {
        albums_ << name;
        currentAlbum_ = int(albums_.size()) - 1;
    }
    enable({Control::Albums}, true);
    newAlbumText_.clear();
    enable({Control::AddAlbum}, false);
    emit changed();
}

UploadDialogModel::StartCheck UploadDialogModel::CheckStart(const QString &email, const QString &password,
                                                            bool autoUploadRunning) const
{
    if (email.isEmpty())
        return StartCheck::NoEmail;
    if (password.isEmpty())
        return StartCheck::NoPassword;
    if (!autoUploadRunning && albumText().isEmpty())
        return StartCheck::NoAlbum;
    return StartCheck::Ready;
}

UploadJob UploadDialogModel::BeginUpload(const QString &email, const QString &password, bool autoUploadRunning)
{
    UploadJob job;
    job.email = email;
    job.password = password;
    if (!autoUploadRunning)
        job.album = albumText();
    job.selection = selection_;
    job.totalBytes = totalBytes_;
    job.automatic = autoUploadRunning;

    state_ = State::Uploading;
    uploadStarted_ = true;
    totalStatus_ = QStringLiteral("Initializing upload process...");
    uploadedCount_ = QStringLiteral("0");
    photoName_.clear();
    photoStatus_.clear();
    totalProgress_ = 0;
    // The worker reads the selection and the album from the job: nothing may change them
    // from now on, also before the worker has taken over the controls.
    enable({Control::Close, Control::Start, Control::Add, Control::Remove, Control::Albums, Control::NewAlbum,
            Control::AddAlbum},
           false);
    emit changed();
    return job;
}

UploadDialogModel::CloseAction UploadDialogModel::CloseAsked(bool byButton) const
{
    if (byButton && !enabled(Control::Close))
        return CloseAction::Ignore;
    // Asked again while stopping, the question would take back a cancel already confirmed.
    if (state_ == State::Importing || state_ == State::Stopping || state_ == State::Closed)
        return CloseAction::Ignore;
    if (closeText_ != kStop)
        return CloseAction::Close;
    return uploadStarted_ ? CloseAction::AskToCancel : CloseAction::Ignore;
}

void UploadDialogModel::CancelConfirmed()
{
    if (state_ != State::Uploading || closeText_ != kStop)
        return;
    cancelRequested_ = true;
    state_ = State::Stopping;
    enable({Control::Close}, false);
    totalStatus_ = QStringLiteral("Please wait to finish...");
    emit changed();
    emit stopRequested();
}

void UploadDialogModel::Closed()
{
    state_ = State::Closed;
    importPaths_.clear();
    selection_.clear();
    items_.clear();
    enabled_.fill(false);
    emit changed();
}

void UploadDialogModel::UploadBegan()
{
    closeText_ = kStop;
    enable({Control::Close}, true);
    enable({Control::Add, Control::Remove, Control::Albums, Control::NewAlbum, Control::AddAlbum}, false);
    totalStatus_ = QStringLiteral("Upload process in progress...");
    recordChanged_ = false;
    emit changed();
    focus(Control::Close);
}

void UploadDialogModel::SetPhotoName(const QString &text)
{
    photoName_ = text;
    emit changed();
}

void UploadDialogModel::SetPhotoStatus(const QString &text)
{
    photoStatus_ = text;
    emit changed();
}

void UploadDialogModel::SetPhotoProgress(int percent)
{
    photoProgress_ = std::clamp(percent, 0, 100);
    emit changed();
}

void UploadDialogModel::SetTotalStatus(const QString &text)
{
    totalStatus_ = text;
    emit changed();
}

void UploadDialogModel::SetTotalProgress(int percent)
{
    totalProgress_ = std::clamp(percent, 0, 100);
    totalPercent_ = totalProgress_;
    emit changed();
}

void UploadDialogModel::PhotoUploaded(int uploadedCount)
{
    uploadedCount_ = QString::number(uploadedCount);
    anyUploaded_ = true;
    recordChanged_ = true;
    emit changed();
}

void UploadDialogModel::UploadEnded(bool completed)
{
    if (state_ != State::Uploading && state_ != State::Stopping)
        return;
    photoName_.clear();
    photoStatus_.clear();
    photoProgress_ = 0;
    closeText_ = kClose;
    if (completed) {
        totalStatus_ = QStringLiteral("Upload process completed.");
        totalProgress_ = 100;
    } else {
        totalStatus_ = QStringLiteral("Upload process canceled.");
    }
    enable({Control::Add, Control::Remove, Control::Albums, Control::NewAlbum, Control::Close}, true);
    if (anyUploaded_)
        uploadedSomething_ = true;
    state_ = State::Finished;
    emit changed();
    focus(Control::Close);
    emit closeRequested();
}
