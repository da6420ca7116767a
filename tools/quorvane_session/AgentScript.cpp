#include "AgentScript.hpp"

#include <chrono>
#include <thread>

#include "Outcome.hpp"
#include "Payloads.hpp"
#include "Sender.hpp"
#include "Text.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"

namespace quorvane::session {

namespace {

constexpr double joinSeconds = 30;
constexpr double connectSeconds = 30;
constexpr double answerSeconds = 10;
constexpr double shortTimeout = 2;
constexpr std::size_t fileSize = 64u << 20;
constexpr double fileTimeout = 60;
constexpr double screenSeconds = 10;
constexpr auto screenRunTime = std::chrono::seconds(2);

using Check = AgentScript::Check;

Check passed(std::string detail) { return {true, std::move(detail)}; }
Check failed(std::string detail) { return {false, std::move(detail)}; }

/// The outcome of a promise that should be fulfilled within `seconds`.
template <class T>
Check fulfilledWithin(const Promise<T>& promise, double seconds, const std::string& success) {
    const auto outcome = waitFor(promise, seconds);
    return outcome.fulfilled() ? passed(success + " (" + outcome.describe() + ")") : failed(outcome.describe());
}

}  // namespace

bool AgentScript::step(const std::string& what, const std::function<Check()>& body) {
    console_.line("step " + std::to_string(++steps_) + ": " + what);
    const Check check = body();
    console_.line(std::string(check.ok ? "  ok: " : "  FAILED: ") + check.detail);
    return check.ok;
}

bool AgentScript::run() {
    const bool walked =
        step("join the session with PIN " + pin_, [this] { return join(); }) &&
        step("wait for the data channel to the device", [this] { return connected(); }) &&
        step("a chat line each way", [this] { return chatEachWay(); }) &&
        step("a command the device acknowledges once it has carried it out", [this] { return commandCarriedOut(); }) &&
        step("a command the device refuses", [this] { return commandRefused(); }) &&
        step("a command the device never answers, with a 2 s time-out", [this] { return commandTimesOut(); }) &&
        step("a query the device answers in three parts", [this] { return queryInThreeParts(); }) &&
        step("a 64 MiB file, checked on arrival", [this] { return largeFile(); }) &&
        step("the device shares its screen", [this] { return screenStream(); });
    const bool ended = step("end the session, telling the device", [this] { return endSession(); });
    return walked && ended;
}

Check AgentScript::join() {
    return fulfilledWithin(client_->connectToSupportSession(pin_), joinSeconds, "joined, signaling connected");
}

Check AgentScript::connected() {
    if (!events_.waitFor([](const auto& state) { return state.connects > 0; }, connectSeconds)) {
        return failed("no connection after " + std::to_string(static_cast<int>(connectSeconds)) + " s");
    }
    return passed("connected");
}

Check AgentScript::chatEachWay() {
    Sender sender(console_, client_);
    auto sent = waitFor(sender.chat("Hello from the agent"), answerSeconds);
    if (!sent.fulfilled()) return failed("chat not sent: " + sent.describe());
    if (!events_.waitFor([](const auto& state) { return !state.chats.empty(); }, answerSeconds)) {
        return failed("no chat line came back");
    }
    return passed("the device answered \"" + shown(events_.snapshot().chats.front()) + "\"");
}

Check AgentScript::commandCarriedOut() {
    return fulfilledWithin(Sender(console_, client_).command("restart-app", QVAcknowledgeOn::finished, answerSeconds),
                           answerSeconds + 1, "acknowledged once done");
}

Check AgentScript::commandRefused() {
    const std::string reason = "wiping is not allowed on this device";
    const auto outcome =
        waitFor(Sender(console_, client_).command("refuse " + reason, QVAcknowledgeOn::finished, answerSeconds),
                answerSeconds + 1);
    if (!outcome.settled || !outcome.error) return failed("expected the device's error, got: " + outcome.describe());
    try {
        std::rethrow_exception(outcome.error);
    } catch (const QVError& error) {
        if (error.statusCode() == 403 && error.message() == reason) return passed("refused: " + outcome.describe());
    } catch (...) {
    }
    return failed("expected error 403 \"" + reason + "\", got: " + outcome.describe());
}

Check AgentScript::commandTimesOut() {
    const auto outcome =
        waitFor(Sender(console_, client_).command("ignore", QVAcknowledgeOn::finished, shortTimeout), answerSeconds);
    if (!outcome.settled || !outcome.error) return failed("expected a time-out, got: " + outcome.describe());
    try {
        std::rethrow_exception(outcome.error);
    } catch (const QuorvaneError& error) {
        if (error.kind() == QuorvaneError::Kind::commandTimedOut) return passed("timed out: " + outcome.describe());
    } catch (...) {
    }
    return failed("expected the command's time-out, got: " + outcome.describe());
}

Check AgentScript::queryInThreeParts() {
    auto sent = Sender(console_, client_).query("parts 3", answerSeconds);
    const auto outcome = waitFor(sent.receipt.complete(), answerSeconds + 1);
    if (!outcome.fulfilled()) return failed(outcome.describe());
    const std::vector<std::string> expected = {"part 1 of 3", "part 2 of 3", "part 3 of 3"};
    if (sent.answer->parts() != expected) return failed("the parts were not 1, 2 and 3 of 3");
    return passed("three parts in order (" + outcome.describe() + ")");
}

Check AgentScript::largeFile() {
    auto bytes = generatedBytes(fileSize, 64);
    const std::string checksum = sha256Hex(bytes);
    const auto start = std::chrono::steady_clock::now();
    auto sent = Sender(console_, client_).file("support-bundle.bin", std::move(bytes), fileTimeout);
    const auto outcome = waitFor(sent.receipt.complete(), fileTimeout + 1);
    if (!outcome.fulfilled()) return failed(outcome.describe());
    const auto parts = sent.answer->parts();
    if (parts.empty() || parts.back() != "sha256 " + checksum) return failed("the device's checksum differs");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.1f s, %.1f MiB/s", seconds, 64 / seconds);
    return passed("the device's checksum matches, " + std::string(rate) + " until its answer");
}

Check AgentScript::screenStream() {
    Sender sender(console_, client_);
    const auto shared =
        waitFor(sender.command("share-screen", QVAcknowledgeOn::finished, screenSeconds), screenSeconds + 1);
    if (!shared.fulfilled()) return failed("the device could not share its screen: " + shared.describe());
    if (!events_.waitFor([](const auto& state) { return !state.remoteTracks.empty(); }, screenSeconds)) {
        return failed("no video track arrived");
    }
    // The codecs are those the device offered.
    const std::string codecs = shown(events_.snapshot().remoteTracks.back());
    std::this_thread::sleep_for(screenRunTime);
    auto counted = sender.query("screen-frames", answerSeconds);
    const auto outcome = waitFor(counted.receipt.complete(), answerSeconds + 1);
    if (!outcome.fulfilled() || counted.answer->parts().empty()) return failed("no frame count: " + outcome.describe());
    const std::string frames = counted.answer->parts().back();
    if (frames == "0") return failed("the device captured no frame");
    const std::string track = codecs.empty() ? "the screen track arrived" : "the screen track arrived (" + codecs + ")";
    return passed(track + "; the device captured " + shown(frames) +
                  " frames; the library hands the agent no received frames to count");
}

Check AgentScript::endSession() {
    return fulfilledWithin(client_->disconnect(true), answerSeconds, "the device was told");
}

}  // namespace quorvane::session
