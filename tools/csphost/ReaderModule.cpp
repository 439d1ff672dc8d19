#include "ReaderModule.h"

#include <dlfcn.h>

#include "HostError.h"

namespace csphost {

namespace {
const uint32_t kProviderDllFail = 0x8009001D;
const uint32_t kNotSupported = 0x80090029;
}  // namespace

ReaderModule::ReaderModule(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw HostError("Cannot load " + path + " (" + dlerror() + ")", kProviderDllFail);
    auto getTable =
        reinterpret_cast<const CloudReaderTable* (*)()>(dlsym(handle_, "cloud_reader_get_table"));
    table_ = getTable ? getTable() : nullptr;
    if (!table_) {
        dlclose(handle_);
        throw HostError(path + " has no reader table", kProviderDllFail);
    }
}

ReaderModule::ReaderModule(const CloudReaderTable* table) : table_(table) {
    if (!table_) throw HostError("No reader table", kProviderDllFail);
}

ReaderModule::~ReaderModule() {
    if (handle_) dlclose(handle_);
}

uint32_t ReaderModule::Call(uintptr_t id, void* context, void* record) const {
    for (uintptr_t i = 0; i < table_->count; ++i)
        if (table_->functions[i].id == id)
            return static_cast<uint32_t>(table_->functions[i].handler(context, record));
    throw HostError("The reader has no function " + std::to_string(id), kNotSupported);
}

void ReaderModule::Require(uintptr_t id, void* context, void* record, const char* what) const {
    const uint32_t rc = Call(id, context, record);
    if (rc != 0) throw HostError(what, rc);
}

}  // namespace csphost
