# varnoks_add_test(name source...): a Qt Test executable linked to the core
# library, registered with CTest and run offscreen, in C.UTF-8, with its own XDG folders.
function(varnoks_add_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE varnoks_core varnoks_testsupport Qt5::Test)
  add_test(NAME ${name} COMMAND ${name})
  set(xdg ${CMAKE_BINARY_DIR}/test-xdg/${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;XDG_CONFIG_HOME=${xdg}/config;XDG_STATE_HOME=${xdg}/state;XDG_DATA_HOME=${xdg}/data;XDG_CACHE_HOME=${xdg}/cache;XDG_RUNTIME_DIR=${xdg}/runtime;VARNOKS_LOG_DIR=${xdg}/logs;VARNOKS_BIN_DIR=${CMAKE_BINARY_DIR}/bin;VARNOKS_SOURCE_DIR=${CMAKE_SOURCE_DIR};VARNOKS_UPDATE_SERVER=127.0.0.1:1")
  file(MAKE_DIRECTORY ${xdg}/runtime)
  file(CHMOD ${xdg}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()
