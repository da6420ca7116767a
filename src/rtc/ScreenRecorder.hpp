#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "rtc/PixelBuffer.hpp"

namespace quorvane::rtc {

/// One sample of a screen recording.
struct ScreenSample {
    enum class Type { video, audioApp, audioMic };

    Type type = Type::video;
    /// The picture of a video sample; may be null.
    std::shared_ptr<const PixelBuffer> imageBuffer;
    /// When the sample was taken, in seconds on the recorder's clock.
    double presentationTime = 0;
};

/// Records the screen, one recording at a time, and hands its samples to the handler of the
/// recording. Every operation may be called from any thread. Implementations produce the samples
/// and report through `deliver` and `started`.
class ScreenRecorder {
public:
    using RecordingId = std::uint64_t;
    using SampleHandler = std::function<void(const ScreenSample& sample)>;
    /// Null when the recording has started, else why it did not.
    using StartCompletion = std::function<void(std::exception_ptr error)>;
    /// Called with why when a recording that has started ends by itself (its display went away).
    using EndHandler = std::function<void(std::exception_ptr error)>;

    virtual ~ScreenRecorder();
    ScreenRecorder(const ScreenRecorder&) = delete;
    ScreenRecorder& operator=(const ScreenRecorder&) = delete;

    /// Whether the screen can be recorded at all.
    virtual bool isAvailable() const = 0;

    /// True from the start of a recording until it is stopped or fails to start.
    bool isRecording() const;

    /// Starts a new recording: `handler` gets its samples on the recorder's thread, `completion`
    /// is called exactly once: when it has started, when it fails, when it is stopped before it
    /// started, or when the recorder is released. While another recording is under way it
    /// fails at once. `ended`, when given, is called on the recorder's thread if the recording
    /// ends by itself once started. Returns the new recording's id.
    RecordingId startCapture(SampleHandler handler, StartCompletion completion, EndHandler ended = nullptr);

    /// Ends `recording` if it is the one under way and returns true; otherwise changes nothing
    /// and returns false. Once it returns, the recording's handler is never called again, so it
    /// must not be called from that handler.
    bool stopCapture(RecordingId recording);

protected:
    ScreenRecorder() = default;

    /// Produce samples for `recording` and report its start with `started`.
    virtual void beginRecording(RecordingId recording) = 0;
    /// Stop producing samples for `recording`.
    virtual void endRecording(RecordingId recording) = 0;

    /// Hands `sample` to the handler of `recording` while it is the recording under way.
    void deliver(RecordingId recording, const ScreenSample& sample);
    /// Reports whether `recording` started; a failure ends it. Only its first report counts.
    void started(RecordingId recording, std::exception_ptr error);
    /// Reports that `recording` cannot go on: one that has not started fails to start with
    /// `error`; one under way ends, and its end handler is called.
    void failed(RecordingId recording, std::exception_ptr error);

private:
    /// Drops the recording under way (the caller holds deliveryMutex_) and returns its start
    /// completion if that is still pending.
    StartCompletion endCurrent();

    // Locked in this order. controlMutex_ orders starts and stops, and with them the calls of
    // beginRecording and endRecording; deliveryMutex_ is held while a handler runs and whenever
    // handler_ changes; stateMutex_ guards the fields below.
    std::mutex controlMutex_;
    std::mutex deliveryMutex_;
    mutable std::mutex stateMutex_;
    RecordingId lastRecording_ = 0;
    std::optional<RecordingId> current_;
    SampleHandler handler_;
    StartCompletion completion_;
    EndHandler ended_;
};

}  // namespace quorvane::rtc
