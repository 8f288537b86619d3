# SPDX-License-Identifier: MIT
# The Debian packages (`make package`: the package preset, configured for /usr so that
# GNUInstallDirs picks Debian's multiarch libdir, then cpack), one per install component:
#   kvx_<version>_amd64.deb      runtime: the tool with its man page and completion, the module
#                                folder with the envelope, the LV2 bundle and bridge; its
#                                dependencies found by dpkg-shlibdeps
#   kvx-dev_<version>_amd64.deb  dev: headers, static libraries, the CMake package, pkg-config,
#                                the entry point source, the schema, the example modules; depends
#                                on this very kvx and alone recommends the toolchain
# Each has the copyright file (machine-readable, the MIT licence from LICENSE) and the changelog
# in its /usr/share/doc/PACKAGE. Maintainer, home page and description: KvxProject.cmake.
include_guard(GLOBAL)

# /usr/share/doc/PACKAGE/copyright: LICENSE's text, minus its title and copyright line, as a
# machine-readable copyright file's licence paragraph (indented, blank lines as " .").
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
set(KVX_LICENSE_TEXT "")
foreach(line IN LISTS license_lines)
  if(line MATCHES "^(MIT License|Copyright)")
    continue()
  endif()
  if(line STREQUAL "")
    string(APPEND KVX_LICENSE_TEXT " .\n")
  else()
    string(APPEND KVX_LICENSE_TEXT " ${line}\n")
  endif()
endforeach()
string(REGEX REPLACE "^( \\.\n)+" "" KVX_LICENSE_TEXT "${KVX_LICENSE_TEXT}")
string(REGEX REPLACE "\n$" "" KVX_LICENSE_TEXT "${KVX_LICENSE_TEXT}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)

# /usr/share/doc/PACKAGE/changelog.gz: the Debian changelog, whose newest entry must be this version.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^kvx \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${newest}': add an entry for ${PROJECT_VERSION}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
find_program(KVX_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${KVX_GZIP} -9nf -k ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(kvx_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
foreach(component IN ITEMS runtime dev)
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${KVX_${upper}_PACKAGE} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# The descriptions quote module names; written to CPackConfig.cmake as they are.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_PACKAGE_NAME ${KVX_RUNTIME_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${KVX_MAINTAINER_NAME})
set(CPACK_PACKAGE_CONTACT ${KVX_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KVX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE ${KVX_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KVX_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Each package's description starts with its own summary line (CPACK_PACKAGE_DESCRIPTION_SUMMARY
# is left unset: CPack would put it before both).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${KVX_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${KVX_RUNTIME_SUMMARY}\n${KVX_RUNTIME_DESCRIPTION}")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${KVX_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "${KVX_DEV_SUMMARY}\n${KVX_DEV_DESCRIPTION}")
# The tool, the envelope and the bridge the author's modules are checked and bundled with.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${KVX_RUNTIME_PACKAGE} (= ${PROJECT_VERSION})")
# What a module author builds with; the musician's runtime package needs neither.
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "cmake (>= 3.25), g++ (>= 4:12) | clang (>= 1:14)")
include(CPack)
