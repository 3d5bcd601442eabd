#include "browse/ShellTree.h"

#include "platform/DialogColours.h"
#include "platform/PhotoFiles.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHeaderView>
#include <QStandardPaths>
#include <QStyle>

namespace {

constexpr int PathRole = Qt::UserRole;
constexpr int FillRole = Qt::UserRole + 1;

bool HasSubfolder(const QString &folder)
{
    QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (!it.fileName().startsWith(QLatin1Char('.')))
            return true;
    }
    return false;
}

QString ChildPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

QList<SubfolderEntry> ListSubfolders(const QString &folder, const CancelToken &token)
{
    QStringList names;
    {
        const CancelToken::Blocking call = token.blocking();
        names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    names.erase(std::remove_if(names.begin(), names.end(), [](const QString &n) { return n.startsWith(QLatin1Char('.')); }),
                names.end());
    SortLikeFileManager(names);
    QList<SubfolderEntry> entries;
    entries.reserve(names.size());
    for (const QString &name : std::as_const(names)) {
        if (token.cancelled())
            return {};
        const QString path = ChildPath(folder, name);
        const CancelToken::Blocking call = token.blocking();
        entries.append({name, path, HasSubfolder(path)});
    }
    return entries;
}

void ReportFolderNotFound(Prompts &prompts, const QString &path, QWidget *owner)
{
    prompts.tell(path, QStringLiteral("Folder not found"), PromptIcon::Error, owner);
}

QList<FolderPlace> DefaultFolderPlaces(const QStringList &removableRoots)
{
    QList<FolderPlace> places;
    const QString home = QDir::homePath();
    places.append({QStringLiteral("Home"), home});
    const std::pair<QStandardPaths::StandardLocation, const char *> others[] = {
        {QStandardPaths::PicturesLocation, "Pictures"},
        {QStandardPaths::DesktopLocation, "Desktop"},
    };
    for (const auto &[location, name] : others) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QDir::cleanPath(path) != QDir::cleanPath(home) && QFileInfo(path).isDir())
            places.append({QString::fromLatin1(name), QDir::cleanPath(path)});
    }
    places.append({QStringLiteral("File System"), QStringLiteral("/")});
    for (const QString &root : removableRoots)
        places.append({QFileInfo(root).fileName().isEmpty() ? root : QFileInfo(root).fileName(), QDir::cleanPath(root)});
    return places;
}

CShellTree::CShellTree(Prompts &prompts, QWidget *parent) : QTreeWidget(parent), prompts_(prompts)
{
    setObjectName(QStringLiteral("FolderTree"));
    setAccessibleName(QStringLiteral("Folder tree"));
    setHeaderHidden(true);
    setColumnCount(1);
    // Hidden, the header still reaches screen readers, which would read its default label "1".
    setHeaderLabel(QStringLiteral("Folders"));
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    header()->setStretchLastSection(true);
    ApplyListColours(this);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem *item) { fill(item); });
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current, QTreeWidgetItem *) { onCurrentChanged(current); });
}

CShellTree::~CShellTree() = default;

void CShellTree::showEvent(QShowEvent *event)
{
    QTreeWidget::showEvent(event);
    if (!populated_)
        PopulateTree();
}

QTreeWidgetItem *CShellTree::addItem(QTreeWidgetItem *parent, const QString &name, const QString &path, bool hasChildren)
{
    auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, name);
    item->setData(0, PathRole, path);
    item->setData(0, FillRole, NotFilled);
    item->setData(0, Qt::AccessibleDescriptionRole, path);
    item->setIcon(0, style()->standardIcon(parent ? QStyle::SP_DirIcon : (path == QDir::homePath() ? QStyle::SP_DirHomeIcon : QStyle::SP_DriveHDIcon)));
    item->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicator);
    return item;
}

void CShellTree::PopulateTree()
{
    populated_ = true;
    fills_.cancelAll();
    filling_.clear();
    walk_ = Walk();
    clear();
    if (places_.isEmpty())
        places_ = DefaultFolderPlaces({});
    for (const FolderPlace &place : places_)
        addItem(nullptr, place.name, place.path, true);
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setExpanded(true);
    // The first place is selected but not listed: start-up lists the folder it chose right
    // after, and listing the home folder first would put it in the recent folders each time.
    if (topLevelItemCount() > 0) {
        selecting_ = true;
        setCurrentItem(topLevelItem(0));
        selecting_ = false;
    }
}

