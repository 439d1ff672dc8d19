// The first part of the demo: loads libnimbex.so the way the CSP does, takes
// its reader table and shows what the reader answers.
//
// Whether a reader function is available is asked of the module itself: each
// handler is called with a null context and a null record. The reader
// interface requires every handler to answer that call without side effects
// (87 for a missing record or context, 0 for the handlers that accept null),
// and a function that the module does not provide answers 0x80090029.
// free_context and close_file accept a null context by contract, so their
// null answer says nothing about them: once create_context works, they are
// asked again with a real context (close_file first, then free_context
// releases it); before that they count as not available.
#include "ReaderTable.h"

#include <dlfcn.h>
#include <nimbex/reader.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const uintptr_t kNotSupported = 0x80090029;

struct FunctionName {
    uintptr_t id;
    const char* name;
};

const FunctionName kNames[] = {
    {0x1, "get_reader_name"},
    {0x2, "get_media_name"},
    {0x6, "clone_context"},
    {0x7, "free_context"},
    {0xC, "get_feature_bits"},
    {0x12, "get_interface_version"},
    {0x305, "get_reader_type"},
    {0x1000, "create_context"},
    {0x1001, "free_context"},
    {0x2301, "lock_reader"},
    {0x2302, "unlock_reader"},
    {0x2303, "count_services"},
    {0x2306, "set_machine_flag"},
    {0x2307, "get_media_info"},
    {0x2308, "set_media_param"},
    {0x2309, "get_media_limits"},
    {0x230A, "select_service"},
    {0x230B, "negotiate_version"},
    {0x230C, "set_callbacks"},
    {0x2310, "get_description"},
    {0x2311, "get_max_value"},
    {0x3300, "get_service_name"},
    {0x3302, "open_container_enum"},
    {0x3303, "next_container"},
    {0x3304, "close_container_enum"},
    {0x3305, "open_container"},
    {0x3306, "close_container"},
    {0x3311, "get_default_container"},
    {0x3312, "set_default_container"},
    {0x3315, "list_param_sets"},
    {0x5302, "drop_auth"},
    {0x5308, "create_hash"},
    {0x5309, "hash_data"},
    {0x530A, "get_hash_value"},
    {0x530B, "release_hash"},
    {0x530C, "verify_pin"},
    {0x6300, "delete_container"},
    {0x6302, "open_file"},
    {0x6303, "close_file"},
    {0x6304, "flush_file"},
    {0x630B, "change_pin"},
    {0x7300, "read_file"},
    {0x7301, "write_file"},
    {0x7302, "set_file_size"},
    {0x7303, "get_file_size"},
    {0x7304, "generate_key"},
    {0x7307, "sign_hash_split"},
    {0x730C, "agree_key"},
    {0x730D, "get_key_info"},
    {0x730E, "release_key"},
    {0x7311, "generate_rsa_key"},
    {0x7312, "sign_hash"},
    {0x7314, "get_rsa_key_range"},
};

const char* NameOf(uintptr_t id) {
    for (const FunctionName& f : kNames)
        if (f.id == id) return f.name;
    return "(unknown)";
}

CloudReaderHandler Find(const CloudReaderTable* table, uintptr_t id) {
    for (uintptr_t i = 0; i < table->count; ++i)
        if (table->functions[i].id == id) return table->functions[i].handler;
    return nullptr;
}

// Asks a text of the reader through a size/buffer record (length first).
std::string AskText(const CloudReaderTable* table, uintptr_t id) {
    CloudReaderHandler handler = Find(table, id);
    if (!handler) return "(no such function)";
    CloudSizeBufferRecord record = {0, nullptr};
    uintptr_t rc = handler(nullptr, &record);
    if (rc != 0) return "(error " + std::to_string(rc) + ")";
    std::vector<char> buffer(record.size + 1, '\0');
    record = {buffer.size(), buffer.data()};
    rc = handler(nullptr, &record);
    if (rc != 0) return "(error " + std::to_string(rc) + ")";
    return std::string(buffer.data(), record.size);
}

}  // namespace

int ShowReaderTable(const std::string& path) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
        return 1;
    }
    auto getTable =
        reinterpret_cast<const CloudReaderTable* (*)()>(dlsym(module, "cloud_reader_get_table"));
    if (!getTable) {
        std::fprintf(stderr, "%s has no cloud_reader_get_table\n", path.c_str());
        return 1;
    }
    const CloudReaderTable* table = getTable();
    std::printf("module:            %s\n", path.c_str());

    char name[16] = {};
    CloudReaderHandler readerName = Find(table, CLOUD_GET_READER_NAME);
    if (readerName && readerName(nullptr, name) == 0) std::printf("reader name:       %s\n", name);
    std::printf("media name:        %s\n", AskText(table, CLOUD_GET_MEDIA_NAME).c_str());
    std::printf("description:       %s\n", AskText(table, CLOUD_GET_DESCRIPTION).c_str());
    CloudInterfaceVersionRecord version = {};
    CloudReaderHandler getVersion = Find(table, CLOUD_GET_INTERFACE_VERSION);
    if (getVersion && getVersion(nullptr, &version) == 0)
        std::printf("interface version: %lu\n", static_cast<unsigned long>(version.version));
    std::printf("functions:         %lu\n\n", static_cast<unsigned long>(table->count));

    CloudReaderHandler create = Find(table, CLOUD_CREATE_CONTEXT);
    const bool contexts = create && create(nullptr, nullptr) != kNotSupported;
    // The answers of the two context-taking functions for a real context.
    uintptr_t closeFileAnswer = kNotSupported, freeContextAnswer = kNotSupported;
    CloudContextRecord created = {nullptr};
    if (contexts && create(nullptr, &created) == 0 && created.context) {
        CloudReaderHandler closeFile = Find(table, CLOUD_CLOSE_FILE);
        CloudReaderHandler freeContext = Find(table, CLOUD_FREE_CONTEXT);
        if (closeFile) closeFileAnswer = closeFile(created.context, nullptr);
        if (freeContext) freeContextAnswer = freeContext(created.context, nullptr);
    }
    unsigned available = 0;
    for (uintptr_t i = 0; i < table->count; ++i) {
        const CloudReaderFunction& f = table->functions[i];
        bool supported = f.handler(nullptr, nullptr) != kNotSupported;
        if (f.id == CLOUD_FREE_CONTEXT || f.id == CLOUD_FREE_CONTEXT_2)
            supported = freeContextAnswer != kNotSupported;
        if (f.id == CLOUD_CLOSE_FILE) supported = closeFileAnswer != kNotSupported;
        available += supported;
        std::printf("  0x%04lx  %-22s %s\n", static_cast<unsigned long>(f.id), NameOf(f.id),
                    supported ? "supported" : "not supported yet");
    }
    std::printf("\n%u of %lu functions supported\n", available,
                static_cast<unsigned long>(table->count));
    std::fflush(stdout);
    return 0;
}
