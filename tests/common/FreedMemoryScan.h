#pragma once
#include <initializer_list>
#include <string>

namespace nimbex_test {

// A binary that links nimbex_freed_memory_scan has the global operator new
// and delete replaced: while a scan is on, every block released through
// operator delete is searched for the scan's secrets before it is freed. A
// block that still holds one was released without being wiped. Blocks
// released inside the JSON library are counted apart: its parser and writer
// keep temporaries of their own, beyond the module's reach.
class FreedMemoryScan {
  public:
    // At most 8 secrets of at most 127 characters. Each is searched without
    // its first character: all that a moved-from short std::string loses.
    explicit FreedMemoryScan(std::initializer_list<const char*> secrets);
    ~FreedMemoryScan() { Stop(); }
    FreedMemoryScan(const FreedMemoryScan&) = delete;
    FreedMemoryScan& operator=(const FreedMemoryScan&) = delete;

    // Ends the scan (so does the destructor).
    void Stop();
    // Unwiped blocks released outside the JSON library; the first as text.
    int Leaks() const;
    std::string FirstLeak() const;
    // Unwiped blocks released by the JSON library.
    int LibraryLeaks() const;
};

}  // namespace nimbex_test
