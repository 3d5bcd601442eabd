#pragma once

#include <QString>
#include <QWidget>

class Prompts;
class QLabel;

// The folder tree pane. For now it knows only the selected folder and shows its path; the
// browsable tree of the computer's folders takes its place without changing this interface.
class CShellTree : public QWidget
{
    Q_OBJECT
public:
    explicit CShellTree(Prompts &prompts, QWidget *parent = nullptr);

    // Selects the folder at this path, so that the photo list shows it. A path that does not
    // exist is reported in a "Folder not found" box and selects nothing.
    bool SelectPath(const QString &path);
    QString selectedPath() const { return selected_; }

signals:
    void folderSelected(const QString &path);

private:
    Prompts &prompts_;
    QLabel *label_;
    QString selected_;
};
