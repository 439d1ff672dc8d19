#pragma once
#include <string>

namespace nimbex_test {

// A scratch directory removed (recursively) on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The whole content of a file (empty when it cannot be read).
std::string FileText(const std::string& path);

// Points the platform stand-ins at fresh machine and user directories
// (NIMBEX_MACHINE_DIR, NIMBEX_USER_DIR, NIMBEX_RUNTIME_DIR) for the lifetime of
// the object and restores the previous values afterwards.
class TempEnv {
  public:
    TempEnv();
    ~TempEnv();
    TempEnv(const TempEnv&) = delete;
    TempEnv& operator=(const TempEnv&) = delete;
    std::string machineDir() const { return root_.path() + "/machine"; }
    std::string userDir() const { return root_.path() + "/user"; }
    std::string runtimeDir() const { return root_.path() + "/run"; }
    const std::string& root() const { return root_.path(); }

  private:
    TempDir root_;
    struct Saved {
        bool had;
        std::string value;
    };
    Saved saved_[3];  // of the three variables, in the order of their directories above
};

}  // namespace nimbex_test
