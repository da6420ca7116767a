#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "connection/TransportLayer.hpp"
#include "connection/TransportLayerDelegate.hpp"
#include "quorvane/DispatchQueue.hpp"

namespace quorvane::testing {

/// One end of an in-memory session transport: what one end of a pair sends, the other end
/// receives, numbered with the sender's 16-bit message counter. Every report reaches the
/// delegate on the end's own serial queue, as the real transport makes its message reports on
/// its message layer's queue. The end records what the session client asks of it.
class FakeTransport : public TransportLayer, public std::enable_shared_from_this<FakeTransport> {
public:
    struct Sent {
        std::vector<std::uint8_t> data;
        std::uint16_t category;
    };
    /// What the session client asked of the end.
    struct Record {
        /// In order: "connectAsOffer", "connectAsAnswer", "resetState(true)", "resetState(false)",
        /// "addVideoStream", "addScreenSharing".
        std::vector<std::string> calls;
        std::vector<const void*> streams;  ///< the stream configurations handed over, in order
        std::vector<Sent> sent;
        std::optional<TransportLayerConfiguration> configuration;  ///< set by FakeTransportFactory
    };

    /// Two linked ends.
    static std::pair<std::shared_ptr<FakeTransport>, std::shared_ptr<FakeTransport>> pair();

    void setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) override;
    Promise<void> connectAsOffer() override;
    Promise<void> connectAsAnswer() override;
    /// Disconnects this end; with `sendDisconnect` while connected, the peer hears an expected
    /// disconnect.
    Promise<void> resetState(bool sendDisconnect) override;
    Promise<void> sendMessage(std::vector<std::uint8_t> data, std::uint16_t category,
                              std::shared_ptr<SessionMetrics> metrics) override;
    bool isConnected() const override { return connected_; }
    bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) override;
    bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) override;

    /// Opens the data channel between both ends: each reports an established connection.
    void connect();
    /// Makes `report` to this end's delegate, on its queue.
    void raise(std::function<void(TransportLayerDelegate&)> report);
    /// Hands `bytes` to this end's delegate as a message that arrived under transport id `id`.
    void inject(std::vector<std::uint8_t> bytes, std::uint16_t id);
    /// Later connects settle as `result` does (by default they succeed at once).
    void setConnectResult(Promise<void> result);
    /// Later sends are rejected with `error` (null: they succeed again).
    void failSends(std::exception_ptr error);
    /// Later sends are written but given up: reported through transportLayerFailedToSend instead
    /// of reaching the peer.
    void giveUpSends(bool giveUp);
    /// Later sends are recorded but neither reach the peer nor settle.
    void holdSends(bool hold);

    Record record() const;
    /// Waits until this end has been asked to send `count` messages in all; false after a
    /// generous guard.
    bool waitForSent(std::size_t count) const;
    void setConfiguration(TransportLayerConfiguration configuration);
    const DispatchQueuePtr& queue() const { return queue_; }

private:
    FakeTransport();
    void record(std::string call, const void* stream = nullptr);
    std::shared_ptr<TransportLayerDelegate> delegate() const;

    const DispatchQueuePtr queue_;
    std::atomic<bool> connected_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable sentChanged_;
    std::weak_ptr<FakeTransport> peer_;
    std::weak_ptr<TransportLayerDelegate> delegate_;
    std::optional<Promise<void>> connectResult_;
    std::exception_ptr sendError_;
    bool giveUpSends_ = false;
    bool holdSends_ = false;
    bool hasScreen_ = false;
    std::uint16_t nextId_ = 0;
    Record record_;
};

/// Hands out prepared transport ends, one per transport the session client builds, in order;
/// with none left (or an empty one) the build fails.
class FakeTransportFactory {
public:
    void add(std::shared_ptr<FakeTransport> end);
    TransportLayerFactory factory();
    /// How many transports were asked for.
    std::size_t built() const;

private:
    struct State {
        std::mutex mutex;
        std::vector<std::shared_ptr<FakeTransport>> ends;
        std::size_t next = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace quorvane::testing
