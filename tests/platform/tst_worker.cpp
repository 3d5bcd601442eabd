#include "platform/Worker.h"
#include "platform/WorkerFile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A FIFO: opening it for reading blocks until someone opens it for writing.
QString MakeFifo(const QTemporaryDir &dir, const char *name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
        return {};
    return path;
}

// Lets a reader blocked in opening the FIFO go on: it then reads the end at once.
void Release(const QString &fifo)
{
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
}

// Reads the whole file through a WorkerFile; -1 when it cannot be opened.
qint64 ReadAll(const QString &path, const CancelToken &token)
{
    WorkerFile file(path, token);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().size();
}

WorkerPool::Options Quick(int threads)
{
    WorkerPool::Options o;
    o.name = "test";
    o.maxThreads = threads;
    o.stallAfter = 150ms;
    return o;
}

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private slots:
    void newestRequestWinsAndEachKeptRequestCounts_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("cancel others") << true;
        QTest::newRow("keep others") << false;
    }
    void newestRequestWinsAndEachKeptRequestCounts()
    {
        QFETCH(bool, replace);
        WorkerPool pool(Quick(2));
        QObject owner;
        Worker worker(&owner, pool);
        QList<QPair<quint64, int>> got;
        quint64 last = 0;
        for (int i = 1; i <= 6; ++i) {
            const quint64 n = worker.start([i](const WorkerTask &) { return i * 10; },
                                           [&](quint64 number, int value) { got.append({number, value}); },
                                           replace ? Worker::CancelOthers : Worker::KeepOthers);
            QVERIFY(n > last);
            last = n;
        }
        QCOMPARE(worker.newest(), last);
        QTRY_COMPARE(worker.pendingCount(), 0);
        if (replace) {
            QCOMPARE(got, (QList<QPair<quint64, int>>{{last, 60}}));
        } else {
            QCOMPARE(got.size(), 6);
            for (const auto &[number, value] : got)
                QCOMPARE(value, int(number - last + 6) * 10);
        }
    }

    void cancelledWorkStopsBetweenStagesAndIsNotDelivered()
    {
        WorkerPool pool(Quick(1));
        QObject owner;
        Worker worker(&owner, pool);
        std::atomic<int> stages{0};
        std::atomic<bool> ended{false};
        int delivered = 0;
        const quint64 n = worker.start(
            [&](const WorkerTask &task) {
                while (!task.cancelled() && task.token().sleepFor(5ms))
                    ++stages;
                ended = true;
                return 0;
            },
            [&](quint64, int) { ++delivered; });
        QTRY_VERIFY(stages > 2);
        QVERIFY(worker.progressing());
        worker.cancel(n);
        QVERIFY(!worker.isPending(n));
        QTRY_VERIFY(ended);
        // A later request is delivered; the cancelled one never is.
        worker.start([](const WorkerTask &) { return 1; }, [&](quint64, int) { ++delivered; });
        QTRY_COMPARE(delivered, 1);
        QCoreApplication::processEvents();
        QCOMPARE(delivered, 1);
    }

    void aStuckReadHoldsUpNothingElse()
    {
        QTemporaryDir dir;
        const QString fifo = MakeFifo(dir, "a.jpg");
        QVERIFY(!fifo.isEmpty());
        QFile plain(dir.filePath("b.jpg"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("12345");
        plain.close();

        // One thread at a time: the FIFO's request takes it and never gives it back.
        WorkerPool pool(Quick(1));
        QObject owner;
        Worker worker(&owner, pool);
        QList<quint64> stalled;
        worker.onStalled([&](quint64 n) { stalled << n; });
        QMap<quint64, qint64> read;
        auto deliver = [&](quint64 n, qint64 size) { read[n] = size; };
        const quint64 stuck = worker.start([fifo](const WorkerTask &t) { return ReadAll(fifo, t.token()); }, deliver);
        QTRY_COMPARE(stalled, QList<quint64>{stuck});
        QVERIFY(worker.isStalled(stuck));
        QVERIFY(!worker.progressing());
        const quint64 next = worker.start([path = plain.fileName()](const WorkerTask &t) { return ReadAll(path, t.token()); }, deliver);
        QTRY_COMPARE(read.value(next, -2), qint64(5));
        QCOMPARE(pool.threadCount(), 2);
        QVERIFY(worker.isPending(stuck));

        // The stuck request still counts should its read ever return.
        Release(fifo);
        QTRY_COMPARE(read.value(stuck, -2), qint64(0));
        QCOMPARE(worker.pendingCount(), 0);
    }

    void workQueuedBehindOnlyStuckThreadsIsWrittenOff()
    {
        QTemporaryDir dir;
        const QString a = MakeFifo(dir, "a.jpg"), b = MakeFifo(dir, "b.jpg");
        // Two threads at most, and both end up stuck: nothing is left to run what comes next.
        WorkerPool::Options options = Quick(1);
        options.threadCap = 2;
        WorkerPool pool(options);
        QObject owner;
        Worker worker(&owner, pool);
        QList<quint64> stalled;
        worker.onStalled([&](quint64 n) { stalled << n; });
        QMap<quint64, qint64> read;
        auto deliver = [&](quint64 n, qint64 size) { read[n] = size; };
        const quint64 first = worker.start([a](const WorkerTask &t) { return ReadAll(a, t.token()); }, deliver);
        const quint64 second = worker.start([b](const WorkerTask &t) { return ReadAll(b, t.token()); }, deliver);
        QTRY_COMPARE(stalled.size(), 2);
        QCOMPARE(pool.threadCount(), 2);

        // Waiting for a thread that may never come is no progress: the owner hears of it, so
        // that a window never stays open for it.
        const quint64 queued = worker.start([](const WorkerTask &) { return qint64(7); }, deliver);
        QTRY_COMPARE(stalled, (QList<quint64>{first, second, queued}));
        QVERIFY(!worker.progressing());
        QCOMPARE(pool.threadCount(), 2);

        // Once a stuck read returns, the queued request runs and still counts.
        Release(a);
        Release(b);
        QTRY_COMPARE(read.value(queued, -2), qint64(7));
        QTRY_COMPARE(worker.pendingCount(), 0);
    }

    void aThreadEndingAtTheCapMakesRoomForAnotherPriority()
    {
        WorkerPool::Options options = Quick(1);
        options.threadCap = 1;
        options.idleExpiry = 100ms;
        WorkerPool pool(options);
        QObject owner;
        Worker low(&owner, pool, WorkPriority::Low), normal(&owner, pool, WorkPriority::Normal);
        int got = 0;
        low.start([](const WorkerTask &) { return 1; }, [&](quint64, int v) { got += v; });
        QTRY_COMPARE(got, 1);
        // The one thread the pool may have idles at the low priority; a request of another
        // priority needs a thread of its own, and gets it once that one has ended.
        normal.start([](const WorkerTask &) { return 10; }, [&](quint64, int v) { got += v; });
        QTRY_COMPARE(got, 11);
    }

    void anOwnerEndingWaitsForWorkUnderWayAndAbandonsStuckWork()
    {
        QTemporaryDir dir;
        const QString fifo = MakeFifo(dir, "stuck.jpg");
        // One thread runs at a time: the stuck request's is replaced, the third waits its turn.
        WorkerPool pool(Quick(1));
        std::atomic<bool> busyStarted{false}, busyEnded{false}, stuckEnded{false};
        {
            QObject owner;
            Worker worker(&owner, pool);
            bool stuckSeen = false;
            worker.onStalled([&](quint64) { stuckSeen = true; });
            worker.start(
                [&, fifo](const WorkerTask &t) {
                    ReadAll(fifo, t.token());
                    stuckEnded = true;
                    return 0;
                },
                [](quint64, int) { QFAIL("delivered to an owner that has ended"); });
            worker.start(
                [&](const WorkerTask &t) {
                    busyStarted = true;
                    while (t.token().sleepFor(5ms)) {
                    }
                    busyEnded = true;
                    return 0;
                },
                [](quint64, int) { QFAIL("delivered to an owner that has ended"); });
            // Queued behind the two: taken back, never run.
            worker.start([](const WorkerTask &) -> int { qFatal("a request taken back ran"); }, [](quint64, int) {});
            QTRY_VERIFY(stuckSeen);
            QTRY_VERIFY(busyStarted);
        }
        QVERIFY(busyEnded);
        QVERIFY(!stuckEnded);
        Release(fifo);
        QTRY_VERIFY(stuckEnded);
        QCoreApplication::processEvents();
    }

    void partialResultsAndQuestions()
    {
        WorkerPool pool(Quick(1));
        auto owner = std::make_unique<QObject>();
        auto worker = std::make_unique<Worker>(owner.get(), pool);
        QStringList seen;
        std::optional<QString> answer;
        bool asked = false;
        worker->start(
            [&](const WorkerTask &task) {
                task.post([&] { seen << "one"; });
                task.post([&] { seen << "two"; });
                answer = task.ask([&] {
                    asked = QThread::currentThread() == owner->thread();
                    return QStringLiteral("Try Again");
                });
                return 0;
            },
            [&](quint64, int) { seen << "done"; });
        QTRY_COMPARE(seen, (QStringList{"one", "two", "done"}));
        QVERIFY(asked);
        QCOMPARE(answer, std::optional<QString>("Try Again"));

        // A question the owner ends before answering: the worker wakes with nothing.
        std::atomic<bool> go{false}, asking{false}, woke{false};
        worker->start(
            [&](const WorkerTask &task) {
                while (!go)
                    task.token().sleepFor(1ms);
                asking = true;
                answer = task.ask([] { return QStringLiteral("never"); });
                woke = true;
                return 0;
            },
            [](quint64, int) {});
        go = true;
        while (!asking)
            std::this_thread::yield();
        worker.reset();
        owner.reset();
        QTRY_VERIFY(woke);
        QVERIFY(!answer);
    }

    void lowPriorityThreadsRunBelowNormal()
    {
        WorkerPool::Options options = Quick(1);
        options.priority = WorkPriority::Low;
        WorkerPool low(options), normal(Quick(1));
        QObject owner;
        Worker a(&owner, low), b(&owner, normal);
        int lowNice = -100, normalNice = -100;
        a.start([](const WorkerTask &) { return getpriority(PRIO_PROCESS, id_t(gettid())); },
                [&](quint64, int nice) { lowNice = nice; });
        b.start([](const WorkerTask &) { return getpriority(PRIO_PROCESS, id_t(gettid())); },
                [&](quint64, int nice) { normalNice = nice; });
        QTRY_VERIFY(lowNice != -100 && normalNice != -100);
        QVERIFY(lowNice > normalNice);
    }

    void onePoolStartsRequestsByPriorityThenArrival()
    {
        WorkerPool pool(Quick(1));
        QObject owner;
        Worker normal(&owner, pool, WorkPriority::Normal), low(&owner, pool, WorkPriority::Low),
            background(&owner, pool, WorkPriority::Background);
        std::atomic<bool> open{false};
        std::mutex mutex;
        QStringList order;
        auto step = [&](const char *name) {
            return [&, name](const WorkerTask &) {
                std::lock_guard lock(mutex);
                order << QString::fromLatin1(name);
            };
        };
        // The one thread is taken until the gate opens; everything else queues behind it.
        normal.start([&](const WorkerTask &t) {
            while (!open)
                t.token().sleepFor(1ms);
        }, [](quint64) {});
        low.start(step("low 1"), [](quint64) {});
        background.start(step("background"), [](quint64) {});
        normal.start(step("normal 1"), [](quint64) {});
        low.start(step("low 2"), [](quint64) {});
        normal.start(step("normal 2"), [](quint64) {});
        open = true;
        QTRY_COMPARE(normal.pendingCount() + low.pendingCount() + background.pendingCount(), 0);
        QCOMPARE(order, (QStringList{"normal 1", "normal 2", "low 1", "low 2", "background"}));
    }

    void theHighestPriorityNeverWaitsForLowerOnes()
    {
        WorkerPool pool(Quick(1));
        QObject owner;
        Worker normal(&owner, pool, WorkPriority::Normal), low(&owner, pool, WorkPriority::Low);
        std::atomic<bool> open{false}, secondRan{false};
        low.start([&](const WorkerTask &t) {
            while (!open)
                t.token().sleepFor(1ms);
        }, [](quint64) {});
        low.start([&](const WorkerTask &) { secondRan = true; }, [](quint64) {});
        bool shown = false;
        normal.start([](const WorkerTask &) { return 1; }, [&](quint64, int) { shown = true; });
        // The shown photo's request runs beside the busy tile; the next tile waits its turn.
        QTRY_VERIFY(shown);
        QVERIFY(!secondRan);
        open = true;
        QTRY_VERIFY(secondRan);
    }

    void eachPriorityRunsAtItsNiceValue()
    {
        WorkerPool pool(Quick(3));
        QObject owner;
        QMap<int, int> nice;
        for (WorkPriority p : {WorkPriority::Normal, WorkPriority::Low, WorkPriority::Background}) {
            auto *worker = new Worker(&owner, pool, p);
            worker->start([](const WorkerTask &) { return getpriority(PRIO_PROCESS, id_t(gettid())); },
                          [&nice, p](quint64, int n) { nice[int(p)] = n; });
            QTRY_VERIFY(nice.contains(int(p)));
            delete worker;
        }
        QCOMPARE(nice[int(WorkPriority::Normal)], getpriority(PRIO_PROCESS, 0));
        QVERIFY(nice[int(WorkPriority::Low)] > nice[int(WorkPriority::Normal)]);
        QVERIFY(nice[int(WorkPriority::Background)] > nice[int(WorkPriority::Low)]);
    }

    void aCancelledFileReadsNothingMore()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("big"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1 << 20, 'x'));
        f.close();
        auto state = std::make_shared<workerdetail::TaskState>(1);
        const CancelToken token(state);
        WorkerFile file(f.fileName(), token);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(100).size(), 100);
        state->cancel();
        // What was read ahead may still come; nothing is read from the disk any more.
        QVERIFY(file.readAll().size() < 64 * 1024);
        QVERIFY(!WorkerFile(f.fileName(), token).open(QIODevice::ReadOnly));
        QCOMPARE(ReadAll(f.fileName(), CancelToken()), qint64(1 << 20));
    }
};

QTEST_MAIN(TestWorker)
#include "tst_worker.moc"
