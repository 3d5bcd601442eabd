// The tray as a desktop has it: an X server of the test's own (Xvfb) with a system tray
// (trayer), the icon clicked by xdotool. Skipped where those programs are missing.

#include "app/MainFrame.h"
#include "app/MediaWatcher.h"
#include "app/RunFlags.h"
#include "app/TrayIcon.h"
#include "platform/Settings.h"

#include "support/RecordingPrompts.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// An X server with a tray, for as long as it lives. Started before the application object,
// which connects to it.
class TrayDesktop
{
public:
    TrayDesktop()
    {
        for (const char *tool : {"Xvfb", "trayer", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                reason_ = QStringLiteral("%1 is not installed (scripts/install-deps --eye)").arg(tool);
                return;
            }
        }
        for (int n = 90 + int(QCoreApplication::applicationPid() % 100); n < 400 && display_.isEmpty(); n += 7) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            server_.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), "-screen", "0", "800x600x24",
                                                   "-nolisten", "tcp"});
            if (!server_.waitForStarted(5000))
                break;
            QDeadlineTimer deadline(5000);
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            while (!deadline.hasExpired() && server_.state() != QProcess::NotRunning && !QFile::exists(socket))
                QThread::msleep(20);
            if (server_.state() == QProcess::Running && QFile::exists(socket))
                display_ = QStringLiteral(":%1").arg(n);
            else
                stop(server_);
        }
        if (display_.isEmpty()) {
            reason_ = QStringLiteral("no X server could be started");
            return;
        }
        qputenv("DISPLAY", display_.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        tray_.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                                               "120", "--heighttype", "pixel", "--height", "32"});
        if (!tray_.waitForStarted(5000))
            reason_ = QStringLiteral("trayer did not start");
    }
    ~TrayDesktop()
    {
        stop(tray_);
        stop(server_);
    }

    QString reason() const { return reason_; }

private:
    static void stop(QProcess &p)
    {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(3000))
            p.kill();
        p.waitForFinished(3000);
    }

    QProcess server_;
    QProcess tray_;
    QString display_;
    QString reason_;
};

// Clicks at a point of the screen as the user would, `count` times in a row.
bool click(QPoint at, int button, int count = 1)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "--repeat",
                   QString::number(count), "--delay", "80", QString::number(button)});
    // The X server queues the clicks; this thread's loop reads them afterwards.
    if (!xdotool.waitForFinished(5000))
        return false;
    return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

// The tray has taken the icon in: until then it stands at the top left, where nothing is.
bool embedded(const TrayIcon &tray)
{
    return tray.icon()->geometry().x() > 0;
}

} // namespace

class TestRealTray : public QObject
{
    Q_OBJECT
public:
    explicit TestRealTray(QString skipReason) : skipReason_(std::move(skipReason)) {}

private slots:
    void init()
    {
        if (!skipReason_.isEmpty())
            QSKIP(qPrintable(skipReason_));
    }

    void minimizeDoubleClickAndMenu()
    {
        // The tray is known once trayer owns the tray selection.
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        RecordingPrompts user;
        Settings settings;
        RunFlags flags;
        CMainFrame frame(user.prompts);
        frame.resize(600, 400);
        MediaWatchContext watch;
        watch.settings = &settings;
        watch.flags = &flags;
        watch.removableDrives = [] { return QStringList(); };
        MediaWatcher watcher(watch);
        TrayIcon tray(TrayContext{&frame, &watcher, {}, {}});
        int closes = 0;
        struct CloseCounter : QObject {
            int &count;
            explicit CloseCounter(int &c) : count(c) {}
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::Close)
                    ++count;
                return false;
            }
        } counter(closes);
        frame.installEventFilter(&counter);

        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.showMinimized();
        QTRY_VERIFY(!frame.isVisible());
        QVERIFY(tray.icon()->isVisible());
        QCOMPARE(tray.icon()->toolTip(), QString("Quillmere"));
        QVERIFY(watcher.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(embedded(tray), 10000);

        // Double-click: the window comes back and the icon goes.
        QVERIFY(click(tray.icon()->geometry().center(), 1, 2));
        QTRY_VERIFY(frame.isVisible());
        QTRY_VERIFY(!frame.isMinimized());
        QVERIFY(!tray.icon()->isVisible());
        QVERIFY(!watcher.isActive());

        // The menu: right-click shows it, a click elsewhere closes it, "Exit" closes the window.
        frame.showMinimized();
        QTRY_VERIFY(!frame.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(embedded(tray), 10000);
        QVERIFY(click(tray.icon()->geometry().center(), 3));
        QTRY_VERIFY(tray.menu()->isVisible());
        QVERIFY(click(QPoint(50, 500), 1));
        QTRY_VERIFY(!tray.menu()->isVisible());
        QCOMPARE(closes, 0);
        QVERIFY(click(tray.icon()->geometry().center(), 3));
        QTRY_VERIFY(tray.menu()->isVisible());
        const QRect exit = tray.menu()->actionGeometry(tray.exitAction());
        QVERIFY(click(tray.menu()->mapToGlobal(exit.center()), 1));
        QTRY_COMPARE(closes, 1);
    }

private:
    QString skipReason_;
};

int main(int argc, char *argv[])
{
    TrayDesktop desktop;
    QApplication app(argc, argv);
    TestRealTray test(desktop.reason());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_realtray.moc"
