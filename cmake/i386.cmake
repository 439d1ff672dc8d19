# Toolchain for the 32-bit (ILP32) build on an amd64 Debian 12 host: gcc/g++ with -m32
# (gcc-multilib, g++-multilib) against Debian's multiarch :i386 libraries.
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake
# scripts/install-deps.sh --i386 installs what it needs; docs/i386.md tells the whole story.
# Not a cross build: the host runs the 32-bit programs (tests, tools) directly.

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# find_library/find_package look in lib/i386-linux-gnu (and its cmake/ folder); the
# 64-bit lib/x86_64-linux-gnu is never searched, so nothing 64-bit can slip into the link.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
                      /usr/lib/x86_64-linux-gnu/cmake /usr/lib/x86_64-linux-gnu/pkgconfig)

# pkg-config answers from the i386 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

