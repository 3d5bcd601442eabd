#include "platform/Worker.h"

#include <QThread>

#include <algorithm>
#include <deque>
#include <thread>

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace workerdetail {

namespace {
// Nice values by priority, above the program's own: Low is below normal, a value the user's
// other work outranks; Background yields to everything.
constexpr int kNiceAbove[kWorkPriorities] = {0, 10, 19};

int Rank(WorkPriority p)
{
    return int(p);
}
} // namespace

struct Job
{
    std::shared_ptr<TaskState> task;
    std::function<void()> run;
};

struct PoolState
{
    WorkerPool::Options options;
    int baseNice = 0; // the program's, as the pool's creator runs
    std::mutex mutex;
    std::condition_variable work;  // threads without a request wait here
    std::condition_variable watch; // the watcher waits here
    std::deque<Job> queue;         // highest priority first, then in order of arrival
    std::vector<std::shared_ptr<TaskState>> running;
    int threads = 0;
    // A thread runs requests of one priority, at its nice value: a thread's nice value can be
    // raised but never lowered again, and a new thread inherits its creator's. So threads are
    // started by the watcher, which runs at the program's own.
    int classThreads[kWorkPriorities] = {};
    int classBusy[kWorkPriorities] = {};
    int toStart[kWorkPriorities] = {};
    bool watching = false;
    bool closing = false;
};

qint64 SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

void Tracker::notify()
{
    {
        std::lock_guard lock(mutex);
    }
    changed.notify_all();
}

void TaskState::cancel()
{
    {
        std::lock_guard lock(sleepMutex);
        cancelled = true;
    }
    sleep.notify_all();
}

void TaskState::setFinished()
{
    finished = true;
    if (tracker)
        tracker->notify();
}

namespace {

bool stuck(const TaskState &t)
{
    return t.stalled || t.waitingOnOwner;
}

// Requests running at `rank` or a higher priority, stuck ones left out.
int RunningAtOrAbove(const PoolState &pool, int rank)
{
    return int(std::count_if(pool.running.begin(), pool.running.end(), [rank](const std::shared_ptr<TaskState> &t) {
        return Rank(t->priority) <= rank && !stuck(*t);
    }));
}

// Only the head of the queue ever starts, so nothing overtakes a request of higher priority.
bool HeadMayStart(const PoolState &pool, int rank)
{
    if (pool.queue.empty())
        return false;
    const int head = Rank(pool.queue.front().task->priority);
    return head == rank && RunningAtOrAbove(pool, head) < pool.options.maxThreads;
}

bool Queued(const PoolState &pool, int rank)
{
    return std::any_of(pool.queue.begin(), pool.queue.end(), [rank](const Job &j) { return Rank(j.task->priority) == rank; });
}

void RunThread(std::shared_ptr<PoolState> pool, int rank);
void Watch(std::shared_ptr<PoolState> pool);

void EnsureWatcher(const std::shared_ptr<PoolState> &pool)
{
    if (!pool->watching) {
        pool->watching = true;
        std::thread(Watch, pool).detach();
    }
}

// Wakes or has the watcher start threads for the queued requests that may start now, in queue
// order. Called with the pool's mutex held.
void Staff(const std::shared_ptr<PoolState> &pool)
{
    int running[kWorkPriorities] = {};
    for (const std::shared_ptr<TaskState> &t : pool->running)
        if (!stuck(*t))
            ++running[Rank(t->priority)];
    int wanted[kWorkPriorities] = {};
    for (const Job &job : pool->queue) {
        const int rank = Rank(job.task->priority);
        int atOrAbove = 0;
        for (int r = 0; r <= rank; ++r)
            atOrAbove += running[r];
        if (atOrAbove >= pool->options.maxThreads)
            break;
        ++running[rank];
        ++wanted[rank];
    }
    bool wake = false, start = false;
    for (int rank = 0; rank < kWorkPriorities; ++rank) {
        const int spare = pool->classThreads[rank] - pool->classBusy[rank];
        wake = wake || (wanted[rank] > 0 && spare > 0);
        const int more = std::min(wanted[rank] - spare, pool->options.threadCap - pool->threads);
        if (more > 0) {
            pool->threads += more;
            pool->classThreads[rank] += more;
            pool->toStart[rank] += more;
            start = true;
        }
    }
    // Whatever starts now is watched for stalls.
    if (wake || start)
        EnsureWatcher(pool);
    if (wake)
        pool->work.notify_all();
    if (start)
        pool->watch.notify_all();
}

void SetUpThread(const PoolState &pool, int rank)
{
    pthread_setname_np(pthread_self(), pool.options.name);
    const int nice = std::min(19, pool.baseNice + kNiceAbove[rank]);
    if (getpriority(PRIO_PROCESS, id_t(gettid())) != nice)
        setpriority(PRIO_PROCESS, id_t(gettid()), nice);
}

void RunThread(std::shared_ptr<PoolState> pool, int rank)
{
    SetUpThread(*pool, rank);
    std::unique_lock lock(pool->mutex);
    for (;;) {
        if (!HeadMayStart(*pool, rank)) {
            if (pool->closing && !Queued(*pool, rank))
                break;
            const bool woken = pool->work.wait_for(lock, pool->options.idleExpiry, [&] {
                return HeadMayStart(*pool, rank) || (pool->closing && !Queued(*pool, rank));
            });
            if (!woken)
                break;
            continue;
        }
        Job job = std::move(pool->queue.front());
        pool->queue.pop_front();
        job.task->started = true;
        if (job.task->cancelled) {
            job.run = nullptr;
            job.task->setFinished();
            Staff(pool);
            continue;
        }
        pool->running.push_back(job.task);
        ++pool->classBusy[rank];
        pool->watch.notify_all();
        // The next request may be another priority's: its threads look again.
        if (!pool->queue.empty())
            pool->work.notify_all();
        lock.unlock();
        job.run();
        job.run = nullptr; // the work's copies go before the request counts as ended
        lock.lock();
        pool->running.erase(std::find(pool->running.begin(), pool->running.end(), job.task));
        --pool->classBusy[rank];
        job.task->setFinished();
        Staff(pool);
    }
    --pool->threads;
    --pool->classThreads[rank];
    // At the thread cap, a request of another priority may have waited for this thread to go.
    Staff(pool);
}

bool ThreadsToStart(const PoolState &pool)
{
    return std::any_of(std::begin(pool.toStart), std::end(pool.toStart), [](int n) { return n > 0; });
}

// Starts the threads asked for, finds requests stuck in a blocking call, tells their owners,
// and lets the pool replace them. Ends once nothing has run or waited for a while; a request
// can only be queued from then on by its owner's thread, which starts a new watcher.
void Watch(std::shared_ptr<PoolState> pool)
{
    using namespace std::chrono;
    const milliseconds tick = std::max(milliseconds(10), pool->options.stallAfter / 4);
    std::unique_lock lock(pool->mutex);
    for (;;) {
        for (int rank = 0; rank < kWorkPriorities; ++rank)
            for (; pool->toStart[rank] > 0; --pool->toStart[rank])
                std::thread(RunThread, pool, rank).detach();
        if (pool->running.empty()) {
            // Queued requests keep it: they are about to run, and must be watched.
            const auto done = [&] { return pool->closing && pool->queue.empty(); };
            if (done()
                || !pool->watch.wait_for(lock, pool->options.idleExpiry,
                                         [&] { return !pool->running.empty() || ThreadsToStart(*pool) || done(); }))
                break;
            continue;
        }
        pool->watch.wait_for(lock, tick, [&] { return ThreadsToStart(*pool); });
        const qint64 now = SteadyMs();
        std::vector<std::shared_ptr<TaskState>> found;
        for (const std::shared_ptr<TaskState> &t : pool->running) {
            const qint64 since = t->blockedSince;
            if (since != 0 && !t->stalled && now - since >= pool->options.stallAfter.count()) {
                t->stalled = true;
                found.push_back(t);
            }
        }
        // Every thread the pool may have is stuck: what is queued waits for a call that may
        // never return, which is no progress either.
        const auto stuckNow = [](const std::shared_ptr<TaskState> &t) {
            return t->waitingOnOwner || (t->stalled && t->blockedSince != 0);
        };
        const bool starved = pool->threads >= pool->options.threadCap
                             && qsizetype(pool->running.size()) == pool->threads // none idle or starting
                             && std::all_of(pool->running.begin(), pool->running.end(), stuckNow);
        if (starved) {
            for (const Job &job : pool->queue) {
                TaskState &t = *job.task;
                if (!t.stalled && now - t.queuedSince >= pool->options.stallAfter.count()) {
                    t.stalled = true;
                    found.push_back(job.task);
                }
            }
        }
        if (found.empty())
            continue;
        Staff(pool);
        lock.unlock();
        for (const std::shared_ptr<TaskState> &t : found) {
            if (t->onStalled)
                t->onStalled();
            if (t->tracker)
                t->tracker->notify();
        }
        lock.lock();
    }
    pool->watching = false;
}

} // namespace

void Submit(const std::shared_ptr<PoolState> &pool, std::shared_ptr<TaskState> task, std::function<void()> run)
{
    std::lock_guard lock(pool->mutex);
    task->queuedSince = SteadyMs();
    const int rank = Rank(task->priority);
    const auto after = std::find_if(pool->queue.begin(), pool->queue.end(),
                                    [rank](const Job &j) { return Rank(j.task->priority) > rank; });
    pool->queue.insert(after, {std::move(task), std::move(run)});
    Staff(pool);
}

void TakeBack(const std::shared_ptr<PoolState> &pool, const std::vector<std::shared_ptr<TaskState>> &tasks)
{
    std::vector<Job> taken;
    {
        std::lock_guard lock(pool->mutex);
        for (auto it = pool->queue.begin(); it != pool->queue.end();) {
            if (std::find(tasks.begin(), tasks.end(), it->task) != tasks.end()) {
                taken.push_back(std::move(*it));
                it = pool->queue.erase(it);
            } else {
                ++it;
            }
        }
        // What was behind a request taken back may start now.
        if (!taken.empty())
            Staff(pool);
    }
    for (Job &job : taken) {
        job.run = nullptr;
        job.task->setFinished();
    }
}

} // namespace workerdetail

