#include "reconnect/ReaderWatch.h"

#include <utility>

#include "common/NoDestructor.h"

namespace norvik {

void ReaderWatch::Start(ProcessGuard& guard, ReaderReturn& target, DeviceArrival* arrival,
                        std::chrono::milliseconds interval) {
    if (watch_ && !watch_->finished && !watch_->stop) {
        // Running: it asks again before every try.
        watch_->target = &target;
        return;
    }
    Retire(guard);
    if (watch_) return;  // started by another thread while the old one was joined
    auto watch = std::make_unique<Watch>();
    watch->target = &target;
    watch->arrival = arrival;
    watch->interval = interval;
    watch->thread = std::thread(&ReaderWatch::Run, watch.get(), std::ref(guard.Lock()));
    watch_ = std::move(watch);
}

void ReaderWatch::Stop(ProcessGuard& guard) {
    if (!watch_) return;
    if (watch_->thread.get_id() == std::this_thread::get_id()) return;
    watch_->stop = true;
    if (watch_->listening != nullptr) watch_->listening->Wake();
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
    // Ended and marked finished under one hold of the lock: a removal after
    // that starts a new watch, and one before it keeps this one going.
    while (!self->stop && self->target->ReaderMissing(guard)) {
        std::unique_ptr<ArrivalWatch> arrivals;
        if (self->arrival != nullptr) {
            guard.Unlock();
            arrivals = self->arrival->Listen();
            guard.Relock();
            self->listening = arrivals.get();
        }
        // Each round waits `interval` (an arrival ends the wait early). With a
        // listener the reader is opened only when an arrival was told or the
        // cheap look finds our readers changed, and on a few rounds after
        // either, since a device may arrive before it can be opened.
        int followUps = 0;
        while (!self->stop && self->target->ReaderMissing(guard)) {
            bool look = true;
            if (arrivals) {
                guard.Unlock();
                const bool quiet = followUps == 0 && arrivals->EndsOnChange();
                const auto waited = std::chrono::steady_clock::now();
                const bool arrived = arrivals->Wait(quiet ? kQuietInterval : self->interval);
                const bool changed = arrivals->ReadersChanged();
                // A quiet wait that ran its course is the safety net: a reader
                // that no notice tells of (the simulated bus) is looked for too.
                const bool safetyRound = quiet && std::chrono::steady_clock::now() - waited >= kQuietInterval;
                guard.Relock();
                if (arrived || changed) {
                    followUps = kFollowUpRounds;
                } else if (followUps > 0) {
                    --followUps;
                } else {
                    look = safetyRound;
                }
            } else if (guard.WaitFor(self->interval, [&] { return self->stop; })) {
                break;
            }
            if (self->stop || !self->target->ReaderMissing(guard)) break;
            if (!look) continue;
            ReaderReturn& target = *self->target;
            guard.Unlock();
            target.TryReopen();
            guard.Relock();
        }
        self->listening = nullptr;
        guard.Unlock();
        arrivals.reset();  // on the thread that listened
        guard.Relock();
    }
    self->finished = true;
    guard.NotifyAll();
}

ReaderWatch& ProcessReaderWatch() {
    static NoDestructor<ReaderWatch> watch;
    return watch.get();
}

}  // namespace norvik
