#include "app/MainFrame.h"

#include "app/RecentFolders.h"
#include "app/ThinSplitter.h"
#include "browse/ImageView.h"
#include "browse/ShellTree.h"
#include "browse/ThumbsView.h"
#include "photo/PhotoImage.h"
#include "platform/DialogColours.h"
#include "platform/Icons.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The tree, the list and their pane backgrounds are grey with white text.
void MakeGrey(QWidget *w)
{
    ApplyListColours(w);
    w->setAutoFillBackground(true);
}

// An information pane asks for the width of its widest text, but gives way when the window
// is too narrow for all six, so the message pane never vanishes entirely.
class StatusPane : public QLabel
{
public:
    StatusPane(const QString &widest, QWidget *parent) : QLabel(parent)
    {
        width_ = fontMetrics().horizontalAdvance(widest) + 8;
        setMinimumWidth(40);
    }
    QSize sizeHint() const override { return QSize(width_, QLabel::sizeHint().height()); }

private:
    int width_;
};

} // namespace

CMainFrame::CMainFrame(Prompts &prompts, QWidget *parent)
    : QMainWindow(parent), prompts_(prompts), tree_(new CShellTree(prompts)), list_(new CThumbsView(pictures_)),
      view_(new CQuillmereNewClientView(pictures_))
{
    setObjectName(QStringLiteral("MainFrame"));
    resize(1280, 800);

    MakeGrey(tree_);
    MakeGrey(list_);

    auto *outer = new CThinSplitterWnd(1, 2);
    outer->setObjectName(QStringLiteral("OuterSplitter"));
    outer->SetColumnInfo(0, 320, 100);
    auto *inner = new CThinSplitterWnd(2, 1);
    inner->setObjectName(QStringLiteral("InnerSplitter"));
    inner->SetRowInfo(0, 180, 0);
    inner->SetPane(0, 0, tree_);
    inner->SetPane(1, 0, list_);
    outer->SetPane(0, 0, inner);
    outer->SetPane(0, 1, view_);
    setCentralWidget(outer);

    // The panes' wiring, all of it: a folder chosen in the tree is listed, a photo chosen in
    // the list is shown, and what either has to say stands in the message pane.
    connect(tree_, &CShellTree::folderSelected, list_, &CThumbsView::ShowFolder);
    connect(list_, &CThumbsView::showPhoto, view_, &CQuillmereNewClientView::SetFile);
    connect(list_, &CThumbsView::statusMessage, this, [this](const QString &text) { statusBar()->showMessage(text); });

    buildActions();
    buildMenus();
    buildToolbar();
    buildStatusBar();

    // F6 and Shift+F6 walk the three panes.
    auto *next = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(next, &QShortcut::activated, this, [this] { focusPane(+1); });
    auto *prev = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this);
    connect(prev, &QShortcut::activated, this, [this] { focusPane(-1); });

    // Command states follow every change they read; the timer is the idle-time safety net
    // for changes that send no signal.
    connect(view_, &CQuillmereNewClientView::stateChanged, this, &CMainFrame::scheduleUpdate);
    connect(view_, &CQuillmereNewClientView::statusMessage, this, [this](const QString &text) {
        statusBar()->showMessage(text);
    });
    connect(list_, &CThumbsView::pageChanged, this, &CMainFrame::scheduleUpdate);
    connect(list_, &CThumbsView::workerFinished, this, &CMainFrame::scheduleUpdate);
    connect(list_, &CThumbsView::folderRead, this, &CMainFrame::scheduleUpdate);
    // The list learns of a saved file once it is whole on the disk.
    connect(view_, &CQuillmereNewClientView::imageSaved, this, [this](const QString &path, const QString &error) {
        if (error.isEmpty())
            list_->AddOrReplacePhoto(path);
        else
            statusBar()->showMessage(QStringLiteral("The photo could not be saved: %1").arg(error), 8000);
    });
    idleUpdate_.setInterval(250);
    connect(&idleUpdate_, &QTimer::timeout, this, &CMainFrame::UpdateCommandUi);
    idleUpdate_.start();
    UpdateCommandUi();
}

void CMainFrame::buildActions()
{
    auto *levels = new QActionGroup(this);
    levels->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const FrameCommandInfo &info : FrameCommandTable()) {
        const QString text = info.text ? QString::fromUtf8(info.text) : CommandTip(info.id);
        auto *a = new QAction(text, this);
        a->setStatusTip(CommandPrompt(info.id));
        a->setToolTip(CommandTip(info.id));
        // The style derives the disabled look from the same picture.
        if (info.picture)
            a->setIcon(CommandIcon(info.themeIcon ? QString::fromLatin1(info.themeIcon) : QString(),
                                   CommandIconResource(QString::fromLatin1(info.picture))));
        a->setIconVisibleInMenu(false);
        switch (info.id) {
        case FrameCommand::Zoom25:
        case FrameCommand::Zoom50:
        case FrameCommand::Zoom100:
        case FrameCommand::Zoom200:
            a->setCheckable(true);
            levels->addAction(a);
            break;
        case FrameCommand::ShrinkToFit:
        case FrameCommand::Toolbar:
        case FrameCommand::StatusBar:
            a->setCheckable(true);
            break;
        default:
            break;
        }
        // A checkable action toggles itself when clicked; the state is the rules' to set, so
        // put it back before acting.
        connect(a, &QAction::triggered, this, [this, id = info.id] {
            UpdateCommandUi();
            onTriggered(id);
        });
        actions_[size_t(info.id)] = a;
    }
    action(FrameCommand::SaveAs)->setShortcut(QKeySequence::Save);
}

