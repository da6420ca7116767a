// A host program of the installed package: a delegate, a client, and a start-up that fails (no
// service listens on the port), whose error arrives as the rejection of its promise.
#include <quorvane/Quorvane.hpp>

#include <iostream>

class Host : public quorvane::QuorvaneDelegate {
public:
    void quorvaneDidConnect() override { std::cout << "connected to the peer\n"; }
    void quorvaneDidDisconnect(bool expected) override {
        std::cout << (expected ? "the peer ended the session\n" : "the connection was lost\n");
    }
};

int main() {
    auto host = std::make_shared<Host>();  // the client holds its delegate weakly
    auto client = quorvane::QuorvaneClient::create("http://127.0.0.1:9", "key", /*retainLogs*/ false,
                                                   /*timeout*/ 30, nullptr, host, nullptr);
    client->setLogger(nullptr);  // no library lines on standard output
    try {
        const std::string pin = client->initiateSupportSession().wait();
        std::cout << "PIN: " << pin << '\n';
    } catch (const quorvane::QuorvaneError& error) {
        // wait() on a rejected promise throws its error.
        std::cout << "could not start the session: " << error.what() << '\n';
        return error.kind() == quorvane::QuorvaneError::Kind::networkRequestFailed ? 0 : 1;
    }
    return 1;
}
