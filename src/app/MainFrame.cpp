#include "app/MainFrame.h"

#include "app/RecentFolders.h"
#include "browse/ImageView.h"
#include "browse/ShellTree.h"
#include "browse/ThumbsView.h"

#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>

namespace {
// The tree, the list and their pane backgrounds are grey with white text.
void makeGrey(QWidget *w)
{
    QPalette p = w->palette();
    for (auto role : {QPalette::Base, QPalette::Window})
        p.setColor(role, QColor(100, 100, 100));
    for (auto role : {QPalette::Text, QPalette::WindowText})
        p.setColor(role, Qt::white);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}
} // namespace

CMainFrame::CMainFrame(Prompts &prompts, QWidget *parent)
    : QMainWindow(parent), tree_(new CShellTree(prompts)), list_(new CThumbsView), view_(new CQuillmereNewClientView)
{
    setWindowTitle(QStringLiteral("Quillmere"));
    setObjectName(QStringLiteral("MainFrame"));
    resize(1000, 700);

    makeGrey(tree_);
    makeGrey(list_);

    auto *left = new QSplitter(Qt::Vertical);
    left->addWidget(tree_);
    left->addWidget(list_);
    left->setSizes({180, 520});
    auto *outer = new QSplitter(Qt::Horizontal);
    outer->addWidget(left);
    outer->addWidget(view_);
    outer->setSizes({320, 680});
    setCentralWidget(outer);

    connect(tree_, &CShellTree::folderSelected, list_, &CThumbsView::ShowFolder);

    buildMenus();
    // The message pane reads "Ready" whenever no prompt or message stands in it.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString &message) {
        if (message.isEmpty())
            statusBar()->showMessage(QStringLiteral("Ready"));
    });
    statusBar()->showMessage(QStringLiteral("Ready"));
}

void CMainFrame::buildMenus()
{
    fileMenu_ = menuBar()->addMenu(QStringLiteral("&File"));
    exitSeparator_ = fileMenu_->addSeparator();
    QAction *exit = fileMenu_->addAction(QStringLiteral("E&xit"));
    exit->setStatusTip(QStringLiteral("Quit the application; prompts to save documents"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    SetRecentFolders({});
}

void CMainFrame::SetRecentFolders(const QStringList &folders)
{
    qDeleteAll(recentActions_);
    recentActions_.clear();
    for (const RecentMenuEntry &entry : RecentMenuEntries(folders)) {
        auto *action = new QAction(entry.text, fileMenu_);
        action->setStatusTip(entry.prompt);
        action->setEnabled(entry.enabled);
        if (entry.index > 0)
            connect(action, &QAction::triggered, this, [this, n = entry.index] { emit recentFolderChosen(n); });
        fileMenu_->insertAction(exitSeparator_, action);
        recentActions_ << action;
    }
}

void CMainFrame::BringToFront()
{
    showMaximized();
    raise();
    activateWindow();
}