void CMainFrame::buildMenus()
{
    QMap<QString, QMenu *> menus;
    auto menuFor = [&](const QString &path) {
        const QStringList parts = path.split(QLatin1Char('/'));
        QString key;
        QMenu *parent = nullptr;
        for (const QString &part : parts) {
            key += QLatin1Char('/') + part;
            if (!menus.contains(key))
                menus[key] = parent ? parent->addMenu(part) : menuBar()->addMenu(part);
            parent = menus[key];
        }
        return parent;
    };
    // The top menus in their order, before any entry places them.
    for (const char *top : {"&File", "&View", "&Upload", "&Buy Prints", "&Image", "&Page", "&Settings", "&Help"})
        menuFor(QString::fromUtf8(top));
    menuFor(QStringLiteral("&Image/Zoom"));
    menuFor(QStringLiteral("&Image/Rotate"));

    for (const FrameCommandInfo &info : FrameCommandTable()) {
        if (!info.menu)
            continue;
        QMenu *menu = menuFor(QString::fromUtf8(info.menu));
        if (info.id == FrameCommand::Exit) {
            menu->addSeparator(); // the recent folders go between the two separators
            exitSeparator_ = menu->addSeparator();
            fileMenu_ = menu;
        }
        if (info.id == FrameCommand::Zoom25 || info.id == FrameCommand::ShrinkToFit)
            menu->addSeparator();
        if (info.id == FrameCommand::SlideShow)
            menu->addSeparator();
        if (info.id == FrameCommand::About)
            menu->addSeparator();
        menu->addAction(action(info.id));
    }
    SetRecentFolders({});
}

void CMainFrame::buildToolbar()
{
    toolbar_ = addToolBar(QStringLiteral("Toolbar"));
    toolbar_->setObjectName(QStringLiteral("Toolbar"));
    toolbar_->setIconSize(QSize(40, 28));
    toolbar_->setMovable(true);
    toolbar_->setFloatable(true);
    toolbar_->setContentsMargins(0, 0, 0, 0);
    for (const ToolbarSlot &slot : ToolbarLayout()) {
        if (slot.separator)
            toolbar_->addSeparator();
        else
            toolbar_->addAction(action(slot.command));
    }
    connect(toolbar_, &QToolBar::visibilityChanged, this, &CMainFrame::scheduleUpdate);
}

void CMainFrame::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    const auto templates = StatusPaneTemplates();
    // No accessible name is set: a label is read by its text, which holds the value.
    for (size_t i = 0; i < panes_.size(); ++i) {
        auto *pane = new StatusPane(templates[i], bar);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        bar->addPermanentWidget(pane);
        panes_[i] = pane;
    }
    // The message pane reads "Ready" whenever no prompt or message stands in it.
    connect(bar, &QStatusBar::messageChanged, this, [this](const QString &message) {
        if (message.isEmpty())
            statusBar()->showMessage(QStringLiteral("Ready"));
        statusBar()->setAccessibleDescription(statusBar()->currentMessage());
    });
    bar->showMessage(QStringLiteral("Ready"));
}

void CMainFrame::SetRecentFolders(const QStringList &folders)
{
    qDeleteAll(recentActions_);
    recentActions_.clear();
    for (const RecentMenuEntry &entry : RecentMenuEntries(folders)) {
        auto *a = new QAction(entry.text, fileMenu_);
        a->setStatusTip(entry.prompt);
        a->setEnabled(entry.enabled);
        if (entry.index > 0)
            connect(a, &QAction::triggered, this, [this, n = entry.index] { emit recentFolderChosen(n); });
        fileMenu_->insertAction(exitSeparator_, a);
        recentActions_ << a;
    }
}

void CMainFrame::BringToFront()
{
    showMaximized();
    raise();
    activateWindow();
}

FrameSnapshot CMainFrame::snapshot() const
{
    FrameSnapshot s;
    s.imagePath = view_->path();
    s.photoSize = view_->photoSize();
    s.displaySize = view_->displaySize();
    s.currentZoom = view_->currentZoom();
    s.fitMode = view_->isFitMode();
    s.listFolder = list_->currentFolder();
    s.pageIndex = list_->pageIndex();
    s.pageCount = list_->GetPageCount();
    s.pageCountKnown = !list_->isReadingFolder();
    s.thumbnailWorkerRunning = list_->IsWorkerRunning();
    s.listPhotoCount = int(list_->photos().size());
    s.toolbarShown = toolbar_ && toolbar_->isVisibleTo(this);
    s.statusBarShown = statusBar()->isVisibleTo(this);
    return s;
}

