#pragma once

#include "platform/Worker.h"

#include <QImage>
#include <QMutex>
#include <QSize>
#include <QString>

#include <functional>

// The picture pipeline behind the image view: the size a photo is shown at, decoding at that
// size, quarter turns, and saving what is shown. Everything here is safe to call from a worker
// thread; nothing touches a widget. Functions that read or write files take the request's
// CancelToken: they stop between stages once it is cancelled, and their file calls count as
// the request's blocking calls.

struct DisplaySize
{
    int width = 0;
    int height = 0;
    int zoom = 0; // the zoom in effect, percent
};

// `zoomRequest` 0 fits the photo into the client area without ever enlarging it; any other
// value is a zoom in percent, scaled by the single-precision 0.01 (100 % of 1000 pixels is 999).
DisplaySize ComputeDisplaySize(int zoomRequest, int photoWidth, int photoHeight, int clientWidth, int clientHeight);

// Clockwise quarter turns (0..3) that `rotationSteps` (+1 per right turn, -1 per left) amount to.
int QuarterTurnsFor(int rotationSteps);

// `image` turned clockwise by `quarterTurns` quarter turns (any integer).
QImage TurnImage(const QImage &image, int quarterTurns);

// Lets the image reader allocate enough for a 100-megapixel photo at four bytes a pixel (Qt
// refuses anything over 128 MB by default). Idempotent; the pipeline calls it itself.
void RaiseImageAllocationLimit();

// What tells one version of a file from another: its modification time and size.
struct FileStamp
{
    qint64 modified = 0;
    qint64 size = -1;
    bool operator==(const FileStamp &) const = default;
};
FileStamp StampOf(const QString &path); // reads the disk

// One decoded photo kept at hand, so that zoom steps on the photo shown scale what is already
// decoded instead of reading the file again. Shared by render workers; a picture larger than
// the byte budget is not kept.
class DecodedPhotoCache
{
public:
    explicit DecodedPhotoCache(qint64 budgetBytes = qint64(256) << 20) : budget_(budgetBytes) {}

    // The kept picture of `path` when the file is unchanged and the picture is at least
    // `atLeast` in both directions; a null image otherwise.
    QImage find(const QString &path, FileStamp stamp, QSize atLeast) const;
    void keep(const QString &path, FileStamp stamp, const QImage &decoded);
    void clear();
    int decodeCount() const; // files decoded through this cache, for tests and benchmarks
    void countDecode();

private:
    mutable QMutex mutex_;
    qint64 budget_;
    QString path_;
    FileStamp stamp_;
    QImage image_;
    int decodes_ = 0;
};

struct RenderRequest
{
    QString path;
    int zoomRequest = 0;
    QSize client;
    int rotationSteps = 0;
};

struct RenderResult
{
    QImage picture; // upright, scaled, turned; RGB32 over black; null when nothing is shown
    int photoWidth = 0;
    int photoHeight = 0;
    int displayWidth = 0;
    int displayHeight = 0;
    int currentZoom = 0;
    int rotationSteps = 0; // the turns already applied to `picture`
};

// A photo decoded upright (as its EXIF orientation says) at the size `sizeFor` gives for its
// upright size, over black; a JPEG is decoded at a reduced scale whenever that size is smaller
// than the photo. A file that cannot be decoded, an empty size or a cancelled request gives a
// null picture.
struct UprightPicture
{
    QImage picture;
    QSize photoSize; // the photo's own upright size
};
UprightPicture DecodeUprightAt(const QString &path, const std::function<QSize(QSize upright)> &sizeFor,
                               DecodedPhotoCache *cache = nullptr, const CancelToken &token = {});

// Decodes `request.path` (upright, as its EXIF orientation says) at the size the zoom asks
// for, decoding a JPEG at a reduced scale whenever the picture shown is smaller than the
// photo, and applies the turns. A file that cannot be decoded gives all sizes 0; a target of
// zero size renders nothing. A cancelled request gives all sizes 0.
RenderResult RenderPhoto(const RenderRequest &request, DecodedPhotoCache *cache = nullptr, const CancelToken &token = {});

// Writes `picture` as JPEG data whatever the name's extension (default quality), through a
// temporary file renamed over `path` only when whole: a write that fails (a full disk) leaves
// the old file as it was. False with `error` set when no JPEG encoder exists or the file
// cannot be written.
bool SaveDisplayedImage(const QImage &picture, const QString &path, QString *error = nullptr,
                        const CancelToken &token = {});

// Index of the encoder for `mimeType` (exact comparison) among the image writer's encoders,
// with its format name in `format`; -1 when there is none.
int FindEncoderByMimeType(const QByteArray &mimeType, QByteArray *format = nullptr);

// Gives the owner write permission back to a file that lacks it; nothing else changes, and a
// missing file is left alone.
void ClearReadOnly(const QString &path);
