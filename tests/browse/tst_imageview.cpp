#include "browse/ImageView.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QApplication>
#include <QImageReader>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

void WaitForRenders(CQuillmereNewClientView &view)
{
    QTRY_VERIFY_WITH_TIMEOUT(!view.IsWorkerRunning(), 20000);
}

void Move(QWidget *viewport, QPoint to)
{
    QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

} // namespace

class TestImageView : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString big_, small_, broken_;

private slots:
    void initTestCase()
    {
        big_ = dir_.filePath("big.jpg");
        small_ = dir_.filePath("small.jpg");
        broken_ = dir_.filePath("broken.jpg");
        writeFile(big_, markedJpeg(QSize(2400, 1600)));
        writeFile(small_, markedJpeg(QSize(300, 200), 6));
        writeFile(broken_, "not a photo");
    }

    void statesOfAPhoto()
    {
        CQuillmereNewClientView view;
        view.resize(800, 600);
        view.show();
        QSignalSpy status(&view, &CQuillmereNewClientView::statusMessage);
        QCOMPARE(view.placeholderText(), QString("There are no photos in this folder."));

        view.SetFile(big_);
        QCOMPARE(view.placeholderText(), QString("Preparing..."));
        QVERIFY(view.IsWorkerRunning());
        // Requests that arrive while a picture is being prepared are dropped.
        view.SetZoom(50);
        QCOMPARE(view.zoomRequest(), 0);
        WaitForRenders(view);
        QVERIFY(view.hasPicture());
        QCOMPARE(view.photoSize(), QSize(2400, 1600));
        QCOMPARE(view.displaySize(), QSize(800, 533));
        QCOMPARE(view.currentZoom(), 33);
        QCOMPARE(status.last().first().toString(), QString("Ready."));

        view.SetZoom(200);
        WaitForRenders(view);
        QCOMPARE(view.displaySize(), QSize(4799, 3199));
        view.Rotate(+1);
        QCOMPARE(view.displaySize(), QSize(3199, 4799));
        QCOMPARE(view.verticalScrollBar()->maximum(), 4799 - view.viewport()->height());
        view.StepZoom(false);
        WaitForRenders(view);
        QCOMPARE(view.currentZoom(), 195);
        QCOMPARE(view.rotationSteps(), 1);
        QCOMPARE(view.displaySize().width() < view.displaySize().height(), true); // still turned

        // A new photo goes back to fit and no turn; it is shown upright.
        view.SetFile(small_);
        QCOMPARE(view.rotationSteps(), 0);
        QVERIFY(view.isFitMode());
        WaitForRenders(view);
        QCOMPARE(view.photoSize(), QSize(200, 300));
        QCOMPARE(view.currentZoom(), 100);

        // A file that cannot be decoded stays "Preparing...".
        view.SetFile(broken_);
        WaitForRenders(view);
        QVERIFY(!view.hasPicture());
        QCOMPARE(view.placeholderText(), QString("Preparing..."));
        view.SetFile(QString());
        QCOMPARE(view.displaySize(), QSize(0, 0));
        QCOMPARE(view.placeholderText(), QString("There are no photos in this folder."));
    }

    void newestRequestWins()
    {
        CQuillmereNewClientView view;
        view.resize(800, 600);
        view.show();
        // The big photo takes longer; its result arrives last and must not replace the small one.
        view.SetFile(big_);
        view.SetFile(small_);
        WaitForRenders(view);
        QCOMPARE(view.path(), small_);
        QCOMPARE(view.photoSize(), QSize(200, 300));
        QCOMPARE(view.displaySize(), QSize(200, 300));
        // Turned while being prepared: the turn is kept when the picture arrives.
        view.SetFile(big_);
        view.Rotate(-1);
        WaitForRenders(view);
        QCOMPARE(view.rotationSteps(), -1);
        QVERIFY(view.displaySize().width() < view.displaySize().height());
    }

    void zoomStepsReuseTheDecodedPhoto()
    {
        CQuillmereNewClientView view;
        view.resize(800, 600);
        view.show();
        view.SetFile(big_);
        WaitForRenders(view);
        const int decodes = view.decodeCount();
        for (int i = 0; i < 3; ++i) {
            view.StepZoom(true);
            WaitForRenders(view);
        }
        QCOMPARE(view.currentZoom(), 48);
        QCOMPARE(view.decodeCount(), decodes);

        // What is saved is the picture as shown, as JPEG whatever the name says.
        view.SetZoom(25);
        WaitForRenders(view);
        view.Rotate(-1);
        const QString copy = dir_.filePath("shown.tiff");
        QSignalSpy saves(&view, &CQuillmereNewClientView::imageSaved);
        view.SaveDisplayedImage(copy);
        QVERIFY(saves.wait());
        QCOMPARE(saves[0], (QList<QVariant>{copy, QString()}));
        QImageReader saved(copy);
        QCOMPARE(saved.format(), QByteArray("jpeg"));
        QCOMPARE(saved.size(), QSize(399, 599));
    }

    void resizeRefitsOnlyWhenNeeded()
    {
        CQuillmereNewClientView view;
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.SetFile(big_);
        WaitForRenders(view);
        const QSize shown = view.displaySize();
        QCOMPARE(shown.width(), view.viewport()->width());
        view.resize(view.width() + 1, view.height());
        QVERIFY(!view.IsWorkerRunning());
        view.resize(600, 400);
        QVERIFY(view.IsWorkerRunning());
        WaitForRenders(view);
        QCOMPARE(view.displaySize().width(), 600);
    }

    void takesTheSlotItIsGiven()
    {
        // In a narrow window the splitter may give the view less than its old minimum; it must
        // not spill past its slot.
        QWidget frame;
        frame.resize(300, 200);
        auto *view = new CQuillmereNewClientView(&frame);
        view->setGeometry(250, 0, 40, 30);
        QCOMPARE(view->geometry(), QRect(250, 0, 40, 30));
        QVERIFY(frame.rect().contains(view->geometry()));
    }

    void draggingAndScrolling()
    {
        CQuillmereNewClientView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.SetFile(big_);
        WaitForRenders(view);
        QWidget *vp = view.viewport();
        // Fitted, the whole picture is in view: no drag, normal cursor.
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        Move(vp, QPoint(130, 100));
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(130, 100));
        QCOMPARE(vp->cursor().shape(), Qt::ArrowCursor);

        view.SetZoom(100);
        WaitForRenders(view);
        QCOMPARE(vp->cursor().shape(), Qt::OpenHandCursor);
        QScrollBar *h = view.horizontalScrollBar();
        h->setValue(500);
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        for (int x = 102; x <= 110; x += 2)
            Move(vp, QPoint(x, 100)); // 2 pixels per event: never scrolls
        QCOMPARE(h->value(), 500);
        for (int x = 120; x <= 150; x += 10)
            Move(vp, QPoint(x, 100)); // 10 pixels per event: one line each, towards the left
        QCOMPARE(h->value(), 500 - 4 * h->singleStep());
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
        Move(vp, QPoint(200, 100));
        QCOMPARE(h->value(), 500 - 4 * h->singleStep());

        QScrollBar *v = view.verticalScrollBar();
        v->setValue(100);
        QWheelEvent wheel(QPointF(50, 50), vp->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 480), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(vp, &wheel);
        QCOMPARE(v->value(), 100 - v->singleStep()); // one line, whatever the delta
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(v->value(), v->maximum());
        QCOMPARE(h->value(), h->maximum());
        QTest::keyClick(&view, Qt::Key_Home);
        QCOMPARE(v->value(), 0);
        QTest::keyClick(&view, Qt::Key_PageDown);
        QCOMPARE(v->value(), v->pageStep());
    }
};

QTEST_MAIN(TestImageView)
#include "tst_imageview.moc"
