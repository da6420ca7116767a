#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "transport/DataChannel.hpp"

namespace quorvane::testing {

/// A data-channel observer that keeps every report.
class RecordingChannelObserver : public DataChannelObserver {
public:
    void dataChannelDidChangeState(DataChannelState state) override {
        std::lock_guard lock(mutex_);
        states_.push_back(state);
    }
    void dataChannelDidReceive(std::vector<std::uint8_t> data, bool) override {
        std::lock_guard lock(mutex_);
        received_.push_back(std::move(data));
    }
    void dataChannelDidChangeBufferedAmount(std::uint64_t) override {}

    std::vector<DataChannelState> states() const {
        std::lock_guard lock(mutex_);
        return states_;
    }
    std::vector<std::vector<std::uint8_t>> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<DataChannelState> states_;
    std::vector<std::vector<std::uint8_t>> received_;
};

}  // namespace quorvane::testing
