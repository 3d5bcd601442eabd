#include "browse/SlideShowDlg.h"

#include "photo/PhotoImage.h"
#include "platform/DialogColours.h"

#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>

namespace {

struct PeriodChoice
{
    const char *text;
    int milliseconds; // 0: no automatic advance
};
constexpr PeriodChoice kPeriods[] = {{"Manual", 0}, {"3 seconds", 3000}, {"7 seconds", 7000}, {"15 seconds", 15000}};
constexpr int kFirstPeriod = 1;

// The panel's controls keep the sizes they were drawn at, in dialog units of a font whose
// average character is 6 x 13 pixels (a unit is a quarter of its width, an eighth of its height).
QSize Dlu(int w, int h)
{
    return QSize(w * 6 / 4, h * 13 / 8);
}

constexpr int kPanelFontPixels = 11;

QString FileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

PreparedSlide PrepareSlide(const QString &path, QSize area, const CancelToken &token)
{
    PreparedSlide slide;
    const UprightPicture decoded = DecodeUprightAt(
        path,
        [&](QSize upright) {
            slide.fit = FitSlide(upright, area);
            return slide.fit.size;
        },
        nullptr, token);
    if (decoded.picture.isNull())
        return PreparedSlide{};
    slide.picture = decoded.picture;
    slide.photoSize = decoded.photoSize;
    return slide;
}

CSlideShowDlg::CSlideShowDlg(QStringList slideList, int startIndex, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), slideList_(std::move(slideList)),
      slideIndex_(qBound(0, startIndex, int(qMax<qsizetype>(slideList_.size(), 1)) - 1))
{
    setObjectName(QStringLiteral("SlideShowDlg"));
    // No caption is drawn; the title names the window in task lists and to screen readers.
    setWindowTitle(QStringLiteral("Slideshow"));
    setPalette(DialogPalette());
    setAutoFillBackground(true);
    // The panel's places and sizes were drawn for a font of that size.
    QFont panelFont = font();
    panelFont.setPixelSize(kPanelFontPixels);
    setFont(panelFont);

    // Created bottom to top: the frames under the controls they hold, the picture over all.
    panelFrame_ = new QGroupBox(QStringLiteral("Slideshow control panel"), this);
    infoFrame_ = new QGroupBox(QStringLiteral("Image Info"), this);
    infoFrame_->resize(Dlu(252, 24));
    controlFrame_ = new QGroupBox(QStringLiteral("Slide control"), this);
    controlFrame_->resize(Dlu(241, 24));
    fileName_ = new QLabel(QStringLiteral("Image name:"), this);
    photoSize_ = new QLabel(QStringLiteral("9999 x 9999"), this);
    periodLabel_ = new QLabel(QStringLiteral("Slide period"), this);
    periodLabel_->resize(qMax(Dlu(39, 11).width(), periodLabel_->sizeHint().width()), Dlu(39, 11).height());
    period_ = new QComboBox(this);
    period_->setAccessibleName(QStringLiteral("Slide period"));
    periodLabel_->setBuddy(period_);
    for (const PeriodChoice &choice : kPeriods)
        period_->addItem(QString::fromUtf8(choice.text));
    period_->resize(Dlu(63, 0).width(), period_->sizeHint().height());
    previous_ = new QPushButton(QStringLiteral("<<"), this);
    previous_->setAccessibleName(QStringLiteral("Previous photo"));
    previous_->resize(Dlu(32, 14));
    position_ = new QLabel(QStringLiteral("Current"), this);
    position_->setAlignment(Qt::AlignCenter);
    position_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    position_->resize(Dlu(38, 12));
    next_ = new QPushButton(QStringLiteral(">>"), this);
    next_->setAccessibleName(QStringLiteral("Next photo"));
    next_->resize(Dlu(32, 14));
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->resize(Dlu(49, 14));
    picture_ = new QLabel(this);
    picture_->setAccessibleName(QStringLiteral("Slide"));
    picture_->hide();

    connect(previous_, &QPushButton::clicked, this, &CSlideShowDlg::Previous);
    connect(next_, &QPushButton::clicked, this, &CSlideShowDlg::Next);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    connect(&timer_, &QTimer::timeout, this, &CSlideShowDlg::Next);
    connect(period_, &QComboBox::currentIndexChanged, this, &CSlideShowDlg::periodChosen);
    // The arrow keys turn the slides wherever the focus is, as the buttons do; Tab moves
    // between the controls, and the period list keeps Up and Down.
    for (const auto &[key, button] : {std::pair{Qt::Key_Left, previous_}, std::pair{Qt::Key_Right, next_}}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, button, [button] {
            if (button->isEnabled())
                button->click();
        });
    }
    timer_.setObjectName(QStringLiteral("SlideTimer"));

