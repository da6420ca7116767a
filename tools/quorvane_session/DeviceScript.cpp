#include "DeviceScript.hpp"

#include <chrono>
#include <thread>

#include "Outcome.hpp"
#include "Text.hpp"

namespace quorvane::session {

namespace {

constexpr double startSeconds = 30;
/// The whole walkthrough, from the PIN to the agent's goodbye.
constexpr double sessionSeconds = 150;
/// The log upload starts with the disconnect report and is not reported; give it time to land.
constexpr auto uploadTime = std::chrono::seconds(1);

}  // namespace

bool DeviceScript::check(bool ok, const std::string& what) {
    console_.line(std::string(ok ? "  ok: " : "  FAILED: ") + what);
    return ok;
}

bool DeviceScript::run() {
    auto started = client_->initiateSupportSession();
    const auto outcome = waitFor(started, startSeconds);
    if (!outcome.fulfilled()) {
        console_.line("FAILED: no session: " + outcome.describe());
        return false;
    }
    console_.line("PIN: " + shown(started.wait()));
    events_.waitFor([](const auto& state) { return state.disconnectExpected.has_value(); }, sessionSeconds);
    std::this_thread::sleep_for(uploadTime);

    const auto state = events_.snapshot();
    console_.line("device's checks:");
    bool ok = check(state.connects > 0, "connected to the agent");
    ok = check(!state.chats.empty(), "chat from the agent arrived and was answered") && ok;
    ok = check(state.filesIntact == 1 && state.filesDamaged == 0, "the file arrived intact") && ok;
    ok = check(state.screenStarted && host_.screenFrames() > 0,
               "screen shared, " + std::to_string(host_.screenFrames()) + " frames captured") &&
         ok;
    ok = check(state.disconnectExpected == true, "the agent ended the session (expected disconnect)") && ok;
    return ok;
}

}  // namespace quorvane::session
