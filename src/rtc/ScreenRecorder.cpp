#include "rtc/ScreenRecorder.hpp"

#include <utility>

#include "model/PlatformError.hpp"

namespace quorvane::rtc {

namespace {

std::exception_ptr recorderError(const char* message) {
    return std::make_exception_ptr(PlatformError("ScreenRecorder", 0, message));
}

}  // namespace

ScreenRecorder::~ScreenRecorder() {
    // The subclass has stopped producing samples by now.
    std::lock_guard delivery(deliveryMutex_);
    if (auto completion = endCurrent()) completion(recorderError("The screen recorder was released"));
}

bool ScreenRecorder::isRecording() const {
    std::lock_guard state(stateMutex_);
    return current_.has_value();
}

ScreenRecorder::RecordingId ScreenRecorder::startCapture(SampleHandler handler, StartCompletion completion,
                                                         EndHandler ended) {
    std::lock_guard control(controlMutex_);
    RecordingId recording = 0;
    bool busy = false;
    {
        std::lock_guard delivery(deliveryMutex_);
        std::lock_guard state(stateMutex_);
        recording = ++lastRecording_;
        busy = current_.has_value();
        if (!busy) {
            current_ = recording;
            handler_ = std::move(handler);
            completion_ = std::move(completion);
            ended_ = std::move(ended);
        }
    }
    if (busy) {
        completion(recorderError("A screen recording is already under way"));
        return recording;
    }
    beginRecording(recording);
    return recording;
}

bool ScreenRecorder::stopCapture(RecordingId recording) {
    std::lock_guard control(controlMutex_);
    StartCompletion completion;
    {
        // Waits for a handler call under way.
        std::lock_guard delivery(deliveryMutex_);
        {
            std::lock_guard state(stateMutex_);
            if (current_ != recording) return false;
        }
        completion = endCurrent();
    }
    endRecording(recording);
    if (completion) completion(recorderError("The screen recording was stopped before it started"));
    return true;
}

ScreenRecorder::StartCompletion ScreenRecorder::endCurrent() {
    std::lock_guard state(stateMutex_);
    current_.reset();
    handler_ = nullptr;
    ended_ = nullptr;
    return std::exchange(completion_, nullptr);
}

void ScreenRecorder::deliver(RecordingId recording, const ScreenSample& sample) {
    std::lock_guard delivery(deliveryMutex_);
    {
        std::lock_guard state(stateMutex_);
        if (current_ != recording) return;
    }
    try {
        handler_(sample);
    } catch (...) {
        // A handler's failure has nowhere to go from the recorder's thread.
    }
}

void ScreenRecorder::started(RecordingId recording, std::exception_ptr error) {
    StartCompletion completion;
    {
        std::lock_guard delivery(deliveryMutex_);
        std::lock_guard state(stateMutex_);
        if (current_ != recording || !completion_) return;
        completion = std::exchange(completion_, nullptr);
        if (error) {
            current_.reset();
            handler_ = nullptr;
        }
    }
    completion(error);
}

void ScreenRecorder::failed(RecordingId recording, std::exception_ptr error) {
    StartCompletion completion;
    EndHandler ended;
    {
        std::lock_guard delivery(deliveryMutex_);
        {
            std::lock_guard state(stateMutex_);
            if (current_ != recording) return;
            ended = std::exchange(ended_, nullptr);
        }
        completion = endCurrent();
    }
    if (completion) {
        completion(error);
    } else if (ended) {
        ended(error);
    }
}

}  // namespace quorvane::rtc
