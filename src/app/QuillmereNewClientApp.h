#pragma once

#include "platform/Settings.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class CMainFrame;
class Prompts;
class SettingsStore;
class SingleInstance;

// What the application object uses of the world, handed in so that a test can start the
// whole program against a temporary store, its own media and a recording prompt handler.
struct AppServices {
    SettingsStore *store = nullptr;
    Prompts *prompts = nullptr;
    QString instanceKey;                                   // empty: the per-user default
    std::function<QStringList()> removableDrives;          // empty: the system's media
    std::function<bool(const QString &program, const QString &folder)> startDetached; // empty: really start it
    std::function<bool()> checkForUpdate;                  // empty: the live update check
};

// What the start-up search of the removable media found.
struct RemovableSearch {
    QStringList drives;
    QString photoFolder;
};

// The application object: starts the program, holds its settings and run-time flags for
// the whole run, and keeps the recent-folder list.
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

    void AddRecentFolder(const QString &path);
    void OpenRecentFolder(int n);
    const QStringList &recentFolders() const { return recent_; }

    // The path of the TiVo launcher below the data folder.
    static QString TiVoLauncherPath(const QString &executablePath);

    Settings settings;
    QString removablePhotoFolder;
    QStringList removablePhotos;
    bool quietRecentOpen = false;
    bool noNewVersion = false;
    std::atomic<bool> autoUploadRunning{false};
    bool uploadOnlyNew = true;
    bool startMinimized = false;

signals:
    // The first folder has been chosen (or there was none to choose).
    void startFolderChosen();

private:
    bool failMissingSettings();
    void chooseFirstFolder();
    void stopMediaSearch();

    AppServices services_;
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<CMainFrame> frame_;
    QStringList recent_;
    QFutureWatcher<RemovableSearch> removableSearch_;
    std::atomic<bool> stopSearch_{false};
    int exitCode_ = 0;
};
