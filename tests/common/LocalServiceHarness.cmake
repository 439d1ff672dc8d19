# The harness that starts nimbex-localservice (LocalService.h), defined once for the tests and
# for benchmarks built without them. NIMBEX_PROGRAMS_FROM names another build directory whose
# nimbex-localservice and nimbex-authapp the harness starts instead of this build's (the
# ThreadSanitizer build takes those of the normal build rather than building its own).
set(NIMBEX_PROGRAMS_FROM "" CACHE PATH "A build directory with the local service and browser programs")
if(NOT TARGET nimbex_localservice_harness)
  add_library(nimbex_localservice_harness STATIC "${CMAKE_CURRENT_LIST_DIR}/LocalService.cpp")
  target_include_directories(nimbex_localservice_harness PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
  target_link_libraries(nimbex_localservice_harness PUBLIC PkgConfig::JSONCPP CURL::libcurl)
  if(NIMBEX_PROGRAMS_FROM)
    target_compile_definitions(nimbex_localservice_harness PRIVATE
      NIMBEX_LOCALSERVICE_PATH="${NIMBEX_PROGRAMS_FROM}/tools/localservice/nimbex-localservice"
      NIMBEX_AUTHAPP_PATH="${NIMBEX_PROGRAMS_FROM}/tools/authapp/nimbex-authapp")
  else()
    target_compile_definitions(nimbex_localservice_harness PRIVATE
      NIMBEX_LOCALSERVICE_PATH="$<TARGET_FILE:nimbex-localservice>"
      NIMBEX_AUTHAPP_PATH="$<TARGET_FILE:nimbex-authapp>")
    add_dependencies(nimbex_localservice_harness nimbex-localservice nimbex-authapp)
  endif()
endif()
