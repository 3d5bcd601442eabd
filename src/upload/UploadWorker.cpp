#include "upload/UploadWorker.h"

#include "platform/HttpClient.h"
#include "platform/PhotoFiles.h"
#include "upload/QLMAPI.h"
#include "upload/ResizeForUpload.h"
#include "upload/UploadRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <array>
#include <cmath>

namespace {

const QString kFailedStatus = QStringLiteral("File upload failed!");
const QString kInvalidAccount = QStringLiteral("Invalid e-mail address or password");

QString FileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

bool IsJunkAtEnd(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 33 || (u >= 123 && u < 128))
        return true;
    if (u < 128)
        return false;
    switch (c.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_NotAssigned:
    case QChar::Other_PrivateUse:
    case QChar::Other_Surrogate:
        return true;
    default:
        return c == QChar::ReplacementCharacter;
    }
}

class ServiceClient : public AlbumUploader
{
public:
    explicit ServiceClient(const ServiceAddress &address) : api_(address) {}
    void startUpload(const QString &email, const QString &password, const QString &album, const QString &path) override
    {
        api_.startUpload(email, password, album, path);
    }
    void uploadChunk(const char *data, int size) override { api_.uploadChunk(data, size); }
    void endUpload() override { api_.endUpload(); }

private:
    CQLMAPI api_;
};

} // namespace

bool IsPlainReply(const QString &text)
{
    return !text.contains(u'<') && !text.contains(u'>');
}

QString TrimReplyText(QString text)
{
    for (int pass = 0; pass < 100 && !text.isEmpty(); ++pass) {
        const QChar last = text.back();
        if (!IsJunkAtEnd(last))
            break;
        while (!text.isEmpty() && text.back() == last)
            text.chop(1);
    }
    return text;
}

QString FailedPhotoStatus(const QString &resultText, QString *reason)
{
    if (reason)
        reason->clear();
    if (resultText.isEmpty() || !IsPlainReply(resultText))
        return kFailedStatus;
    QString t = TrimReplyText(resultText);
    const qsizetype dot = t.lastIndexOf(u'.');
    if (dot >= 0)
        t.truncate(dot + 1);
    if (t.isEmpty())
        return kFailedStatus;
    if (reason)
        *reason = t;
    return t;
}

QString FolderAlbumName(const QString &photoPath)
{
    const qsizetype last = photoPath.lastIndexOf(u'/');
    if (last <= 0)
        return {};
    const qsizetype before = photoPath.lastIndexOf(u'/', last - 1);
    return photoPath.mid(before + 1, last - before - 1);
}

int UploadPercent(double part, double whole)
{
    if (!(whole > 0))
        return 100;
    const double p = std::trunc(part / whole * 100.0);
    return p <= 0 ? 0 : p >= 100 ? 100 : int(p);
}

QString TrayProgressTip(int percent)
{
    return QStringLiteral("Quillmere (uploading photos) - ") + QString::number(percent) + u'%';
}

std::unique_ptr<AlbumUploader> ServiceUploader(const ServiceAddress &address)
{
    return std::make_unique<ServiceClient>(address);
}

QString ConnectHttpSession(const ServiceAddress &address)
{
    HttpClient::Options options;
    options.connectTimeoutSeconds = address.connectTimeoutSeconds;
    options.timeoutSeconds = address.connectTimeoutSeconds + address.replyTimeoutSeconds;
    options.stallSeconds = address.replyTimeoutSeconds;
    options.maxReplyBytes = 4096;
    HttpClient http(options);
    HttpClient::Request probe;
    // The uploads' own address, asked what it speaks: any answer proves the session.
    probe.method = "OPTIONS";
    probe.url = address.baseUrl() + QStringLiteral("/api/v1/uploads");
    probe.headers = {"Tus-Resumable: 1.0.0"};
    const HttpReply reply = http.send(probe);
    if (reply.completed())
        return {};
    return reply.error.isEmpty() ? QStringLiteral("Unknown exception!") : reply.error.left(1024);
}

UploadRun::UploadRun(Settings settings, UploadFrontEnd &frontEnd, std::shared_ptr<UploadCancel> cancel,
                     CancelToken token)
    : settings_(std::move(settings)), ui_(frontEnd), cancel_(std::move(cancel)), token_(std::move(token))
{
    const ServiceAddress address = ServiceAddress::FromSettings(settings_);
    newClient_ = [address] { return ServiceUploader(address); };
    connectionTest_ = [address] { return ConnectHttpSession(address); };
}

UploadRun::~UploadRun() = default;

