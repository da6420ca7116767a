#include "support/MediaFakes.hpp"

#include <stdexcept>

namespace quorvane::testing {

void FakeDeviceCatalogue::setEntries(std::vector<Entry> entries) {
    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
}

std::vector<rtc::CaptureDevice> FakeDeviceCatalogue::devices() {
    std::lock_guard lock(mutex_);
    std::vector<rtc::CaptureDevice> devices;
    for (const auto& entry : entries_) devices.push_back(entry.device);
    return devices;
}

std::vector<rtc::CaptureFormat> FakeDeviceCatalogue::supportedFormats(const rtc::CaptureDevice& device) {
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        if (entry.device.uniqueId == device.uniqueId) return entry.formats;
    }
    return {};
}

FakeCameraCapturer::~FakeCameraCapturer() {
    while (!waiting_.empty()) answerNext(std::make_exception_ptr(std::runtime_error("capturer released")));
}

void FakeCameraCapturer::startCapture(const rtc::CaptureDevice& device, const rtc::CaptureFormat& format,
                                      std::int64_t framesPerSecond, StartCompletion completion) {
    std::lock_guard lock(mutex_);
    requests_.push_back({true, device, format, framesPerSecond});
    waiting_.push_back({std::move(completion), nullptr});
}

void FakeCameraCapturer::stopCapture(StopCompletion completion) {
    std::lock_guard lock(mutex_);
    requests_.push_back({false, {}, {}, 0});
    waiting_.push_back({nullptr, std::move(completion)});
}

std::vector<FakeCameraCapturer::Request> FakeCameraCapturer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void FakeCameraCapturer::answerNext(std::exception_ptr error) {
    Waiting next;
    {
        std::lock_guard lock(mutex_);
        if (waiting_.empty()) return;
        next = std::move(waiting_.front());
        waiting_.pop_front();
    }
    if (next.start) next.start(error);
    if (next.stop) next.stop();
}

namespace {

class GreyPixels final : public rtc::PixelBuffer {
public:
    GreyPixels(int width, int height)
        : width_(width), height_(height), bytes_(static_cast<std::size_t>(width) * height * 4, 0x80) {}
    int width() const override { return width_; }
    int height() const override { return height_; }
    int stride() const override { return width_ * 4; }
    const std::uint8_t* data() const override { return bytes_.data(); }

private:
    int width_;
    int height_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

rtc::ScreenSample SyntheticScreenRecorder::videoSample(int width, int height, double presentationTime) {
    return {rtc::ScreenSample::Type::video, std::make_shared<GreyPixels>(width, height), presentationTime};
}

std::string failureOf(const Promise<void>& promise) {
    try {
        promise.wait();
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

}  // namespace quorvane::testing
