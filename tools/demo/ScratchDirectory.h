#pragma once
#include <string>

// A fresh private directory under $TMPDIR (or /tmp) for one run of the demo,
// removed with everything below it by Remove() or at destruction.
class ScratchDirectory {
  public:
    // Throws std::runtime_error when the directory cannot be made.
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& path() const { return path_; }
    // A subdirectory, created on first use.
    std::string Sub(const std::string& name) const;
    // Removes the directory; false (with the reason in `error`) when it could
    // not be removed completely. Calling it again does nothing.
    bool Remove(std::string& error);

  private:
    std::string path_;
};
