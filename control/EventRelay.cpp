#include "EventRelay.h"

#include <algorithm>
#include <new>

namespace norvik::control {

EventRelay::EventRelay(WakeHook wake) : _owner(std::this_thread::get_id()), _wake(std::move(wake)) {}

EventRelay::~EventRelay() {
    Shut();
    WaitForCallers();
}

void EventRelay::WaitForCallers() {
    std::unique_lock<std::mutex> lock(_lock);
    _settled.wait(lock, [this] { return _waiters == 0; });
}

EventRelay::Outcome EventRelay::Run(const std::shared_ptr<RelayJob>& job) {
    if (IsOwnerThread()) return RunInline(*job);

    {
        std::lock_guard<std::mutex> guard(_lock);
        if (!_open) return Outcome::Dropped;
        try {
            _queued.push_back(job);
        } catch (const std::bad_alloc&) {
            return Outcome::Dropped;
        }
        job->_stage = RelayJob::Stage::Queued;
        ++_waiters;
    }

    const bool woken = _wake();

    std::unique_lock<std::mutex> lock(_lock);
    if (!woken && job->_stage == RelayJob::Stage::Queued) {
        // Nobody will come for it; take it back rather than wait forever.
        _queued.erase(std::find(_queued.begin(), _queued.end(), job));
        job->_stage = RelayJob::Stage::Cancelled;
    }
    _settled.wait(lock, [&job] {
        return job->_stage == RelayJob::Stage::Done || job->_stage == RelayJob::Stage::Cancelled;
    });
    const Outcome outcome = job->_stage == RelayJob::Stage::Done ? Outcome::Handled : Outcome::Dropped;
    --_waiters;
    _settled.notify_all();
    return outcome;
}

EventRelay::Outcome EventRelay::RunInline(RelayJob& job) {
    if (!IsOpen()) return Outcome::Dropped;
    job.Run();
    return Outcome::Handled;
}

void EventRelay::RunPending() {
    for (;;) {
        std::shared_ptr<RelayJob> job;
        bool started = false;
        {
            std::lock_guard<std::mutex> guard(_lock);
            if (_queued.empty()) return;
            job = std::move(_queued.front());
            _queued.pop_front();
            try {
                _running.push_back(job);
                job->_stage = RelayJob::Stage::Running;
                started = true;
            } catch (const std::bad_alloc&) {
                job->_stage = RelayJob::Stage::Cancelled;
            }
        }
        if (started) job->Run();
        {
            std::lock_guard<std::mutex> guard(_lock);
            if (job->_stage == RelayJob::Stage::Running) job->_stage = RelayJob::Stage::Done;
            auto it = std::find(_running.begin(), _running.end(), job);
            if (it != _running.end()) _running.erase(it);
        }
        _settled.notify_all();
    }
}

void EventRelay::Shut() {
    {
        std::lock_guard<std::mutex> guard(_lock);
        _open = false;
        for (auto& job : _queued) job->_stage = RelayJob::Stage::Cancelled;
        for (auto& job : _running) job->_stage = RelayJob::Stage::Cancelled;
        _queued.clear();
        _running.clear();
    }
    _settled.notify_all();
}

void EventRelay::Open() {
    std::lock_guard<std::mutex> guard(_lock);
    _open = true;
}

bool EventRelay::IsOpen() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _open;
}

}  // namespace norvik::control