void UploadRun::setClientFactory(std::function<std::unique_ptr<AlbumUploader>()> factory)
{
    newClient_ = std::move(factory);
}

void UploadRun::setConnectionTest(std::function<QString()> test)
{
    connectionTest_ = std::move(test);
}

bool UploadRun::stopRequested() const
{
    return cancel_->requested() || token_.cancelled();
}

void UploadRun::showTotal(int percent)
{
    // Once a block went out the total never shows 0.
    percent = std::max(1, percent);
    if (percent == shownTotal_)
        return;
    shownTotal_ = percent;
    ui_.SetTotalProgress(percent);
    ui_.SetTotalStatus(QStringLiteral("Upload process in progress... - ") + QString::number(percent) + u'%');
}

void UploadRun::showPhoto(int percent)
{
    if (percent == shownPhoto_)
        return;
    shownPhoto_ = percent;
    ui_.SetPhotoProgress(percent);
    ui_.SetPhotoStatus(QStringLiteral("File upload in progress... - ") + QString::number(percent) + u'%');
}

QString UploadRun::sendPathFor(const QString &photoPath)
{
    if (!settings_.automaticResize)
        return photoPath;
    // A folder of this run's own: two uploads at once (the window and the command line)
    // never write one temporary path, and the name keeps "tmp" for the deletion rule.
    if (!copies_) {
        copies_ = std::make_unique<QTemporaryDir>(QDir(QDir::tempPath()).filePath(QStringLiteral("quillmere-tmp-XXXXXX")));
    }
    if (!copies_->isValid())
        return photoPath;
    return ResizeForUpload(photoPath, int(std::min<quint32>(settings_.maxPixelSize, 1u << 30)), copies_->path(), token_);
}

UploadRun::FileResult UploadRun::uploadFile(const UploadJob &job, const QString &album, const QString &sendPath,
                                            const QString &photoPath)
{
    FileResult result;
    std::unique_ptr<AlbumUploader> client;
    try {
        qint64 fileLength = 0;
        {
            const CancelToken::Blocking call = token_.blocking();
            fileLength = std::max<qint64>(0, QFileInfo(sendPath).size());
        }
        client = newClient_();
        {
            const CancelToken::Blocking call = token_.blocking();
            client->startUpload(job.email, job.password, album, sendPath);
        }
        QFile file(sendPath);
        bool opened = false;
        {
            const CancelToken::Blocking call = token_.blocking();
            opened = file.open(QIODevice::ReadOnly);
        }
        if (!opened)
            throw new CQLMException(QStringLiteral("Cannot open file ") + sendPath);
        // A smaller resized copy advances the total by the photo's whole size.
        double ratio = 1.0;
        if (settings_.automaticResize && fileLength > 0) {
            const qint64 photoSize = QFileInfo(photoPath).size();
            if (photoSize > fileLength)
                ratio = double(photoSize) / double(fileLength);
        }
        std::array<char, kBlockSize> block;
        double fileSent = 0;
        qint64 n = 0;
        do {
            if (cancel_->consume() || token_.cancelled()) {
                result.code = 13;
                result.text = QStringLiteral("Upload canceled.");
                return result; // endUpload is not called: the upload stays resumable
            }
            {
                const CancelToken::Blocking call = token_.blocking();
                n = file.read(block.data(), kBlockSize);
                if (n < 0)
                    throw new CQLMException(QStringLiteral("Cannot read file ") + sendPath);
                client->uploadChunk(block.data(), int(n));
            }
            fileSent += double(n);
            sentBytes_ = qint64(std::trunc(double(n) * ratio + double(sentBytes_)));
            showTotal(UploadPercent(double(sentBytes_), total_));
            showPhoto(UploadPercent(fileSent, double(fileLength)));
        } while (n == kBlockSize);
        {
            const CancelToken::Blocking call = token_.blocking();
            client->endUpload();
        }
        result.code = 0;
        result.text = QStringLiteral("File uploaded successfully");
    } catch (CQLMException *e) {
        result.code = 1;
        // A refusal that came without a plain-text reason (an HTML error page, an empty
        // body) shows as the generic failure, as a reply with markup does.
        result.status = e->status();
        result.text = result.status >= 400 && e->serviceReason().isEmpty() ? QString() : e->getMessage();
        delete e;
    }
    return result;
}

