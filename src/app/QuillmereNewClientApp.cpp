#include "app/QuillmereNewClientApp.h"

#include "app/CommandLine.h"
#include "app/InstallerSetup.h"
#include "app/MainFrame.h"
#include "app/MediaWatcher.h"
#include "app/PhotoCommands.h"
#include "app/StartFolder.h"
#include "app/TrayIcon.h"
#include "browse/ShellTree.h"
#include "browse/ThumbsView.h"
#include "photo/PhotoImage.h"
#include "platform/DialogColours.h"
#include "platform/Icons.h"
#include "platform/ProcessLauncher.h"
#include "platform/Prompts.h"
#include "platform/RemovableDrives.h"
#include "platform/SettingsStore.h"
#include "platform/SingleInstance.h"
#include "services/LiveUpdate.h"

#include <QApplication>

CQuillmereNewClientApp::CQuillmereNewClientApp(AppServices services, QObject *parent)
    : QObject(parent), services_(std::move(services))
{
    if (services_.instanceKey.isEmpty())
        services_.instanceKey = SingleInstance::defaultKey();
    if (!services_.removableDrives)
        services_.removableDrives = EnumerateRemovableDrives;
    if (!services_.startDetached)
        services_.startDetached = StartDetached;
    if (!services_.checkForUpdate)
        services_.checkForUpdate = [this] {
            // Before the window exists: the messages have no owner.
            LiveUpdateContext context;
            context.settings = &settings;
            context.store = services_.store;
            context.prompts = services_.prompts;
            context.noNewVersion = &flags.noNewVersion;
            return LiveUpdate(context).CheckForUpdate();
        };
}

CQuillmereNewClientApp::~CQuillmereNewClientApp()
{
    stopMediaSearch();
}

void CQuillmereNewClientApp::stopMediaSearch()
{
    // A search stuck on a mount that no longer answers is abandoned, never waited for.
    mediaSearch_.reset();
}

QString CQuillmereNewClientApp::TiVoLauncherPath(const QString &executablePath)
{
    return executablePath + QStringLiteral("/TiVo/Quillmere TiVo");
}

bool CQuillmereNewClientApp::failMissingSettings()
{
    Prompt p;
    p.text = SettingsMissingText;
    p.caption = QStringLiteral("Quillmere");
    p.icon = PromptIcon::Error;
    services_.prompts->ask(p);
    exitCode_ = 1;
    return false;
}

bool CQuillmereNewClientApp::InitInstance(const QStringList &arguments)
{
    const StartOptions start = ParseStartArguments(arguments);
    instance_ = std::make_unique<SingleInstance>(services_.instanceKey);
    if (!instance_->claim(start.path)) {
        exitCode_ = 0;
        return false;
    }
    connect(instance_.get(), &SingleInstance::activationRequested, this, [this](const QString &path) {
        if (!frame_)
            return;
        frame_->BringToFront();
        // After the later copy has had its answer: a "Folder not found" box must not keep
        // it waiting.
        if (!path.isEmpty())
            QMetaObject::invokeMethod(this, [this, path] {
                if (commands_)
                    pathOpened_ |= commands_->OpenPath(path);
            }, Qt::QueuedConnection);
    });
    QApplication::setWindowIcon(ProgramIcon());

    // The package is the installer, but only the user's first start can write the user's own
    // ExecutablePath.
    SettingsStore &store = *services_.store;
    if (!CompleteInstalledSettings(store))
        return failMissingSettings();
    settings.executablePath = store.ReadString(SettingsStore::SettingsSection, QStringLiteral("ExecutablePath"));
    if (settings.executablePath.isEmpty())
        return failMissingSettings();

    store.LoadSettings(settings);

    if (settings.launchTiVo != 0)
        services_.startDetached(TiVoLauncherPath(settings.executablePath), settings.executablePath);

    if (settings.automaticUpdate != 0 && services_.checkForUpdate()) {
        exitCode_ = 0;
        return false;
    }

    RaiseImageAllocationLimit();

    frame_ = std::make_unique<CMainFrame>(*services_.prompts);
    CommandContext commandContext{&settings, &flags, &store, services_.prompts, {}};
    commandContext.autostartFolder = services_.autostartFolder;
    commands_ = std::make_unique<PhotoCommands>(*frame_, std::move(commandContext));
    startTray();

    ApplyDialogColours();

    if (start.runMinimized)
        tray_->StartMinimized();
    else
        frame_->show();

    // A path asked for replaces the first folder that start-up would choose; where nothing
    // is, the choice goes on as without one.
    if (!start.path.isEmpty())
        pathOpened_ = commands_->OpenPath(start.path);

    // A slow card, or a mount that no longer answers, would hold the first paint of the
    // window for as long as it takes: the media are found and searched off the UI thread,
    // and the folder tree gains their places when they answer.
    mediaSearch_ = std::make_unique<Worker>(this, mediaPool_);
    mediaSearch_->start(
        [find = services_.removableDrives](const WorkerTask &task) {
            RemovableMedia media;
            const auto blocking = task.token().blocking();
            media.drives = find();
            media.places = DefaultFolderPlaces(media.drives);
            return media;
        },
        [this](quint64, const RemovableMedia &media) { mediaFound(media); });
    return true;
}

