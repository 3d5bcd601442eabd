#include "browse/SlideLayout.h"
#include "browse/SlideShowDlg.h"

#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList writePhotos(const QTemporaryDir &dir, int count)
{
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        paths << dir.filePath(QString("slide%1.jpg").arg(i, 2, 10, QChar('0')));
        writeFile(paths.last(), jpeg(QSize(120 + i, 80), QColor::fromHsv(i * 25 % 360, 200, 200)));
    }
    return paths;
}

// The text of the panel's label that holds `part`.
QString labelText(const CSlideShowDlg &dlg, const QString &part)
{
    for (const QLabel *label : dlg.findChildren<QLabel *>())
        if (label->text().contains(part))
            return label->text();
    return {};
}

QString positionText(const CSlideShowDlg &dlg)
{
    return labelText(dlg, " of ");
}

QPushButton *button(const CSlideShowDlg &dlg, const QString &text)
{
    for (QPushButton *b : dlg.findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

class TestSlideShow : public QObject
{
    Q_OBJECT
private slots:
    void fit_data()
    {
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<QSize>("area");
        QTest::addColumn<QRect>("shown");
        const QSize area(1024, 705); // a 1024 x 768 window less the panel's strip
        QTest::newRow("landscape, scaled to the width") << QSize(3000, 2000) << area << QRect(0, 11, 1024, 682);
        QTest::newRow("landscape too tall at the width") << QSize(4000, 3000) << area << QRect(42, 3, 940, 705);
        QTest::newRow("portrait") << QSize(2000, 3000) << area << QRect(277, 3, 470, 705);
        QTest::newRow("small: natural size") << QSize(800, 600) << area << QRect(112, 52, 800, 600);
        QTest::newRow("square, larger than the area") << QSize(2000, 2000) << area << QRect(159, 3, 705, 705);
        QTest::newRow("exactly the area's width") << QSize(1024, 500) << area << QRect(0, 102, 1024, 500);
        // Narrower than the area but taller: shrunk until it fits, not shown past the area.
        QTest::newRow("landscape taller than the area") << QSize(1000, 900) << area << QRect(120, 3, 783, 705);
        QTest::newRow("portrait wider than the area") << QSize(1100, 1200) << QSize(1024, 1300)
                                                      << QRect(0, 91, 1024, 1117);
        QTest::newRow("portrait too wide at the height") << QSize(3000, 3100) << QSize(1000, 2000)
                                                         << QRect(0, 483, 1000, 1033);
        QTest::newRow("near the top: kept 3 pixels down") << QSize(2000, 1370) << area << QRect(0, 3, 1024, 701);
        QTest::newRow("undecodable photo") << QSize(0, 0) << area << QRect(0, 0, 0, 0);
        QTest::newRow("no area") << QSize(800, 600) << QSize(1024, 0) << QRect(0, 0, 0, 0);
    }
    void fit()
    {
        QFETCH(QSize, photo);
        QFETCH(QSize, area);
        QFETCH(QRect, shown);
        const SlideFit fit = FitSlide(photo, area);
        QCOMPARE(QRect(fit.at, fit.size), shown);
        if (!fit.size.isEmpty()) {
            // Never enlarged, never past the area's sides; at most 3 pixels into the panel's strip.
            QVERIFY(fit.size.width() <= photo.width() && fit.size.height() <= photo.height());
            QVERIFY(fit.at.x() >= 0 && fit.at.x() + fit.size.width() <= area.width());
            QVERIFY(fit.at.y() >= 3 && fit.at.y() + fit.size.height() <= area.height() + 3);
        }
    }

    void slidesAreUprightAndFitted()
    {
        QTemporaryDir dir;
        // Stored 600 x 400, to be shown turned a quarter clockwise: 400 x 600 upright.
        const QString turned = dir.filePath("turned.jpg");
        writeFile(turned, markedJpeg(QSize(600, 400), 6));
        const PreparedSlide slide = PrepareSlide(turned, QSize(1024, 705));
        QCOMPARE(slide.photoSize, QSize(400, 600));
        QCOMPARE(QRect(slide.fit.at, slide.fit.size), QRect(312, 52, 400, 600));
        QCOMPARE(slide.picture.size(), QSize(400, 600));
        // The red quarter, top left as stored, is top right once upright.
        QCOMPARE(QColor(slide.picture.pixel(300, 100)).red() > 200, true);
        QCOMPARE(QColor(slide.picture.pixel(100, 100)).blue() > 200, true);

        // A 4000 x 3000 photo comes out at its fitted size, not at a decoder's scale.
        const QString big = dir.filePath("big.jpg");
        writeFile(big, jpeg(QSize(4000, 3000), Qt::darkCyan));
        QCOMPARE(PrepareSlide(big, QSize(1024, 705)).picture.size(), QSize(940, 705));

    }

    void cyclesThroughTheFolder()
    {
        QTemporaryDir dir;
        const QStringList photos = writePhotos(dir, 12);
        writeFile(photos[6], "gone bad");
        CSlideShowDlg dlg(photos, 4);
        dlg.show();
        QCOMPARE(positionText(dlg), QString("5 of 12"));
        QCOMPARE(labelText(dlg, "File name: "), QString("File name: slide05.jpg"));
        QTRY_VERIFY(dlg.slideReady());
        QCOMPARE(labelText(dlg, "W-"), QString("W-125 x H-80"));
        QVERIFY(button(dlg, "<<")->isEnabled() && button(dlg, ">>")->isEnabled());
        // The period list starts at 3 seconds.
        QCOMPARE(dlg.findChild<QComboBox *>()->currentText(), QString("3 seconds"));
        QVERIFY(dlg.slideTimer().isActive());
        QCOMPARE(dlg.slideTimer().interval(), 3000);

        // The photos on either side are made ready meanwhile: showing them needs no wait.
        QTRY_VERIFY(dlg.isPrepared(5) && dlg.isPrepared(3));
        button(dlg, ">>")->click();
        QVERIFY(dlg.slideReady());
        QCOMPARE(positionText(dlg), QString("6 of 12"));
        // A photo that cannot be decoded shows nothing, and the show goes on.
        dlg.Next();
        QTRY_VERIFY(dlg.slideReady());
        QCOMPARE(labelText(dlg, "W-"), QString("W-0 x H-0"));

        dlg.ShowSlide(11);
        QTRY_VERIFY(dlg.slideReady());
        QTRY_VERIFY(dlg.isPrepared(0));
        dlg.Next();
        QCOMPARE(dlg.slideIndex(), 0);
        QCOMPARE(positionText(dlg), QString("1 of 12"));
        QVERIFY(dlg.slideReady());
        button(dlg, "<<")->click();
        QCOMPARE(dlg.slideIndex(), 11);
        QCOMPARE(labelText(dlg, "File name: "), QString("File name: slide12.jpg"));

        // The timer advances like ">>".
        const int before = dlg.slideIndex();
        QVERIFY(QMetaObject::invokeMethod(const_cast<QTimer *>(&dlg.slideTimer()), "timeout"));
        QCOMPARE(dlg.slideIndex(), (before + 1) % 12);
    }

    void onePhoto()
    {
        QTemporaryDir dir;
        CSlideShowDlg dlg(writePhotos(dir, 1), 0);
        dlg.show();
        QVERIFY(!button(dlg, "<<")->isEnabled() && !button(dlg, ">>")->isEnabled());
        QTRY_VERIFY(dlg.slideReady());
        QSignalSpy shown(&dlg, &CSlideShowDlg::slideShown);
        QVERIFY(QMetaObject::invokeMethod(const_cast<QTimer *>(&dlg.slideTimer()), "timeout"));
        QCOMPARE(shown.size(), 1); // the same photo again, at once
        QCOMPARE(dlg.slideIndex(), 0);
        QCOMPARE(positionText(dlg), QString("1 of 1"));
    }

    void periodChoices_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("interval"); // 0: no automatic advance
        QTest::newRow("manual") << 0 << "Manual" << 0;
        QTest::newRow("3 s") << 1 << "3 seconds" << 3000;
        QTest::newRow("7 s") << 2 << "7 seconds" << 7000;
        QTest::newRow("15 s") << 3 << "15 seconds" << 15000;
    }
    void periodChoices()
    {
        QFETCH(int, choice);
        QFETCH(QString, text);
        QFETCH(int, interval);
        QTemporaryDir dir;
        CSlideShowDlg dlg(writePhotos(dir, 3), 0);
        auto *period = dlg.findChild<QComboBox *>();
        period->setCurrentIndex(choice == 3 ? 2 : 3); // from another choice first
        period->setCurrentIndex(choice);
        QCOMPARE(period->currentText(), text);
        QCOMPARE(dlg.slideTimer().isActive(), interval > 0);
        if (interval > 0)
            QCOMPARE(dlg.slideTimer().interval(), interval);
    }

    void escapeAndCloseEndTheShow_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Escape") << true;
        QTest::newRow("Close") << false;
    }
    void escapeAndCloseEndTheShow()
    {
        QFETCH(bool, escape);
        QTemporaryDir dir;
        CSlideShowDlg dlg(writePhotos(dir, 3), 0);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(dlg.windowState() & Qt::WindowFullScreen);
        if (escape)
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            button(dlg, "Close")->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!dlg.slideTimer().isActive());
    }

    void arrowKeysTurnTheSlides_data()
    {
        QTest::addColumn<int>("photos");
        QTest::addColumn<QString>("focus"); // the control that has the keyboard
        QTest::newRow("on the next button") << 4 << ">>";
        QTest::newRow("on the period list") << 4 << "period";
        QTest::newRow("one photo") << 1 << "Close";
    }
    void arrowKeysTurnTheSlides()
    {
        QFETCH(int, photos);
        QFETCH(QString, focus);
        QTemporaryDir dir;
        CSlideShowDlg dlg(writePhotos(dir, photos), 0);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto *period = dlg.findChild<QComboBox *>();
        QWidget *focused = focus == "period" ? static_cast<QWidget *>(period) : button(dlg, focus);
        focused->setFocus();
        QSignalSpy shown(&dlg, &CSlideShowDlg::slideShown);
        QTest::keyClick(focused, Qt::Key_Left);
        QCOMPARE(dlg.slideIndex(), photos - 1);
        QTest::keyClick(focused, Qt::Key_Right);
        QTest::keyClick(focused, Qt::Key_Right);
        QCOMPARE(dlg.slideIndex(), photos > 1 ? 1 : 0);
        QCOMPARE(period->currentText(), QString("3 seconds"));
        QVERIFY(focused->hasFocus());
        if (photos == 1) // nothing to turn to: the photo stays as it is
            QCOMPARE(shown.size(), 0);
    }

    void aNewSizeFitsTheSlideAgain()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("wide.jpg");
        writeFile(path, jpeg(QSize(3000, 2000), Qt::darkYellow));
        CSlideShowDlg dlg({path}, 0);
        dlg.setWindowState(Qt::WindowNoState);
        dlg.resize(1024, 768);
        dlg.show();
        QTRY_VERIFY(dlg.slideReady());
        QLabel *slide = nullptr;
        for (QLabel *l : dlg.findChildren<QLabel *>())
            if (l->accessibleName() == "Slide")
                slide = l;
        QVERIFY(slide);
        QCOMPARE(slide->geometry(), QRect(0, 11, 1024, 682));
        dlg.resize(800, 600);
        QTRY_COMPARE(slide->geometry(), QRect(0, 3, 800, 533));
    }
};

QTEST_MAIN(TestSlideShow)
#include "tst_slideshow.moc"
