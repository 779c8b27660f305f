# Every build option, the warnings and sanitizers, and the helpers that
# register tests, fuzzers and the shared libraries.

option(VARDEL_ASAN "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VARDEL_TSAN "Build with ThreadSanitizer" OFF)
# Warnings are errors in CI (scripts/test turns it on there); elsewhere a newer
# compiler's new warnings do not break a user's build.
if(DEFINED ENV{CI})
  set(werror_default ON)
else()
  set(werror_default OFF)
endif()
option(VARDEL_WERROR "Treat compiler warnings as errors" ${werror_default})
# The fuzz targets carry AddressSanitizer, which cannot share a binary with
# ThreadSanitizer: a ThreadSanitizer build leaves them out.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT VARDEL_TSAN)
  set(fuzz_default ON)
else()
  set(fuzz_default OFF)
endif()
option(VARDEL_FUZZ "Build the libFuzzer targets (needs clang; not with VARDEL_TSAN)" ${fuzz_default})
if(VARDEL_FUZZ AND VARDEL_TSAN)
  message(STATUS "VARDEL_TSAN: the fuzz targets are not built")
  set(VARDEL_FUZZ OFF)
endif()
option(VARDEL_TESTS "Build the tests" ON)
option(VARDEL_PACKAGE "Configure the Debian package (scripts/package)" OFF)

# What a test of a sanitizer build needs in its environment.
set(VARDEL_SANITIZER_ENV "")
if(VARDEL_ASAN)
  set(VARDEL_SANITIZER_ENV "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp")
elseif(VARDEL_TSAN)
  # Qt, GLib, D-Bus and Net-SNMP are not instrumented: their memcpy, malloc
  # and free are not taken for accesses, their locking still orders.
  set(VARDEL_SANITIZER_ENV
      "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/tsan.supp:ignore_noninstrumented_modules=1")
endif()
# A leak inside a library built without frame pointers (Net-SNMP's MIB parser,
# Qt's D-Bus metaobject cache) meets its suppression only when the allocation
# is unwound in full, which is slow: the folders that drive them ask for it.
set(VARDEL_FULL_UNWIND_ENV "")
if(VARDEL_ASAN)
  set(VARDEL_FULL_UNWIND_ENV "ASAN_OPTIONS=fast_unwind_on_malloc=0")
endif()

add_library(vardel_options INTERFACE)
target_compile_options(vardel_options INTERFACE -Wall -Wextra)
if(VARDEL_WERROR)
  target_compile_options(vardel_options INTERFACE -Werror)
endif()
if(VARDEL_ASAN)
  target_compile_options(vardel_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(vardel_options INTERFACE -fsanitize=address,undefined)
endif()
if(VARDEL_TSAN)
  target_compile_options(vardel_options INTERFACE -fsanitize=thread)
  target_link_options(vardel_options INTERFACE -fsanitize=thread)
  # The runtime cannot follow the vfork-like clone with which QProcess starts
  # a child: every executable hands those to libc (cmake/tsan_clone.cpp).
  target_sources(vardel_options INTERFACE
    $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${PROJECT_SOURCE_DIR}/cmake/tsan_clone.cpp>)
endif()

# The Samba hosts of the network-browsing tests (scripts/samba-peers), started
# once per ctest run by the fixture samba_peers; the tag keeps the namespaces of
# two build trees apart. Their files are not in the build tree: smbd reads its
# browse list as the guest user, who may not pass through the build tree's
# parent directories.
string(MD5 samba_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${samba_hash}" 0 8 VARDEL_SAMBA_TAG)
set(VARDEL_SAMBA_DIR /tmp/vardel-samba-${VARDEL_SAMBA_TAG})

# vardel_add_gtest(NAME <name> SOURCES <files...> LIBS <targets...> [NETNS] [SERIAL] [SAMBA_PEERS]
#                  [ENV <k=v...>])
# One GoogleTest executable; each test case becomes its own ctest entry so that
# ctest -j spreads them. NETNS runs it in a fresh network namespace with lo up.
# SAMBA_PEERS needs the fixture samba_peers and tells the cases where its hosts
# are (tests/support/samba_peers.h); such cases join its namespaces themselves.
function(vardel_add_gtest)
  cmake_parse_arguments(T "NETNS;SERIAL;SAMBA_PEERS" "NAME;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock vardel_options)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # ThreadSanitizer runs the code several times slower.
  if(VARDEL_TSAN)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
  endif()
  # The environment and the namespace come through the launcher of each case:
  # gtest_discover_tests keeps only the first entry of an ENVIRONMENT list.
  if(T_SAMBA_PEERS)
    list(APPEND T_ENV VARDEL_SAMBA_PEERS=${VARDEL_SAMBA_TAG}:${VARDEL_SAMBA_DIR})
  endif()
  set(launcher env QT_QPA_PLATFORM=offscreen VARDEL_SOURCE_DIR=${PROJECT_SOURCE_DIR}
      VARDEL_PROGRAM_DIR=${VARDEL_PROGRAM_DIR} ${VARDEL_SANITIZER_ENV} ${T_ENV})
  if(T_NETNS)
    list(APPEND launcher ${PROJECT_SOURCE_DIR}/scripts/in-netns)
  endif()
  # Set before discovery, which reads it for both listing and running the cases.
  set_property(TARGET ${T_NAME} PROPERTY CROSSCOMPILING_EMULATOR ${launcher})
  # SERIAL: cases that flood a socket run alone, so that a loaded machine
  # does not starve their receiver.
  set(properties "")
  if(T_SERIAL)
    list(APPEND properties RUN_SERIAL TRUE)
  endif()
  if(T_SAMBA_PEERS)
    list(APPEND properties FIXTURES_REQUIRED samba_peers)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    TEST_PREFIX "${T_NAME}."
    PROPERTIES TIMEOUT ${T_TIMEOUT} ${properties})
endfunction()

# vardel_add_fuzzer(NAME <name> SOURCES <files...> [LIBS <targets...>] [SECONDS n])
# A libFuzzer target built from its own sources (listed, so they get coverage
# instrumentation) and a ctest entry that runs it for SECONDS (default 30).
function(vardel_add_fuzzer)
  if(NOT VARDEL_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "NAME;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 30)
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} vardel_options)
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(VARDEL_TESTS)
    add_test(NAME fuzz.${F_NAME}
      COMMAND ${F_NAME} -max_total_time=${F_SECONDS} -rss_limit_mb=2048 -print_final_stats=1)
    set_tests_properties(fuzz.${F_NAME} PROPERTIES TIMEOUT ${F_SECONDS}0)
  endif()
endfunction()

# vardel_add_folder_tests(PREFIX <prefix> LIBS <targets...> [SERIAL <names...>] [SAMBA_PEERS <names...>]
#                         [ENV <k=v...>])
# Each tests/<name>_test.cpp of the calling folder is one test program
# <prefix>_<name>_test; a name ending in _netns_test runs in a network namespace.
function(vardel_add_folder_tests)
  cmake_parse_arguments(F "" "PREFIX" "LIBS;SERIAL;SAMBA_PEERS;ENV" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    set(netns "")
    if(name MATCHES "_netns_test$")
      set(netns NETNS)
    endif()
    set(serial "")
    if(name IN_LIST F_SERIAL)
      set(serial SERIAL)
    endif()
    set(samba "")
    if(name IN_LIST F_SAMBA_PEERS)
      set(samba SAMBA_PEERS)
    endif()
    vardel_add_gtest(NAME ${F_PREFIX}_${name} SOURCES ${src} LIBS ${F_LIBS} ${netns} ${serial} ${samba} ENV ${F_ENV})
  endforeach()
endfunction()

# vardel_set_install_rpath(<file name>)
# Install step: the installed file's run path becomes the install directory
# alone. Call it after the file's install rule and before any setcap on it
# (writing a file drops its capabilities).
function(vardel_set_install_rpath file)
  install(CODE "file(RPATH_SET FILE \"\$ENV{DESTDIR}${VARDEL_INSTALL_DIR}/${file}\" NEW_RPATH \"${VARDEL_INSTALL_DIR}\")")
endfunction()

# vardel_add_shared_library(<name> SOURCES <files...> [LIBS <targets...>])
# One of the shared libraries: public headers in its folder, hidden visibility,
# exports fixed by <name>.map beside the CMakeLists, no undefined symbols.
function(vardel_add_shared_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${L_SOURCES})
  target_link_libraries(${name} PRIVATE ${L_LIBS} vardel_options)
  set(map ${CMAKE_CURRENT_SOURCE_DIR}/${name}.map)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${map})
  target_link_options(${name} PRIVATE -Wl,--version-script=${map})
  if(NOT VARDEL_ASAN AND NOT VARDEL_TSAN)
    # The sanitizer runtimes are linked into the executables only.
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
