#pragma once

#include <QMetaObject>
#include <QObject>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

// One model for every worker of the program: the photo list's tiles, the image view's renders
// and saves, folder reads, and later the upload dialog's imports, the upload itself, its tray
// progress and the slideshow.
//
// Request. A request is a value: the work is a callable that holds copies of everything it reads
// (paths, sizes, flags, a copy of a settings record), never a pointer into a widget or into
// settings that a dialog may change under it. `Worker::start` numbers the requests, rising.
//
// Work. The work runs on a `WorkerPool`, at its worker's priority (by default the pool's). It
// gets a `WorkerTask`: it tests `task.cancelled()` between its stages and returns early once it
// is set, and it runs every call that may block (opening or reading a file, listing a folder,
// a network wait) inside `task.token().blocking()`, or reads through a `WorkerFile`, so that a
// call stuck for longer than the pool's `stallAfter` is known as stuck: the pool then starts
// another thread for the work queued behind it, and the owner hears of it (`Worker::onStalled`).
//
// Results. What the work returns reaches `deliver(number, result)` on the owner's thread by a
// queued call. Only requests still wanted are delivered: `CancelOthers` cancels every older
// request as a new one starts, so the newest wins; with `KeepOthers` each result counts and the
// owner maps the number to what asked for it. A running request may hand over partial results
// (`task.post`) and may ask the owner's thread and wait for the answer (`task.ask`, e.g. a
// failure prompt); both find the owner gone and do nothing once it has ended. A long request
// (an upload, its tray progress) tests `task.cancelled()` before each block or paces itself
// with `task.token().sleepFor(...)`, which wakes at once on cancel. The work, the deliver
// callable and the result are destroyed on the worker's thread: capture plain values, QImage,
// pointers; never a QPixmap or a widget by value.
//
// End. The owner's destructor disconnects (nothing reaches the owner from then on), cancels
// every request, takes back those not yet started, waits for those making progress to notice
// the cancel, and abandons those stuck in a blocking call or waiting on an answer. An abandoned
// request ends whenever its call returns, touching only its copies and shared state; it never
// keeps the window from closing or the process from ending (pool threads are never joined).
// A request whose work throws ends without a result.
//
// Threading: `Worker` and its queries are for the owner's thread only; `CancelToken`,
// `WorkerTask` and `WorkerPool` may be used from any thread.

// Highest first. One pool serves requests of every priority: a queued request starts before
// any of lower priority, and runs on a thread at its priority's nice value (Normal the
// program's own, Low below normal, Background only when nothing else wants the processor).
enum class WorkPriority { Normal, Low, Background };
inline constexpr int kWorkPriorities = 3;

namespace workerdetail {

struct PoolState;

// Lets an owner's destructor sleep until its requests have ended or been written off.
struct Tracker
{
    std::mutex mutex;
    std::condition_variable changed;
    void notify();
};

struct TaskState
{
    explicit TaskState(quint64 n, WorkPriority p = WorkPriority::Normal) : number(n), priority(p) {}
    const quint64 number;
    const WorkPriority priority;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> stalled{false};        // blocked, or queued behind only stuck threads, for stallAfter
    std::atomic<bool> waitingOnOwner{false}; // inside `WorkerTask::ask`
    std::atomic<qint64> blockedSince{0};     // steady clock ms + 1 while inside a blocking call
    std::atomic<qint64> queuedSince{0};      // steady clock ms + 1 when it was queued
    std::mutex sleepMutex;
    std::condition_variable sleep; // woken by cancel
    std::shared_ptr<Tracker> tracker;
    std::function<void()> onStalled; // set before the request is queued; called once

    void cancel();
    void setFinished();
};

// Where a worker's queued calls go; closed by the owner's destructor.
struct Outbox
{
    std::mutex mutex;
    QObject *receiver = nullptr;
    std::atomic<bool> open{true};
};

// Queues `f` to the receiver's thread unless the outbox is closed; `f` runs only if it is
// still open when its turn comes.
template <typename F> bool Post(const std::shared_ptr<Outbox> &outbox, F f)
{
    std::lock_guard lock(outbox->mutex);
    if (!outbox->open)
        return false;
    QMetaObject::invokeMethod(
        outbox->receiver,
        [outbox, f = std::move(f)]() mutable {
            if (outbox->open)
                f();
        },
        Qt::QueuedConnection);
    return true;
}

void Submit(const std::shared_ptr<PoolState> &pool, std::shared_ptr<TaskState> task, std::function<void()> run);
// Removes the tasks not yet started from the pool's queue and marks them finished.
void TakeBack(const std::shared_ptr<PoolState> &pool, const std::vector<std::shared_ptr<TaskState>> &tasks);
qint64 SteadyMs();

} // namespace workerdetail

