#pragma once

#include <cstdint>
#include <atomic>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "quorvane/Promise.hpp"
#include "rtc/CameraCapturer.hpp"
#include "rtc/CaptureDeviceCatalogue.hpp"
#include "rtc/ScreenRecorder.hpp"

namespace quorvane::testing {

/// A catalogue of made-up devices.
class FakeDeviceCatalogue : public rtc::CaptureDeviceCatalogue {
public:
    struct Entry {
        rtc::CaptureDevice device;
        std::vector<rtc::CaptureFormat> formats;
    };

    explicit FakeDeviceCatalogue(std::vector<Entry> entries = {}) : entries_(std::move(entries)) {}

    void setEntries(std::vector<Entry> entries);
    std::vector<rtc::CaptureDevice> devices() override;
    std::vector<rtc::CaptureFormat> supportedFormats(const rtc::CaptureDevice& device) override;

private:
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

/// A capturer whose requests wait until the test answers them, oldest first.
class FakeCameraCapturer : public rtc::CameraCapturer {
public:
    struct Request {
        bool isStart;
        rtc::CaptureDevice device;
        rtc::CaptureFormat format;
        std::int64_t framesPerSecond;
    };

    /// Answers what is still waiting: starts with an error.
    ~FakeCameraCapturer() override;

    void startCapture(const rtc::CaptureDevice& device, const rtc::CaptureFormat& format,
                      std::int64_t framesPerSecond, StartCompletion completion) override;
    void stopCapture(StopCompletion completion) override;

    /// Every request made so far, in order.
    std::vector<Request> requests() const;
    /// Answers the oldest waiting request: a start with `error` (null: started), a stop plainly.
    void answerNext(std::exception_ptr error = nullptr);

private:
    struct Waiting {
        StartCompletion start;
        StopCompletion stop;
    };

    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::deque<Waiting> waiting_;
};

/// A recorder whose recordings start when the test says so and carry the samples it makes up.
class SyntheticScreenRecorder : public rtc::ScreenRecorder {
public:
    ~SyntheticScreenRecorder() override = default;

    bool isAvailable() const override { return available_; }
    void setAvailable(bool available) { available_ = available; }

    /// How many recordings began.
    int recordingsBegun() const { return begun_; }
    /// Reports the start of the last recording that began.
    void finishStart(std::exception_ptr error = nullptr) { started(last_, error); }
    /// Hands `sample` to the last recording that began, if it is still under way.
    void emit(const rtc::ScreenSample& sample) { deliver(last_, sample); }
    /// A video sample of a grey picture of `width` × `height`.
    static rtc::ScreenSample videoSample(int width, int height, double presentationTime);

private:
    void beginRecording(RecordingId recording) override {
        last_ = recording;
        ++begun_;
    }
    void endRecording(RecordingId) override {}

    std::atomic<bool> available_{true};
    std::atomic<int> begun_{0};
    std::atomic<RecordingId> last_{0};
};

/// Waits for `promise`: empty when fulfilled, else the error's text.
std::string failureOf(const Promise<void>& promise);

}  // namespace quorvane::testing
