#pragma once
#include <support/support.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The module's only way into the configuration registry. Paths are
// backslash-separated ("\config\KeyDevices\Cloud\Timeout"). Every operation
// refuses a path longer than MaxRegistryPath with KelException("Too long
// config parameter", 87) before the registry is touched. A registry failure
// other than "not found" (2) raises KelException("<call> error: <code>", code)
// carrying the registry's own code. Outputs are written only on success.
constexpr size_t MaxRegistryPath = 4096;

// The value's text (exactly the bytes the registry reports); empty when absent.
std::string RegGetString(const std::string& path);
void RegPutString(const std::string& path, const std::string& text);

// False (value untouched) when absent.
bool RegGetLong(const std::string& path, int32_t& value);
void RegPutLong(const std::string& path, int32_t value);

// False (bytes untouched) when absent. Intermediate copies are wiped, so the
// function is fit for secrets; the caller wipes its own vector.
bool RegGetHex(const std::string& path, std::vector<unsigned char>& bytes);
void RegPutHex(const std::string& path, const std::vector<unsigned char>& bytes);
void RegPutHex(const std::string& path, const void* data, size_t size);

// Deleting an absent value is not an error.
void RegDeleteParam(const std::string& path);

// Deletes the section parent\name with everything below it. False when it did
// not exist. The parent section is kept (recreated when it went with its last
// subsection). An empty name is refused with KelException("Invalid config
// section name", 87) after the length checks.
bool RegDeleteSection(const std::string& parent, const std::string& name);

// A walk over the names of the subsections of one section. A section that does
// not exist (or cannot be opened) gives an empty walk, not an error.
class RegistrySearch {
  public:
    explicit RegistrySearch(const std::string& section);
    ~RegistrySearch();
    RegistrySearch(const RegistrySearch&) = delete;
    RegistrySearch& operator=(const RegistrySearch&) = delete;

    bool IsOpen() const { return handle_ != nullptr; }
    // The next entry name; the empty string when the walk is over.
    std::string Next();

  private:
    TSupRegSearch* handle_ = nullptr;
    bool finished_ = false;
};
