#pragma once

#include "platform/HttpClient.h"
#include "platform/Worker.h"
#include "services/ServiceLocation.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class Prompts;
class SettingsStore;
struct Settings;

// The version check and the hand-over to the updater: the album service says which version it
// offers; when that is newer than the installed one (CurrentVersion) and the user agrees,
// quillmere-updater fetches the package the service offers, checks it, and hands it to the
// desktop's software installer, after which the program ends so that it can be replaced.

// The address the updater is given: the service's support page.
QString CheckAddress(const ServiceLocation &service);

// A version text's decimal value x 100 + 0.001, truncated toward zero: 3.25 is 325. Leading
// white space is skipped, then an optional sign, digits with an optional fraction and
// exponent; reading stops at the first other character, and no number at all is 0. Values
// beyond 32 bits, or beyond a double, are held at the nearest end.
qint32 VersionNumber(const QString &text);

// The version in the reply to the version request: the first line of a status 200 body, of 1
// to 5 characters (its line end not counted). None when the reply is not that.
std::optional<QString> ServerVersionReply(const HttpReply &reply);

// The version request: a POST without a body to the service's getver page, with the header
// lines a browser of its time would send.
HttpClient::Request VersionRequest(const ServiceLocation &service);

struct VersionComparison
{
    int result = -1; // 1: the service has a newer version; 0: it has not; -1: the check failed
    QString message; // with -1: what the user is told
};
// Asks the service for its version and compares it with `installed`. Blocks: call it on a worker.
VersionComparison CompareServerVersion(const ServiceLocation &service, const QString &installed, HttpClient &http);

// How quillmere-updater ended.
enum class UpdaterOutcome { Started, NotRegistered, NoPackage, Failed };
// Runs the updater on the check address and waits for it; NotRegistered when it is missing,
// not an executable file or cannot be started. Call it on a worker.
UpdaterOutcome RunUpdater(const QString &program, const QString &checkAddress, const CancelToken &token = {});
// quillmere-updater beside the running program.
QString DefaultUpdaterProgram();

enum class UpdateOutcome {
    InstallStarted, // the updater has the package: the program is to end
    NotNewer,       // the service has nothing newer
    NoConnection,   // the service cannot be reached: nothing was said
    Declined,       // the user answered No
    Failed,         // the user has been told what went wrong
};

struct LiveUpdateContext
{
    const Settings *settings = nullptr;   // QLMHttpServer and QLMHttpPort, read as a check starts
    const SettingsStore *store = nullptr; // CurrentVersion, read at each check
    Prompts *prompts = nullptr;
    QPointer<QWidget> owner;              // of the messages; none before the window exists
    bool *noNewVersion = nullptr;         // set when the service has nothing newer
    QString updaterProgram;               // empty: quillmere-updater beside the program
    int connectionTestSeconds = 5;        // the look whether the service can be reached at all
    int versionRequestSeconds = 15;
};

class LiveUpdate : public QObject
{
    Q_OBJECT
public:
    explicit LiveUpdate(LiveUpdateContext context, QObject *parent = nullptr);
    ~LiveUpdate() override;

    // Starts a check; its questions and messages come as the answers arrive, and `finished`
    // at the end. Nothing when a check is under way.
    void Start();
    bool running() const { return running_; }

    // A whole check, waiting for it while events are processed (the start-up check, before
    // any window exists). True when the installation of an update has been started.
    bool CheckForUpdate();

signals:
    void finished(UpdateOutcome outcome);

private:
    void versionKnown(const VersionComparison &answer);
    void updaterEnded(UpdaterOutcome outcome);
    void tell(const QString &text);
    void finish(UpdateOutcome outcome);

    LiveUpdateContext context_;
    bool running_ = false;
    QString checkAddress_;
    WorkerPool pool_{WorkerPool::Options{"qlm-update", WorkPriority::Normal, 1}};
    Worker worker_{this, pool_}; // last: it ends first
};
