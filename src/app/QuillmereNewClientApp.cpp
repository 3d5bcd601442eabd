#include "app/QuillmereNewClientApp.h"

#include "app/MainFrame.h"
#include "app/RecentFolders.h"
#include "platform/SettingsStore.h"
#include "app/StartFolder.h"
#include "browse/ImageView.h"
#include "browse/ShellTree.h"
#include "browse/ThumbsView.h"
#include "photo/PhotoImage.h"
#include "upload/UploadRecord.h"
#include "platform/DialogColours.h"
#include "platform/ProcessLauncher.h"
#include "platform/Prompts.h"
#include "platform/RemovableDrives.h"
#include "platform/SingleInstance.h"
#include "services/LiveUpdate.h"

#include <QFileInfo>
#include <QStatusBar>
#include <QtConcurrent/QtConcurrentRun>

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
        services_.checkForUpdate = [] { return LiveUpdate().CheckForUpdate(); };
    connect(&removableSearch_, &QFutureWatcher<RemovableSearch>::finished, this, &CQuillmereNewClientApp::chooseFirstFolder);
}

CQuillmereNewClientApp::~CQuillmereNewClientApp()
{
    stopMediaSearch();
}

void CQuillmereNewClientApp::stopMediaSearch()
{
    removableSearch_.disconnect(this);
    stopSearch_ = true;
    removableSearch_.waitForFinished();
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
    instance_ = std::make_unique<SingleInstance>(services_.instanceKey);
    if (!instance_->claim()) {
        exitCode_ = 0;
        return false;
    }
    connect(instance_.get(), &SingleInstance::activationRequested, this, [this] {
        if (frame_)
            frame_->BringToFront();
    });

    SettingsStore &store = *services_.store;
    if (!store.CheckSettingsKey())
        return failMissingSettings();
    settings.executablePath = store.ReadString(SettingsStore::SettingsSection, QStringLiteral("ExecutablePath"));
    if (settings.executablePath.isEmpty())
        return failMissingSettings();

    startMinimized = StartsMinimized(arguments);
    store.LoadSettings(settings);

    if (settings.launchTiVo != 0)
        services_.startDetached(TiVoLauncherPath(settings.executablePath), settings.executablePath);

    if (settings.automaticUpdate != 0 && services_.checkForUpdate()) {
        exitCode_ = 0;
        return false;
    }

    recent_ = store.ReadRecentFolders();

    RaiseImageAllocationLimit();

    frame_ = std::make_unique<CMainFrame>(*services_.prompts);
    frame_->GetFolderTree()->SetPlaces(DefaultFolderPlaces(EnumerateRemovableDrives()));
    frame_->SetRecentFolders(recent_);
    frame_->GetPhotoList()->SetUploadedLookup([record = UploadRecord(settings.executablePath)](const QStringList &paths) {
        PathDates uploaded;
        record.FindUploadedFiles(paths, uploaded);
        return uploaded;
    });
    connect(frame_->GetPhotoList(), &CThumbsView::showPhoto, frame_->GetImageView(), &CQuillmereNewClientView::SetFile);
    connect(frame_->GetPhotoList(), &CThumbsView::statusMessage, frame_.get(),
            [frame = frame_.get()](const QString &text) { frame->statusBar()->showMessage(text); });
    connect(frame_.get(), &CMainFrame::recentFolderChosen, this, &CQuillmereNewClientApp::OpenRecentFolder);
    connect(frame_->GetPhotoList(), &CThumbsView::folderRead, this, [this](const QString &folder, int photos) {
        if (photos > 0)
            AddRecentFolder(folder);
    });

    ApplyDialogColours();

    if (startMinimized)
        frame_->showMinimized();
    else
        frame_->show();
    frame_->setWindowTitle(QStringLiteral("Quillmere"));

    // A slow card would hold the first paint of the window for as long as it takes to walk
    // it, so the media are searched off the UI thread; the choice is made when they answer.
    removableSearch_.setFuture(QtConcurrent::run([find = services_.removableDrives, stop = &stopSearch_] {
        RemovableSearch found;
        found.drives = find();
        found.photoFolder = FindRemovablePhotoFolder(found.drives, stop);
        return found;
    }));
    return true;
}

void CQuillmereNewClientApp::chooseFirstFolder()
{
    const RemovableSearch found = removableSearch_.result();
    removablePhotoFolder = found.photoFolder;

    // A folder asked for while the media were searched is newer than this choice: it stands.
    if (frame_->GetFolderTree()->folderRequests() != 0) {
        emit startFolderChosen();
        return;
    }
    if (removablePhotoFolder.isEmpty()) {
        quietRecentOpen = true;
        OpenRecentFolder(1);
    } else {
        frame_->GetFolderTree()->SelectPath(TreePathForRemovableFolder(removablePhotoFolder, found.drives));
    }
    emit startFolderChosen();
}

int CQuillmereNewClientApp::ExitInstance(int frameworkExitCode)
{
    stopMediaSearch();
    frame_.reset();
    return frameworkExitCode;
}

void CQuillmereNewClientApp::AddRecentFolder(const QString &path)
{
    recent_ = InsertRecentFolder(recent_, AbsoluteFolderPath(path));
    services_.store->WriteRecentFolders(recent_);
    if (frame_)
        frame_->SetRecentFolders(recent_);
}

void CQuillmereNewClientApp::OpenRecentFolder(int n)
{
    // The store is read, not the list in memory: an entry changed by hand since start-up
    // is honoured.
    const QString path = services_.store->ReadRecentFolder(n);
    if (!path.isEmpty() && frame_ && path != frame_->GetPhotoList()->currentFolder()) {
        if (QFileInfo::exists(path)) {
            frame_->GetFolderTree()->SelectPath(WithoutVolumeRootSlash(path));
        } else if (!quietRecentOpen) {
            Prompt p;
            p.text = path;
            p.caption = QStringLiteral("Folder not found");
            p.icon = PromptIcon::Error;
            p.owner = frame_.get();
            services_.prompts->ask(p);
        }
    }
    quietRecentOpen = false;
}
