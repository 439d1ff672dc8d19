#pragma once
#include <gtest/gtest.h>
#include <nimbex/reader.h>

#include <string>

#include "ReaderModule.h"

namespace nimbex_test {

// The built libnimbex.so, loaded with dlopen as the CSP loads it (the CSP host's loader).
class ModuleTest : public ::testing::Test {
  protected:
    uint32_t Call(uintptr_t id, void* record, void* context = nullptr) const {
        return module_.Call(id, context, record);
    }

    csphost::ReaderModule module_{NIMBEX_MODULE_PATH};
};

}  // namespace nimbex_test

#include <stdio.h>
#include <unistd.h>

#include <functional>
#include <sstream>

namespace nimbex_test {

// Collects failed checks made in a child process.
class ChildChecks {
  public:
    template <class A, class B>
    void Equal(const A& actual, const B& expected, const char* what) {
        if (actual == expected) return;
        std::ostringstream out;
        out << what << ": got " << actual << ", expected " << expected << "\n";
        errors_ += out.str();
    }
    const std::string& errors() const { return errors_; }

  private:
    std::string errors_;
};

// Runs `body` in a forked child and expects it to report no failed check. The
// module opens its message catalog once per process, so every case that
// depends on the catalog runs in a fresh child.
inline void RunInChild(const std::function<void(ChildChecks&)>& body) {
    EXPECT_EXIT(
        {
            ChildChecks checks;
            body(checks);
            fputs(checks.errors().c_str(), stderr);
            fflush(stderr);
            _exit(checks.errors().empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace nimbex_test
