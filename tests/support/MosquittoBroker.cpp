#include "support/MosquittoBroker.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quorvane::testing {

namespace {

using namespace std::chrono_literals;

/// Starts `argv` with stdin from /dev/null and stdout and stderr appended to `logFile`. The child
/// gets SIGTERM when the thread that starts it ends, so that it never outlives its starter,
/// however that ends (SIGKILL included).
pid_t spawn(const std::vector<std::string>& argv, const std::string& logFile) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const std::string cannotStart = "cannot start " + argv[0] + "\n";
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (input < 0 || log < 0) throw std::runtime_error("cannot open " + logFile + ": " + std::strerror(errno));
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec. The parent may have ended before the
        // death signal was set: then it never comes, and the child ends here.
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
        dup2(input, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        // No signal blocked and default handlers, whatever the caller set.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int number = 1; number < NSIG; ++number) sigaction(number, &byDefault, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(args[0], args.data());
        (void)!write(STDERR_FILENO, cannotStart.data(), cannotStart.size());
        _exit(127);
    }
    const int forkError = errno;
    close(input);
    close(log);
    if (pid < 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(forkError));
    return pid;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Runs `argv` to its end; throws with its output when it fails.
void run(const std::vector<std::string>& argv, const std::string& logFile) {
    const pid_t pid = spawn(argv, logFile);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(argv[0] + " failed:\n" + readFile(logFile));
    }
}

std::uint16_t freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool accepts(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}  // namespace

MosquittoBroker::MosquittoBroker(std::string username, std::string password)
    : username_(std::move(username)), password_(std::move(password)) {
    char folder[] = "/tmp/quorvane-broker-XXXXXX";
    if (mkdtemp(folder) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    folder_ = folder;
    try {
        makeCertificates();
        port_ = freeLoopbackPort();
        writeConfiguration();
        start();
    } catch (...) {
        std::filesystem::remove_all(folder_);
        throw;
    }
}

MosquittoBroker::~MosquittoBroker() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void MosquittoBroker::makeCertificates() {
    const std::string tools = folder_ + "/openssl.log";
    const std::vector<std::string> ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    caFile_ = folder_ + "/ca.crt";
    certificateFile_ = folder_ + "/server.crt";
    keyFile_ = folder_ + "/server.key";
    std::vector<std::string> ca{"openssl", "req", "-x509"};
    ca.insert(ca.end(), ecKey.begin(), ecKey.end());
    ca.insert(ca.end(), {"-keyout", folder_ + "/ca.key", "-out", caFile_, "-days", "2", "-subj",
                         "/CN=Quorvane throw-away test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                         "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
    run(ca, tools);

    std::vector<std::string> request{"openssl", "req", "-new"};
    request.insert(request.end(), ecKey.begin(), ecKey.end());
    request.insert(request.end(), {"-keyout", keyFile_, "-out", folder_ + "/server.csr", "-subj",
                                   "/CN=localhost"});
    run(request, tools);

    std::ofstream(folder_ + "/server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                              "basicConstraints=CA:FALSE\n"
                                              "keyUsage=critical,digitalSignature\n"
                                              "extendedKeyUsage=serverAuth\n";
    run({"openssl", "x509", "-req", "-in", folder_ + "/server.csr", "-CA", caFile_, "-CAkey", folder_ + "/ca.key",
         "-CAcreateserial", "-out", certificateFile_, "-days", "2", "-extfile", folder_ + "/server.ext"},
        tools);
}

void MosquittoBroker::writeConfiguration() {
    const std::string passwords = folder_ + "/passwd";
    run({"mosquitto_passwd", "-b", "-c", passwords, username_, password_}, folder_ + "/passwd.log");
    configFile_ = folder_ + "/mosquitto.conf";
    logFile_ = folder_ + "/mosquitto.log";
    std::ofstream config(configFile_);
    config << "per_listener_settings false\n"
           << "allow_anonymous false\n"
           << "password_file " << passwords << "\n"
           << "persistence false\n"
           << "set_tcp_nodelay true\n"
           << "log_dest stderr\n"
           << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n";
    // As root, mosquitto would switch to its own user, which cannot read this folder.
    if (geteuid() == 0) config << "user root\n";
    config << "listener " << port_ << " " << host_ << "\n"
           << "cafile " << caFile_ << "\n"
           << "certfile " << certificateFile_ << "\n"
           << "keyfile " << keyFile_ << "\n";
    if (!config) throw std::runtime_error("cannot write " + configFile_);
}

void MosquittoBroker::start() {
    if (isRunning()) return;
    pid_ = spawn({"mosquitto", "-c", configFile_}, logFile_);
    waitUntilAccepting();
}

void MosquittoBroker::waitUntilAccepting() {
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (!accepts(port_)) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("mosquitto exited at start:\n" + log());
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("mosquitto does not accept connections:\n" + log());
        }
        std::this_thread::sleep_for(10ms);
    }
}

void MosquittoBroker::stop() {
    if (!isRunning()) return;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
}

std::string MosquittoBroker::log() const { return readFile(logFile_); }

}  // namespace quorvane::testing
