#include "base/SecretString.h"

SecretString::~SecretString() {
    // Shrinking an empty string hands a heap buffer back through the
    // allocator (which wipes it) and returns to the buffer inside the object;
    // that one is wiped here.
    clear();
    shrink_to_fit();
    Wipe();
}

SecretString& SecretString::operator=(const char* text) {
    assign(text);
    return *this;
}

void SecretString::Wipe() noexcept {
    // Within the capacity resize() keeps the buffer, so all of it is wiped.
    resize(capacity());
    WipeBytes(&(*this)[0], size());
    clear();
}
