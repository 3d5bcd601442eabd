#pragma once

#include "platform/Prompts.h"
#include "platform/Worker.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class QWidget;

// Photos handed to the user's mail program as attachments of a new message, through
// `xdg-email --attach FILE ...`; the user writes and sends the message there. The program
// builds no mail itself.

// The message shown when the mail program reports a failure by exit code `xdgExitCode`:
// "Message did not get sent!.\r\n" followed by the reason.
QString MailFailureText(int xdgExitCode);

struct MailHandOver
{
    enum Outcome {
        Handed,        // the mail program took the message (or the user closed it unsent)
        PhotoMissing,  // a photo is gone from the disk: nothing is sent
        NoMailProgram, // xdg-email is missing or could not be started
        Failed,        // the mail program reports a failure: `exitCode`
    };
    Outcome outcome = Handed;
    int exitCode = 0;
};
// Starts the mail program with the photos attached, in their order, and waits until it is
// done; the compose window may stay open for minutes. Call it on a worker.
MailHandOver HandPhotosToMailProgram(const QStringList &paths, const CancelToken &token = {});

class PhotoMailer : public QObject
{
    Q_OBJECT
public:
    // The messages are owned by `owner`.
    PhotoMailer(Prompts &prompts, QWidget *owner, QObject *parent = nullptr);
    ~PhotoMailer() override;

    // Hands the photos over on a worker; the messages follow when the mail program is done.
    void SendPhotosByMail(const QStringList &paths);

signals:
    // The mail program is done with the photos (or could not be started: `prepared` false).
    void finished(bool prepared);

private:
    Prompts &prompts_;
    QPointer<QWidget> owner_;

    // Each hand-over waits on its own thread while the mail program runs; a program that never
    // ends holds nobody up, and is left running when Quillmere ends.
    WorkerPool pool_{WorkerPool::Options{"qlm-mail", WorkPriority::Normal, 1}};
    Worker worker_{this, pool_};
};