UploadRunResult UploadRun::Run(const UploadJob &job)
{
    UploadRunResult outcome;
    QString connectError;
    if (connectionTest_) {
        // A service that never answers holds this for as long as the time-outs allow: the
        // dialog closed meanwhile must not wait for it.
        const CancelToken::Blocking call = token_.blocking();
        connectError = connectionTest_();
    }
    if (token_.cancelled())
        return outcome;
    if (!connectError.isEmpty()) {
        if (job.automatic)
            ui_.BringToFront();
        ui_.Tell(connectError, QStringLiteral("Error"));
        ui_.Tell(QStringLiteral("HTTP session initiation failure."), QStringLiteral("Error"));
        return outcome;
    }
    outcome.connected = true;

    ui_.UploadBegan();
    UploadRecord record(settings_.executablePath);
    bool notify = settings_.notifyIfUploadFails != 0;
    sentBytes_ = 0;
    total_ = double(job.totalBytes);
    shownTotal_ = -1;
    bool failed = false, cancelled = false;
    qint64 sentBefore = 0;
    QString lastReason;
    UploadFailure failure;

    const QStringList &photos = job.selection;
    qsizetype i = 0;
    bool failureLeft = false; // the front end has heard that the failed photo is left behind
    while (i < photos.size() && !stopRequested()) {
        if (failed) {
            if (job.automatic)
                ui_.BringToFront();
            if (lastReason.contains(kInvalidAccount)) {
                ui_.Tell(QStringLiteral("Invalid e-mail address or password.\nUpload process canceled."),
                         QStringLiteral("Quillmere Upload Error"));
                break;
            }
            bool stop = false, moveOn = !notify;
            if (notify) {
                const std::optional<FailureAnswer> answer = ui_.AskAfterFailure(failure);
                if (!answer) {
                    stop = true; // nobody is left to answer: the program is ending
                } else {
                    if (answer->dontShowAgain) {
                        notify = false;
                        ui_.StopNotifying();
                    }
                    moveOn = answer->choice == FailureChoice::Continue;
                    stop = answer->choice == FailureChoice::Stop;
                }
            }
            if (moveOn) {
                ui_.PhotoLeft(failure.photoPath, failure.reason);
                failureLeft = true;
                ++i;
            }
            if (i >= photos.size() || stop)
                break;
            sentBytes_ = sentBefore;
            failed = failureLeft = false;
            lastReason.clear();
        }

        const QString &photo = photos[i];
        const QString album = job.album.isEmpty() ? FolderAlbumName(photo) : job.album;
        ui_.SetPhotoName(CompactPath(photo, 36));
        ui_.SetPhotoStatus(QStringLiteral("File upload in progress..."));
        ui_.SetPhotoProgress(0);
        shownPhoto_ = 0;
        // The date the record will keep is the one the photo had when it was read for
        // sending: a photo written again meanwhile stays newer than its entry.
        QString dateText;
        QString sendPath = photo;
        FileResult result;
        try {
            {
                const CancelToken::Blocking call = token_.blocking();
                dateText = FileDateString(photo);
            }
            sendPath = sendPathFor(photo);
            result = uploadFile(job, album, sendPath, photo);
        } catch (...) {
            result = FileResult{1, QString(), 0};
        }
        if (sendPath != photo && sendPath.contains(QStringLiteral("tmp")))
            QFile::remove(sendPath);

        if (result.code == 13) {
            cancelled = true;
            ui_.PhotoLeft(photo, result.text);
            break;
        }
        // Only a photo the service confirmed whole counts, whatever words a refusal ends in.
        if (result.code == 0) {
            ++outcome.uploaded;
            qint64 size = 0;
            {
                const CancelToken::Blocking call = token_.blocking();
                size = std::max<qint64>(0, QFileInfo(photo).size());
            }
            sentBefore += size;
            ui_.SetPhotoStatus(result.text);
            const bool recorded = record.RecordUploadedFile(photo, dateText);
            ui_.PhotoUploaded(outcome.uploaded, photo, recorded);
            ++i;
            continue;
        }
        failed = true;
        failure.photoPath = photo;
        failure.message = QStringLiteral("The upload of ") + FileNameOf(photo) + QStringLiteral(" failed.");
        failure.reason = FailedPhotoStatus(result.text.trimmed(), &lastReason);
        failure.status = result.status;
        ui_.SetPhotoStatus(failure.reason);
    }

    if (failed && !failureLeft)
        ui_.PhotoLeft(failure.photoPath, failure.reason);

    ui_.RunEnding();
    if (pause_.count() > 0)
        token_.sleepFor(pause_);
    // Completed means every photo arrived: a run stopped between two photos, or one that
    // moved past a failed photo, left photos unsent.
    outcome.completed = !failed && !cancelled && outcome.uploaded == photos.size();
    ui_.UploadEnded(outcome.completed);
    return outcome;
}
