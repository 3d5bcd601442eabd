// Uploading a 200 MB photo to the reference service on loopback: the whole upload run (the
// worker's loop: blocks read from the file, progress, the record), and the album client alone,
// handed the file in 64 KiB blocks as the run does, with and without checksummed PATCHes,
// against the same bytes sent as one plain streamed request with curl (no checksum), in the
// same run. Then all again with the service waiting 20 ms before every reply, which is what a
// round trip per block would pay for.
#include "upload/QLMAPI.h"
#include "upload/UploadWorker.h"

#include "support/AlbumServer.h"
#include "support/RecordingFrontEnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <cstdio>

namespace {

constexpr qint64 kPhotoBytes = 200LL * 1000 * 1000;

long PeakRssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

double ClientUpload(const AlbumServer &server, const QString &path, int round, bool checksum)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    std::vector<char> block(CQLMAPI::kMaxBlock);
    QElapsedTimer t;
    t.start();
    ServiceAddress address = server.address();
    address.checksum = checksum ? ServiceAddress::Checksum::Sha1 : ServiceAddress::Checksum::None;
    CQLMAPI api(address);
    api.startUpload(AlbumServer::kEmail, AlbumServer::kPassword,
                    QStringLiteral("Bench") + QString::number(round) + (checksum ? QStringLiteral("c") : QString()), path);
    for (;;) {
        const qint64 n = file.read(block.data(), qint64(block.size()));
        api.uploadChunk(block.data(), int(n));
        if (n < qint64(block.size()))
            break;
    }
    api.endUpload();
    return double(kPhotoBytes) / 1e6 / (t.nsecsElapsed() / 1e9);
}

// The upload run as the dialog and the command line run it, checksums on.
double WorkerUpload(const AlbumServer &server, const QString &path, int round)
{
    Settings settings;
    settings.httpServer = QStringLiteral("127.0.0.1");
    settings.httpPort = server.port();
    settings.executablePath = server.clientFolder();
    UploadJob job;
    job.email = AlbumServer::kEmail;
    job.password = AlbumServer::kPassword;
    job.album = QStringLiteral("Worker") + QString::number(round);
    job.selection = {path};
    job.totalBytes = kPhotoBytes;
    RecordingFrontEnd ui;
    QElapsedTimer t;
    t.start();
    UploadRun run(settings, ui, std::make_shared<UploadCancel>());
    run.setPauseBeforeEnd(std::chrono::milliseconds(0));
    if (!run.Run(job).completed)
        std::fprintf(stderr, "the worker's upload failed: %s\n", qPrintable(ui.log.join(QLatin1Char('\n'))));
    return double(kPhotoBytes) / 1e6 / (t.nsecsElapsed() / 1e9);
}

size_t ReadFile(char *buffer, size_t size, size_t count, void *user)
{
    return std::fread(buffer, 1, size * count, static_cast<FILE *>(user));
}

size_t Ignore(char *, size_t size, size_t count, void *)
{
    return size * count;
}

size_t FindLocation(char *data, size_t size, size_t count, void *user)
{
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.toLower().startsWith("location:"))
        *static_cast<QByteArray *>(user) = line.mid(9).trimmed();
    return size * count;
}