    // Covers the screen the program's window is on.
    if (const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    setWindowState(Qt::WindowFullScreen);
    savedWindowSize_ = size();
    layoutControls(savedWindowSize_);

    ShowSlide(slideIndex_);
    if (slideList_.size() < 2) {
        previous_->setEnabled(false);
        next_->setEnabled(false);
    }
    period_->setCurrentIndex(kFirstPeriod);
}

CSlideShowDlg::~CSlideShowDlg() = default;

QSize CSlideShowDlg::area() const
{
    return QSize(width(), height() - SlidePanelStrip);
}

void CSlideShowDlg::layoutControls(QSize window)
{
    const SlideControlsLayout l = LayoutControls(window);
    panelFrame_->setGeometry(l.panelFrame);
    close_->move(l.close);
    next_->move(l.next);
    previous_->move(l.previous);
    position_->move(l.position);
    period_->move(l.period);
    // A label wider than its place in this font ends where the list begins.
    periodLabel_->move(qMin(l.periodLabel.x(), l.period.x() - periodLabel_->width() - 2), l.periodLabel.y());
    infoFrame_->move(l.infoFrame);
    controlFrame_->move(l.controlFrame);
    fileName_->setGeometry(l.fileName);
    photoSize_->setGeometry(l.photoSize);
}

void CSlideShowDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (size() == savedWindowSize_)
        return;
    savedWindowSize_ = size();
    layoutControls(savedWindowSize_);
    // Every slide made ready was fitted to the old size.
    slides_.cancelAll();
    pending_.clear();
    prepared_.clear();
    if (!slideList_.isEmpty())
        ShowSlide(slideIndex_);
}

bool CSlideShowDlg::isNear(int index) const
{
    const int n = int(slideList_.size());
    return index == slideIndex_ || index == (slideIndex_ + 1) % n || index == (slideIndex_ + n - 1) % n;
}

void CSlideShowDlg::ShowSlide(int index)
{
    if (index < 0 || index >= slideList_.size())
        return;
    slideIndex_ = index;
    const QString name = FileNameOf(slideList_[index]);
    fileName_->setText(QStringLiteral("File name: ") + name);
    fileName_->setToolTip(name);
    picture_->setAccessibleDescription(name);
    position_->setText(QString::number(index + 1) + QStringLiteral(" of ") + QString::number(slideList_.size()));

    // Only the slide shown and its neighbours are kept or prepared.
    for (auto it = prepared_.begin(); it != prepared_.end();)
        it = isNear(it.key()) ? std::next(it) : prepared_.erase(it);
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (isNear(it->index)) {
            ++it;
        } else {
            slides_.cancel(it.key());
            it = pending_.erase(it);
        }
    }

    const auto ready = prepared_.constFind(index);
    if (ready != prepared_.constEnd()) {
        display(*ready);
    } else {
        shownReady_ = false;
        picture_->hide();
        picture_->clear();
        photoSize_->clear();
        setCursor(Qt::WaitCursor);
        request(index);
    }
    const int n = int(slideList_.size());
    request((index + 1) % n);
    request((index + n - 1) % n);
}

void CSlideShowDlg::request(int index)
{
    if (prepared_.contains(index))
        return;
    for (const Pending &p : std::as_const(pending_))
        if (p.index == index)
            return;
    const quint64 number = slides_.start(
        [path = slideList_[index], area = area()](const WorkerTask &task) { return PrepareSlide(path, area, task.token()); },
        [this](quint64 number, PreparedSlide slide) {
            const Pending p = pending_.take(number);
            if (p.index < 0 || p.area != area())
                return;
            prepared_.insert(p.index, slide);
            if (p.index == slideIndex_ && !shownReady_)
                display(slide);
        });
    pending_.insert(number, Pending{index, area()});
}

void CSlideShowDlg::display(const PreparedSlide &slide)
{
    shownReady_ = true;
    unsetCursor();
    photoSize_->setText(QStringLiteral("W-") + QString::number(slide.photoSize.width()) + QStringLiteral(" x H-")
                        + QString::number(slide.photoSize.height()));
    // Its place holds "W-9999 x H-9999" only in a narrower font: the text is never cut.
    photoSize_->resize(qMax(LayoutControls(size()).photoSize.width(), photoSize_->sizeHint().width()), photoSize_->height());
    if (slide.picture.isNull()) {
        picture_->hide();
        picture_->clear();
    } else {
        picture_->setPixmap(QPixmap::fromImage(slide.picture));
        picture_->setGeometry(QRect(slide.fit.at, slide.fit.size));
        picture_->raise();
        picture_->show();
    }
    emit slideShown(slideIndex_);
}

void CSlideShowDlg::Next()
{
    if (!slideList_.isEmpty())
        ShowSlide((slideIndex_ + 1) % int(slideList_.size()));
}

void CSlideShowDlg::Previous()
{
    const int n = int(slideList_.size());
    if (n > 0)
        ShowSlide((slideIndex_ + n - 1) % n);
}

void CSlideShowDlg::periodChosen(int choice)
{
    if (choice < 0 || choice >= int(std::size(kPeriods)))
        return;
    timer_.stop();
    if (kPeriods[choice].milliseconds > 0)
        timer_.start(kPeriods[choice].milliseconds);
}

void CSlideShowDlg::done(int result)
{
    timer_.stop();
    slides_.cancelAll();
    pending_.clear();
    prepared_.clear();
    picture_->clear();
    QDialog::done(result);
}
