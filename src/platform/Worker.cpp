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
// Below-normal priority: a nice value the user's other work outranks.
constexpr int kLowNice = 10;
} // namespace

struct Job
{
    std::shared_ptr<TaskState> task;
    std::function<void()> run;
};

struct PoolState
{
    WorkerPool::Options options;
    std::mutex mutex;
    std::condition_variable work;  // idle threads wait here
    std::condition_variable watch; // the watcher waits here
    std::deque<Job> queue;
    std::vector<std::shared_ptr<TaskState>> running;
    int threads = 0;
    int idle = 0;
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

void RunThread(std::shared_ptr<PoolState> pool);
void Watch(std::shared_ptr<PoolState> pool);

// Starts threads for queued work while the pool is under its limit; idle threads are woken
// first. Called with the pool's mutex held.
void Staff(const std::shared_ptr<PoolState> &pool)
{
    const qsizetype waiting = qsizetype(pool->queue.size()) - pool->idle;
    if (pool->idle > 0)
        pool->work.notify_all();
    if (waiting <= 0)
        return;
    const int stuckThreads = int(std::count_if(pool->running.begin(), pool->running.end(),
                                               [](const std::shared_ptr<TaskState> &t) { return stuck(*t); }));
    const int room = pool->options.maxThreads - (pool->threads - stuckThreads);
    const int start = int(std::min<qsizetype>({waiting, qsizetype(room), qsizetype(pool->options.threadCap - pool->threads)}));
    for (int i = 0; i < start; ++i) {
        ++pool->threads;
        std::thread(RunThread, pool).detach();
    }
}

void SetUpThread(const WorkerPool::Options &options)
{
    pthread_setname_np(pthread_self(), options.name);
    if (options.priority == WorkPriority::Low)
        setpriority(PRIO_PROCESS, id_t(gettid()), kLowNice);
}

void RunThread(std::shared_ptr<PoolState> pool)
{
    SetUpThread(pool->options);
    std::unique_lock lock(pool->mutex);
    for (;;) {
        if (pool->queue.empty()) {
            if (pool->closing)
                break;
            ++pool->idle;
            const bool woken = pool->work.wait_for(lock, pool->options.idleExpiry,
                                                   [&] { return !pool->queue.empty() || pool->closing; });
            --pool->idle;
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
            continue;
        }
        pool->running.push_back(job.task);
        if (!pool->watching) {
            pool->watching = true;
            std::thread(Watch, pool).detach();
        }
        pool->watch.notify_all();
        lock.unlock();
        job.run();
        job.run = nullptr; // the work's copies go before the request counts as ended
        lock.lock();
        pool->running.erase(std::find(pool->running.begin(), pool->running.end(), job.task));
        job.task->setFinished();
    }
    --pool->threads;
}

// Finds requests stuck in a blocking call, tells their owners, and lets the pool replace them.
void Watch(std::shared_ptr<PoolState> pool)
{
    using namespace std::chrono;
    const milliseconds tick = std::max(milliseconds(10), pool->options.stallAfter / 4);
    std::unique_lock lock(pool->mutex);
    for (;;) {
        if (pool->running.empty()) {
            if (pool->closing
                || !pool->watch.wait_for(lock, pool->options.idleExpiry,
                                         [&] { return !pool->running.empty() || pool->closing; }))
                break;
            continue;
        }
        pool->watch.wait_for(lock, tick);
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
    pool->queue.push_back({std::move(task), std::move(run)});
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

Worker::Worker(QObject *owner, WorkerPool &pool)
    : pool_(pool.state_), outbox_(std::make_shared<Outbox>()), tracker_(std::make_shared<Tracker>())
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
    auto task = std::make_shared<TaskState>(number);
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
