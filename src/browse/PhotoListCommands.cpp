#include "browse/PhotoListCommands.h"

#include "browse/ImageView.h"
#include "browse/ThumbsView.h"
#include "photo/PhotoImage.h"
#include "photo/PhotoReport.h"
#include "platform/FileMoves.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <string>

namespace {

const QString kInvalidNameText = QStringLiteral(
    "Invalid file name! Please enter a different name.\n"
    "A file name cannot contain any of the following characters:\n"
    " /   \\   %   :   *   <   >   |   \"");
const QString kRenameError = QStringLiteral("Rename error");

QString FileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// The characters a name is refused for. A NUL would cut the name short on its way to the
// file system.
bool HasForbiddenCharacter(const QString &text)
{
    static const QString forbidden = QStringLiteral("/\\:*<>|?\"") + QChar(u'\0');
    for (QChar c : text)
        if (forbidden.contains(c))
            return true;
    return false;
}

struct InfoText
{
    bool opened = false;
    std::string text;
};

} // namespace

QString PhotoExtension(const QString &path)
{
    const QString name = FileNameOf(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

RenamePlan PlanPhotoRename(const QString &oldPath, const QString &newText)
{
    RenamePlan plan;
    if (newText.isEmpty())
        return plan;
    const qsizetype dot = newText.lastIndexOf(u'.');
    const QString tested = dot < 0 ? newText : newText.left(dot);
    if (dot == 0)
        return plan;
    if (HasForbiddenCharacter(tested)) {
        plan.check = RenameCheck::InvalidName;
        return plan;
    }
    const QString newPath = oldPath.left(oldPath.lastIndexOf(u'/') + 1) + newText;
    // Compared exactly: a photo keeps its type and the very spelling of its extension.
    if (PhotoExtension(newPath) != PhotoExtension(oldPath)) {
        plan.check = RenameCheck::ExtensionChanged;
        return plan;
    }
    plan.check = RenameCheck::Accepted;
    plan.newPath = newPath;
    return plan;
}

int RenamePhotoFile(const QString &oldPath, const QString &newPath, const CancelToken &token)
{
    const CancelToken::Blocking call = token.blocking();
    // A folder of that name is left to the rename, which refuses it like any name taken.
    const QFileInfo target(newPath);
    if ((target.exists() || target.isSymLink()) && !target.isDir())
        return EEXIST;
    const int error = RenameWithoutReplacing(oldPath, newPath);
    // Renaming needs no write permission here; the photo is made writable only once renamed,
    // so a refused rename changes nothing.
    if (error == 0)
        ClearReadOnly(newPath);
    return error;
}

QString DeleteQuestion(int selectionMark, int selectedCount)
{
    QString question;
    if (selectionMark != -1) {
        question = selectedCount == 1
            ? QStringLiteral("Do you want to delete this image?")
            : QStringLiteral("Do you want to delete these ") + QString::number(selectedCount) + QStringLiteral(" images?");
    }
    return question + QStringLiteral("\nDeleting images will move them to the Trash.");
}

TrashOutcome MovePhotosToTrash(const QStringList &paths, const CancelToken &token)
{
    TrashOutcome outcome;
    for (const QString &path : paths) {
        if (token.cancelled())
            break;
        const CancelToken::Blocking call = token.blocking();
        QString why;
        if (MoveToTrash(path, &why))
            outcome.trashed << path;
        else
            outcome.failed << FileNameOf(path) + QStringLiteral(": ") + why;
    }
    return outcome;
}

PhotoListCommands::PhotoListCommands(CThumbsView &list, CQuillmereNewClientView &view, Prompts &prompts, QObject *parent)
    : QObject(parent), list_(list), view_(view), prompts_(prompts)
{
}

PhotoListCommands::~PhotoListCommands()
{
    endBusy();
}

void PhotoListCommands::tell(const QString &text, const QString &caption, PromptIcon icon)
{
    prompts_.tell(text, caption, icon, &list_);
}

void PhotoListCommands::endBusy()
{
    if (std::exchange(busy_, false))
        QApplication::restoreOverrideCursor();
}

void PhotoListCommands::RenamePhoto(const QString &path, const QString &newText)
{
    const RenamePlan plan = PlanPhotoRename(path, newText);
    switch (plan.check) {
    case RenameCheck::RejectedSilently: emit finished(); return;
    case RenameCheck::InvalidName:
        tell(kInvalidNameText, QStringLiteral("Invalid File Name"), PromptIcon::Error);
        emit finished();
        return;
    case RenameCheck::ExtensionChanged:
        tell(QStringLiteral("Cannot change file extension."), kRenameError, PromptIcon::Error);
        emit finished();
        return;
    case RenameCheck::Accepted: break;
    }
    worker_.start([path, newPath = plan.newPath](const WorkerTask &task) { return RenamePhotoFile(path, newPath, task.token()); },
                  [this, path, newPath = plan.newPath](quint64, int error) {
                      if (error == EEXIST) {
                          tell(QStringLiteral("File with that name already exists."), kRenameError, PromptIcon::Error);
                      } else if (error != 0) {
                          tell(QStringLiteral("Cannot rename ") + FileNameOf(path) + QStringLiteral(": ")
                                   + qt_error_string(error),
                               kRenameError, PromptIcon::Error);
                      } else {
                          list_.PhotoRenamed(path, newPath);
                          // The view names the photo by its path: it follows the new name.
                          if (view_.path() == path)
                              view_.SetFile(newPath);
                      }
                      emit finished();
                  });
}

void PhotoListCommands::DeletePhotos()
{
    const QStringList paths = list_.SelectedPaths();
    Prompt question;
    question.text = DeleteQuestion(list_.selectionMark(), int(paths.size()));
    question.caption = QStringLiteral("Delete images?");
    question.icon = PromptIcon::Warning;
    question.buttons = PromptButtons::YesNo;
    question.defaultAnswer = PromptAnswer::No;
    question.owner = &list_;
    if (prompts_.ask(question) != PromptAnswer::Yes) {
        emit finished();
        return;
    }
    if (!std::exchange(busy_, true))
        QApplication::setOverrideCursor(Qt::WaitCursor);
    worker_.start([paths](const WorkerTask &task) { return MovePhotosToTrash(paths, task.token()); },
                  [this](quint64, const TrashOutcome &outcome) {
                      const bool shownGone = outcome.trashed.contains(view_.path());
                      list_.RemovePhotos(outcome.trashed);
                      if (shownGone)
                          view_.SetFile(list_.FirstPhotoOfPage());
                      endBusy();
                      if (!outcome.failed.isEmpty()) {
                          tell(QStringLiteral("These photos could not be moved to the Trash and were kept:\n")
                                   + outcome.failed.join(u'\n'),
                               QStringLiteral("Quillmere"), PromptIcon::Error);
                      }
                      emit finished();
                  });
}

void PhotoListCommands::ShowExtendedPhotoInfo()
{
    const int mark = list_.selectionMark();
    if (mark < 0) {
        emit finished();
        return;
    }
    worker_.start(
        [path = list_.GetItemPath(mark)](const WorkerTask &task) {
            InfoText info;
            const CancelToken::Blocking call = task.token().blocking();
            info.opened = ExtendedPhotoInfoText(QFile::encodeName(path).constData(), info.text);
            return info;
        },
        [this](quint64, const InfoText &info) {
            // A photo that cannot be read shows nothing.
            if (info.opened)
                tell(QString::fromStdString(info.text), QStringLiteral("Extended Image Info"), PromptIcon::None);
            emit finished();
        });
}
