#pragma once
// The runtime every service is written against:
//  - NetworkRuntime: one io_context on a background thread for sockets and timers;
//  - QtExecutor: an Asio executor that runs work on a Qt thread's event loop (the GUI thread), so a
//    coroutine spawned on it is back on that thread after every co_await; it can carry a lifetime
//    guard, after whose end queued work is dropped instead of resumed;
//  - Actor / BlockingActor: state touched only on one strand, or on one dedicated thread for actors
//    whose work blocks (SQLite, netlink round trips);
//  - TaskSlot: one long-running task that is cancelled before it is replaced.

#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>

#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>

// Qt is not built with ThreadSanitizer, so the ordering its event queue gives (everything done before
// a call is queued happens before the call runs on the receiving thread) is invisible to it. A
// hand-off through the queue says so itself: release when queued, acquire on the same address when
// run. Both are empty in every other build.
#if defined(__SANITIZE_THREAD__)
#define PV_TSAN_ENABLED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PV_TSAN_ENABLED 1
#endif
#endif
#ifdef PV_TSAN_ENABLED
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define PV_TSAN_RELEASE(addr) __tsan_release(static_cast<void*>(addr))
#define PV_TSAN_ACQUIRE(addr) __tsan_acquire(static_cast<void*>(addr))
#else
#define PV_TSAN_RELEASE(addr) static_cast<void>(0)
#define PV_TSAN_ACQUIRE(addr) static_cast<void>(0)
#endif

namespace pv::rt {

using asio::awaitable;
using asio::use_awaitable;

// ---------------------------------------------------------------------------------------------
class NetworkRuntime {
public:
    NetworkRuntime();
    ~NetworkRuntime();
    explicit NetworkRuntime(const char* threadName);
    NetworkRuntime(const NetworkRuntime&) = delete;
    NetworkRuntime& operator=(const NetworkRuntime&) = delete;

    asio::io_context& context() { return loop_->context; }
    asio::any_io_executor executor() { return loop_->context.get_executor(); }
    bool runningInThisThread() const { return std::this_thread::get_id() == loop_->threadId.load(); }
    // Stops the loop and joins the thread; pending handlers are dropped. Safe to call twice. Called
    // on the loop's own thread (the last owner let go in a handler), it cannot join: the thread is
    // left to finish the handler, and the io_context, which the thread owns too, is destroyed by it
    // after run() has returned, never while it runs.
    void stop();

private:
    struct Loop {
        asio::io_context context;
        asio::executor_work_guard<asio::io_context::executor_type> guard{asio::make_work_guard(context)};
        std::atomic<std::thread::id> threadId{};
    };
    std::shared_ptr<Loop> loop_;
    std::thread thread_;
};

// ---------------------------------------------------------------------------------------------
// Receives the queued calls on the thread it lives on.
class ThreadDispatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool event(QEvent* e) override;
};

class QtExecutor {
public:
    // Runs on the thread of the current QCoreApplication (the GUI thread).
    QtExecutor();
    // Same, dropping queued work once the guard has expired.
    explicit QtExecutor(std::weak_ptr<void> lifetimeGuard);

    QtExecutor withGuard(std::weak_ptr<void> lifetimeGuard) const;

    asio::execution_context& query(asio::execution::context_t) const noexcept;
    static constexpr asio::execution::blocking_t query(asio::execution::blocking_t) noexcept
    {
        return asio::execution::blocking.never;
    }
    QtExecutor require(asio::execution::blocking_t::never_t) const noexcept { return *this; }

    template <typename F> void execute(F&& f) const
    {
        auto task = std::make_shared<std::decay_t<F>>(std::forward<F>(f));
        post([task]() { (*task)(); });
    }

    bool operator==(const QtExecutor& other) const noexcept
    {
        return dispatcher_ == other.dispatcher_ && !guard_.owner_before(other.guard_) &&
               !other.guard_.owner_before(guard_) && guarded_ == other.guarded_;
    }

private:
    void post(std::function<void()> fn) const;

    std::shared_ptr<ThreadDispatcher> dispatcher_;
    std::weak_ptr<void> guard_;
    bool guarded_ = false;
};

// ---------------------------------------------------------------------------------------------
// The token for calls into another actor: the caller's cancellation is not forwarded, so the call
// runs to completion even when the caller is being cancelled.
inline auto uncancellable() { return asio::bind_cancellation_slot(asio::cancellation_slot(), use_awaitable); }

// State confined to one strand. Async members wrap their body in onStrand().
class Actor {
public:
    explicit Actor(asio::any_io_executor io) : strand_(asio::make_strand(io)) {}
    virtual ~Actor() = default;

