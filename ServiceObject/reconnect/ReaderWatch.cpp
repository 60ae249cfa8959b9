#include "reconnect/ReaderWatch.h"

#include <utility>

#include "common/NoDestructor.h"

namespace norvik {

void ReaderWatch::Start(ProcessGuard& guard, ReaderReturn& target, std::chrono::milliseconds interval) {
    if (watch_ && !watch_->finished && !watch_->stop) {
        // Running: it asks again before every try.
        watch_->target = &target;
        return;
    }
    Retire(guard);
    if (watch_) return;  // started by another thread while the old one was joined
    auto watch = std::make_unique<Watch>();
    watch->target = &target;
    watch->interval = interval;
    watch->thread = std::thread(&ReaderWatch::Run, watch.get(), std::ref(guard.Lock()));
    watch_ = std::move(watch);
}

void ReaderWatch::Stop(ProcessGuard& guard) {
    if (!watch_) return;
    if (watch_->thread.get_id() == std::this_thread::get_id()) return;
    watch_->stop = true;
    guard.NotifyAll();
    Retire(guard);
}

void ReaderWatch::Retire(ProcessGuard& guard) {
    if (!watch_) return;
    std::unique_ptr<Watch> old = std::move(watch_);
    guard.Unlock();
    old->thread.join();
    guard.Relock();
}

void ReaderWatch::Run(Watch* self, ProcessLock& lock) {
    ProcessGuard guard(lock);
    while (!self->stop && self->target->ReaderMissing(guard)) {
        if (guard.WaitFor(self->interval, [&] { return self->stop; })) break;
        if (!self->target->ReaderMissing(guard)) break;
        ReaderReturn& target = *self->target;
        guard.Unlock();
        target.TryReopen();
        guard.Relock();
    }
    // Decided and marked under one hold of the lock: a removal that comes
    // after this starts a new watch.
    self->finished = true;
    guard.NotifyAll();
}

ReaderWatch& ProcessReaderWatch() {
    static NoDestructor<ReaderWatch> watch;
    return watch.get();
}

}  // namespace norvik
