#pragma once

#include "app/RunFlags.h"
#include "browse/ShellTree.h"
#include "platform/Settings.h"
#include "platform/Worker.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class CMainFrame;
class MediaWatcher;
class TrayIcon;
class PhotoCommands;
class Prompts;
class SettingsStore;
class SingleInstance;

// What the application object uses of the world, handed in so that a test can start the
// whole program against a temporary store, its own media and a recording prompt handler.
struct AppServices {
    SettingsStore *store = nullptr;
    Prompts *prompts = nullptr;
    QString instanceKey;                                   // empty: the per-user default
    std::function<QStringList()> removableDrives;          // empty: the system's media; run on a worker
    std::function<bool(const QString &program, const QString &folder)> startDetached; // empty: really start it
    std::function<bool()> checkForUpdate;                  // empty: the live update check
    std::function<bool()> trayAvailable;                   // empty: whether the desktop has a tray
    std::chrono::milliseconds mediaWatchPeriod{10000};     // the camera and card watcher's
    QString autostartFolder;                               // empty: the user's XDG autostart folder
};

// The cameras and card readers found at start, and the folder tree's places with them.
struct RemovableMedia {
    QStringList drives;
    QList<FolderPlace> places;
};

// The application object: starts the program and owns, for the whole run, its settings and
// run-time flags, the main frame and the command controller, to which it lends both.
class CQuillmereNewClientApp : public QObject
{
    Q_OBJECT
public:
    static inline const QString SettingsMissingText =
        QStringLiteral("Missing Quillmere settings in the registry.\nPlease reinstall Quillmere.");

    explicit CQuillmereNewClientApp(AppServices services, QObject *parent = nullptr);
    ~CQuillmereNewClientApp() override;

    // True leaves the program running with its main window; false means it must end now,
    // with exitCode().
    bool InitInstance(const QStringList &arguments);
    int ExitInstance(int frameworkExitCode);
    int exitCode() const { return exitCode_; }

    CMainFrame *mainFrame() const { return frame_.get(); }
    PhotoCommands *commands() const { return commands_.get(); }
    MediaWatcher *mediaWatcher() const { return watcher_.get(); }
    TrayIcon *trayIcon() const { return tray_.get(); }

    // The path of the TiVo launcher below the data folder.
    static QString TiVoLauncherPath(const QString &executablePath);

    Settings settings;
    RunFlags flags;
    QString removablePhotoFolder;

signals:
    // The first folder has been chosen (or there was none to choose).
    void startFolderChosen();

private:
    bool failMissingSettings();
    void startTray();
    void mediaFound(const RemovableMedia &media);
    void chooseFirstFolder(const QString &photoFolder);
    void stopMediaSearch();

    AppServices services_;
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<PhotoCommands> commands_;
    std::unique_ptr<MediaWatcher> watcher_;
    std::unique_ptr<TrayIcon> tray_;
    QStringList removableDrives_;
    // The cameras and card readers are found and searched on a worker of their own; it ends
    // before the frame it reports to.
    WorkerPool mediaPool_{WorkerPool::Options{"qlm-media", WorkPriority::Normal, 1}};
    std::unique_ptr<Worker> mediaSearch_;
    bool pathOpened_ = false; // a path asked for was opened: start-up chooses no folder
    int exitCode_ = 0;
};
