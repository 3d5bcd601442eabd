#include "browse/ShellTree.h"

#include "platform/Prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

CShellTree::CShellTree(Prompts &prompts, QWidget *parent) : QWidget(parent), prompts_(prompts), label_(new QLabel(this))
{
    setAccessibleName(QStringLiteral("Folder tree"));
    label_->setWordWrap(true);
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addStretch();
}

bool CShellTree::SelectPath(const QString &path)
{
    if (!QFileInfo(path).isDir()) {
        prompts_.tell(path, QStringLiteral("Folder not found"), PromptIcon::Error, window());
        return false;
    }
    selected_ = QDir::cleanPath(path);
    label_->setText(QDir::toNativeSeparators(selected_));
    label_->setAccessibleName(QStringLiteral("Selected folder"));
    label_->setAccessibleDescription(selected_);
    emit folderSelected(selected_);
    return true;
}