// What a request's work tests between its stages, and how it marks a call that may block.
// A default token is never cancelled and marks nothing: for calls made outside any worker.
class CancelToken
{
public:
    CancelToken() = default;
    explicit CancelToken(std::shared_ptr<workerdetail::TaskState> state) : state_(std::move(state)) {}

    bool cancelled() const { return state_ && state_->cancelled.load(); }
    // Waits up to `time`, waking early on cancel; true when the whole time passed uncancelled.
    bool sleepFor(std::chrono::milliseconds time) const;

    // While it lives, the request counts as inside a call that may block. Nested scopes count
    // from the outermost.
    class [[nodiscard]] Blocking
    {
    public:
        explicit Blocking(workerdetail::TaskState *state);
        ~Blocking();
        Blocking(const Blocking &) = delete;
        Blocking &operator=(const Blocking &) = delete;

    private:
        workerdetail::TaskState *state_ = nullptr;
    };
    Blocking blocking() const { return Blocking(state_.get()); }

private:
    std::shared_ptr<workerdetail::TaskState> state_;
};

// Threads for workers' requests, started when needed and ended after a while idle. Requests
// start in order of priority, then of arrival. A request starts while fewer than `maxThreads`
// requests of its priority or a higher one run, so a request of the highest priority never
// waits for lower ones to end (the shown photo before the page's tiles), and lower ones give
// way to higher ones as they end. Threads stuck in a blocking call or waiting on an answer do
// not count: they are replaced, so a file that never opens holds up nothing else. Threads are
// never joined; a stuck one ends when its call returns, or with the process. No more than
// `threadCap` threads live at once, stuck ones included; once every one of them is stuck, a
// request queued behind them for longer than `stallAfter` counts as stuck too, so that its
// owner writes it off instead of waiting for a thread that may never come.
class WorkerPool
{
public:
    struct Options
    {
        const char *name = "worker"; // thread names, at most 15 characters
        WorkPriority priority = WorkPriority::Normal; // of workers that name none
        int maxThreads = 0; // 0: one per core
        std::chrono::milliseconds stallAfter{1000};
        std::chrono::milliseconds idleExpiry{10000};
        // Far more than a page or a folder holds stuck at once; a bound so that a folder of a
        // thousand FIFOs cannot start a thousand threads.
        int threadCap = 64;
    };

    WorkerPool() : WorkerPool(Options{}) {}
    explicit WorkerPool(Options options);
    // Idle threads end now and busy ones after their request; never waits. Owners that still
    // hold the pool keep it working.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    int threadCount() const; // threads alive, stuck ones included

private:
    friend class Worker;
    std::shared_ptr<workerdetail::PoolState> state_;
};

// What a running request sees of itself.
class WorkerTask
{
public:
    WorkerTask(std::shared_ptr<workerdetail::TaskState> state, std::shared_ptr<workerdetail::Outbox> outbox)
        : state_(std::move(state)), outbox_(std::move(outbox)), token_(state_)
    {
    }

    quint64 number() const { return state_->number; }
    bool cancelled() const { return token_.cancelled(); }
    const CancelToken &token() const { return token_; }

    // Runs `f()` on the owner's thread later (progress, one result of many). False, and `f`
    // never runs, once the owner has ended.
    template <typename F> bool post(F f) const { return workerdetail::Post(outbox_, std::move(f)); }

    // Runs `question()` on the owner's thread and waits for its answer; empty when the owner
    // has ended (or ends before answering). The owner's thread must not be waiting for this
    // request meanwhile; the owner's destructor does not wait for it.
    template <typename F> auto ask(F question) const -> std::optional<std::invoke_result_t<F &>>;

private:
    std::shared_ptr<workerdetail::TaskState> state_;
    std::shared_ptr<workerdetail::Outbox> outbox_;
    CancelToken token_;
};

