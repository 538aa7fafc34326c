#include "core/records/Runtime.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <pthread.h>

#include <mutex>
#include <vector>

namespace pv::rt {

void nameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }

void nameThreadOf(asio::thread_pool& pool, const char* name)
{
    asio::post(pool, [name] { nameThisThread(name); });
}

NetworkRuntime::NetworkRuntime() : NetworkRuntime("pv-network") {}

NetworkRuntime::NetworkRuntime(const char* threadName) : loop_(std::make_shared<Loop>())
{
    thread_ = std::thread([loop = loop_, threadName] {
        nameThisThread(threadName);
        loop->threadId = std::this_thread::get_id();
        for (;;) {
            try {
                loop->context.run();
                break;
            } catch (...) {
                // A handler threw: keep the loop alive for every other service.
            }
        }
    });
}

NetworkRuntime::~NetworkRuntime() { stop(); }

void NetworkRuntime::stop()
{
    loop_->guard.reset();
    loop_->context.stop();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

// ---------------------------------------------------------------------------------------------
namespace {
// One queued step; it keeps its dispatcher alive until it has run or been dropped.
class QueuedStep final : public QEvent {
public:
    QueuedStep(std::shared_ptr<ThreadDispatcher> d, std::function<void()> f)
        : QEvent(type()), dispatcher(std::move(d)), fn(std::move(f))
    {
    }
    // A step Qt drops unrun (its receiver or the application went first) is destroyed here too.
    ~QueuedStep() override { PV_TSAN_ACQUIRE(this); }
    static QEvent::Type type()
    {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    std::shared_ptr<ThreadDispatcher> dispatcher;
    std::function<void()> fn;
};

#ifdef PV_TSAN_ENABLED
// Qt's posted-event queue is guarded by its own futex-based lock, which the sanitizer does not see.
// A step is released on the posting thread right before it is queued; its acquire must come before
// the first read on the receiving thread. That first read is not the receiver's: Qt shows every
// event to the application-wide event filters first (the focus filters of the design system read
// its type). Qt's notify callback runs ahead of all of them, for every event it delivers.
bool acquireBeforeDelivery(void** data)
{
    PV_TSAN_ACQUIRE(data[1]); // { receiver, event, result }
    return false;             // not handled: Qt delivers it as usual
}
#endif

std::shared_ptr<ThreadDispatcher> applicationDispatcher()
{
#ifdef PV_TSAN_ENABLED
    static const bool registered = QInternal::registerCallback(QInternal::EventNotifyCallback, acquireBeforeDelivery);
    static_cast<void>(registered);
#endif
    static std::mutex mutex;
    static std::weak_ptr<ThreadDispatcher> cached;
    std::lock_guard lock(mutex);
    if (auto d = cached.lock())
        return d;
    auto* app = QCoreApplication::instance();
    auto* raw = new ThreadDispatcher();
    if (app != nullptr && raw->thread() != app->thread())
        raw->moveToThread(app->thread());
    std::shared_ptr<ThreadDispatcher> d(raw, [](ThreadDispatcher* p) {
        // The last reference can go while the application object destroys its queued calls, with
        // its event-list lock held: posting (deleteLater) or deleting (which removes posted
        // events) would deadlock there. The process is ending then; the object is left to it.
        if (QCoreApplication::closingDown() || QCoreApplication::instance() == nullptr)
            return;
        p->deleteLater();
    });
    cached = d;
    return d;
}

asio::execution_context& qtExecutionContext()
{
    static asio::execution_context context;
    return context;
}
} // namespace

QtExecutor::QtExecutor() : dispatcher_(applicationDispatcher()) {}

QtExecutor::QtExecutor(std::weak_ptr<void> lifetimeGuard)
    : dispatcher_(applicationDispatcher()), guard_(std::move(lifetimeGuard)), guarded_(true)
{
}

QtExecutor QtExecutor::withGuard(std::weak_ptr<void> lifetimeGuard) const
{
    QtExecutor copy = *this;
    copy.guard_ = std::move(lifetimeGuard);
    copy.guarded_ = true;
    return copy;
}

bool ThreadDispatcher::event(QEvent* e)
{
    PV_TSAN_ACQUIRE(e); // the step was written on the posting thread (also acquired before delivery)
    if (e->type() != QueuedStep::type())
        return QObject::event(e);
    static_cast<QueuedStep*>(e)->fn();
    return true;
}

asio::execution_context& QtExecutor::query(asio::execution::context_t) const noexcept { return qtExecutionContext(); }

void QtExecutor::post(std::function<void()> fn) const
{
    // While the application object is being torn down nothing may be queued any more: Qt's
    // clean-up holds its event-list lock while it destroys queued calls, and a coroutine step
    // destroyed there would post again and deadlock.
    if (QCoreApplication::closingDown()) {
        // Dropped on another thread (an actor's, the network's), the step may hold the last
        // reference to that very actor: destroying it here would destroy the actor on its own
        // thread, under its running loop. The process is ending; such a step is kept, never run.
        if (QThread::currentThread() != dispatcher_->thread()) {
            static std::mutex mutex;
            static auto* parked = new std::vector<std::function<void()>>();
            std::lock_guard lock(mutex);
            parked->push_back(std::move(fn));
        }
        return;
    }
    auto* step = new QueuedStep(dispatcher_, [fn = std::move(fn), guard = guard_, guarded = guarded_]() {
        if (guarded && guard.expired())
            return; // the owner is gone: drop the work, never resume it
        fn();
    });
    ThreadDispatcher* receiver = dispatcher_.get();
    PV_TSAN_RELEASE(step); // after the last access to the step here, before the queue hands it over
    QCoreApplication::postEvent(receiver, step);
}

// ---------------------------------------------------------------------------------------------
awaitable<bool> sleepFor(asio::any_io_executor io, std::chrono::nanoseconds duration)
{
    if (co_await isCancelled())
        co_return false;
    asio::steady_timer timer(io, duration);
    std::error_code ec;
    co_await timer.async_wait(asio::redirect_error(use_awaitable, ec));
    if (ec)
        co_return false;
    co_return !(co_await isCancelled());
}

void TaskSlot::cancel()
{
    if (state_) {
        auto state = std::move(state_);
        state_.reset();
        if (state->running)
            state->signal.emit(asio::cancellation_type::terminal);
    }
}

} // namespace pv::rt