// The same bytes as one plain request: create the upload, then one PATCH read from the file.
double PlainCurl(const AlbumServer &server, const QString &path, int round)
{
    QElapsedTimer t;
    t.start();
    const QByteArray base = "http://127.0.0.1:" + QByteArray::number(server.port());
    const QByteArray user = (AlbumServer::kEmail + ":" + AlbumServer::kPassword).toUtf8();
    const QByteArray meta = "Upload-Metadata: album " + QStringLiteral("Plain%1").arg(round).toUtf8().toBase64()
                            + ",filename " + QByteArray("plain.jpg").toBase64();
    QByteArray location;
    CURL *h = curl_easy_init();
    curl_slist *headers = nullptr;
    headers = curl_slist_append(headers, "Tus-Resumable: 1.0.0");
    headers = curl_slist_append(headers, ("Upload-Length: " + QByteArray::number(kPhotoBytes)).constData());
    headers = curl_slist_append(headers, meta.constData());
    curl_easy_setopt(h, CURLOPT_URL, (base + "/api/v1/uploads").constData());
    curl_easy_setopt(h, CURLOPT_USERPWD, user.constData());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, FindLocation);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &location);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Ignore);
    curl_easy_perform(h);
    curl_slist_free_all(headers);
    curl_easy_reset(h);

    FILE *file = std::fopen(path.toLocal8Bit().constData(), "rb");
    headers = nullptr;
    headers = curl_slist_append(headers, "Tus-Resumable: 1.0.0");
    headers = curl_slist_append(headers, "Upload-Offset: 0");
    headers = curl_slist_append(headers, "Content-Type: application/offset+octet-stream");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_URL, (base + location).constData());
    curl_easy_setopt(h, CURLOPT_USERPWD, user.constData());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PATCH");
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(kPhotoBytes));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadFile);
    curl_easy_setopt(h, CURLOPT_READDATA, file);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Ignore);
    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    std::fclose(file);
    if (code != CURLE_OK || status != 204)
        std::fprintf(stderr, "plain request failed: %d %ld\n", int(code), status);
    return double(kPhotoBytes) / 1e6 / (t.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.jpg"));
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        QByteArray chunk(1 << 20, '\0');
        for (qsizetype i = 0; i < chunk.size(); ++i)
            chunk[i] = char((i * 131) ^ (i >> 7));
        for (qint64 written = 0; written < kPhotoBytes; written += chunk.size())
            f.write(chunk.constData(), std::min<qint64>(chunk.size(), kPhotoBytes - written));
    }
    const long rssBefore = PeakRssKb();

    double ours[2] = {0, 0}, unchecked[2] = {0, 0}, plain[2] = {0, 0}, worker[2] = {0, 0};
    const QStringList modes[2] = {{}, {QStringLiteral("--delay"), QStringLiteral("20")}};
    for (int m = 0; m < 2; ++m) {
        AlbumServer server(modes[m]);
        if (!server.running()) {
            std::fprintf(stderr, "quillmere-albumd did not start\n");
            return 1;
        }
        for (int round = 0; round < 2; ++round) {
            plain[m] = std::max(plain[m], PlainCurl(server, path, round));
            ours[m] = std::max(ours[m], ClientUpload(server, path, round, true));
            worker[m] = std::max(worker[m], WorkerUpload(server, path, round));
            unchecked[m] = std::max(unchecked[m], ClientUpload(server, path, round, false));
        }
    }
    const long rssAfter = PeakRssKb();
    std::printf("200 MB on loopback: the whole upload run %.0f MB/s (%.0f MB/s with 20 ms per reply)\n", worker[0],
                worker[1]);
    std::printf("200 MB on loopback: client %.0f MB/s with checksums, %.0f MB/s without, plain request %.0f MB/s; "
                "with 20 ms per reply: %.0f, %.0f and %.0f MB/s; peak memory grew by %ld KiB\n",
                ours[0], unchecked[0], plain[0], ours[1], unchecked[1], plain[1], rssAfter - rssBefore);
    std::printf("RESULT upload ours=%.0fMB/s baseline=%.0fMB/s ratio=%.2f\n", worker[0], plain[0], worker[0] / plain[0]);
    std::printf("RESULT upload-delayed ours=%.0fMB/s baseline=%.0fMB/s ratio=%.2f\n", worker[1], plain[1],
                worker[1] / plain[1]);
    std::printf("RESULT upload-client ours=%.0fMB/s baseline=%.0fMB/s ratio=%.2f\n", ours[0], plain[0], ours[0] / plain[0]);
    std::printf("RESULT upload-client-delayed ours=%.0fMB/s baseline=%.0fMB/s ratio=%.2f\n", ours[1], plain[1],
                ours[1] / plain[1]);
    std::printf("RESULT upload-nochecksum ours=%.0fMB/s baseline=%.0fMB/s ratio=%.2f\n", unchecked[0], plain[0],
                unchecked[0] / plain[0]);
    std::printf("RESULT upload-delayed-nochecksum ours=%.0fMB/s baseline=%.0fMB/s ratio=%.2f\n", unchecked[1], plain[1],
                unchecked[1] / plain[1]);
    return 0;
}
