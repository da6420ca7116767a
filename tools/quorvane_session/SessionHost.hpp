#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Console.hpp"
#include "DisplayCheck.hpp"
#include "SessionEvents.hpp"
#include "TransferProgress.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/QuorvaneClient.hpp"
#include "quorvane/QuorvaneDelegate.hpp"
#include "quorvane/VideoRenderer.hpp"

namespace quorvane::session {

/// Counts the frames of the local screen preview.
class FrameCounter : public VideoRenderer {
public:
    void renderFrame(const Frame&) override { frames_.fetch_add(1, std::memory_order_relaxed); }
    std::uint64_t frames() const { return frames_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> frames_{0};
};

/// The host's delegate: prints every report on one line ("report: ..."), drives the progress of
/// large incoming messages, records what happened in SessionEvents and answers the peer.
///
/// How it answers, by the text a command or query carries:
/// - command "refuse REASON": fails it with status 403 and REASON;
///   "ignore": never answers (the sender times out);
///   "share-screen": shares the screen, completed once capture runs, failed when it cannot start;
///   anything else: carried out, completed half a second later.
/// - query "parts N": N parts, a fifth of a second apart; "screen-frames": the number of frames
///   the screen stream has captured; "refuse REASON": fails it with status 403; "ignore": never
///   answered; a file (see
///   fileData): its checksum is checked, the file kept in the save folder when one is set, and the
///   answer is "sha256 HEX", or status 422 (damaged) or 500 (intact, but it could not be kept);
///   anything else: one part echoing the text.
class SessionHost : public QuorvaneDelegate {
public:
    struct Settings {
        std::string saveFolder;                ///< empty: received files are checked, not kept
        std::optional<std::string> chatReply;  ///< answer every chat line with this one
    };

    SessionHost(Console& console, SessionEvents& events, DispatchQueuePtr queue, Settings settings);

    /// The client whose peer this host answers; held weakly.
    void attach(const std::shared_ptr<QuorvaneClient>& client);
    std::uint64_t screenFrames() const { return frameCounter_->frames(); }
    /// Hands the client the screen stream, with a local preview that counts its frames, when the
    /// X display opens. None when handed in, else one line saying why not.
    std::optional<std::string> shareScreen();

    void quorvaneDidReceiveNotification(const QVNotification& notification) override;
    void quorvaneDidReceiveCommand(const QVCommand& command, const QVCommandContext& context) override;
    void quorvaneDidReceiveQuery(const QVQuery& query, const QVQueryContext& context) override;
    void quorvaneWillReceiveMessage(std::uint16_t id, std::uint16_t category, std::uint16_t numChunksReceived,
                                    std::uint16_t totalChunks) override;
    void quorvaneFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) override;
    void quorvaneDidConnect() override;
    void quorvaneDidDisconnect(bool expected) override;
    void quorvaneWillResetConnection() override;
    void quorvaneDidReceiveMessage(const std::vector<std::uint8_t>& data, const std::string& type) override;
    void quorvaneStartedVideoCapture(std::shared_ptr<CameraStreamController> controller) override;
    void quorvaneStartedScreenCapture(std::shared_ptr<ScreenCaptureController> controller) override;
    void quorvaneFailedToStartVideoCapture(std::exception_ptr error) override;
    void quorvaneFailedToStartScreenCapture(std::exception_ptr error) override;

private:
    void report(const std::string& text) { console_.line("report: " + text); }
    std::shared_ptr<QuorvaneClient> client();
    void answerShareScreen(const QVCommandContext& context);
    void answerFile(const QVQuery& query, const QVQueryContext& context);

    Console& console_;
    SessionEvents& events_;
    const DispatchQueuePtr queue_;
    const Settings settings_;
    TransferProgress progress_;
    const std::shared_ptr<FrameCounter> frameCounter_ = std::make_shared<FrameCounter>();
    DisplayCheck display_;

    std::mutex mutex_;
    std::weak_ptr<QuorvaneClient> client_;
    std::optional<QVCommandContext> screenRequest_;  ///< waits for the screen capture to start
    std::shared_ptr<ScreenCaptureController> screenController_;
};

}  // namespace quorvane::session
