# Shared build settings and helpers for every ZRQ target.

add_compile_options(-Wall -Wextra)
if(ZRQ_WERROR)
  add_compile_options(-Werror)
endif()

# Plain builds get the distribution's hardening (what dpkg-buildflags gives a
# package): fortified libc calls, a stack protector, relocations made
# read-only and bound at start.
if(ZRQ_SANITIZE STREQUAL "" AND NOT ZRQ_FUZZ)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security
    "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

if(ZRQ_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ZRQ_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ZRQ_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZRQ_SANITIZE must be '', 'address' or 'thread'")
endif()
# Sanitizer instrumentation makes g++ 12 see uninitialised values inside the
# standard library's own headers (std::regex, std::function): false positives.
if(NOT ZRQ_SANITIZE STREQUAL "" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-maybe-uninitialized)
endif()

if(ZRQ_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZRQ_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # Instrument every library for coverage; only fuzz targets link the driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# A tests folder is left out of a build without tests (the fuzz build still
# needs the test peers some fuzzers link).
function(zrq_add_optional_subdirectory dir)
  if(dir STREQUAL "tests" AND NOT ZRQ_TESTS AND NOT ZRQ_FUZZ)
    return()
  endif()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endfunction()

# Environment every test runs in: no display, private runtime and log folders,
# so tests never touch the user's files nor each other's lock files.
set(ZRQ_TEST_ENV
  "QT_QPA_PLATFORM=offscreen"
  "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-runtime"
  "ZRQ_LOG_DIR=${CMAKE_BINARY_DIR}/test-logs"
  "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config"
  "ZRQ_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
  "ZRQ_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-runtime ${CMAKE_BINARY_DIR}/test-logs
  ${CMAKE_BINARY_DIR}/test-config)
file(CHMOD ${CMAKE_BINARY_DIR}/test-runtime PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

# zrq_add_gtest(name SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [TIMEOUT s])
# One executable per behaviour area; every case becomes its own CTest test.
function(zrq_add_gtest name)
  if(NOT ZRQ_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  # gtest_discover_tests flattens list-valued PROPERTIES to their first item, so
  # the environment rides on the emulator, which discovery and every run use.
  set_target_properties(${name} PROPERTIES
    CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${ZRQ_TEST_ENV}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    # One locale whatever the user's (the decimal-comma runs name theirs).
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}" ENVIRONMENT "LC_ALL=C.UTF-8")
endfunction()

# Seconds each fuzzer runs in CTest; longer runs find more, the suite's time
# bounds it.
set(ZRQ_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs in CTest")

# zrq_add_fuzzer(name SOURCES a.cpp ... LIBS lib ... CORPUS dir [SECONDS n])
# Built only in the clang fuzz build; the CTest test runs it for a bounded time
# on a copy of its seed corpus, so a run never rewrites the committed seeds.
function(zrq_add_fuzzer name)
  if(NOT ZRQ_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS ${ZRQ_FUZZ_SECONDS})
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ${ZRQ_TEST_ENV}
            sh -c "rm -rf '${work}' && mkdir -p '${work}/corpus' && cp -r '${F_CORPUS}/.' '${work}/corpus/' && cd '${work}' && '$<TARGET_FILE:${name}>' -max_total_time=${F_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 corpus")
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
