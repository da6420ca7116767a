#include "support/ChunkAdapterPair.hpp"

namespace quorvane::testing {

void ArrivalDelegate::dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t) {
    if (auto adapter = echo_.lock()) adapter->sendData(data, 1);
    std::lock_guard lock(mutex_);
    ++count_;
    lastArrival_ = SteadyClock::now();
    changed_.notify_all();
}

bool ArrivalDelegate::waitFor(std::uint64_t count, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return count_ >= count || failed_; }) && !failed_;
}

std::uint64_t ArrivalDelegate::count() {
    std::lock_guard lock(mutex_);
    return count_;
}

ArrivalDelegate::SteadyClock::time_point ArrivalDelegate::lastArrival() {
    std::lock_guard lock(mutex_);
    return lastArrival_;
}

void ArrivalDelegate::fail() {
    std::lock_guard lock(mutex_);
    failed_ = true;
    changed_.notify_all();
}

ChunkAdapterPair::ChunkAdapterPair(bool echo) {
    receiverHears = std::make_shared<ArrivalDelegate>(echo ? receiver : nullptr);
    sender->setDelegate(senderHears);
    receiver->setDelegate(receiverHears);
    sender->set(pair.offerChannel());
    receiver->set(pair.answerChannel());
}

ChunkAdapterPair::~ChunkAdapterPair() {
    sender->closeDataChannel();
    receiver->closeDataChannel();
}

}  // namespace quorvane::testing
