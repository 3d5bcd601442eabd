#pragma once

// Starts the reference album service (quillmere-albumd) on a free port of 127.0.0.1 for one
// test, and stops it when the test is done. Tests that use it define QUILLMERE_ALBUMD_BINARY.

#include "upload/QLMAPI.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

class AlbumServer
{
public:
    // The account every server has.
    static inline const QString kEmail = QStringLiteral("ann@example.com");
    static inline const QString kPassword = QStringLiteral("s3cret: with blanks");

    explicit AlbumServer(const QStringList &extraArgs = {}) : args_(extraArgs) { start(); }

    // Kills the service as a crash would (SIGKILL, nothing cleaned up) and starts it again on
    // the same data folder; the port may change.
    void crashAndRestart()
    {
        process_.kill();
        process_.waitForFinished(5000);
        QFile::remove(portFile());
        port_ = 0;
        start();
    }

    ~AlbumServer()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }

    bool running() const { return port_ > 0; }
    int port() const { return port_; }
    qint64 pid() const { return process_.processId(); }
    QString dataFolder() const { return dir_.filePath(QStringLiteral("data")); }
    QString clientFolder() const { return dir_.filePath(QStringLiteral("client")); }
    QString albumFolder(const QString &album) const { return dataFolder() + "/" + kEmail + "/" + album; }

    ServiceAddress address() const
    {
        ServiceAddress a;
        a.host = QStringLiteral("127.0.0.1");
        a.port = port_;
        a.dataFolder = clientFolder();
        a.connectTimeoutSeconds = 5;
        a.replyTimeoutSeconds = 10;
        return a;
    }

private:
    void start()
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(QUILLMERE_ALBUMD_BINARY),
                       QStringList{"--data", dataFolder(), "--port", "0", "--port-file", portFile(), "--account",
                                   kEmail + ":" + kPassword}
                           + args_);
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
            QFile f(portFile());
            if (f.open(QIODevice::ReadOnly)) {
                port_ = f.readAll().trimmed().toInt();
                if (port_ > 0)
                    break;
            }
            QThread::msleep(20);
        }
    }

    QString portFile() const { return dir_.filePath(QStringLiteral("port")); }

    QStringList args_;
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
};