    const asio::strand<asio::any_io_executor>& strand() const { return strand_; }

protected:
    // Runs a member coroutine on the strand. Its parameters must be taken by value: a coroutine
    // keeps copies of its parameters, but a lambda coroutine does not keep its captures.
    template <typename T> awaitable<T> onStrand(awaitable<T> body)
    {
        return asio::co_spawn(strand_, std::move(body), uncancellable());
    }
    // Runs fn() (a callable returning an awaitable) on the strand; fn, with its captures, is kept
    // alive until the coroutine it returns has finished.
    // GCC 12 destroys a lambda twice when it is written inside a co_await expression
    // (`co_await onStrand([x] {...})`): name the lambda first and pass std::move(name), or call
    // onStrand from a plain (non-coroutine) member function that returns its awaitable.
    template <typename Fn>
        requires std::is_invocable_v<Fn>
    auto onStrand(Fn fn) -> std::invoke_result_t<Fn>
    {
        return asio::co_spawn(strand_, std::move(fn), uncancellable());
    }

private:
    asio::strand<asio::any_io_executor> strand_;
};

// An actor whose operations block: everything runs, one at a time, on its own thread.
// Names the calling thread as `top` and the per-thread CPU split shows it (at most 15 characters).
void nameThisThread(const char* name);
// Names the single thread of `pool` (posted to it: it takes effect before any later work).
void nameThreadOf(asio::thread_pool& pool, const char* name);

class BlockingActor {
public:
    explicit BlockingActor(const char* threadName = "pv-worker") : pool_(1) { nameThreadOf(pool_, threadName); }
    virtual ~BlockingActor() { shutdownThread(); }

    asio::any_io_executor actorExecutor() { return pool_.get_executor(); }

protected:
    // Runs fn on the actor's thread and resumes the caller on its own executor with the result
    // (or the exception fn threw).
    template <typename Fn> auto call(Fn fn) -> awaitable<std::invoke_result_t<Fn>>
    {
        using R = std::invoke_result_t<Fn>;
        return asio::co_spawn(
            pool_.get_executor(), [fn = std::move(fn)]() mutable -> awaitable<R> { co_return fn(); }, uncancellable());
    }
    // Lets queued calls finish, then joins the thread. Call from the most derived destructor.
    void shutdownThread()
    {
        pool_.join();
    }

private:
    asio::thread_pool pool_;
};

// ---------------------------------------------------------------------------------------------
// True once the current coroutine has been asked to stop.
inline awaitable<bool> isCancelled()
{
    auto cs = co_await asio::this_coro::cancellation_state;
    co_return cs.cancelled() != asio::cancellation_type::none;
}

// Sleeps on the monotonic clock (the timer lives on `io`); false when cancelled before or during.
awaitable<bool> sleepFor(asio::any_io_executor io, std::chrono::nanoseconds duration);

// One long-running task at a time: replace() cancels the running one first, then spawns the new one.
// Cancellation is cooperative: it ends sleepFor() early and makes isCancelled() true; calls into
// other actors (made with uncancellable()) run to completion.
class TaskSlot {
public:
    TaskSlot() = default;
    ~TaskSlot() { cancel(); }
    TaskSlot(const TaskSlot&) = delete;
    TaskSlot& operator=(const TaskSlot&) = delete;

    // task: an awaitable<void> made by a member coroutine (parameters by value), or a callable
    // returning one (kept alive, with its captures, while the task runs).
    template <typename Executor, typename Task> void replace(const Executor& ex, Task task)
    {
        cancel();
        auto state = std::make_shared<State>();
        state_ = state;
        asio::co_spawn(ex, wrap(std::move(task)),
                       asio::bind_cancellation_slot(state->signal.slot(), [state](std::exception_ptr) {
                           state->running = false;
                       }));
    }
    void cancel();
    bool running() const { return state_ && state_->running; }

private:
    struct State {
        asio::cancellation_signal signal;
        bool running = true;
    };
    template <typename Task> static awaitable<void> wrap(Task task)
    {
        // Cancellation must not turn the next co_await into an exception: a batch that was already
        // measured is still stored. Loops look at isCancelled() and sleepFor() instead.
        co_await asio::this_coro::throw_if_cancelled(false);
        co_await asio::this_coro::reset_cancellation_state(asio::enable_terminal_cancellation());
        if constexpr (std::is_invocable_v<Task>)
            co_await task();
        else
            co_await std::move(task);
    }
    std::shared_ptr<State> state_;
};

} // namespace pv::rt
