# Install rules and the Debian packages: libwavcreate1 (the shared library), libwavcreate-dev
# (header, link, CMake package, pkg-config file) and wavcreate (the tool and its manual page).
# Included by the top-level project only.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(WAVCREATE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/wavcreate)
set(WAVCREATE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(WAVCREATE_MAINTAINER "wavcreate developers <maintainers@users.noreply.c-seed-f0700ee4.example>"
    CACHE STRING "Maintainer of the Debian packages, as 'Name <address>'")

# Shared libraries are not executable on Debian.
install(TARGETS wavcreate EXPORT wavcreateTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(EXPORT wavcreateTargets NAMESPACE wavcreate:: DESTINATION ${WAVCREATE_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(cmake/wavcreateConfig.cmake.in
  ${PROJECT_BINARY_DIR}/wavcreateConfig.cmake INSTALL_DESTINATION ${WAVCREATE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/wavcreateConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/wavcreateConfig.cmake
              ${PROJECT_BINARY_DIR}/wavcreateConfigVersion.cmake
        DESTINATION ${WAVCREATE_CMAKE_DIR} COMPONENT development)

# The pkg-config file finds the prefix from its own folder, so the installed tree can move.
file(RELATIVE_PATH WAVCREATE_PC_PREFIX_FROM_PCDIR /prefix/${WAVCREATE_PKGCONFIG_DIR} /prefix)
configure_file(cmake/wavcreate.pc.in ${PROJECT_BINARY_DIR}/wavcreate.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/wavcreate.pc DESTINATION ${WAVCREATE_PKGCONFIG_DIR}
  COMPONENT development)

if(WAVCREATE_BUILD_TOOL)
  install(TARGETS wavcreate_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()

# Manual pages and changelogs are installed compressed, without a time stamp in the gzip
# header, so that the packages build the same every time.
find_program(GZIP_EXECUTABLE gzip)
function(wavcreate_install_gzipped source destination component)
  get_filename_component(name ${source} NAME)
  if(NOT GZIP_EXECUTABLE)
    install(FILES ${source} DESTINATION ${destination} COMPONENT ${component})
    return()
  endif()
  set(compressed ${PROJECT_BINARY_DIR}/gzipped/${component}/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/gzipped/${component}
    COMMAND ${GZIP_EXECUTABLE} -9nc ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  add_custom_target(gzip_${component}_${name} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${destination} COMPONENT ${component})
endfunction()

if(WAVCREATE_BUILD_TOOL)
  wavcreate_install_gzipped(${PROJECT_SOURCE_DIR}/docs/wavcreate.1 ${CMAKE_INSTALL_MANDIR}/man1 tool)
endif()

# Every package carries the licence as a machine-readable copyright file, and the changelog.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^.*(Permission is hereby granted)" "\\1" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " WAVCREATE_LICENSE_BODY " ${license}")
configure_file(cmake/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
configure_file(cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)

set(WAVCREATE_DEBIAN_PACKAGES runtime libwavcreate1 development libwavcreate-dev tool wavcreate)
set(components runtime development)
if(WAVCREATE_BUILD_TOOL)
  list(APPEND components tool)
endif()
foreach(component IN LISTS components)
  list(FIND WAVCREATE_DEBIAN_PACKAGES ${component} index)
  math(EXPR index "${index} + 1")
  list(GET WAVCREATE_DEBIAN_PACKAGES ${index} package)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright DESTINATION ${doc} COMPONENT ${component})
  wavcreate_install_gzipped(${PROJECT_BINARY_DIR}/debian/changelog ${doc} ${component})
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${COMPONENT}_FILE_NAME DEB-DEFAULT)
endforeach()

# Each package's description starts with its own synopsis. CPack puts the project's summary in
# front of every description unless the summary is CPack's default, so that is what it gets.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_NAME wavcreate)
set(CPACK_PACKAGE_VENDOR "wavcreate developers")
set(CPACK_PACKAGE_CONTACT "${WAVCREATE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(about "libwavcreate turns a line of text into an 8-bit mono WAVE file at 2000 samples
per second: every character becomes one tone whose frequency is 31 times its
Windows-1252 code, a space a pause, and the end of the text a last silent tone.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_MULTIARCH same)
# The loader's cache is refreshed by dpkg's ldconfig trigger.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
install(FILES cmake/debian/libwavcreate1.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME libwavcreate1 COMPONENT runtime)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "library that renders text as a WAVE file of tones
${about}

This package contains the shared library, whose one function is WAVCreate.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_MULTIARCH same)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libwavcreate1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "library that renders text as tones - development files
${about}

This package contains the C header, the link to the shared library, a CMake
package and a pkg-config file.")

set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "renders a line of text as a WAVE file of tones
${about}

This package contains the command-line tool, which writes to a file or to
standard output.")
include(CPack)
