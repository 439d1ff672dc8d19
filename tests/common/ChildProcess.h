#pragma once
// Helpers for tests that fork child processes.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nimbex_test {

// Waits for the child to end (retrying interrupted waits); returns its status.
inline int WaitExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return status;
}

// A pipe over which a forked child tells its parent that it has reached a
// point. Open it before the fork; the child calls Signal, the parent Wait.
class ReadyPipe {
  public:
    // False when the pipe could not be made.
    bool Open() { return pipe(fds_) == 0; }

    // In the child: sends one byte; false when it could not be sent.
    bool Signal() {
        close(fds_[0]);
        const char byte = 1;
        return write(fds_[1], &byte, 1) == 1;
    }

    // In the parent: true when the child's byte came, false when the child
    // ended without sending it.
    bool Wait() {
        close(fds_[1]);
        char byte = 0;
        const bool received = read(fds_[0], &byte, 1) == 1;
        close(fds_[0]);
        return received;
    }

  private:
    int fds_[2] = {-1, -1};
};

}  // namespace nimbex_test
