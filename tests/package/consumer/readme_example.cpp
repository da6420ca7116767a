#include <quorvane/Quorvane.hpp>

#include <atomic>
#include <iostream>

class Host : public quorvane::QuorvaneDelegate {
public:
    void quorvaneDidConnect() override { std::cout << "connected to the peer\n"; }
    void quorvaneDidDisconnect(bool expected) override {
        std::cout << (expected ? "the peer ended the session\n" : "the connection was lost\n");
        ended = true;
        ended.notify_all();
    }

    std::atomic<bool> ended = false;
};

int main() {
    auto host = std::make_shared<Host>();  // the client holds its delegate weakly
    auto client = quorvane::QuorvaneClient::create("https://api.example.test", "KEY", /*retainLogs*/ false,
                                                   /*timeout*/ 30, nullptr, host, nullptr);
    try {
        const std::string pin = client->initiateSupportSession().wait();
        std::cout << "PIN: " << pin << '\n';
    } catch (const std::exception& error) {
        std::cout << "could not start the session: " << error.what() << '\n';
        return 1;
    }
    // The session runs until the peer ends it or the connection is lost or cannot be made; the
    // delegate hears of that on the library's main queue. The client must live until then.
    host->ended.wait(false);
}
