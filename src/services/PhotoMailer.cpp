#include "services/PhotoMailer.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

QString MailFailureText(int xdgExitCode)
{
    QString reason;
    switch (xdgExitCode) {
    case 2: // a file named on the command line does not exist
        reason = QStringLiteral("The specified attachment was not found. No message was sent.\r\n");
        break;
    case 4: // the action failed
        reason = QStringLiteral("One or more unspecified errors occurred. No message was sent.\r\n");
        break;
    case 5: // no permission to read a file
        reason = QStringLiteral("The specified attachment could not be opened. No message was sent.\r\n");
        break;
    default: reason = QStringLiteral("Unknown error code.\r\n"); break;
    }
    return QStringLiteral("Message did not get sent!.\r\n") + reason;
}

MailHandOver HandPhotosToMailProgram(const QStringList &paths, const CancelToken &token)
{
    MailHandOver result;
    const CancelToken::Blocking call = token.blocking();
    for (const QString &path : paths) {
        if (!QFileInfo::exists(path)) {
            result.outcome = MailHandOver::PhotoMissing;
            return result;
        }
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    if (program.isEmpty()) {
        result.outcome = MailHandOver::NoMailProgram;
        return result;
    }
    QStringList arguments;
    for (const QString &path : paths)
        arguments << QStringLiteral("--attach") << path;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    // Whatever the mail program says goes where Quillmere's own output goes; a pipe nobody
    // reads would stall a talkative one.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1)) {
        result.outcome = MailHandOver::NoMailProgram;
        return result;
    }
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit) {
        result.outcome = MailHandOver::Failed;
        result.exitCode = -1;
    } else if (process.exitCode() != 0) {
        result.outcome = MailHandOver::Failed;
        result.exitCode = process.exitCode();
    }
    return result;
}

PhotoMailer::PhotoMailer(Prompts &prompts, QWidget *owner, QObject *parent)
    : QObject(parent), prompts_(prompts), owner_(owner)
{
}

PhotoMailer::~PhotoMailer() = default;

void PhotoMailer::SendPhotosByMail(const QStringList &paths)
{
    worker_.start([paths](const WorkerTask &task) { return HandPhotosToMailProgram(paths, task.token()); },
                  [this](quint64, const MailHandOver &result) {
                      const QString caption = QStringLiteral("Error");
                      switch (result.outcome) {
                      case MailHandOver::Handed: break;
                      case MailHandOver::PhotoMissing: break; // the photo list changed under the user: silently
                      case MailHandOver::NoMailProgram:
                          prompts_.tell(QStringLiteral("Error preparing mail!"), caption, PromptIcon::Error, owner_);
                          break;
                      case MailHandOver::Failed:
                          prompts_.tell(MailFailureText(result.exitCode), caption, PromptIcon::Error, owner_);
                          break;
                      }
                      emit finished(result.outcome != MailHandOver::NoMailProgram);
                  });
}
