# Installation: the public header, the shared library, the command-line tool,
# a pkg-config file and a CMake package, in the GNUInstallDirs places. Every
# installed file finds the others relative to itself, so the tree may be
# installed under any prefix (cmake --install --prefix) and moved afterwards.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QG_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quenmar-grep)

# The shared library's usage requirements hold only the public include folder
# (BUILD_INTERFACE / INSTALL_INTERFACE); yyjson is linked PRIVATE and the core
# objects are compiled in, so neither reaches the exported target.
set_target_properties(quenmar-grep PROPERTIES EXPORT_NAME quenmar-grep)
install(TARGETS quenmar-grep EXPORT quenmar-grepTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/quenmar_grep.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(TARGET quenmar-grep-cli)
  install(TARGETS quenmar-grep-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

# ---- CMake package: find_package(quenmar-grep) gives quenmar-grep::quenmar-grep ----
install(EXPORT quenmar-grepTargets NAMESPACE quenmar-grep::
  DESTINATION ${QG_CMAKE_PACKAGE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quenmar-grepConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quenmar-grepConfig.cmake INSTALL_DESTINATION ${QG_CMAKE_PACKAGE_DIR})
# The SONAME changes only with the major version, and so does compatibility.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quenmar-grepConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quenmar-grepConfig.cmake
  ${PROJECT_BINARY_DIR}/quenmar-grepConfigVersion.cmake
  DESTINATION ${QG_CMAKE_PACKAGE_DIR} COMPONENT development)

# ---- pkg-config ----
# The prefix is found from the .pc file's own place (${pcfiledir}), which keeps
# the file right under any install prefix. No Requires.private: only the
# shared library is installed, which carries its yyjson dependency itself, and
# a host that never links yyjson should not need yyjson's .pc file to build.
set(QG_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(QG_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(QG_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${QG_PC_DIR}")
  set(QG_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH QG_PC_UP /qg/${QG_PC_DIR} /qg)
  string(REGEX REPLACE "/$" "" QG_PC_UP "${QG_PC_UP}")
  set(QG_PC_PREFIX "\${pcfiledir}/${QG_PC_UP}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/quenmar-grep.pc.in
  ${PROJECT_BINARY_DIR}/quenmar-grep.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quenmar-grep.pc
  DESTINATION ${QG_PC_DIR} COMPONENT development)

# ---- The installed tree works for a C host (normal builds only) ----
if(QG_BUILD_TESTS AND QG_SANITIZER STREQUAL "none" AND NOT WIN32)
  add_test(NAME install_tree
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh
            ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR}/tests/install
            ${CMAKE_COMMAND} ${CMAKE_C_COMPILER} ${CMAKE_GENERATOR} ${PROJECT_VERSION})
  # The README's examples, run as written against this build: the tool's
  # tour, the C host against the build and the installed tree, the Python
  # package installed by pip, the Node.js package installed by npm.
  find_program(QG_README_PYTHON3 NAMES python3)
  if(QG_README_PYTHON3 AND TARGET quenmar-grep-cli)
    add_test(NAME readme_examples
      COMMAND ${QG_README_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/readme/readme_test.py
              ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    set_tests_properties(readme_examples PROPERTIES TIMEOUT 900)
  endif()
endif()

# The wheel and the npm tarball, installed away from the clone, running the
# README's and docs/mcp.md's examples (the library and the addon of this
# build; not under a sanitizer, whose runtime an interpreter lacks).
find_program(QG_PACKAGE_NPM NAMES npm)
if(QG_BUILD_TESTS AND QG_README_PYTHON3 AND QG_PACKAGE_NPM AND TARGET quenmar_grep_node
   AND NOT WIN32 AND QG_SANITIZER STREQUAL "none")
  add_test(NAME package_install
    COMMAND ${QG_README_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/install/package_test.py
            ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(package_install PROPERTIES TIMEOUT 900)
endif()

# The command-line tests run the built tool, so building them builds it too.
if(TARGET cli_test)
  add_dependencies(cli_test quenmar-grep-cli)
endif()
