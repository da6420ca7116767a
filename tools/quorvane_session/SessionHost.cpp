#include "SessionHost.hpp"

#include "Payloads.hpp"
#include "SaveFolder.hpp"
#include "Text.hpp"
#include "quorvane/QVCategory.hpp"
#include "quorvane/QVError.hpp"
#include "quorvane/ScreenFormat.hpp"
#include "quorvane/VideoStreamConfiguration.hpp"

namespace quorvane::session {

namespace {

constexpr double carryOutSeconds = 0.5;
constexpr double partSpacingSeconds = 0.2;
constexpr int maxParts = 1000;
const FrameSize screenSize{1280, 720};

std::string textOf(const QVTaggedData& data) { return std::string(data.data().begin(), data.data().end()); }

/// The text after `word` and one blank when `text` starts with it, else none.
std::optional<std::string> argumentOf(const std::string& text, const std::string& word) {
    if (text == word) return std::string();
    if (text.starts_with(word + " ")) return text.substr(word.size() + 1);
    return std::nullopt;
}

}  // namespace

SessionHost::SessionHost(Console& console, SessionEvents& events, DispatchQueuePtr queue, Settings settings)
    : console_(console),
      events_(events),
      queue_(std::move(queue)),
      settings_(std::move(settings)),
      progress_(console.isLive()) {}

void SessionHost::attach(const std::shared_ptr<QuorvaneClient>& client) {
    std::lock_guard lock(mutex_);
    client_ = client;
}

std::shared_ptr<QuorvaneClient> SessionHost::client() {
    std::lock_guard lock(mutex_);
    return client_.lock();
}

void SessionHost::quorvaneDidReceiveNotification(const QVNotification& notification) {
    report("notification #" + std::to_string(notification.id()) + ", category " +
           std::to_string(notification.category()) + ": " + describeData(notification.data()));
    const bool isChat = notification.category() == static_cast<std::uint16_t>(QVCategory::Chat) &&
                        notification.data().tag() == textTag();
    if (!isChat) return;
    const std::string line = textOf(notification.data());
    console_.line("chat from the peer: " + shown(line));
    events_.update([&](SessionEvents::State& state) { state.chats.push_back(line); });
    if (!settings_.chatReply) return;
    auto client = this->client();
    if (!client) return;
    console_.line("chat to the peer: " + *settings_.chatReply);
    (void)client->sendChat(*settings_.chatReply, textTag(), static_cast<std::uint16_t>(QVCategory::Chat))
        .catchError([console = &console_](std::exception_ptr error) {
            console->line("chat not sent: " + describeError(error));
        });
}

void SessionHost::quorvaneDidReceiveCommand(const QVCommand& command, const QVCommandContext& context) {
    const std::string text = textOf(command.data());
    const bool waits = command.acknowledgeOn() == QVAcknowledgeOn::finished;
    report("command #" + std::to_string(command.id()) + ", category " + std::to_string(command.category()) +
           ", acknowledged " + (waits ? "when finished" : "on receipt") + ": " + describeData(command.data()));
    if (auto reason = argumentOf(text, "refuse")) {
        console_.line("answer: refusing the command (403 " + shown(*reason) + ")");
        context.error(QVError(*reason, 403));
    } else if (text == "ignore") {
        console_.line("answer: none, the command is ignored");
    } else if (text == "share-screen") {
        answerShareScreen(context);
    } else {
        const std::string quoted = "\"" + shown(text) + "\"";
        console_.line("answer: carrying out " + quoted);
        queue_->asyncAfter(carryOutSeconds, [console = &console_, context, quoted] {
            console->line("answer: " + quoted + " done");
            context.complete();
        });
    }
}

std::optional<std::string> SessionHost::shareScreen() {
    auto client = this->client();
    if (!client) return "there is no client to share the screen";
    if (auto problem = display_.problem()) return "cannot share the screen: " + *problem;
    if (client->addScreenSharing(
            std::make_shared<VideoStreamConfiguration<ScreenFormat>>(ScreenFormat{screenSize}, frameCounter_))) {
        return std::nullopt;
    }
    const auto failure = events_.snapshot().screenFailure;
    if (!failure) return "the screen is shared already";
    return "cannot share the screen: its capture failed (" + *failure + "), and a client shares its screen once";
}

void SessionHost::answerShareScreen(const QVCommandContext& context) {
    {
        std::lock_guard lock(mutex_);
        screenRequest_ = context;
    }
    const auto refusal = shareScreen();
    if (!refusal) {
        console_.line("answer: sharing the screen");
        return;
    }
    {
        std::lock_guard lock(mutex_);
        screenRequest_.reset();
    }
    console_.line("answer: " + *refusal);
    if (events_.snapshot().screenStarted) {
        context.complete();
    } else {
        context.error(QVError(*refusal, 409));
    }
}

void SessionHost::quorvaneDidReceiveQuery(const QVQuery& query, const QVQueryContext& context) {
    report("query #" + std::to_string(query.id()) + ", category " + std::to_string(query.category()) + ": " +
           describeData(query.data()));
    if (parseFileTag(query.data().tag())) return answerFile(query, context);
    const std::string text = textOf(query.data());
    if (auto reason = argumentOf(text, "refuse")) {
        console_.line("answer: refusing the query (403 " + shown(*reason) + ")");
        context.error(QVError(*reason, 403));
    } else if (auto count = argumentOf(text, "parts")) {
        int parts = 0;
        try {
            parts = std::stoi(*count);
        } catch (const std::exception&) {
        }
        if (parts < 1 || parts > maxParts) {
            context.error(QVError("parts takes a count from 1 to " + std::to_string(maxParts), 400));
            return;
        }
        console_.line("answer: " + std::to_string(parts) + " parts");
        for (int part = 1; part <= parts; ++part) {
            queue_->asyncAfter(partSpacingSeconds * part, [context, part, parts] {
                context.respond(textData("part " + std::to_string(part) + " of " + std::to_string(parts)),
                                part == parts);
            });
        }
    } else if (text == "ignore") {
        console_.line("answer: none, the query is ignored");
    } else if (text == "screen-frames") {
        const auto frames = std::to_string(screenFrames());
        console_.line("answer: " + frames + " screen frames");
        context.respond(textData(frames), true);
    } else {
        console_.line("answer: echo");
        context.respond(textData("you asked: " + text), true);
    }
}

void SessionHost::answerFile(const QVQuery& query, const QVQueryContext& context) {
    const auto file = *parseFileTag(query.data().tag());
    const std::string checksum = sha256Hex(query.data().data());
    const bool intact = checksum == file.sha256;
    events_.update([&](SessionEvents::State& state) { ++(intact ? state.filesIntact : state.filesDamaged); });
    const std::string shownName = "\"" + shown(file.name) + "\"";
    if (!intact) {
        console_.line("file " + shownName + " arrived damaged: sha256 " + checksum + ", expected " +
                      shown(file.sha256));
        context.error(QVError("checksum mismatch", 422));
        return;
    }
    console_.line("file " + shownName + " arrived intact: " + std::to_string(query.data().data().size()) +
                  " bytes, sha256 " + checksum);
    if (!settings_.saveFolder.empty()) {
        try {
            console_.line("saved as " + printable(saveNewFile(settings_.saveFolder, file.name, query.data().data())));
        } catch (const std::runtime_error& error) {
            console_.line("could not save " + shownName + " in " + printable(settings_.saveFolder) + ": " +
                          error.what());
            context.error(QVError("the file arrived intact but was not saved: " + std::string(error.what()), 500));
            return;
        }
    }
    context.respond(textData("sha256 " + checksum), true);
}

void SessionHost::quorvaneWillReceiveMessage(std::uint16_t id, std::uint16_t category, std::uint16_t numChunksReceived,
                                             std::uint16_t totalChunks) {
    if (auto shown = progress_.report(id, category, numChunksReceived, totalChunks, TransferProgress::Clock::now())) {
        console_.progress(shown->text, shown->finished);
    }
}

void SessionHost::quorvaneFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) {
    progress_.forget(id);
    report("message #" + std::to_string(id) + " (category " + std::to_string(category) + ") could not be received");
}

