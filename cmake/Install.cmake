# cmake --install: the module, its message catalog and the platform stand-ins
# it runs on in the library directory, the public headers, nimbex.pc, and the programs. The
# libraries find each other through $ORIGIN, the programs find them in
# ../<libdir>, so the tree works wherever it is put.
include(GNUInstallDirs)

set_target_properties(nimbex nimbex_support nimbex_capi nimbex_http PROPERTIES
  INSTALL_RPATH "$ORIGIN")
install(TARGETS nimbex nimbex_support nimbex_capi nimbex_http
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")

set(NIMBEX_INSTALLED_PROGRAMS nimbex-cli nimbex-csphost nimbex-authapp nimbex-localservice)
set_target_properties(${NIMBEX_INSTALLED_PROGRAMS} PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS ${NIMBEX_INSTALLED_PROGRAMS} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The message catalog, found by the module in the CSP's library directory.
find_program(NIMBEX_GENCAT gencat REQUIRED)
add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/libnimbex.cat"
  COMMAND "${NIMBEX_GENCAT}" "${CMAKE_BINARY_DIR}/libnimbex.cat"
    "${CMAKE_SOURCE_DIR}/resources/libnimbex.msg"
  DEPENDS "${CMAKE_SOURCE_DIR}/resources/libnimbex.msg" VERBATIM)
add_custom_target(nimbex_catalog ALL DEPENDS "${CMAKE_BINARY_DIR}/libnimbex.cat")
install(FILES "${CMAKE_BINARY_DIR}/libnimbex.cat" DESTINATION "${CMAKE_INSTALL_LIBDIR}")

install(DIRECTORY "${CMAKE_SOURCE_DIR}/include/nimbex"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" FILES_MATCHING PATTERN "*.h")

# The prefix is worked out from where the file lies, so that an installed tree
# can be moved (or installed with --prefix) and still be found.
file(RELATIVE_PATH NIMBEX_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" NIMBEX_PC_UP "${NIMBEX_PC_UP}")
configure_file("${CMAKE_SOURCE_DIR}/cmake/nimbex.pc.in" "${CMAKE_BINARY_DIR}/nimbex.pc" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/nimbex.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
