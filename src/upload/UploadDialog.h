#pragma once

#include "upload/TileImporter.h"
#include "upload/UploadDialogModel.h"
#include "upload/UploadJob.h"

#include <QDialog>

#include <array>
#include <functional>

class Prompts;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class UploadDialog;
struct Settings;

// What the upload dialog reads and whom it calls, lent by its creator for its lifetime.
struct UploadDialogContext {
    Settings *settings = nullptr;           // the held e-mail address and password
    Prompts *prompts = nullptr;
    const QString *albumList = nullptr;     // the account's albums, each followed by ";;;"
    const bool *autoUploadRunning = nullptr; // an automatic upload from a camera or card runs
    bool automatic = false;                 // this dialog runs that upload: hidden, starting by itself
    std::function<bool()> showAccountSettings;
    // Start Upload passed its checks: the job goes to the upload worker, which reports to
    // the dialog's model.
    std::function<void(UploadDialog &dialog, UploadJob job)> startUpload;
    std::function<void()> showMainWindow;     // brings the main window forward when it is minimized
    std::function<void()> minimizeMainWindow; // minimizing the dialog minimizes the main window
    // The photos to add; empty: the file-open dialog.
    std::function<QStringList(QWidget *parent, const QString &folder)> chooseFiles;
    QWidget *parent = nullptr;
};

// "Upload Photos To Quillmere": the selection as tiles with their number and size, the album
// to upload into, the upload's progress. A thin view: every text, bar and enabled state is
// the model's, copied onto standard widgets whenever it changes.
class UploadDialog : public QDialog
{
    Q_OBJECT
public:
    UploadDialog(UploadDialogContext context, const QStringList &selection);
    ~UploadDialog() override;

    UploadDialogModel &model() { return model_; }
    const UploadDialogModel &model() const { return model_; }
    bool uploadedSomething() const { return model_.uploadedSomething(); }

    // Shows the dialog modally (never in automatic mode, or while an automatic upload runs)
    // and starts making its tiles.
    void Open();
    // Opens the dialog and returns once it has closed. Being hidden, as when it is minimized,
    // does not end it.
    void Run();
    bool isClosed() const { return closed_; }
    // Brings the dialog back after it was hidden by minimizing.
    void Restore();

    QListWidget *photoList() const { return list_; }
    QWidget *control(UploadDialogModel::Control control) const { return controls_[size_t(control)]; }

    void setVisible(bool visible) override;

public slots:
    void addToSelection();
    void removeFromSelection();
    void addAlbum();
    void startUpload();
    // The Close / Stop button.
    void closeOrStop();
    // Escape; also the close box.
    void reject() override;
    // Enter never closes the dialog.
    void accept() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void build();
    void refresh();
    void askToClose(bool byButton);
    void tileReady(int index, const ImportedTile &tile);
    bool hiddenMode() const;
    bool autoUploadRunning() const;
    QString addFolder() const;

    UploadDialogContext context_;
    UploadDialogModel model_;
    bool closed_ = false;
    bool questionForward_ = false; // restored: a waiting question takes the keyboard back

    QListWidget *list_ = nullptr;
    QLabel *importPercent_ = nullptr;
    QProgressBar *importBar_ = nullptr;
    QPushButton *remove_ = nullptr;
    QPushButton *add_ = nullptr;
    QComboBox *albums_ = nullptr;
    QLineEdit *newAlbum_ = nullptr;
    QPushButton *addAlbum_ = nullptr;
    QLabel *photoName_ = nullptr;
    QLabel *photoStatus_ = nullptr;
    QProgressBar *photoBar_ = nullptr;
    QLabel *uploadedCount_ = nullptr;
    QLabel *totalStatus_ = nullptr;
    QProgressBar *totalBar_ = nullptr;
    QLabel *number_ = nullptr;
    QLabel *size_ = nullptr;
    QPushButton *start_ = nullptr;
    QPushButton *close_ = nullptr;
    std::array<QWidget *, UploadDialogModel::ControlCount> controls_{};

    TileImporter importer_; // last: it ends before the widgets its tiles go to
};
