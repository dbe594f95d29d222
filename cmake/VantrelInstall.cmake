# What `cmake --install` puts where (GNUInstallDirs), and the Debian package made from it:
#
#   LIBDIR/libvantrelClientAPI_dynamic.so.VERSION, its soname link (.so.MAJOR) and .so
#   INCLUDEDIR/vantrel/*.h              the public headers (include/vantrel/ of the tree): the
#                                       client API, the base layer's messages and exceptions
#   LIBDIR/cmake/Vantrel/               find_package(Vantrel): the target Vantrel::client
#   LIBDIR/pkgconfig/vantrel.pc         pkg-config --cflags --libs vantrel
#   BINDIR/vantreld, BINDIR/vantrel     the reference server and the command-line tool
#   MANDIR/man1/vantrel.1, vantreld.1   their manual pages, made from their --help
#   DATAROOTDIR/bash-completion/completions/vantrel   the tool's bash completion
#   DATAROOTDIR/doc/vantrel/examples/   the example programs' sources
#
# The public tree include/vantrel/ is installed as it stands: programs include
# "vantrel/VantrelClientAPI.h" with INCLUDEDIR on their include path, as the tree's own code
# does with include/. It holds exactly the installed headers, each of which includes only
# the others (tests/install checks the installed tree, PublicHeadersCompileAlone the source's).
#
# Included from the top CMakeLists.txt once every target exists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(vantrel_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Vantrel)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/vantrel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

# A library built with sanitizers needs their run-time in every program that loads it: programs
# built against an installed sanitizer build link it too.
set(VANTREL_CONSUMER_LINK_FLAGS "")
if(VANTREL_SANITIZE OR VANTREL_FUZZ)
  set(VANTREL_CONSUMER_LINK_FLAGS -fsanitize=address,undefined)
elseif(VANTREL_TSAN)
  set(VANTREL_CONSUMER_LINK_FLAGS -fsanitize=thread)
endif()

# The CMake package: Vantrel::client, relocatable with the prefix. The same name works inside
# this tree, for projects that add it as a subdirectory.
set_target_properties(vantrelClientAPI_dynamic PROPERTIES EXPORT_NAME client)
add_library(Vantrel::client ALIAS vantrelClientAPI_dynamic)
target_include_directories(vantrelClientAPI_dynamic INTERFACE
                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
if(VANTREL_CONSUMER_LINK_FLAGS)
  target_link_options(vantrelClientAPI_dynamic INTERFACE
                      "$<INSTALL_INTERFACE:${VANTREL_CONSUMER_LINK_FLAGS}>")
endif()
install(TARGETS vantrelClientAPI_dynamic EXPORT VantrelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT VantrelTargets NAMESPACE Vantrel:: DESTINATION ${vantrel_package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VantrelConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/VantrelConfig.cmake
                              INSTALL_DESTINATION ${vantrel_package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VantrelConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VantrelConfig.cmake ${CMAKE_BINARY_DIR}/VantrelConfigVersion.cmake
        DESTINATION ${vantrel_package_dir})

# The pkg-config file names absolute folders, so it is written when installing, for the prefix
# given then (`cmake --install --prefix`), not the one the build was configured with.
string(JOIN " " pc_link_flags ${VANTREL_CONSUMER_LINK_FLAGS})
install(CODE "
  set(pc_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(pc_libdir \"${CMAKE_INSTALL_LIBDIR}\")
  set(pc_includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
  foreach(dir pc_libdir pc_includedir)
    if(NOT IS_ABSOLUTE \"\${\${dir}}\")
      set(\${dir} \"\\\${prefix}/\${\${dir}}\")
    endif()
  endforeach()
  set(pc_version \"${PROJECT_VERSION}\")
  set(pc_link_flags \"${pc_link_flags}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/vantrel.pc.in\" \"${CMAKE_BINARY_DIR}/vantrel.pc\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/vantrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The programs. The tool loads the shared library from the installed tree.
if(TARGET vantreld)
  install(TARGETS vantreld RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET vantrel)
  set_target_properties(vantrel PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS vantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages made from the programs' own --help (cmake/HelpToMan.cmake) whenever the
# programs change, the tool's bash completion, and the example programs under the package's
# documentation folder. A cross-build cannot run its programs: it installs no manual pages.
set(vantrel_man_summary_vantrel "find Vantrel servers, browse and change their node trees")
set(vantrel_man_summary_vantreld "serve a Vantrel node tree kept in a directory")
set(vantrel_man_subcommands_vantrel ON)
set(vantrel_man_subcommands_vantreld OFF)
foreach(program vantrel vantreld)
  if(TARGET ${program} AND NOT CMAKE_CROSSCOMPILING)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
              "-DSUMMARY=${vantrel_man_summary_${program}}" -DVERSION=${PROJECT_VERSION}
              -DSUBCOMMANDS=${vantrel_man_subcommands_${program}} -DOUTPUT=${page}
              -P ${CMAKE_CURRENT_LIST_DIR}/HelpToMan.cmake
      DEPENDS ${program} ${CMAKE_CURRENT_LIST_DIR}/HelpToMan.cmake
      COMMENT "Manual page of ${program}")
    add_custom_target(${program}_man_page ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
if(TARGET vantrel)
  install(FILES ${CMAKE_SOURCE_DIR}/tools/vantrel-completion.bash
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME vantrel)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrel/examples
        FILES_MATCHING PATTERN "*.cpp")

# `cpack -G DEB` in the build folder: one package with everything above.
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT "Vantrel developers <vantrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Vantrel client library, its headers and packages, the vantreld server and the vantrel tool")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_STRIP_FILES ON)
find_program(VANTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VANTREL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends: from what the binaries load
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libuuid1")
endif()
include(CPack)
