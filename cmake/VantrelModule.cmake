# One module = one folder holding headers, sources and *_test.cpp files side by side.
#
#   vantrel_module(NAME [DEPS vt_other ...] [LIBS system-libs ...])
#
# builds the static library vt_NAME from the folder's sources (every *.cpp that is not a
# *_test.cpp), and, when tests are enabled, the executable NAME_tests from its *_test.cpp
# files, registered with CTest one test case at a time. Headers are included as
# "NAME/Header.h" relative to common/base, by their path from the source root for other
# trees ("vantrel/client/nodes/...") and, for the public headers, as "vantrel/Header.h"
# relative to include/.
# Every module library is folded into libvantrelClientAPI_dynamic.so unless NOT_IN_SHARED
# is given (for example the reference server).
set(VANTREL_INCLUDE_ROOTS ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/common/base
    ${CMAKE_SOURCE_DIR})

# Test files that reach for Linux (its system headers, fork, setenv, the test helpers built on
# them) are left out of a Windows build; the rest is built and run there too, but for its
# death tests (suites named *DeathTest): under Wine their child processes hang.
set(VANTREL_LINUX_ONLY_TEST_PATTERN
    "#include <(sys/|unistd|netinet/|arpa/|poll|fcntl|signal|linux/|pthread|ifaddrs|net/|dirent|pwd|grp|dlfcn)|(Tcp|Network|rc|VantrelClient|Tool|Transfer)TestSupport\\.h|FreePort\\.h|HostileServer\\.h|VantreldProcess\\.h|NamespaceHost\\.h|fork\\(|setenv\\(")
if(WIN32)
  set(VANTREL_TEST_FILTER "-*DeathTest.*")
else()
  set(VANTREL_TEST_FILTER "*")
endif()

function(vantrel_portable_tests list_var)
  set(portable)
  foreach(test ${${list_var}})
    file(STRINGS ${test} linux_only REGEX "${VANTREL_LINUX_ONLY_TEST_PATTERN}")
    if(linux_only)
      get_filename_component(test_name ${test} NAME)
      message(STATUS "Linux only, not built: ${test_name}")
    else()
      list(APPEND portable ${test})
    endif()
  endforeach()
  set(${list_var} ${portable} PARENT_SCOPE)
endfunction()

function(vantrel_module name)
  cmake_parse_arguments(M "NOT_IN_SHARED" "" "DEPS;LIBS;TEST_LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  # Platform twins: Foo_posix.cpp on Linux, Foo_win32.cpp on Windows.
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(WIN32)
    vantrel_portable_tests(tests)
  endif()

  if(sources)
    add_library(vt_${name}_objects OBJECT ${sources})
    target_include_directories(vt_${name}_objects PUBLIC ${VANTREL_INCLUDE_ROOTS})
    # The public classes are defined here, not imported from the shared library.
    target_compile_definitions(vt_${name}_objects PUBLIC VANTREL_BUILDING_LIBRARY)
    target_link_libraries(vt_${name}_objects PUBLIC ${M_DEPS} ${M_LIBS} Threads::Threads)
    add_library(vt_${name} STATIC $<TARGET_OBJECTS:vt_${name}_objects>)
    target_link_libraries(vt_${name} PUBLIC vt_${name}_objects)
    if(NOT M_NOT_IN_SHARED)
      set_property(GLOBAL APPEND PROPERTY VANTREL_SHARED_OBJECTS $<TARGET_OBJECTS:vt_${name}_objects>)
      set_property(GLOBAL APPEND PROPERTY VANTREL_SHARED_LIBS ${M_LIBS})
    endif()
  else()  # headers only, so far
    add_library(vt_${name} INTERFACE)
    target_include_directories(vt_${name} INTERFACE ${VANTREL_INCLUDE_ROOTS})
    target_compile_definitions(vt_${name} INTERFACE VANTREL_BUILDING_LIBRARY)
    target_link_libraries(vt_${name} INTERFACE ${M_DEPS} ${M_LIBS} Threads::Threads)
  endif()

  if(VANTREL_TESTS AND tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE vt_${name} ${M_TEST_LIBS}
                          GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         TEST_FILTER ${VANTREL_TEST_FILTER} PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# The client library: every module that asked to be part of it, whole.
function(vantrel_shared_library)
  get_property(objects GLOBAL PROPERTY VANTREL_SHARED_OBJECTS)
  get_property(libs GLOBAL PROPERTY VANTREL_SHARED_LIBS)
  add_library(vantrelClientAPI_dynamic SHARED ${objects})
  # The public headers need neither these libraries nor the source tree's folders once
  # installed (cmake/VantrelInstall.cmake says what programs outside the tree get).
  target_link_libraries(vantrelClientAPI_dynamic PRIVATE ${libs} Threads::Threads)
  target_include_directories(vantrelClientAPI_dynamic PUBLIC
                             "$<BUILD_INTERFACE:${VANTREL_INCLUDE_ROOTS}>")
  set_target_properties(vantrelClientAPI_dynamic PROPERTIES
                        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  if(WIN32)
    # vantrelClientAPI_dynamic.dll and its import library, without the "lib" of Unix names.
    set_target_properties(vantrelClientAPI_dynamic PROPERTIES PREFIX "" IMPORT_PREFIX "")
  endif()
endfunction()
