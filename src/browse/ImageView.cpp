#include "browse/ImageView.h"

#include "platform/DialogColours.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr int kDragStep = 3;
} // namespace

CQuillmereNewClientView::CQuillmereNewClientView(QWidget *parent) : CQuillmereNewClientView(nullptr, parent) {}

CQuillmereNewClientView::CQuillmereNewClientView(WorkerPool &pictures, QWidget *parent)
    : CQuillmereNewClientView(&pictures, parent)
{
}

CQuillmereNewClientView::CQuillmereNewClientView(WorkerPool *shared, QWidget *parent)
    : QAbstractScrollArea(parent),
      ownPool_(shared ? nullptr : std::make_unique<WorkerPool>(WorkerPool::Options{"qlm-render", WorkPriority::Normal, 2})),
      renders_(this, shared ? *shared : *ownPool_, WorkPriority::Normal),
      saves_(this, shared ? *shared : *ownPool_, WorkPriority::Normal)
{
    setObjectName(QStringLiteral("ImageView"));
    setAccessibleName(QStringLiteral("Image view"));
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    renders_.onStalled([this](quint64) {
        // A photo whose file never opens reads as one that cannot be decoded: the panes and
        // the zoom rules must not go on showing the sizes of the photo before it.
        if (displayBitmap_.isNull())
            displayWidth_ = displayHeight_ = photoWidth_ = photoHeight_ = currentZoom_ = 0;
        // The frame's commands and its close rule read whether a render makes progress.
        emit stateChanged();
    });
    updateScrollRange();
    setAccessibleDescription(placeholderText());
}

CQuillmereNewClientView::~CQuillmereNewClientView() = default;

QSize CQuillmereNewClientView::photoSize() const
{
    return filePath_.isEmpty() ? QSize(0, 0) : QSize(photoWidth_, photoHeight_);
}

QSize CQuillmereNewClientView::displaySize() const
{
    return filePath_.isEmpty() ? QSize(0, 0) : QSize(displayWidth_, displayHeight_);
}

QString CQuillmereNewClientView::placeholderText() const
{
    if (!displayBitmap_.isNull())
        return {};
    return filePath_.isEmpty() ? QStringLiteral("There are no photos in this folder.") : QStringLiteral("Preparing...");
}

void CQuillmereNewClientView::SetFile(const QString &path)
{
    if (path == filePath_)
        return;
    displayBitmap_ = QPixmap();
    filePath_ = path;
    zoomRequest_ = 0;
    rotationSteps_ = 0;
    if (path.isEmpty()) {
        displayWidth_ = displayHeight_ = photoWidth_ = photoHeight_ = 0;
        renders_.cancelAll(); // results still under way belong to the old photo
        cache_->clear();
        updateScrollRange();
    } else {
        startWorker();
    }
    setAccessibleDescription(path.isEmpty() ? placeholderText() : QFileInfo(path).fileName());
    viewport()->update();
    emit stateChanged();
}

void CQuillmereNewClientView::SetZoom(int percent)
{
    if (percent == zoomRequest_ || IsWorkerRunning() || filePath_.isEmpty())
        return;
    if (percent != 0 && percent < 1)
        return;
    zoomRequest_ = percent;
    startWorker();
    emit stateChanged();
}

void CQuillmereNewClientView::StepZoom(bool in)
{
    if (IsWorkerRunning() || filePath_.isEmpty())
        return;
    const int next = currentZoom_ + (in ? kZoomStep : -kZoomStep);
    // Below the first step the request would mean "fit" (0) or a size below nothing.
    if (next < 1)
        return;
    zoomRequest_ = next;
    startWorker();
    emit stateChanged();
}

void CQuillmereNewClientView::Rotate(int direction)
{
    ApplyRotation(direction);
}

void CQuillmereNewClientView::ApplyRotation(int direction)
{
    if (direction == 0 || filePath_.isEmpty())
        return;
    rotationSteps_ += direction;
    if (!displayBitmap_.isNull()) {
        displayBitmap_ = displayBitmap_.transformed(QTransform().rotate(direction > 0 ? 90 : 270));
        std::swap(displayWidth_, displayHeight_);
    }
    updateScrollRange();
    viewport()->update();
    emit stateChanged();
}

void CQuillmereNewClientView::SaveDisplayedImage(const QString &path)
{
    saves_.start(
        [picture = displayBitmap_.toImage(), path](const WorkerTask &task) {
            QString error;
            if (!::SaveDisplayedImage(picture, path, &error, task.token()) && error.isEmpty())
                error = QStringLiteral("The file could not be written.");
            return error;
        },
        [this, path](quint64, const QString &error) { emit imageSaved(path, error); });
}

void CQuillmereNewClientView::startWorker()
{
    emit statusMessage(QStringLiteral("Preparing..."));
    const RenderRequest request{filePath_, zoomRequest_, viewport()->size(), rotationSteps_};
    renders_.start([request, cache = cache_](const WorkerTask &task) { return RenderPhoto(request, cache.get(), task.token()); },
                   [this](quint64, const RenderResult &result) { deliver(result); }, Worker::CancelOthers);
}

