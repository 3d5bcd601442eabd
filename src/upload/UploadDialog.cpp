#include "upload/UploadDialog.h"

#include "photo/ThumbnailTile.h"
#include "platform/Prompts.h"
#include "platform/Settings.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {
using Control = UploadDialogModel::Control;

const QString kStartCaption = QStringLiteral("Quillmere Upload File");

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QProgressBar *progressBar(const QString &accessibleName)
{
    auto *bar = new QProgressBar;
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setAccessibleName(accessibleName);
    return bar;
}

// A group of two captioned values, and under them a progress bar when it has a name.
struct ValueGroup {
    QGroupBox *box;
    QLabel *first;
    QLabel *second;
    QProgressBar *bar = nullptr;
};
ValueGroup valueGroup(const QString &title, const QString &firstCaption, const QString &secondCaption,
                      const QString &barName = {})
{
    ValueGroup group{new QGroupBox(title), new QLabel, new QLabel};
    auto *grid = new QGridLayout(group.box);
    grid->addWidget(new QLabel(firstCaption), 0, 0);
    grid->addWidget(group.first, 0, 1);
    grid->addWidget(new QLabel(secondCaption), 1, 0);
    grid->addWidget(group.second, 1, 1);
    grid->setColumnStretch(1, 1);
    if (!barName.isEmpty()) {
        group.bar = progressBar(barName);
        grid->addWidget(group.bar, 2, 0, 1, 2);
    }
    return group;
}