using namespace workerdetail;

bool CancelToken::sleepFor(std::chrono::milliseconds time) const
{
    if (!state_) {
        std::this_thread::sleep_for(time);
        return true;
    }
    std::unique_lock lock(state_->sleepMutex);
    return !state_->sleep.wait_for(lock, time, [&] { return state_->cancelled.load(); });
}

CancelToken::Blocking::Blocking(TaskState *state)
{
    if (state && state->blockedSince == 0) {
        state_ = state;
        state->blockedSince = SteadyMs();
    }
}

CancelToken::Blocking::~Blocking()
{
    if (state_)
        state_->blockedSince = 0;
}

WorkerPool::WorkerPool(Options options) : state_(std::make_shared<PoolState>())
{
    if (options.maxThreads <= 0)
        options.maxThreads = std::max(1, QThread::idealThreadCount());
    state_->options = options;
    state_->baseNice = getpriority(PRIO_PROCESS, id_t(gettid()));
}

WorkerPool::~WorkerPool()
{
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->work.notify_all();
    state_->watch.notify_all();
}

int WorkerPool::threadCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->threads;
}

Worker::Worker(QObject *owner, WorkerPool &pool) : Worker(owner, pool, pool.state_->options.priority) {}

Worker::Worker(QObject *owner, WorkerPool &pool, WorkPriority priority)
    : pool_(pool.state_), outbox_(std::make_shared<Outbox>()), tracker_(std::make_shared<Tracker>()), priority_(priority)
{
    outbox_->receiver = owner;
}

