#include "platform/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QString uniqueKey()
{
    return QStringLiteral("qlm-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// A later copy runs in a process of its own; here a thread stands for it, so that the
// first copy's event loop can answer while the later one waits.
bool claimElsewhere(const QString &key, const QString &path = {})
{
    auto later = QtConcurrent::run([key, path] { return SingleInstance(key).claim(path); });
    while (!later.isFinished())
        QTest::qWait(10);
    return later.result();
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void laterCopyAsksTheFirstToComeForward()
    {
        const QString key = uniqueKey();
        SingleInstance first(key);
        QVERIFY(first.claim());
        QSignalSpy activated(&first, &SingleInstance::activationRequested);

        QVERIFY(!claimElsewhere(key));
        QTRY_COMPARE(activated.size(), 1);
        QVERIFY(!claimElsewhere(key));
        QTRY_COMPARE(activated.size(), 2);
    }

    void laterCopyHandsItsPathOver_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("none") << QString();
        QTest::newRow("plain") << QString("/home/ann/Photos/IMG_0042.JPG");
        QTest::newRow("line break, blanks, percent") << QString("/tmp/a\nb/ c %41.jpg\n");
        QTest::newRow("beyond Latin-1") << QString::fromUtf8("/home/ann/Фото/日本.jpg");
    }
    void laterCopyHandsItsPathOver()
    {
        QFETCH(QString, path);
        const QString key = uniqueKey();
        SingleInstance first(key);
        QVERIFY(first.claim());
        QSignalSpy activated(&first, &SingleInstance::activationRequested);
        QVERIFY(!claimElsewhere(key, path));
        QTRY_COMPARE(activated.size(), 1);
        QCOMPARE(activated[0][0].toString(), path);
    }

    void socketLeftByACrashedCopyIsTakenOver()
    {
        const QString key = uniqueKey();
        // A bound socket whose owner is gone: what a crash leaves behind.
        const QByteArray path = QFile::encodeName(SingleInstance::socketPath(key));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        QVERIFY(size_t(path.size()) < sizeof addr.sun_path);
        memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        ::close(fd);
        QVERIFY(QFile::exists(QFile::decodeName(path)));

        SingleInstance first(key);
        QVERIFY(first.claim());
        QSignalSpy activated(&first, &SingleInstance::activationRequested);
        QVERIFY(!claimElsewhere(key));
        QTRY_COMPARE(activated.size(), 1);
    }

    void eachRuntimeFolderHasACopyOfItsOwn()
    {
        // Two users, or two test homes, share the temporary folder but not their runtime
        // folders: neither may find the other's copy.
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] {
            if (saved.isNull())
                qunsetenv("XDG_RUNTIME_DIR");
            else
                qputenv("XDG_RUNTIME_DIR", saved);
        });
        QTemporaryDir ann, bob;
        const QString key = uniqueKey();

        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(ann.path()));
        SingleInstance first(key);
        QVERIFY(first.claim());
        QCOMPARE(SingleInstance::socketPath(key), ann.filePath(key));
        QVERIFY(QFileInfo(ann.filePath(key)).exists());
        QVERIFY(!QFileInfo::exists(QDir::temp().filePath(key)));

        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(bob.path()));
        QSignalSpy activated(&first, &SingleInstance::activationRequested);
        QVERIFY(claimElsewhere(key));
        QCOMPARE(activated.size(), 0);

        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(ann.path()));
        QVERIFY(!claimElsewhere(key));
        QTRY_COMPARE(activated.size(), 1);
    }

    void theFirstCopyEndingFreesTheName()
    {
        const QString key = uniqueKey();
        {
            SingleInstance first(key);
            QVERIFY(first.claim());
        }
        SingleInstance next(key);
        QVERIFY(next.claim());
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
