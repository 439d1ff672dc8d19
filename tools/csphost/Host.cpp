#include "Host.h"

namespace csphost {

Host::Host(const std::string& modulePath, HostOptions options)
    : options_(std::move(options)), module_(new ReaderModule(modulePath)) {
    Init();
}

Host::Host(const CloudReaderTable* table, HostOptions options)
    : options_(std::move(options)), module_(new ReaderModule(table)) {
    Init();
}

Host::~Host() = default;

void Host::Init() {
    const std::string root = options_.storeDirectory.empty() ? FileProtectedStore::DefaultRoot()
                                                             : options_.storeDirectory;
    callbacks_.reset(new CspCallbacks(options_.pin, FileProtectedStore(root)));
}

ReaderInfo Host::Info() const {
    ReaderInfo info;
    char name[16] = {};
    module_->Require(CLOUD_GET_READER_NAME, nullptr, name, "get_reader_name");
    info.readerName = name;
    for (auto [id, text] : {std::make_pair(CLOUD_GET_MEDIA_NAME, &info.mediaName),
                            std::make_pair(CLOUD_GET_DESCRIPTION, &info.description)}) {
        char buffer[1024] = {};
        CloudSizeBufferRecord record{sizeof buffer, buffer};
        module_->Require(id, nullptr, &record, "reader text");
        *text = buffer;
    }
    return info;
}

std::vector<std::string> Host::ServiceNames() {
    Session session = Open();
    std::vector<std::string> names;
    const size_t count = session.ServiceCount();
    for (size_t i = 0; i < count; ++i) {
        session.Select(i);
        names.push_back(session.ServiceName());
    }
    return names;
}

Session Host::Open() {
    return Session(*module_, *callbacks_, options_);
}

Session Host::Open(size_t serviceIndex) {
    Session session = Open();
    session.Select(serviceIndex);
    return session;
}

Session Host::Open(const std::string& serviceName) {
    const std::vector<std::string> names = ServiceNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == serviceName) return Open(i);
    throw HostError("No service named " + serviceName, 2);
}

}  // namespace csphost