void CMainFrame::scheduleUpdate()
{
    if (updateQueued_)
        return;
    updateQueued_ = true;
    QTimer::singleShot(0, this, &CMainFrame::UpdateCommandUi);
}

void CMainFrame::UpdateCommandUi()
{
    updateQueued_ = false;
    const FrameSnapshot s = snapshot();
    const CommandStates states = ComputeCommandStates(s);
    for (int i = 0; i < kFrameCommandCount; ++i) {
        QAction *a = actions_[size_t(i)];
        a->setEnabled(states[size_t(i)].enabled);
        if (a->isCheckable())
            a->setChecked(states[size_t(i)].checked);
    }
    // Qt takes "[*]" in a title for the modified mark and drops it: a photo named so keeps
    // its name written twice, which Qt shows once.
    const QString title = WindowTitle(s).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    if (windowTitle() != title)
        setWindowTitle(title);
    const StatusTexts t = ComputeStatusTexts(s);
    const QString texts[] = {t.page, t.folder, t.image, t.originalSize, t.zoom, t.currentSize};
    for (size_t i = 0; i < panes_.size(); ++i) {
        if (panes_[i]->text() != texts[i])
            panes_[i]->setText(texts[i]);
    }
}

void CMainFrame::Execute(FrameCommand id)
{
    UpdateCommandUi();
    if (action(id)->isEnabled())
        onTriggered(id);
}

void CMainFrame::onTriggered(FrameCommand id)
{
    using C = FrameCommand;
    switch (id) {
    case C::SaveAs: saveAs(); break;
    case C::Exit: close(); break;
    case C::Toolbar: toolbar_->setVisible(!toolbar_->isVisibleTo(this)); break;
    case C::StatusBar: statusBar()->setVisible(!statusBar()->isVisibleTo(this)); break;
    case C::ZoomIn: view_->StepZoom(true); break;
    case C::ZoomOut: view_->StepZoom(false); break;
    case C::Zoom25: view_->SetZoom(25); break;
    case C::Zoom50: view_->SetZoom(50); break;
    case C::Zoom100: view_->SetZoom(100); break;
    case C::Zoom200: view_->SetZoom(200); break;
    case C::ShrinkToFit: view_->SetZoom(0); break;
    case C::RotateLeft: view_->Rotate(-1); break;
    case C::RotateRight: view_->Rotate(+1); break;
    // Paging while the page's tiles are being made would mix two pages.
    case C::NextPage: if (!list_->IsWorkerRunning()) list_->NextPage(); break;
    case C::PrevPage: if (!list_->IsWorkerRunning()) list_->PrevPage(); break;
    case C::FirstPage: if (!list_->IsWorkerRunning()) list_->FirstPage(); break;
    case C::LastPage: if (!list_->IsWorkerRunning()) list_->LastPage(); break;
    case C::About: showAbout(); break;
    case C::WebSite: openWebSite(); break;
    default: emit commandRequested(id); break;
    }
    scheduleUpdate();
}

void CMainFrame::saveAs()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Select Path and Filename To Save As:"), view_->path(),
        QStringLiteral("Image Files(*.jpg *.jpeg *.tiff);;All Files(*)"));
    if (path.isEmpty())
        return;
    view_->SaveDisplayedImage(path);
}

void CMainFrame::showAbout()
{
    QDialog box(this);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.setWindowTitle(QStringLiteral("About Quillmere"));
    auto *icon = new QLabel;
    icon->setPixmap(ProgramIcon().pixmap(48));
    icon->setAccessibleName(QStringLiteral("Quillmere icon"));
    auto *lines = new QVBoxLayout;
    lines->addWidget(new QLabel(QStringLiteral("Quillmere Version 3.25")));
    lines->addWidget(new QLabel(QStringLiteral("Browse your photos and upload them to your albums.")));
    auto *row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(lines);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto *layout = new QVBoxLayout(&box);
    layout->addLayout(row);
    layout->addWidget(buttons);
    box.exec();
}

void CMainFrame::openWebSite()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebSite)));
    QApplication::restoreOverrideCursor();
}

void CMainFrame::focusPane(int step)
{
    QWidget *panes[] = {tree_, list_, view_};
    int at = -1;
    for (int i = 0; i < 3; ++i)
        if (panes[i]->isAncestorOf(focusWidget()) || panes[i] == focusWidget())
            at = i;
    const int next = at < 0 ? 0 : (at + step + 3) % 3;
    panes[next]->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    // A picture still being prepared, or being saved, keeps the window open; the user asks
    // again.
    if (view_->IsWorkerRunning() || view_->IsSaving()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
