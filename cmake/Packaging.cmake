# `make package`: one Debian package per install component (CPack's DEB generator), named and
# split as Debian names and splits them:
#   lumet-cli      the command line, its manual page and bash completion (no Qt)
#   lumet          the desktop window, its manual page, desktop entry and icon
#   python3-lumet  the Python module, for the Python it was built for, and its type stub
#   liblumet1      the shared library and the codec modules every front end loads
#   liblumet-dev   the headers, the CMake package and the pkg-config file
# Each holds /usr/share/doc/<package>/copyright and changelog.gz; library dependencies are
# found by dpkg-shlibdeps. Text for the packages is in packaging/ (debian/README there says
# what the maintainer address is). The component of each file is set where it is installed (the
# window's in src/CMakeLists.txt).

set(LUMET_PACKAGE_CONTACT "Lumet maintainers <maintainers@lumet.example.org>" CACHE STRING
    "The Debian packages' maintainer (the default is a placeholder: see packaging/debian/README)")

# The documentation files, compressed as Debian ships them (gzip -9n: no name or time stamp,
# so the same sources give the same bytes).
set(lumet_doc_dir ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in ${lumet_doc_dir}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${lumet_doc_dir}/changelog @ONLY)
set(lumet_compressed_docs ${lumet_doc_dir}/changelog.gz)
add_custom_command(OUTPUT ${lumet_doc_dir}/changelog.gz
  COMMAND gzip -9nkf ${lumet_doc_dir}/changelog
  DEPENDS ${lumet_doc_dir}/changelog
  VERBATIM)
# lumet-cli writes its manual page after every link (src/cli/CMakeLists.txt).
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/share/man/man1/lumet-cli.1.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/share/man/man1/lumet-cli.1
  DEPENDS lumet-cli
  VERBATIM)
list(APPEND lumet_compressed_docs ${CMAKE_BINARY_DIR}/share/man/man1/lumet-cli.1.gz)
if(TARGET lumet)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/share/man/man1/lumet.1.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/man/lumet.1 ${CMAKE_BINARY_DIR}/share/man/man1/lumet.1
    COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/share/man/man1/lumet.1
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/man/lumet.1
    VERBATIM)
  list(APPEND lumet_compressed_docs ${CMAKE_BINARY_DIR}/share/man/man1/lumet.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/share/man/man1/lumet.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT Window)
endif()
add_custom_target(lumet_package_docs ALL DEPENDS ${lumet_compressed_docs})

set(lumet_packages Runtime Development CommandLine)
if(TARGET lumet)
  list(APPEND lumet_packages Window)
endif()
if(TARGET lumet_python)
  list(APPEND lumet_packages Python)
endif()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME liblumet${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liblumet-dev)
set(CPACK_DEBIAN_COMMANDLINE_PACKAGE_NAME lumet-cli)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME lumet)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-lumet)

# Every package's copyright and changelog, in a component install only (CPack's), not in a
# plain `cmake --install`.
foreach(component IN LISTS lumet_packages)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${lumet_doc_dir}/copyright ${lumet_doc_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${lumet_packages})
set(CPACK_PACKAGE_NAME lumet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${LUMET_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE lumet)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# liblumet1: the shared library (its shlibs file asks for this version or later) and the
# codec modules, which the programs and the Python module load from /usr/lib/lumet/.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# (A shlibs file for each package's libraries with a soname: liblumet1's only.)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs on a trigger, as Debian's library packages have it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/liblumet/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"multi-frame super-resolution library
Lumet registers a sequence of low-resolution frames of one scene and
reconstructs one high-resolution image of a region of interest, two, three or
four times larger.

This package holds the shared library and the codec modules (PNG, JPEG, TIFF,
other still formats and video) that the library and Lumet's programs load.")

set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
"multi-frame super-resolution library - development files
Lumet registers a sequence of low-resolution frames of one scene and
reconstructs one high-resolution image of a region of interest.

This package holds the C++ headers, the CMake package (find_package(Lumet))
and the pkg-config file (lumet) for building programs with liblumet.")

set(CPACK_COMPONENT_COMMANDLINE_DEPENDS Runtime)
set(CPACK_DEBIAN_COMMANDLINE_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_COMMANDLINE_DESCRIPTION
"multi-frame super-resolution - command line
Lumet registers a sequence of low-resolution frames of one scene, or the
frames of a video clip, and reconstructs one high-resolution image of a region
of interest, two, three or four times larger.

This package holds lumet-cli, which runs the registration and the
reconstruction headless, for scripts and batch jobs.")

set(CPACK_COMPONENT_WINDOW_DEPENDS Runtime)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
"multi-frame super-resolution - desktop window
Lumet registers a sequence of low-resolution frames of one scene, or the
frames of a video clip, and reconstructs one high-resolution image of a region
of interest, two, three or four times larger.

This package holds lumet, the desktop window: the parameters, a reference
viewer on which a click places the region, and a before/after comparison of
the results.")

if(TARGET lumet_python)
  # The module is built for one Python version (its file name says which).
  math(EXPR lumet_python_next "${LUMET_PYTHON_VERSION_MINOR} + 1")
  set(lumet_python_version ${LUMET_PYTHON_VERSION_MAJOR}.${LUMET_PYTHON_VERSION_MINOR})
  set(CPACK_COMPONENT_PYTHON_DEPENDS Runtime)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${lumet_python_version}), python3 (<< ${LUMET_PYTHON_VERSION_MAJOR}.${lumet_python_next}), python3-numpy")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
"multi-frame super-resolution - Python 3 module
Lumet registers a sequence of low-resolution frames of one scene and
reconstructs one high-resolution image of a region of interest, two, three or
four times larger.

This package holds the Python module lumet, whose functions take and return
numpy arrays, and its type stub.")
endif()

include(CPack)
