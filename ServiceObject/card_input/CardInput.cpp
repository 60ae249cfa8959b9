#include "card_input/CardInput.h"

#include <chrono>
#include <cstring>

#include "common/NoDestructor.h"
#include "common/SecureWipe.h"

namespace norvik {
namespace {

// How often a read thread waiting for room looks whether its reader is being closed.
constexpr std::chrono::milliseconds kReaderClosingPoll{20};

}  // namespace

void SwipeRing::Open(ProcessGuard&) { accepting_ = true; }

void SwipeRing::Close(ProcessGuard& guard) {
    accepting_ = false;
    count_ = 0;
    SecureWipe(entries_, sizeof entries_);
    guard.NotifyAll();
}

bool SwipeRing::StoreFromReader(ProcessGuard& guard) {
    while (accepting_ && count_ >= kCapacity) {
        if (!guard.WaitFor(kReaderClosingPoll)) {
            guard.Unlock();
            const bool readerClosing = VorlexGetDeviceState(nullptr) == 0;
            guard.Relock();
            if (readerClosing) return false;
        }
    }
    if (!accepting_) return false;
    Entry& entry = entries_[(head_ + count_) % kCapacity];
    std::memset(&entry.record, 0, sizeof entry.record);
    entry.fetchResult = VorlexGetCardData(&entry.record);
    ++count_;
    guard.NotifyAll();
    return true;
}

int32_t SwipeRing::TakeOldest(ProcessGuard& guard, VorlexCardData& record) {
    Entry& entry = entries_[head_];
    std::memcpy(&record, &entry.record, sizeof record);
    SecureWipe(&entry.record, sizeof entry.record);
    const int32_t fetchResult = entry.fetchResult;
    head_ = (head_ + 1) % kCapacity;
    --count_;
    guard.NotifyAll();
    return fetchResult;
}

void DataQueue::Push(ProcessGuard&, const VorlexCardData& record) {
    if (count_ >= kCapacity) return;
    std::memcpy(&records_[count_], &record, sizeof record);
    ++count_;
}

bool DataQueue::TakeNewest(ProcessGuard&) {
    if (count_ < 1) return false;
    std::memcpy(&current_, &records_[count_ - 1], sizeof current_);
    SecureWipe(&records_[count_ - 1], sizeof records_[0]);
    --count_;
    return true;
}

void DataQueue::Clear(ProcessGuard&) {
    count_ = 0;
    SecureWipe(records_, sizeof records_);
}

void DataQueue::Forget(ProcessGuard& guard) {
    Clear(guard);
    SecureWipe(&current_, sizeof current_);
}

SwipeRing& ProcessSwipeRing() {
    static NoDestructor<SwipeRing> ring;
    return ring.get();
}

DataQueue& ProcessDataQueue() {
    static NoDestructor<DataQueue> queue;
    return queue.get();
}

}  // namespace norvik
