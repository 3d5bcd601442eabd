#pragma once

#include "browse/SlideLayout.h"
#include "platform/Worker.h"

#include <QDialog>
#include <QHash>
#include <QImage>
#include <QStringList>
#include <QTimer>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

// One slide made ready for an area: the photo decoded upright and scaled to its fit.
struct PreparedSlide
{
    QImage picture; // null when the photo cannot be decoded
    QSize photoSize{0, 0}; // the photo's own upright size; 0 x 0 when it cannot be decoded
    SlideFit fit;
};
// Reads the disk: call it on a worker.
PreparedSlide PrepareSlide(const QString &path, QSize area, const CancelToken &token = {});

// The slideshow: the folder's photos one at a time, as large as the screen allows, in a
// borderless window covering the screen, with a control panel along the bottom edge. Slides are
// decoded on workers at the size shown; the photos before and after the one shown are made
// ready meanwhile, so that the next slide, by hand or by the timer, needs no wait.
class CSlideShowDlg : public QDialog
{
    Q_OBJECT
public:
    // `startIndex` must lie within `slideList`, which must not be empty.
    CSlideShowDlg(QStringList slideList, int startIndex, QWidget *parent = nullptr);
    ~CSlideShowDlg() override;

    int slideIndex() const { return slideIndex_; }
    const QStringList &slideList() const { return slideList_; }
    // The slide shown is in place (not still being prepared).
    bool slideReady() const { return shownReady_; }
    // Slide `index` is decoded and fitted, ready to be shown at once.
    bool isPrepared(int index) const { return prepared_.contains(index); }
    const QTimer &slideTimer() const { return timer_; }

    void ShowSlide(int index);
    void Next();
    void Previous();
    // Closing ("Close", Escape) stops the timer and lets go of every slide.
    void done(int result) override;

signals:
    // The picture of the slide shown is in place (null when the photo could not be decoded).
    void slideShown(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Pending
    {
        int index = -1;
        QSize area;
    };

    QSize area() const;
    void layoutControls(QSize window);
    void request(int index);
    void display(const PreparedSlide &slide);
    void periodChosen(int choice);
    bool isNear(int index) const;

    QStringList slideList_;
    int slideIndex_ = 0;
    QSize savedWindowSize_;
    bool shownReady_ = false;

    QLabel *picture_;
    QGroupBox *panelFrame_;
    QGroupBox *infoFrame_;
    QGroupBox *controlFrame_;
    QLabel *fileName_;
    QLabel *photoSize_;
    QLabel *periodLabel_;
    QComboBox *period_;
    QPushButton *previous_;
    QLabel *position_;
    QPushButton *next_;
    QPushButton *close_;
    QTimer timer_;

    // Slides made ready for the current area: the one shown and its two neighbours.
    QHash<int, PreparedSlide> prepared_;
    QHash<quint64, Pending> pending_; // request number -> what it prepares

    WorkerPool pool_{WorkerPool::Options{"qlm-slides", WorkPriority::Normal, 2}};
    Worker slides_{this, pool_};
};