void CShellTree::SetPlaces(const QList<FolderPlace> &places)
{
    places_ = places;
    if (!populated_)
        return;
    for (const FolderPlace &place : places) {
        bool shown = false;
        for (int i = 0; i < topLevelItemCount() && !shown; ++i)
            shown = topLevelItem(i)->data(0, PathRole).toString() == place.path;
        if (!shown)
            addItem(nullptr, place.name, place.path, true)->setExpanded(true);
    }
}

void CShellTree::fill(QTreeWidgetItem *item)
{
    if (!item || item->data(0, FillRole).toInt() != NotFilled)
        return;
    item->setData(0, FillRole, Filling);
    const quint64 number = fills_.start(
        [path = item->data(0, PathRole).toString()](const WorkerTask &task) { return ListSubfolders(path, task.token()); },
        [this](quint64 n, const QList<SubfolderEntry> &entries) {
            if (QTreeWidgetItem *item = filling_.take(n))
                filled(item, entries);
        });
    filling_.insert(number, item);
}

void CShellTree::filled(QTreeWidgetItem *item, const QList<SubfolderEntry> &entries)
{
    item->setData(0, FillRole, Filled);
    for (const SubfolderEntry &e : entries)
        addItem(item, e.name, e.path, e.hasSubfolders);
    if (entries.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    if (walk_.active && walk_.item == item)
        stepWalk();
}

bool CShellTree::SelectPath(const QString &path)
{
    if (!QFileInfo(path).isDir()) {
        ReportFolderNotFound(prompts_, path, window());
        return false;
    }
    if (!populated_)
        PopulateTree();
    const QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());

    // The most specific place holding the folder: Pictures rather than Home, Home rather than
    // the root.
    QTreeWidgetItem *start = nullptr;
    QString startPath;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QString place = topLevelItem(i)->data(0, PathRole).toString();
        const bool holds = target == place || place == QLatin1String("/")
                           || target.startsWith(place + QLatin1Char('/'));
        if (holds && (!start || place.size() > startPath.size())) {
            start = topLevelItem(i);
            startPath = place;
        }
    }
    if (!start)
        return true;
    ++folderRequests_;
    walk_.active = true;
    walk_.item = start;
    walk_.remaining = target.mid(startPath.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    stepWalk();
    return true;
}

void CShellTree::stepWalk()
{
    while (!walk_.remaining.isEmpty()) {
        QTreeWidgetItem *item = walk_.item;
        if (item->data(0, FillRole).toInt() != Filled) {
            fill(item); // the walk goes on when the children are in
            return;
        }
        const QString name = walk_.remaining.first();
        QTreeWidgetItem *exact = nullptr, *caseBlind = nullptr;
        for (int i = 0; i < item->childCount() && !exact; ++i) {
            QTreeWidgetItem *child = item->child(i);
            if (child->text(0) == name)
                exact = child;
            else if (!caseBlind && child->text(0).compare(name, Qt::CaseInsensitive) == 0)
                caseBlind = child;
        }
        QTreeWidgetItem *next = exact ? exact : caseBlind;
        if (!next)
            break; // e.g. a hidden folder: the deepest folder reached stays
        walk_.item = next;
        walk_.remaining.removeFirst();
    }
    finishWalk(walk_.item);
}

void CShellTree::finishWalk(QTreeWidgetItem *item)
{
    walk_ = Walk();
    for (QTreeWidgetItem *up = item->parent(); up; up = up->parent())
        up->setExpanded(true);
    if (currentItem() == item) {
        // Already selected (perhaps silently, at the start): list it now.
        ++folderRequests_;
        emit folderSelected(item->data(0, PathRole).toString());
    } else {
        setCurrentItem(item);
    }
    scrollToItem(item);
    emit walkFinished(item->data(0, PathRole).toString());
}

void CShellTree::onCurrentChanged(QTreeWidgetItem *current)
{
    if (!current || selecting_)
        return;
    // This choice is the newest: a walk still reading its way down must not overtake it.
    walk_ = Walk();
    ++folderRequests_;
    // Selecting an item reads its children, so that a walk can go on from it.
    fill(current);
    emit folderSelected(current->data(0, PathRole).toString());
}

QString CShellTree::selectedPath() const
{
    QString path;
    GetSelectedFolderPath(&path);
    return path;
}

bool CShellTree::GetSelectedFolderPath(QString *path) const
{
    const QTreeWidgetItem *item = currentItem();
    if (!item)
        return false;
    *path = item->data(0, PathRole).toString();
    return !path->isEmpty();
}
