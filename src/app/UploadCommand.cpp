#include "app/UploadCommand.h"

#include "app/InstallerSetup.h"
#include "platform/PhotoFiles.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "upload/UploadRecord.h"
#include "upload/UploadWorker.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

namespace {

struct Photo {
    QString path;  // absolute: what is sent and recorded
    QString shown; // as the user named it
};

QByteArray Local(const QString &text)
{
    return text.toLocal8Bit();
}

void Line(std::FILE *err, const QString &text)
{
    std::fprintf(err, "%s\n", Local(text).constData());
    std::fflush(err);
}

// The photos the paths name, in order, each once; false with `error` for a path that names
// nothing, or a file that is not a photo.
bool CollectPhotos(const QStringList &paths, QList<Photo> *photos, QString *error)
{
    QSet<QString> seen;
    auto add = [&](const QString &path, const QString &shown) {
        const QString clean = QDir::cleanPath(path);
        if (!seen.contains(clean)) {
            seen.insert(clean);
            photos->append({clean, shown});
        }
    };
    for (const QString &given : paths) {
        const QFileInfo info(given);
        if (info.isDir()) {
            const QString folder = info.absoluteFilePath();
            QString prefix = given;
            while (prefix.size() > 1 && prefix.endsWith(u'/'))
                prefix.chop(1);
            // As the photo list shows a folder: its photo files, not its sub-folders.
            for (const QString &name : FolderEntryNames(folder))
                if (name.size() > 2 && IsPhotoFile(name) && QFileInfo(folder + u'/' + name).isFile())
                    add(folder + u'/' + name, prefix == u"/" ? prefix + name : prefix + u'/' + name);
        } else if (info.isFile()) {
            if (!IsPhotoFile(given)) {
                *error = given + QStringLiteral(": not a photo (.jpg, .jpeg, .tif or .tiff)");
                return false;
            }
            add(info.absoluteFilePath(), given);
        } else {
            *error = given + QStringLiteral(": no such file or folder");
            return false;
        }
    }
    return true;
}

// The run's front end on standard error: a line for each photo as it is done, a progress
// bar on a terminal, and no questions: a photo whose connection was cut, that was locked by
// a request still finishing on the service, or that met a service error, is tried twice
// more after a pause; any other failure moves on to the next photo.
class ErrorStreamFrontEnd : public UploadFrontEnd
{
public:
    static constexpr int kRetries = 2;

    ErrorStreamFrontEnd(std::FILE *err, bool terminal, QHash<QString, QString> shown,
                        std::shared_ptr<UploadCancel> cancel)
        : err_(err), terminal_(terminal), shown_(std::move(shown)), cancel_(std::move(cancel))
    {
    }

    void UploadBegan() override {}
    void SetPhotoName(const QString &text) override
    {
        name_ = text;
        draw();
    }
    void SetPhotoStatus(const QString &) override {}
    void SetPhotoProgress(int) override {}
    void SetTotalStatus(const QString &) override {}
    void SetTotalProgress(int percent) override
    {
        percent_ = percent;
        draw();
    }
    void PhotoUploaded(int, const QString &photoPath, bool recorded) override
    {
        reported_.insert(photoPath);
        say(shown(photoPath) + (recorded ? QStringLiteral(": uploaded")
                                         : QStringLiteral(": uploaded (the record of uploads could not be written)")));
    }
    void PhotoLeft(const QString &photoPath, const QString &reason) override
    {
        reported_.insert(photoPath);
        say(shown(photoPath) + QStringLiteral(": failed: ") + QString(reason).replace(u'\n', u' '));
    }
    // The run ended before these photos had their turn: each still gets its line.
    void NeverTried(const QStringList &photoPaths, const QString &reason)
    {
        for (const QString &path : photoPaths)
            if (!reported_.contains(path))
                PhotoLeft(path, reason);
    }
    void RunEnding() override { erase(); }
    void UploadEnded(bool) override {}