// The state is updated before the report is printed: whoever reads the line and types at once
// finds the shell knowing of it.
void SessionHost::quorvaneDidConnect() {
    events_.update([](SessionEvents::State& state) { ++state.connects; });
    report("connected to the peer");
}

void SessionHost::quorvaneDidDisconnect(bool expected) {
    events_.update([&](SessionEvents::State& state) {
        state.disconnectExpected = expected;
        ++state.disconnects;
    });
    report(expected ? "disconnected: the peer ended the session" : "disconnected: the connection was lost");
}

void SessionHost::quorvaneWillResetConnection() {
    report("the connection went silent; resetting and reconnecting");
    events_.update([](SessionEvents::State& state) { ++state.resets; });
}

void SessionHost::quorvaneDidReceiveMessage(const std::vector<std::uint8_t>& data, const std::string& type) {
    report("message received: " + shown(type) + ", " + std::to_string(data.size()) + " bytes");
}

void SessionHost::quorvaneStartedVideoCapture(std::shared_ptr<CameraStreamController>) {
    report("camera capture started");
}

void SessionHost::quorvaneStartedScreenCapture(std::shared_ptr<ScreenCaptureController> controller) {
    report("screen capture started");
    events_.update([](SessionEvents::State& state) { state.screenStarted = true; });
    std::optional<QVCommandContext> request;
    {
        std::lock_guard lock(mutex_);
        screenController_ = std::move(controller);
        request.swap(screenRequest_);
    }
    if (request) request->complete();
}

void SessionHost::quorvaneFailedToStartVideoCapture(std::exception_ptr error) {
    report("camera capture failed: " + describeError(error));
}

void SessionHost::quorvaneFailedToStartScreenCapture(std::exception_ptr error) {
    const std::string why = describeError(error);
    report("screen capture failed: " + why);
    events_.update([&](SessionEvents::State& state) { state.screenFailure = why; });
    std::optional<QVCommandContext> request;
    {
        std::lock_guard lock(mutex_);
        request.swap(screenRequest_);
    }
    if (request) request->error(QVError("Screen capture failed: " + why, 500));
}

}  // namespace quorvane::session