void CQuillmereNewClientView::deliver(const RenderResult &result)
{
    // Only the newest request is ever delivered. The photo may have been turned while it was
    // being prepared.
    const QImage picture = TurnImage(result.picture, rotationSteps_ - result.rotationSteps);
    displayBitmap_ = picture.isNull() ? QPixmap() : QPixmap::fromImage(picture);
    displayWidth_ = picture.width();
    displayHeight_ = picture.height();
    photoWidth_ = result.photoWidth;
    photoHeight_ = result.photoHeight;
    currentZoom_ = result.currentZoom;
    updateScrollRange();
    setAccessibleDescription(QFileInfo(filePath_).fileName());
    viewport()->update();
    emit statusMessage(QStringLiteral("Ready."));
    emit stateChanged();
}

void CQuillmereNewClientView::updateScrollRange()
{
    const QSize client = viewport()->size();
    const int w = displayBitmap_.isNull() ? 0 : displayWidth_;
    const int h = displayBitmap_.isNull() ? 0 : displayHeight_;
    horizontalScrollBar()->setRange(0, std::max(0, w - client.width()));
    verticalScrollBar()->setRange(0, std::max(0, h - client.height()));
    // A tenth of the picture per page, a hundredth per line.
    horizontalScrollBar()->setPageStep(std::max(1, w / 10));
    horizontalScrollBar()->setSingleStep(std::max(1, w / 100));
    verticalScrollBar()->setPageStep(std::max(1, h / 10));
    verticalScrollBar()->setSingleStep(std::max(1, h / 100));
    updateCursor();
}

bool CQuillmereNewClientView::pictureExceedsClient() const
{
    if (filePath_.isEmpty() || displayBitmap_.isNull())
        return false;
    const QSize client = viewport()->size();
    return displayWidth_ > client.width() || displayHeight_ > client.height();
}

void CQuillmereNewClientView::updateCursor()
{
    if (pictureExceedsClient())
        viewport()->setCursor(Qt::OpenHandCursor);
    else
        viewport()->unsetCursor();
}

void CQuillmereNewClientView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    const QRect client = viewport()->rect();
    p.fillRect(client, ListGrey);
    if (!displayBitmap_.isNull()) {
        const int x = std::max(0, (client.width() - displayWidth_) / 2) - horizontalScrollBar()->value();
        const int y = std::max(0, (client.height() - displayHeight_) / 2) - verticalScrollBar()->value();
        p.drawPixmap(x, y, displayBitmap_);
        lastPlaceholder_.clear();
        return;
    }
    const QString text = placeholderText();
    const QSize size = p.fontMetrics().size(Qt::TextSingleLine, text);
    p.setPen(Qt::white);
    p.drawText(QPoint((client.width() - size.width()) / 2, (client.height() - size.height()) / 2 + p.fontMetrics().ascent()),
               text);
    if (text != lastPlaceholder_) {
        lastPlaceholder_ = text;
        emit statusMessage(text);
    }
}

void CQuillmereNewClientView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    if (zoomRequest_ != 0 || filePath_.isEmpty() || IsWorkerRunning())
        return;
    const int cx = viewport()->width(), cy = viewport()->height();
    if (cx >= displayWidth_ && cy >= displayHeight_
        && (cx <= displayWidth_ + 1 || cy <= displayHeight_ + 1 || currentZoom_ >= 100))
        return;
    startWorker();
    emit stateChanged();
}

void CQuillmereNewClientView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void CQuillmereNewClientView::lineStep(Qt::Orientation orientation, int direction)
{
    QScrollBar *bar = orientation == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    bar->triggerAction(direction < 0 ? QAbstractSlider::SliderSingleStepSub : QAbstractSlider::SliderSingleStepAdd);
}

void CQuillmereNewClientView::keyPressEvent(QKeyEvent *event)
{
    QScrollBar *h = horizontalScrollBar(), *v = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_PageUp: v->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Qt::Key_PageDown: v->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Qt::Key_Home: h->setValue(h->minimum()); v->setValue(v->minimum()); break;
    case Qt::Key_End: h->setValue(h->maximum()); v->setValue(v->maximum()); break;
    case Qt::Key_Left: lineStep(Qt::Horizontal, -1); break;
    case Qt::Key_Right: lineStep(Qt::Horizontal, +1); break;
    case Qt::Key_Up: lineStep(Qt::Vertical, -1); break;
    case Qt::Key_Down: lineStep(Qt::Vertical, +1); break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Focus keys keep working so the view can be left from the keyboard.
        QAbstractScrollArea::keyPressEvent(event);
        return;
    default:
        break;
    }
    event->accept();
}

void CQuillmereNewClientView::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    lineStep(Qt::Vertical, delta > 0 ? -1 : +1);
    event->accept();
}

void CQuillmereNewClientView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && pictureExceedsClient())
        panAnchor_ = event->position().toPoint();
    QAbstractScrollArea::mousePressEvent(event);
}

void CQuillmereNewClientView::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() == Qt::LeftButton && event->modifiers() == Qt::NoModifier && !panAnchor_.isNull()) {
        const QPoint point = event->position().toPoint();
        const int dx = point.x() - panAnchor_.x(), dy = point.y() - panAnchor_.y();
        // The picture follows the hand: moving right shows what lies to the left.
        if (dx / kDragStep != 0)
            lineStep(Qt::Horizontal, dx > 0 ? -1 : +1);
        if (dy / kDragStep != 0)
            lineStep(Qt::Vertical, dy > 0 ? -1 : +1);
        panAnchor_ = point;
        // (0, 0) means "no drag": a drag that reaches the corner keeps going from (0, 1).
        if (panAnchor_.isNull())
            panAnchor_.setY(1);
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void CQuillmereNewClientView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        panAnchor_ = QPoint();
    QAbstractScrollArea::mouseReleaseEvent(event);
}
