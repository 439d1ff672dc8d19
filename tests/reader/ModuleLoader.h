#pragma once
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <nimbex/reader.h>

#include <string>

namespace nimbex_test {

// The built libnimbex.so, loaded with dlopen as the CSP loads it.
class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = dlopen(NIMBEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        getTable_ = reinterpret_cast<const CloudReaderTable* (*)()>(
            dlsym(handle_, "cloud_reader_get_table"));
        ASSERT_NE(getTable_, nullptr) << dlerror();
        table_ = getTable_();
        ASSERT_NE(table_, nullptr);
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }

    // The handler of an id, or null when the table has no such id.
    CloudReaderHandler Handler(uintptr_t id) const {
        for (uintptr_t i = 0; i < table_->count; ++i)
            if (table_->functions[i].id == id) return table_->functions[i].handler;
        return nullptr;
    }
    uintptr_t Call(uintptr_t id, void* record, void* context = nullptr) const {
        CloudReaderHandler handler = Handler(id);
        EXPECT_NE(handler, nullptr) << std::hex << id;
        return handler ? handler(context, record) : ~uintptr_t(0);
    }

    void* handle_ = nullptr;
    const CloudReaderTable* (*getTable_)() = nullptr;
    const CloudReaderTable* table_ = nullptr;
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
