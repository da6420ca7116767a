// quorvane_broker: a mosquitto broker with one TLS listener on a free port of 127.0.0.1, a
// throw-away CA and one user, for scripts. Once it accepts connections it prints shell
// assignments (MQTT_HOST, MQTT_PORT, MQTT_CA_FILE, MQTT_CERT_FILE, MQTT_KEY_FILE, MQTT_USERNAME,
// MQTT_PASSWORD), then runs until SIGINT or SIGTERM, stops the broker and removes its files.

#include <pthread.h>

#include <csignal>
#include <iostream>
#include <string>

#include "support/MosquittoBroker.hpp"

namespace {

const char* usage =
    "usage: quorvane_broker [--username NAME] [--password PASSWORD]\n"
    "  defaults: quorvane and session-token\n"
    "Prints, once the broker accepts connections on 127.0.0.1, shell assignments: MQTT_HOST,\n"
    "MQTT_PORT, MQTT_CA_FILE (the throw-away CA), MQTT_CERT_FILE and MQTT_KEY_FILE (the broker's\n"
    "certificate and key, for 127.0.0.1 and localhost), MQTT_USERNAME, MQTT_PASSWORD. Runs until\n"
    "SIGINT or SIGTERM, then removes its files.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string username = "quorvane";
    std::string password = "session-token";
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << usage;
            return 0;
        }
        if (i + 1 >= argc || (option != "--username" && option != "--password")) {
            std::cerr << "quorvane_broker: unknown option or missing value: " << option << "\n" << usage;
            return 2;
        }
        (option == "--username" ? username : password) = argv[++i];
    }

    // Block the stop signals before any thread starts, then wait for one of them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        quorvane::testing::MosquittoBroker broker(username, password);
        std::cout << "MQTT_HOST=" << broker.host() << "\nMQTT_PORT=" << broker.port()
                  << "\nMQTT_CA_FILE=" << broker.caFile() << "\nMQTT_CERT_FILE=" << broker.certificateFile()
                  << "\nMQTT_KEY_FILE=" << broker.keyFile() << "\nMQTT_USERNAME=" << broker.username()
                  << "\nMQTT_PASSWORD=" << broker.password() << std::endl;
        int received = 0;
        sigwait(&signals, &received);
    } catch (const std::exception& error) {
        std::cerr << "quorvane_broker: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
