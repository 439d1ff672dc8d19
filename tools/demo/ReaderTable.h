#pragma once
#include <string>

// Loads the module at `path` with dlopen, as the CSP does, and prints the
// reader's names, its interface version and every function of its table with
// whether the module provides it. 0 on success; 1 (message on standard error)
// when the module cannot be loaded or has no reader table.
int ShowReaderTable(const std::string& path);
