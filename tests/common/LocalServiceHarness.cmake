# The harness that starts nimbex-localservice (LocalService.h), defined once for the tests and
# for benchmarks built without them.
if(NOT TARGET nimbex_localservice_harness)
  add_library(nimbex_localservice_harness STATIC "${CMAKE_CURRENT_LIST_DIR}/LocalService.cpp")
  target_include_directories(nimbex_localservice_harness PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
  target_link_libraries(nimbex_localservice_harness PUBLIC PkgConfig::JSONCPP CURL::libcurl)
  target_compile_definitions(nimbex_localservice_harness PRIVATE
    NIMBEX_LOCALSERVICE_PATH="$<TARGET_FILE:nimbex-localservice>"
    NIMBEX_AUTHAPP_PATH="$<TARGET_FILE:nimbex-authapp>")
  add_dependencies(nimbex_localservice_harness nimbex-localservice nimbex-authapp)
endif()
