#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

// One service of the local signature service, as its ready line names it.
struct LocalServiceEntry {
    std::string name;
    int apiVersion = 0;
    std::string auth;
    std::string sign;
    std::string docstore;  // empty without a document store
};

// The local signature service (nimbex-localservice) as a child process:
// started on free loopback ports, known by its ready line, stopped with
// SIGTERM. The child also gets SIGTERM when the demo dies, so an interrupted
// demo does not leave the service running.
class LocalServiceProcess {
  public:
    LocalServiceProcess() = default;
    ~LocalServiceProcess();
    LocalServiceProcess(const LocalServiceProcess&) = delete;
    LocalServiceProcess& operator=(const LocalServiceProcess&) = delete;

    // Starts `program` with its state in stateDir (and configFile when not
    // empty), its standard error going to logFile, and reads its ready line.
    // Throws std::runtime_error with what went wrong; the process is stopped
    // again first.
    void Start(const std::string& program, const std::string& stateDir,
               const std::string& configFile, const std::string& logFile);
    bool Running() const { return pid_ > 0; }
    // Sends SIGTERM and waits for the end. True when the service exited with
    // status 0; `how` says how it ended.
    bool Stop(std::string& how);

    pid_t pid() const { return pid_; }
    const std::vector<LocalServiceEntry>& services() const { return services_; }
    const std::string& caFile() const { return caFile_; }
    const std::string& discovery() const { return discovery_; }
    const std::string& admin() const { return admin_; }

  private:
    // Reads one line from the child's standard output; false at its end or
    // when nothing arrives within a minute.
    bool ReadReadyLine(int fd, std::string& line);

    pid_t pid_ = -1;
    std::vector<LocalServiceEntry> services_;
    std::string caFile_;
    std::string discovery_;
    std::string admin_;
};
