#include "support/FakeMqttTransport.hpp"

namespace quorvane::testing {

/// The transport handed to SignalClient: every call goes to the shared script.
class FakeMqttTransport::Transport final : public MqttTransport {
public:
    explicit Transport(std::shared_ptr<FakeMqttTransport> fake) : fake_(std::move(fake)) {}

    ~Transport() override {
        std::lock_guard lock(fake_->mutex_);
        if (fake_->current_ != this) return;  // a newer transport took over the script
        fake_->destroyed_ = true;
        fake_->events_ = {};
        ++fake_->activity_;
    }

    void setEvents(Events events) override {
        std::lock_guard lock(fake_->mutex_);
        fake_->events_ = std::move(events);
    }

    std::optional<Attempt> connect() override {
        std::optional<int> answer;
        Attempt attempt = 0;
        {
            std::lock_guard lock(fake_->mutex_);
            fake_->calls_.push_back("connect");
            ++fake_->activity_;
            if (!fake_->startConnects_) return std::nullopt;
            attempt = ++fake_->attempt_;
            fake_->state_ = State::connecting;
            answer = fake_->connectAnswer_;
        }
        if (answer) fake_->acceptConnection(*answer);
        return attempt;
    }

    std::optional<int> subscribe(const std::string& topic) override {
        std::optional<bool> answer;
        int messageId = 0;
        {
            std::lock_guard lock(fake_->mutex_);
            fake_->calls_.push_back("subscribe " + topic);
            ++fake_->activity_;
            if (fake_->refuseSubscribe_) return std::nullopt;
            messageId = fake_->nextMessageId_++;
            fake_->pendingSubscriptions_.push_back(messageId);
            answer = fake_->subscribeAnswer_;
        }
        if (answer) fake_->grantSubscription(messageId, *answer);
        return messageId;
    }

    PublishResult publish(const std::string& topic, const std::vector<std::uint8_t>& payload) override {
        PublishResult result{PublishResult::Status::refused, 0, "refused by the script"};
        bool confirm = false;
        {
            std::lock_guard lock(fake_->mutex_);
            fake_->calls_.push_back("publish " + topic);
            ++fake_->activity_;
            if (fake_->publishStatus_ == PublishResult::Status::refused) return result;
            result = {fake_->publishStatus_, fake_->nextMessageId_++, {}};
            fake_->publications_.push_back({topic, payload, result.messageId});
            confirm = fake_->confirmPublish_ && result.status == PublishResult::Status::sent;
        }
        if (confirm) fake_->confirmPublish(result.messageId);
        return result;
    }

    void disconnect() override {
        std::lock_guard lock(fake_->mutex_);
        fake_->calls_.push_back("disconnect");
        ++fake_->activity_;
        fake_->state_ = State::disconnected;
        ++fake_->attempt_;  // what the old connection would still report is dropped
    }

    State state() const override {
        std::lock_guard lock(fake_->mutex_);
        return fake_->state_;
    }

private:
    const std::shared_ptr<FakeMqttTransport> fake_;
};

MqttTransportFactory FakeMqttTransport::factory() {
    return [self = shared_from_this()](const MqttSettings&) {
        auto transport = std::make_unique<Transport>(self);
        std::lock_guard lock(self->mutex_);
        self->current_ = transport.get();
        self->destroyed_ = false;
        return transport;
    };
}

void FakeMqttTransport::answerConnect(std::optional<int> returnCode) {
    std::lock_guard lock(mutex_);
    connectAnswer_ = returnCode;
}

void FakeMqttTransport::startConnects(bool start) {
    std::lock_guard lock(mutex_);
    startConnects_ = start;
}

void FakeMqttTransport::answerSubscribe(std::optional<bool> granted) {
    std::lock_guard lock(mutex_);
    subscribeAnswer_ = granted;
}

void FakeMqttTransport::refuseSubscribe(bool refuse) {
    std::lock_guard lock(mutex_);
    refuseSubscribe_ = refuse;
}

void FakeMqttTransport::answerPublish(PublishStatus status, bool confirm) {
    std::lock_guard lock(mutex_);
    publishStatus_ = status;
    confirmPublish_ = confirm;
}

MqttTransport::Events FakeMqttTransport::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void FakeMqttTransport::acceptConnection(int returnCode) {
    Attempt attempt = 0;
    {
        std::lock_guard lock(mutex_);
        state_ = returnCode == 0 ? MqttTransport::State::connected : MqttTransport::State::disconnected;
        attempt = attempt_;
        ++activity_;
    }
    if (auto report = events().connectAck) report(attempt, returnCode);
}

void FakeMqttTransport::dropConnection(std::exception_ptr error) {
    Attempt attempt = 0;
    {
        std::lock_guard lock(mutex_);
        state_ = MqttTransport::State::disconnected;
        attempt = attempt_;
        ++activity_;
    }
    if (auto report = events().disconnected) report(attempt, std::move(error));
}

void FakeMqttTransport::grantSubscription(int messageId, bool granted) {
    {
        std::lock_guard lock(mutex_);
        std::erase(pendingSubscriptions_, messageId);
        ++activity_;
    }
    if (auto report = events().subscribed) report(messageId, granted);
}

void FakeMqttTransport::confirmPublish(int messageId) {
    {
        std::lock_guard lock(mutex_);
        ++activity_;
    }
    if (auto report = events().published) report(messageId);
}

void FakeMqttTransport::deliver(const std::string& topic, const std::vector<std::uint8_t>& payload) {
    {
        std::lock_guard lock(mutex_);
        ++activity_;
    }
    if (auto report = events().received) report(topic, payload);
}

void FakeMqttTransport::deliver(const std::string& topic, const std::string& text) {
    deliver(topic, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::string> FakeMqttTransport::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<FakeMqttTransport::Publication> FakeMqttTransport::publications() const {
    std::lock_guard lock(mutex_);
    return publications_;
}

std::vector<std::string> FakeMqttTransport::texts(const std::string& topic) const {
    std::vector<std::string> texts;
    for (const auto& publication : publications()) {
        if (publication.topic == topic) texts.push_back(publication.text());
    }
    return texts;
}

std::vector<int> FakeMqttTransport::pendingSubscriptions() const {
    std::lock_guard lock(mutex_);
    return pendingSubscriptions_;
}

MqttTransport::State FakeMqttTransport::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool FakeMqttTransport::destroyed() const {
    std::lock_guard lock(mutex_);
    return destroyed_;
}

std::uint64_t FakeMqttTransport::activity() const {
    std::lock_guard lock(mutex_);
    return activity_;
}

}  // namespace quorvane::testing