Worker::~Worker()
{
    {
        std::lock_guard lock(outbox_->mutex);
        outbox_->open = false;
    }
    // Taken back before anything is cancelled: a thread freed by a cancel must not pick up a
    // request of this owner that is still queued.
    TakeBack(pool_, live_);
    for (const std::shared_ptr<TaskState> &t : live_)
        t->cancel();
    std::unique_lock lock(tracker_->mutex);
    tracker_->changed.wait(lock, [&] {
        return std::all_of(live_.begin(), live_.end(), [](const std::shared_ptr<TaskState> &t) {
            return t->finished || t->stalled || t->waitingOnOwner;
        });
    });
}

std::shared_ptr<TaskState> Worker::newTask(quint64 number)
{
    live_.erase(std::remove_if(live_.begin(), live_.end(), [](const std::shared_ptr<TaskState> &t) { return t->finished.load(); }),
                live_.end());
    auto task = std::make_shared<TaskState>(number, priority_);
    task->tracker = tracker_;
    task->onStalled = [outbox = outbox_, self = this, number] { Post(outbox, [self, number] { self->stalled(number); }); };
    pending_[number] = task;
    live_.push_back(task);
    return task;
}

bool Worker::accept(quint64 number)
{
    return pending_.erase(number) != 0;
}

void Worker::stalled(quint64 number)
{
    if (isPending(number) && stalledHandler_)
        stalledHandler_(number);
}

void Worker::cancel(quint64 number)
{
    const auto it = pending_.find(number);
    if (it == pending_.end())
        return;
    TakeBack(pool_, {it->second});
    it->second->cancel();
    pending_.erase(it);
}

void Worker::cancelAll()
{
    std::vector<std::shared_ptr<TaskState>> tasks;
    tasks.reserve(pending_.size());
    for (auto &[number, task] : pending_)
        tasks.push_back(task);
    // Queued ones first, so that a thread freed by a cancel picks up none of them.
    TakeBack(pool_, tasks);
    for (const std::shared_ptr<TaskState> &t : tasks)
        t->cancel();
    pending_.clear();
}

bool Worker::isStalled(quint64 number) const
{
    const auto it = pending_.find(number);
    return it != pending_.end() && it->second->stalled;
}

bool Worker::progressing() const
{
    return std::any_of(pending_.begin(), pending_.end(), [](const auto &entry) { return !entry.second->stalled; });
}
