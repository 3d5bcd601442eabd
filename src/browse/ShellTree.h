#pragma once

#include "platform/Worker.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

class Prompts;

// One top-level place of the folder tree.
struct FolderPlace
{
    QString name;
    QString path;
};

// A folder below another, as the tree shows it.
struct SubfolderEntry
{
    QString name;
    QString path;
    bool hasSubfolders = false;
};

// The subfolders of `folder` in file-manager order, hidden (dot) folders left out, each with
// whether it has subfolders of its own (for its expand button). Plain disk work: the tree
// runs it on a worker.
QList<SubfolderEntry> ListSubfolders(const QString &folder, const CancelToken &token = {});

// The message for a folder asked for that is not there, with the path as its text.
void ReportFolderNotFound(Prompts &prompts, const QString &path, QWidget *owner);

// Home, Pictures and Desktop (those that exist and are not the home folder itself), the root
// folder and each removable volume.
QList<FolderPlace> DefaultFolderPlaces(const QStringList &removableRoots);

// The folder tree: the computer's folders from a few top-level places down, folders only.
// Children are read on a worker the first time an item is expanded or selected. Selecting a
// folder asks the photo list to list it (`folderSelected`).
class CShellTree : public QTreeWidget
{
    Q_OBJECT
public:
    explicit CShellTree(Prompts &prompts, QWidget *parent = nullptr);
    ~CShellTree() override;

    // The top-level places. Before the tree is built (at its first showing) they replace the
    // default ones; after, the places not yet shown are added at the end, expanded, so that
    // media found late do not disturb what the user has selected.
    void SetPlaces(const QList<FolderPlace> &places);
    void PopulateTree();

    // Walks down to the folder at `path` component by component and selects the deepest
    // folder reached, which the photo list then lists. Names match exactly, or else without
    // regard to case. A path that does not exist is reported in a "Folder not found" box and
    // selects nothing (false).
    bool SelectPath(const QString &path);
    // The selected item's folder, or empty.
    QString selectedPath() const;
    bool GetSelectedFolderPath(QString *path) const;
    // A walk of SelectPath is still reading folders.
    bool isWalking() const { return walk_.active; }
    // Rises whenever a folder is asked for, by the user or by SelectPath; the place selected
    // when the tree is built does not count. A caller that must not overtake a newer choice
    // compares it with the number it saw before.
    quint64 folderRequests() const { return folderRequests_; }

signals:
    void folderSelected(const QString &path);
    // A SelectPath walk ended on this folder (selected, or already selected).
    void walkFinished(const QString &path);

protected:
    void showEvent(QShowEvent *event) override;

private:
    enum FillState { NotFilled, Filling, Filled };
    void fill(QTreeWidgetItem *item);
    void filled(QTreeWidgetItem *item, const QList<SubfolderEntry> &entries);
    void stepWalk();
    void finishWalk(QTreeWidgetItem *item);
    void onCurrentChanged(QTreeWidgetItem *current);
    QTreeWidgetItem *addItem(QTreeWidgetItem *parent, const QString &name, const QString &path, bool hasChildren);

    struct Walk
    {
        bool active = false;
        QTreeWidgetItem *item = nullptr;
        QStringList remaining;
    };

    Prompts &prompts_;
    QList<FolderPlace> places_;
    bool populated_ = false;
    bool selecting_ = false;
    Walk walk_;
    quint64 folderRequests_ = 0;
    QHash<quint64, QTreeWidgetItem *> filling_; // fill request number -> the item it fills
    WorkerPool pool_{WorkerPool::Options{"qlm-tree", WorkPriority::Normal, 2}};
    Worker fills_{this, pool_};
};
