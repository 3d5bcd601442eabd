#pragma once

// A front end that writes down everything an upload run shows and asks, and answers the
// failure prompt from a queue (Try Again when the queue is empty).
#include "upload/UploadWorker.h"

#include <QStringList>

#include <mutex>

struct RecordingFrontEnd : UploadFrontEnd {
    QStringList log; // "total% 42", "photo% 10", "ask The upload of a.jpg failed.|reason", ...
    QList<int> totals;
    QList<UploadFailure> failures;
    QList<std::optional<FailureAnswer>> answers;
    std::function<void()> onAsk; // e.g. the user's Stop while the question waits
    std::mutex mutex; // a run may report from another thread

    void add(const QString &line)
    {
        std::lock_guard lock(mutex);
        log << line;
    }
    QStringList lines(const QString &prefix)
    {
        std::lock_guard lock(mutex);
        QStringList found;
        for (const QString &l : std::as_const(log))
            if (l.startsWith(prefix))
                found << l;
        return found;
    }

    void UploadBegan() override { add("began"); }
    void SetPhotoName(const QString &t) override { add("name " + t); }
    void SetPhotoStatus(const QString &t) override { add("status " + t); }
    void SetPhotoProgress(int p) override { add("photo% " + QString::number(p)); }
    void SetTotalStatus(const QString &t) override { add("totalStatus " + t); }
    void SetTotalProgress(int p) override
    {
        add("total% " + QString::number(p));
        std::lock_guard lock(mutex);
        totals << p;
    }
    void PhotoUploaded(int n, const QString &path, bool recorded) override
    {
        add(QStringLiteral("uploaded %1 %2%3").arg(n).arg(path, recorded ? "" : " unrecorded"));
    }
    void PhotoLeft(const QString &path, const QString &reason) override { add("left " + path + "|" + reason); }
    void RunEnding() override { add("ending"); }
    void UploadEnded(bool completed) override { add(completed ? "ended completed" : "ended canceled"); }
    void Tell(const QString &text, const QString &caption) override { add("tell " + caption + "|" + text); }
    std::optional<FailureAnswer> AskAfterFailure(const UploadFailure &f) override
    {
        add("ask " + f.message + "|" + f.reason);
        failures << f;
        if (onAsk)
            onAsk();
        return answers.isEmpty() ? std::optional(FailureAnswer{}) : answers.takeFirst();
    }
    void StopNotifying() override { add("stopNotifying"); }
    void BringToFront() override { add("front"); }
};

inline FailureAnswer Answer(FailureChoice choice, bool dontShowAgain = false)
{
    return FailureAnswer{choice, dontShowAgain};
}
