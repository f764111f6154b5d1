#include "macos/AppKit/HostRunLoop.hpp"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace ns {

namespace {
// A burst of timers that keep coming due is cut off here, so that Qt's own events still run.
constexpr int maxTimersPerDrain = 256;
// How long timers wait for a paint that was asked for, at most: about a frame.
constexpr std::chrono::milliseconds paintWait{16};
}  // namespace

HostRunLoop::HostRunLoop(runtime::EventLoop& loop) : loop_(loop), context_(std::make_unique<QObject>()) {
    timer_ = new QTimer(context_.get());
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, context_.get(), [this] { drain(); });
    // Jobs that Qt's own event handlers queued (input, painting) run before Qt goes to sleep.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread())) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, context_.get(), [this] {
            const bool due = loop_.nextDeadline() && *loop_.nextDeadline() <= loop_.clock().now();
            if (loop_.hasReadyJobs() || (due && !paintPending_)) drain();
        });
    }
    QObject* context = context_.get();
    loop_.setWakeUp([context, this] {
        QMetaObject::invokeMethod(
            context, [this] { drain(); }, Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(
        context, [this] { drain(); }, Qt::QueuedConnection);
}

HostRunLoop::~HostRunLoop() { loop_.setWakeUp({}); }

void HostRunLoop::drain() {
    if (draining_) return;
    draining_ = true;
    ++wakeCount_;
    // Only timers due when the drain began, and none while a paint is pending: one that comes due
    // meanwhile (a zero-delay wait included) runs after Qt has painted what was asked. A paint
    // that has not come within its frame holds nothing any more.
    const auto began = loop_.clock().now();
    if (paintPending_ && began >= paintDeadline_) paintPending_ = false;
    std::size_t ran = loop_.runReady();
    for (int fired = 0; !paintPending_ && fired < maxTimersPerDrain && loop_.fireNextTimer(began); ++fired)
        ran += 1 + loop_.runReady();
    draining_ = false;
    if (ran > 0 && afterDrain_) afterDrain_();
    arm();
}

void HostRunLoop::paintRequested() {
    if (!paintPending_) paintDeadline_ = loop_.clock().now() + paintWait;
    paintPending_ = true;
    // Asked from Qt's own handlers, between drains: the timer set for an earlier deadline waits
    // too.
    if (!draining_) arm();
}

void HostRunLoop::painted() {
    if (!paintPending_) return;
    paintPending_ = false;
    arm();
}

void HostRunLoop::arm() {
    auto next = loop_.nextDeadline();
    if (!next) {
        timer_->stop();
        return;
    }
    const auto now = loop_.clock().now();
    auto wait = *next - now;
    if (paintPending_) wait = std::max<runtime::Duration>(wait, paintDeadline_ - now);
    // Rounded up, so that the timer never fires just before the deadline and finds nothing due.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    timer_->start(static_cast<int>(std::clamp<long long>(ms, 0, 24LL * 3600 * 1000)));
}

}  // namespace ns
