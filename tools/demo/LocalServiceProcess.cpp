#include "LocalServiceProcess.h"

#include <fcntl.h>
#include <json/json.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

// How long the service may take to print its ready line: the first start
// creates a CA and RSA keys, which is slow under sanitizers.
const int kReadyLimitMs = 60 * 1000;
// How long the service may take to stop after SIGTERM before it is killed.
const int kStopLimitMs = 30 * 1000;

std::string Describe(int status) {
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
    return "ended with wait status " + std::to_string(status);
}

}  // namespace

LocalServiceProcess::~LocalServiceProcess() {
    std::string ignored;
    Stop(ignored);
}

void LocalServiceProcess::Start(const std::string& program, const std::string& stateDir,
                                const std::string& configFile, const std::string& logFile) {
    if (access(program.c_str(), X_OK) != 0)
        throw std::runtime_error(program + " is not an executable program");
    std::vector<std::string> args = {program, "--state-dir", stateDir};
    if (!configFile.empty()) {
        args.push_back("--config");
        args.push_back(configFile);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        // The service ends with the demo, whatever ends the demo.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        const int err = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    const bool got = ReadReadyLine(out[0], line);
    close(out[0]);

    Json::Value ready;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    const bool parsed = got &&
                        reader->parse(line.data(), line.data() + line.size(), &ready, &errors) &&
                        ready.isObject() && ready["ready"].asBool();
    if (!parsed) {
        std::string how;
        Stop(how);
        throw std::runtime_error(std::string(got ? "no ready line" : "no answer") +
                                 " from the service (" + how + ")");
    }
    caFile_ = ready["caFile"].asString();
    discovery_ = ready["discovery"].asString();
    admin_ = ready["admin"].asString();
    for (const Json::Value& s : ready["services"]) {
        LocalServiceEntry entry;
        entry.name = s["name"].asString();
        entry.apiVersion = s["apiVersion"].asInt();
        entry.auth = s["auth"].asString();
        entry.sign = s["sign"].asString();
        entry.docstore = s["docstore"].asString();
        services_.push_back(entry);
    }
}

bool LocalServiceProcess::ReadReadyLine(int fd, std::string& line) {
    int waited = 0;
    char buffer[4096];
    while (line.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 250);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) {
            waited += 250;
            if (waited >= kReadyLimitMs) return false;
            continue;
        }
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        line.append(buffer, static_cast<size_t>(n));
    }
    line.erase(line.find('\n'));
    return true;
}

bool LocalServiceProcess::Stop(std::string& how) {
    if (pid_ <= 0) {
        how = "not running";
        return false;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    pid_t r;
    int waited = 0;
    while ((r = waitpid(pid_, &status, WNOHANG)) == 0 && waited < kStopLimitMs) {
        usleep(50 * 1000);
        waited += 50;
    }
    bool killed = false;
    if (r == 0) {
        kill(pid_, SIGKILL);
        killed = true;
        while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    if (r < 0) {
        how = "could not be waited for";
        return false;
    }
    how = Describe(status);
    if (killed) {
        how = "did not stop on SIGTERM, killed";
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
