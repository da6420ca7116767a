#include "quorvane/Reachability.hpp"

#include <cerrno>

#include "network/NetlinkReachabilitySource.hpp"

namespace quorvane {

namespace {

const char* describe(ReachabilityError::Kind kind) {
    switch (kind) {
    case ReachabilityError::Kind::failedToCreateWithAddress: return "Failed to create the network monitor";
    case ReachabilityError::Kind::unableToSetCallback: return "Unable to set the network monitor's callback";
    case ReachabilityError::Kind::unableToSetDispatchQueue: return "Unable to set the network monitor's queue";
    case ReachabilityError::Kind::unableToGetFlags: return "Unable to read the network flags";
    }
    return "Network monitor failure";
}

}  // namespace

ReachabilityError::ReachabilityError(Kind kind, int code)
    : std::runtime_error(std::string(describe(kind)) + " (error " + std::to_string(code) + ")"),
      kind_(kind),
      code_(code) {}

std::string_view description(Reachability::Connection connection) {
    switch (connection) {
    case Reachability::Connection::unavailable: return "No Connection";
    case Reachability::Connection::wifi: return "WiFi";
    case Reachability::Connection::cellular: return "Cellular";
    }
    return "No Connection";
}

Reachability::Reachability(std::shared_ptr<ReachabilitySource> source, DispatchQueuePtr notificationQueue)
    : source_(std::move(source)),
      reachabilitySerialQueue_(DispatchQueue::create("reachability.monitor")),
      notificationQueue_(std::move(notificationQueue)),
      notificationCenter_(NotificationCenter::defaultCenter()) {}

std::shared_ptr<Reachability> Reachability::create(std::shared_ptr<ReachabilitySource> source,
                                                   DispatchQueuePtr notificationQueue) {
    return std::shared_ptr<Reachability>(new Reachability(std::move(source), std::move(notificationQueue)));
}

std::shared_ptr<Reachability> Reachability::create() {
    auto source = NetlinkReachabilitySource::create();
    if (!source) throw ReachabilityError(ReachabilityError::Kind::failedToCreateWithAddress, errno);
    return create(std::move(source), DispatchQueue::main());
}

Reachability::~Reachability() { stopNotifier(); }

void Reachability::startNotifier() {
    if (notifierRunning_) return;
    // The source holds the monitor weakly: it never keeps it alive, and a report that arrives
    // after the monitor is gone does nothing.
    std::weak_ptr<Reachability> weakSelf = weak_from_this();
    bool callbackSet = source_->setCallback([weakSelf](ReachabilityFlags flags) {
        if (auto self = weakSelf.lock()) self->setFlags(flags);
    });
    if (!callbackSet) {
        int code = source_->lastError();
        stopNotifier();
        throw ReachabilityError(ReachabilityError::Kind::unableToSetCallback, code);
    }
    if (!source_->setDispatchQueue(reachabilitySerialQueue_)) {
        int code = source_->lastError();
        stopNotifier();
        throw ReachabilityError(ReachabilityError::Kind::unableToSetDispatchQueue, code);
    }
    readFlagsNow();
    notifierRunning_ = true;
}

void Reachability::stopNotifier() {
    source_->setCallback(nullptr);
    source_->setDispatchQueue(nullptr);
    notifierRunning_ = false;
}

void Reachability::readFlagsNow() {
    std::optional<ReachabilityFlags> read;
    int code = 0;
    auto work = [&] {
        read = source_->readFlags();
        if (read) {
            setFlags(*read);
        } else {
            code = source_->lastError();
        }
    };
    // Flags are written on the serial queue only; a caller already on it reads in place.
    if (reachabilitySerialQueue_->isCurrent()) {
        work();
    } else {
        reachabilitySerialQueue_->sync(work);
    }
    if (!read) {
        stopNotifier();
        throw ReachabilityError(ReachabilityError::Kind::unableToGetFlags, code);
    }
}

void Reachability::setFlags(ReachabilityFlags flags) {
    {
        std::lock_guard lock(mutex_);
        if (flags_ == flags) return;
        flags_ = flags;
    }
    announceChange();
}

void Reachability::announceChange() {
    std::weak_ptr<Reachability> weakSelf = weak_from_this();
    auto action = [weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        Handler handler;
        std::shared_ptr<NotificationCenter> center;
        bool reachable = self->connection() != Connection::unavailable;
        {
            std::lock_guard lock(self->mutex_);
            handler = reachable ? self->whenReachable_ : self->whenUnreachable_;
            center = self->notificationCenter_;
        }
        if (handler) handler(*self);
        if (center) center->post(std::string(reachabilityChanged), self);
    };
    if (notificationQueue_) {
        notificationQueue_->async(std::move(action));
    } else {
        action();
    }
}

Reachability::Connection Reachability::connection() {
    if (!flags()) {
        try {
            readFlagsNow();
        } catch (const ReachabilityError&) {
            // No flags: counts as unavailable below.
        }
    }
    auto current = flags();
    if (!current) return Connection::unavailable;
    return connectionFor(*current);
}

Reachability::Connection Reachability::connectionFor(ReachabilityFlags flags) const {
    if (!flags.isReachableFlagSet()) return Connection::unavailable;
    auto result = Connection::unavailable;
    if (!flags.isConnectionRequiredFlagSet()) result = Connection::wifi;
    if (flags.isConnectionOnTrafficOrDemandFlagSet() && !flags.isInterventionRequiredFlagSet()) {
        result = Connection::wifi;
    }
    if (flags.isOnWWANFlagSet()) result = Connection::cellular;
    if (result == Connection::cellular && !allowsCellularConnection()) return Connection::unavailable;
    return result;
}

std::string Reachability::currentReachabilityString() { return std::string(quorvane::description(connection())); }

std::string Reachability::description() const {
    auto current = flags();
    return current ? current->description() : "unavailable flags";
}

std::optional<ReachabilityFlags> Reachability::flags() const {
    std::lock_guard lock(mutex_);
    return flags_;
}

void Reachability::setWhenReachable(Handler handler) {
    std::lock_guard lock(mutex_);
    whenReachable_ = std::move(handler);
}

void Reachability::setWhenUnreachable(Handler handler) {
    std::lock_guard lock(mutex_);
    whenUnreachable_ = std::move(handler);
}

void Reachability::setAllowsCellularConnection(bool allows) {
    std::lock_guard lock(mutex_);
    allowsCellularConnection_ = allows;
}

bool Reachability::allowsCellularConnection() const {
    std::lock_guard lock(mutex_);
    return allowsCellularConnection_;
}

void Reachability::setNotificationCenter(std::shared_ptr<NotificationCenter> center) {
    std::lock_guard lock(mutex_);
    notificationCenter_ = std::move(center);
}

}  // namespace quorvane
