#pragma once

#include "photo/PhotoImage.h"
#include "platform/Worker.h"

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QPoint>
#include <QString>

#include <memory>

// The large pane that shows one photo fitted or zoomed and turned. Decoding and scaling run
// on render workers; their results come back to the UI thread numbered, and only the newest
// request's result is ever shown. A new photo cancels the render of the one before.
class CQuillmereNewClientView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    static constexpr int kZoomStep = 5;

    // On a pool of its own.
    explicit CQuillmereNewClientView(QWidget *parent = nullptr);
    // On a pool shared with the photo list: renders and saves go before its tiles.
    explicit CQuillmereNewClientView(WorkerPool &pictures, QWidget *parent = nullptr);
    ~CQuillmereNewClientView() override;

    void SetFile(const QString &path);
    void SetZoom(int percent); // 0 = shrink to fit
    void StepZoom(bool in);
    void Rotate(int direction); // -1 left, +1 right
    void ApplyRotation(int direction);
    // Writes the picture as shown, as JPEG, on a worker; `imageSaved` follows.
    void SaveDisplayedImage(const QString &path);

    QString path() const { return filePath_; }
    QSize photoSize() const;
    QSize displaySize() const;
    int currentZoom() const { return currentZoom_; }
    int zoomRequest() const { return zoomRequest_; }
    bool isFitMode() const { return zoomRequest_ == 0; }
    int rotationSteps() const { return rotationSteps_; }
    bool hasPicture() const { return !displayBitmap_.isNull(); }
    // A render is under way and making progress: one stuck opening or reading its file (a
    // FIFO, a stalled network mount) does not count, so it never keeps the window open.
    bool IsWorkerRunning() const { return renders_.progressing(); }
    // A save is under way and making progress. Ending the view cancels it, and the file the
    // user asked for would never be written.
    bool IsSaving() const { return saves_.progressing(); }
    // Decodes so far, for tests that check zoom steps reuse the decoded photo.
    int decodeCount() const { return cache_->decodeCount(); }

    // The text drawn in place of a picture; empty while one is shown.
    QString placeholderText() const;

signals:
    void statusMessage(const QString &text);
    // Anything the frame's commands and panes read has changed.
    void stateChanged();
    // A save has ended; `error` is empty when the file was written.
    void imageSaved(const QString &path, const QString &error);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    CQuillmereNewClientView(WorkerPool *shared, QWidget *parent);
    void startWorker();
    void deliver(const RenderResult &result);
    void updateScrollRange();
    void updateCursor();
    bool pictureExceedsClient() const;
    void lineStep(Qt::Orientation orientation, int direction);

    QPoint panAnchor_;
    int displayWidth_ = 0;
    int displayHeight_ = 0;
    int rotationSteps_ = 0;
    QPixmap displayBitmap_;
    int zoomRequest_ = 0;
    int currentZoom_ = 0;
    int photoWidth_ = 0;
    int photoHeight_ = 0;
    QString filePath_;

    QString lastPlaceholder_;
    // Shared with the renders, which may outlive the view when abandoned.
    std::shared_ptr<DecodedPhotoCache> cache_ = std::make_shared<DecodedPhotoCache>();
    std::unique_ptr<WorkerPool> ownPool_; // when no pool is shared
    Worker renders_;
    Worker saves_;
};