// The owner's side: starts requests on a pool and hands their results to `owner`'s thread.
// Make it the last member of the object that owns it, so it ends first.
class Worker
{
public:
    enum Replace { KeepOthers, CancelOthers };

    Worker(QObject *owner, WorkerPool &pool);
    Worker(QObject *owner, WorkerPool &pool, WorkPriority priority);
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Queues `work(const WorkerTask &) -> R` and returns the request's number. When it has
    // returned and the request is still wanted, `deliver(number, R)` (or `deliver(number)` for
    // void) runs on the owner's thread.
    template <typename Work, typename Deliver> quint64 start(Work work, Deliver deliver, Replace replace = KeepOthers);

    void cancel(quint64 number);
    void cancelAll();

    quint64 newest() const { return next_; }
    // Started, still wanted, not yet delivered.
    bool isPending(quint64 number) const { return pending_.count(number) != 0; }
    bool isStalled(quint64 number) const;
    int pendingCount() const { return int(pending_.size()); }
    // Some pending request is not stuck in a blocking call.
    bool progressing() const;
    // Called on the owner's thread when a pending request is found stuck. It stays pending: its
    // result is still delivered should the call ever return.
    void onStalled(std::function<void(quint64 number)> handler) { stalledHandler_ = std::move(handler); }

private:
    std::shared_ptr<workerdetail::TaskState> newTask(quint64 number);
    bool accept(quint64 number); // on delivery: still wanted? then no longer pending
    void stalled(quint64 number);

    std::shared_ptr<workerdetail::PoolState> pool_;
    std::shared_ptr<workerdetail::Outbox> outbox_;
    std::shared_ptr<workerdetail::Tracker> tracker_;
    std::map<quint64, std::shared_ptr<workerdetail::TaskState>> pending_;
    std::vector<std::shared_ptr<workerdetail::TaskState>> live_; // every request not yet seen ending
    std::function<void(quint64)> stalledHandler_;
    WorkPriority priority_;
    quint64 next_ = 0;
};

template <typename F> auto WorkerTask::ask(F question) const -> std::optional<std::invoke_result_t<F &>>
{
    using R = std::invoke_result_t<F &>;
    struct Answer
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::optional<R> value;
        bool done = false;
    };
    // Whatever becomes of the queued call (run, or dropped with its receiver), the last copy
    // of this marker goes with it and wakes the waiting worker.
    struct Done
    {
        std::shared_ptr<Answer> answer;
        ~Done()
        {
            {
                std::lock_guard lock(answer->mutex);
                answer->done = true;
            }
            answer->ready.notify_all();
        }
    };
    auto answer = std::make_shared<Answer>();
    auto done = std::make_shared<Done>();
    done->answer = answer;
    const bool posted = post([answer, done, question = std::move(question)]() mutable {
        R value = question();
        std::lock_guard lock(answer->mutex);
        answer->value = std::move(value);
    });
    done.reset();
    if (!posted)
        return std::nullopt;
    state_->waitingOnOwner = true;
    state_->tracker->notify();
    std::unique_lock lock(answer->mutex);
    answer->ready.wait(lock, [&] { return answer->done; });
    state_->waitingOnOwner = false;
    return std::move(answer->value);
}

template <typename Work, typename Deliver> quint64 Worker::start(Work work, Deliver deliver, Replace replace)
{
    if (replace == CancelOthers)
        cancelAll();
    const quint64 number = ++next_;
    std::shared_ptr<workerdetail::TaskState> state = newTask(number);
    workerdetail::Submit(pool_, state,
                         [state, outbox = outbox_, self = this, work = std::move(work), deliver = std::move(deliver)]() mutable {
                             using R = std::invoke_result_t<Work &, const WorkerTask &>;
                             const quint64 n = state->number;
                             try {
                                 WorkerTask task(state, outbox);
                                 if constexpr (std::is_void_v<R>) {
                                     work(task);
                                     workerdetail::Post(outbox, [self, n, deliver]() mutable {
                                         if (self->accept(n))
                                             deliver(n);
                                     });
                                 } else {
                                     R result = work(task);
                                     workerdetail::Post(outbox, [self, n, deliver, result = std::move(result)]() mutable {
                                         if (self->accept(n))
                                             deliver(n, std::move(result));
                                     });
                                 }
                             } catch (...) {
                                 workerdetail::Post(outbox, [self, n] { self->accept(n); });
                             }
                         });
    return number;
}