    void Tell(const QString &text, const QString &) override
    {
        say(QStringLiteral("quillmere: ") + QString(text).replace(u'\n', u' '));
    }
    std::optional<FailureAnswer> AskAfterFailure(const UploadFailure &failure) override
    {
        FailureAnswer answer;
        const bool transient = failure.status == 0 || failure.status == 423 || failure.status >= 500;
        const int tries = tries_[failure.photoPath]++;
        if (!transient || tries >= kRetries) {
            answer.choice = FailureChoice::Continue;
            return answer;
        }
        // A second, then two: time for a connection to come back, or a request to finish.
        for (int i = 0; i < 10 * (tries + 1) && !cancel_->requested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answer.choice = FailureChoice::TryAgain;
        return answer;
    }
    void StopNotifying() override {}
    void BringToFront() override {}

private:
    QString shown(const QString &path) const { return shown_.value(path, path); }

    void say(const QString &line)
    {
        erase();
        Line(err_, line);
        draw();
    }
    void erase()
    {
        if (terminal_ && drawn_) {
            std::fputs("\r\033[K", err_);
            std::fflush(err_);
            drawn_ = false;
        }
    }
    void draw()
    {
        if (!terminal_)
            return;
        constexpr int width = 30;
        const int filled = std::clamp(percent_, 0, 100) * width / 100;
        const QByteArray bar = QByteArray(filled, '#') + QByteArray(width - filled, '-');
        std::fprintf(err_, "\r\033[K[%s] %3d%% %s", bar.constData(), percent_, Local(name_).constData());
        std::fflush(err_);
        drawn_ = true;
    }

    std::FILE *err_;
    bool terminal_;
    QHash<QString, QString> shown_;
    std::shared_ptr<UploadCancel> cancel_;
    QHash<QString, int> tries_;
    QSet<QString> reported_;
    QString name_;
    int percent_ = 0;
    bool drawn_ = false;
};

// The signal handler can reach nothing else: it only sets the flags, which are lock-free.
std::atomic<UploadCancel *> g_signalledCancel{nullptr};

void OnStopSignal(int)
{
    if (UploadCancel *cancel = g_signalledCancel.load())
        cancel->request();
}

} // namespace

UploadArguments ParseUploadArguments(const QStringList &arguments)
{
    UploadArguments a;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (options && arg == u"--") {
            options = false;
        } else if (options && arg == u"--all") {
            a.all = true;
        } else if (options && (arg == u"--album" || arg.startsWith(u"--album="))) {
            if (arg == u"--album") {
                if (++i >= arguments.size()) {
                    a.error = QStringLiteral("--album takes the name of an album");
                    return a;
                }
                a.album = arguments[i];
            } else {
                a.album = arg.mid(8);
            }
            if (a.album.trimmed().isEmpty()) {
                a.error = QStringLiteral("--album takes the name of an album");
                return a;
            }
        } else if (options && arg.startsWith(u'-') && arg.size() > 1) {
            a.error = QStringLiteral("unknown option ") + arg;
            return a;
        } else if (!arg.isEmpty()) {
            a.paths << arg;
        }
    }
    if (a.paths.isEmpty())
        a.error = QStringLiteral("no photo or folder to upload");
    return a;
}

int RunUploadCommand(const QStringList &arguments, SettingsStore &store, std::FILE *err, bool terminal,
                     std::shared_ptr<UploadCancel> cancel)
{
    const UploadArguments args = ParseUploadArguments(arguments);
    if (!args.error.isEmpty()) {
        Line(err, QStringLiteral("quillmere: ") + args.error);
        Line(err, QStringLiteral("Usage: quillmere --upload [--album NAME] [--all] PATH..."));
        return 2;
    }
    QList<Photo> photos;
    QString error;
    if (!CollectPhotos(args.paths, &photos, &error)) {
        Line(err, QStringLiteral("quillmere: ") + error);
        return 2;
    }
    if (!CompleteInstalledSettings(store)) {
        Line(err, QStringLiteral("quillmere: the settings are missing; quillmere-setup writes them"));
        return 2;
    }
    Settings settings;
    store.LoadSettings(settings);
    if (settings.executablePath.isEmpty()) {
        Line(err, QStringLiteral("quillmere: the settings are missing; quillmere-setup writes them"));
        return 2;
    }
    // "Notify if upload fails" is about asking the user, and here nobody is asked: this
    // front end answers every failure itself, trying a cut connection again whatever the
    // window's prompt is set to.
    settings.notifyIfUploadFails = 1;
    if (settings.userName.isEmpty() || settings.password.isEmpty()) {
        Line(err, QStringLiteral("quillmere: no account is stored; enter it in Quillmere's account dialog, "
                                 "or with quillmere-setup --account"));
        return 2;
    }

    QStringList paths;
    for (const Photo &p : std::as_const(photos))
        paths << p.path;
    if (!args.all) {
        // Only the photos never sent, or written since they were sent; in the order given.
        PathDates newFiles, knownFiles;
        UploadRecord(settings.executablePath).CollectUploadCandidates(paths, false, newFiles, knownFiles);
        paths.removeIf([&newFiles](const QString &path) { return !newFiles.contains(path); });
    }
    if (paths.isEmpty()) {
        Line(err, QStringLiteral("0 uploaded, 0 failed"));
        return 0;
    }

    UploadJob job;
    job.email = settings.userName;
    job.password = settings.password;
    job.album = args.album;
    job.selection = paths;
    for (const QString &path : std::as_const(paths))
        job.totalBytes += std::max<qint64>(0, QFileInfo(path).size());
    QHash<QString, QString> shown;
    for (const Photo &p : std::as_const(photos))
        shown.insert(p.path, p.shown);

    ErrorStreamFrontEnd frontEnd(err, terminal, std::move(shown), cancel);
    UploadRun run(settings, frontEnd, cancel);
    run.setPauseBeforeEnd(std::chrono::milliseconds(0));
    const UploadRunResult result = run.Run(job);
    frontEnd.NeverTried(paths, result.connected ? QStringLiteral("Upload canceled.")
                                                : QStringLiteral("HTTP session initiation failure."));
    const int failed = int(paths.size()) - result.uploaded;
    Line(err, QString::number(result.uploaded) + QStringLiteral(" uploaded, ") + QString::number(failed)
                  + QStringLiteral(" failed"));
    return failed == 0 ? 0 : 1;
}

void StopOnSignals(UploadCancel *cancel)
{
    g_signalledCancel = cancel;
    struct sigaction action = {};
    action.sa_handler = cancel ? OnStopSignal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    // The first signal stops the run after its block; a second one ends the program at once.
    action.sa_flags = cancel ? SA_RESETHAND : 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