QStringList chooseWithFileDialog(QWidget *parent, const QString &folder)
{
    // Qt's file dialog takes a filter's patterns separated by blanks.
    QFileDialog dialog(parent, QStringLiteral("Select Files To Upload:"), folder,
                       QStringLiteral("Graphic Files(*.jpg *.jpeg *.tiff *.tif)"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}
} // namespace

UploadDialog::UploadDialog(UploadDialogContext context, const QStringList &selection)
    : QDialog(context.parent), context_(std::move(context)),
      model_(selection, context_.albumList ? *context_.albumList : QString(), context_.automatic)
{
    setObjectName(QStringLiteral("UploadDialog"));
    setWindowTitle(QStringLiteral("Upload Photos To Quillmere"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    build();

    connect(&model_, &UploadDialogModel::changed, this, &UploadDialog::refresh);
    connect(&model_, &UploadDialogModel::focusRequested, this, [this](Control c) {
        if (QWidget *w = control(c))
            w->setFocus();
    });
    connect(&model_, &UploadDialogModel::startRequested, this, &UploadDialog::startUpload, Qt::QueuedConnection);
    connect(&model_, &UploadDialogModel::closeRequested, this, [this] { askToClose(true); }, Qt::QueuedConnection);
    connect(&importer_, &TileImporter::tileReady, this, &UploadDialog::tileReady);
    connect(&importer_, &TileImporter::finished, &model_, &UploadDialogModel::ImportFinished);
    refresh();
}

UploadDialog::~UploadDialog()
{
    // The controls go after the model: none of them may reach it while they are destroyed.
    for (QObject *child : findChildren<QObject *>())
        child->disconnect(this);
}

void UploadDialog::build()
{
    list_ = new QListWidget;
    list_->setAccessibleName(QStringLiteral("Photo selection list"));
    list_->setViewMode(QListView::IconMode);
    list_->setMovement(QListView::Static);
    list_->setResizeMode(QListView::Adjust);
    list_->setWrapping(true);
    list_->setIconSize(QSize(TileWidth, TileHeight));
    list_->setGridSize(QSize(147, 147));
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setMinimumSize(5 * 147 + 24, 2 * 147 + 8);
    QPalette grey = list_->palette();
    for (auto role : {QPalette::Base, QPalette::Window})
        grey.setColor(role, QColor(100, 100, 100));
    for (auto role : {QPalette::Text, QPalette::WindowText})
        grey.setColor(role, Qt::white);
    list_->setPalette(grey);

    importPercent_ = new QLabel;
    importBar_ = progressBar(QStringLiteral("Image import progress"));
    remove_ = new QPushButton(QStringLiteral("Remove from selection"));
    add_ = new QPushButton(QStringLiteral("Add to selection"));
    auto *selectionGroup = new QGroupBox(QStringLiteral("Photo selection list control panel"));
    auto *importRow = new QHBoxLayout;
    importRow->addWidget(new QLabel(QStringLiteral("Image import progress -")));
    importRow->addWidget(importPercent_);
    importRow->addWidget(importBar_, 1);
    importRow->addSpacing(12);
    importRow->addWidget(remove_);
    importRow->addWidget(add_);
    auto *selectionLayout = new QVBoxLayout(selectionGroup);
    selectionLayout->addWidget(list_, 1);
    selectionLayout->addLayout(importRow);

    albums_ = new QComboBox;
    albums_->setAccessibleName(QStringLiteral("Select Quillmere album to upload into"));
    newAlbum_ = new QLineEdit;
    newAlbum_->setAccessibleName(QStringLiteral("Add new album"));
    addAlbum_ = new QPushButton(QStringLiteral("Add"));
    auto *newAlbumGroup = new QGroupBox(QStringLiteral("Add new album"));
    auto *newAlbumRow = new QHBoxLayout(newAlbumGroup);
    newAlbumRow->addWidget(newAlbum_, 1);
    newAlbumRow->addWidget(addAlbum_);
    auto *albumGroup = new QGroupBox(QStringLiteral("Select Quillmere album to upload into"));
    auto *albumLayout = new QVBoxLayout(albumGroup);
    albumLayout->addWidget(albums_);
    albumLayout->addWidget(newAlbumGroup);

    const ValueGroup info = valueGroup(QStringLiteral("Selected photos info"), QStringLiteral("Number of photos:"),
                                       QStringLiteral("Total size of photos:"));
    number_ = info.first;
    size_ = info.second;
    const ValueGroup photo = valueGroup(QStringLiteral("Current photo progress"), QStringLiteral("Photo name:"),
                                        QStringLiteral("Status:"), QStringLiteral("Current photo progress"));
    photoName_ = photo.first;
    photoStatus_ = photo.second;
    photoBar_ = photo.bar;
    const ValueGroup total = valueGroup(QStringLiteral("Total progress"), QStringLiteral("Uploaded photos:"),
                                        QStringLiteral("Status:"), QStringLiteral("Total progress"));
    uploadedCount_ = total.first;
    totalStatus_ = total.second;
    totalBar_ = total.bar;

    start_ = new QPushButton(QStringLiteral("Start Upload"));
    close_ = new QPushButton(QStringLiteral("Close"));
    // No button is the default one: Enter presses the button that has the focus, except
    // Close, so that Enter never closes the dialog.
    for (QPushButton *b : {remove_, add_, addAlbum_, start_})
        b->setAutoDefault(true);
    close_->setAutoDefault(false);

    auto *left = new QVBoxLayout;
    left->addWidget(albumGroup);
    left->addWidget(info.box);
    left->addStretch();
    auto *right = new QVBoxLayout;
    right->addWidget(photo.box);
    right->addWidget(total.box);
    right->addStretch();
    auto *middle = new QHBoxLayout;
    middle->addLayout(left, 1);
    middle->addLayout(right, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(start_);
    buttons->addWidget(close_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(selectionGroup, 1);
    layout->addLayout(middle);
    layout->addLayout(buttons);

    controls_ = {list_, remove_, add_, albums_, newAlbum_, addAlbum_, start_, close_};

    connect(remove_, &QPushButton::clicked, this, &UploadDialog::removeFromSelection);
    connect(add_, &QPushButton::clicked, this, &UploadDialog::addToSelection);
    connect(addAlbum_, &QPushButton::clicked, this, &UploadDialog::addAlbum);
    connect(start_, &QPushButton::clicked, this, &UploadDialog::startUpload);
    connect(close_, &QPushButton::clicked, this, &UploadDialog::closeOrStop);
    connect(newAlbum_, &QLineEdit::textEdited, &model_, &UploadDialogModel::SetNewAlbumText);
    connect(albums_, &QComboBox::currentIndexChanged, &model_, &UploadDialogModel::SetCurrentAlbum);
    connect(list_, &QListWidget::itemSelectionChanged, this,
            [this] { model_.ListSelectionChanged(int(list_->selectedItems().size())); });
}

void UploadDialog::refresh()
{
    for (int c = 0; c < UploadDialogModel::ControlCount; ++c)
        controls_[size_t(c)]->setEnabled(model_.enabled(Control(c)));

    importPercent_->setText(model_.importPercentText());
    importBar_->setValue(model_.importProgress());
    number_->setText(model_.numberText());
    size_->setText(model_.sizeText());
    photoName_->setText(model_.photoName());
    photoStatus_->setText(model_.photoStatus());
    photoBar_->setValue(model_.photoProgress());
    uploadedCount_->setText(model_.uploadedCount());
    totalStatus_->setText(model_.totalStatus());
    totalBar_->setValue(model_.totalProgress());
    close_->setText(model_.closeText());

    const QSignalBlocker quietAlbums(albums_);
    const QStringList &albums = model_.albums();
    bool same = albums_->count() == albums.size();
    for (int i = 0; same && i < albums.size(); ++i)
        same = albums_->itemText(i) == albums[i];
    if (!same) {
        albums_->clear();
        albums_->addItems(albums);
    }
    albums_->setCurrentIndex(model_.currentAlbum());
    if (newAlbum_->text() != model_.newAlbumText()) {
        const QSignalBlocker quietField(newAlbum_);
        newAlbum_->setText(model_.newAlbumText());
    }
}

bool UploadDialog::autoUploadRunning() const
{
    return context_.autoUploadRunning && *context_.autoUploadRunning;
}

bool UploadDialog::hiddenMode() const
{
    return model_.automatic() || autoUploadRunning();
}

void UploadDialog::setVisible(bool visible)
{
    if (visible && hiddenMode()) {
        if (isVisible())
            QDialog::setVisible(false);
        return;
    }
    QDialog::setVisible(visible);
}

void UploadDialog::Open()
{
    setWindowModality(Qt::ApplicationModal);
    show();
    importer_.Start(model_.BeginImport());
}

void UploadDialog::Run()
{
    if (closed_)
        return;
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    Open();
    // Not QDialog::exec: hiding a dialog ends its exec, and this one hides while it is
    // minimized and in automatic mode.
    loop.exec(QEventLoop::DialogExec);
}

void UploadDialog::Restore()
{
    if (closed_ || hiddenMode())
        return;
    // Cleared only now: changing the state of a hidden window makes some window managers
    // map its frame again, empty.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    // The window manager stacks the dialog when it maps it again, after this: a question
    // still waiting is brought forward once the dialog is active.
    questionForward_ = true;
}

void UploadDialog::tileReady(int index, const ImportedTile &tile)
{
    const int at = model_.TileImported(index, tile.missing ? -1 : tile.size);
    if (at < 0)
        return;
    const QString path = model_.items()[at].path;
    const QString name = fileNameOf(path);
    auto *item = new QListWidgetItem(QIcon(QPixmap::fromImage(tile.image)), name);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setData(Qt::UserRole, path);
    item->setData(Qt::ToolTipRole, path);
    item->setData(Qt::AccessibleTextRole, tile.missing ? name + QStringLiteral(": file not found") : name);
    list_->insertItem(at, item);
    list_->scrollToItem(item);
}

QString UploadDialog::addFolder() const
{
    const QStringList &selection = model_.selection();
    if (!selection.isEmpty()) {
        const QString folder = QFileInfo(selection.last()).path();
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

void UploadDialog::addToSelection()
{
    if (!model_.enabled(Control::Add))
        return;
    const QStringList chosen =
        context_.chooseFiles ? context_.chooseFiles(this, addFolder()) : chooseWithFileDialog(this, addFolder());
    const QStringList appended = model_.AddToSelection(chosen);
    if (!appended.isEmpty())
        importer_.Start(appended);
}

void UploadDialog::removeFromSelection()
{
    QList<int> rows;
    for (QListWidgetItem *item : list_->selectedItems())
        rows << list_->row(item);
    const QList<int> deleted = model_.RemoveItems(rows);
    for (int row : deleted)
        delete list_->takeItem(row);
}

void UploadDialog::addAlbum()
{
    model_.AddAlbum();
}

void UploadDialog::startUpload()
{
    if (model_.state() != UploadDialogModel::State::Ready)
        return;
    if (!model_.automatic() && !model_.enabled(Control::Start))
        return;
    const Settings &held = *context_.settings;
    const auto check = model_.CheckStart(held.userName, held.password, autoUploadRunning());
    if (check == UploadDialogModel::StartCheck::NoEmail || check == UploadDialogModel::StartCheck::NoPassword) {
        if (context_.showMainWindow)
            context_.showMainWindow();
        context_.prompts->tell(check == UploadDialogModel::StartCheck::NoEmail
                                   ? QStringLiteral("E-mail address field is empty.\nPlease enter your e-mail address.")
                                   : QStringLiteral("Password field is empty.\nPlease enter your Password."),
                               kStartCaption, PromptIcon::Warning, this);
        // The user presses Start Upload again once the account is there.
        if (context_.showAccountSettings)
            context_.showAccountSettings();
        return;
    }
    if (check == UploadDialogModel::StartCheck::NoAlbum) {
        context_.prompts->tell(QStringLiteral("Album name is empty.\nPlease add Album name to upload into."),
                               kStartCaption, PromptIcon::Warning, this);
        newAlbum_->setFocus();
        return;
    }
    UploadJob job = model_.BeginUpload(held.userName, held.password, autoUploadRunning());
    if (context_.startUpload)
        context_.startUpload(*this, std::move(job));
}

void UploadDialog::closeOrStop()
{
    askToClose(true);
}

void UploadDialog::reject()
{
    askToClose(false);
}

void UploadDialog::accept()
{
}

void UploadDialog::closeEvent(QCloseEvent *event)
{
    event->ignore();
    askToClose(false);
}

void UploadDialog::askToClose(bool byButton)
{
    switch (model_.CloseAsked(byButton)) {
    case UploadDialogModel::CloseAction::Ignore:
        return;
    case UploadDialogModel::CloseAction::AskToCancel: {
        Prompt question;
        question.text = QStringLiteral("Do you want to cancel file upload?");
        question.caption = QStringLiteral("Quillmere Upload");
        question.icon = PromptIcon::Question;
        question.buttons = PromptButtons::YesNo;
        question.defaultAnswer = PromptAnswer::No;
        question.owner = this;
        if (context_.prompts->ask(question) == PromptAnswer::Yes)
            model_.CancelConfirmed();
        return;
    }
    case UploadDialogModel::CloseAction::Close:
        importer_.Stop();
        closed_ = true;
        model_.Closed();
        list_->clear();
        done(QDialog::Rejected);
        return;
    }
}

void UploadDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        // A question that waits for its answer (the failure prompt holds the upload until
        // then) stays on top of the dialog, never buried under it; after a restore it also
        // takes the keyboard back.
        const bool activate = std::exchange(questionForward_, false);
        for (QDialog *question : findChildren<QDialog *>(Qt::FindDirectChildrenOnly)) {
            if (question->isVisible()) {
                question->raise();
                if (activate)
                    question->activateWindow();
            }
        }
        return;
    }
    if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized))
        return;
    // Minimized, the dialog goes away with the main window (into the tray), and comes back
    // with it.
    hide();
    if (context_.minimizeMainWindow)
        context_.minimizeMainWindow();
}
