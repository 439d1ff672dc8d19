#pragma once
#include <string>

namespace csphost {

// Where the reader module is taken from: the given path, else $NIMBEX_MODULE,
// else libnimbex.so of the installed tree the program sits in (../<libdir>),
// else the one of the build tree the program was built in.
std::string ModuleLocation(const std::string& given);

}  // namespace csphost
