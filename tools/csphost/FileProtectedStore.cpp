#include "FileProtectedStore.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace csphost {

namespace {

// Makes every missing directory of `path` with mode 0700.
bool MakeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

std::string HexDigest(const std::string& name) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(name.data(), name.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

bool WriteAll(int fd, const unsigned char* data, size_t length) {
    while (length) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FileProtectedStore::FileProtectedStore(std::string root) : root_(std::move(root)) {}

std::string FileProtectedStore::DefaultRoot() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/') return std::string(data) + "/nimbex-host";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/nimbex-host";
}

std::string FileProtectedStore::PathOf(bool machine, const std::string& name) const {
    return root_ + (machine ? "/machine/" : "/user/") + HexDigest(name);
}

bool FileProtectedStore::Set(bool machine, const std::string& name, const unsigned char* value,
                             size_t length) {
    const std::string path = PathOf(machine, name);
    if (!MakeDirectories(path.substr(0, path.rfind('/')))) return false;
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);  // created 0600
    if (fd < 0) return false;
    bool ok = (length == 0 || WriteAll(fd, value, length)) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool FileProtectedStore::Get(bool machine, const std::string& name,
                             std::vector<unsigned char>& value) const {
    const int fd = open(PathOf(machine, name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    if (ok) {
        value.assign(static_cast<size_t>(info.st_size), 0);
        size_t done = 0;
        while (ok && done < value.size()) {
            const ssize_t n = read(fd, value.data() + done, value.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += static_cast<size_t>(n);
        }
        if (!ok) {
            OPENSSL_cleanse(value.data(), value.size());
            value.clear();
        }
    }
    close(fd);
    return ok;
}

bool FileProtectedStore::Remove(bool machine, const std::string& name) {
    return unlink(PathOf(machine, name).c_str()) == 0;
}

}  // namespace csphost