void CQuillmereNewClientApp::startTray()
{
    MediaWatchContext watch;
    watch.settings = &settings;
    watch.flags = &flags;
    watch.removableDrives = services_.removableDrives;
    watch.frameMinimized = [this] { return tray_ && tray_->isFrameMinimized(); };
    watch.uploadDialogOpen = [this] { return commands_->activeUploadDialog() || commands_->uploadCommandRunning(); };
    watch.runUpload = [this](const PathDates &newFiles, const PathDates &knownFiles) {
        commands_->RunAutomaticUpload(newFiles, knownFiles);
    };
    watch.period = services_.mediaWatchPeriod;
    watcher_ = std::make_unique<MediaWatcher>(std::move(watch));

    TrayContext tray;
    tray.frame = frame_.get();
    tray.watcher = watcher_.get();
    tray.activeUploadDialog = [this] { return commands_->activeUploadDialog(); };
    tray.trayAvailable = services_.trayAvailable;
    tray_ = std::make_unique<TrayIcon>(std::move(tray));
    connect(commands_.get(), &PhotoCommands::uploadTrayProgress, tray_.get(), &TrayIcon::ShowProgress);
    connect(commands_.get(), &PhotoCommands::uploadTrayProgressEnded, tray_.get(), &TrayIcon::EndProgress);
}

void CQuillmereNewClientApp::mediaFound(const RemovableMedia &media)
{
    removableDrives_ = media.drives;
    frame_->GetFolderTree()->SetPlaces(media.places);
    mediaSearch_->start(
        [drives = media.drives](const WorkerTask &task) { return FindRemovablePhotoFolder(drives, task.token()); },
        [this](quint64, const QString &folder) { chooseFirstFolder(folder); });
}

void CQuillmereNewClientApp::chooseFirstFolder(const QString &photoFolder)
{
    removablePhotoFolder = photoFolder;

    // The user may have opened a folder while the media were searched: that choice is newer
    // and stands.
    if (pathOpened_ || frame_->GetFolderTree()->folderRequests() != 0) {
        emit startFolderChosen();
        return;
    }
    if (removablePhotoFolder.isEmpty()) {
        flags.quietRecentOpen = true;
        commands_->OpenRecentFolder(1);
    } else {
        frame_->GetFolderTree()->SelectPath(TreePathForRemovableFolder(removablePhotoFolder, removableDrives_));
    }
    emit startFolderChosen();
}

int CQuillmereNewClientApp::ExitInstance(int frameworkExitCode)
{
    stopMediaSearch();
    tray_.reset();
    watcher_.reset();
    commands_.reset();
    frame_.reset();
    return frameworkExitCode;
}
