# SPDX-License-Identifier: MIT
# What `cmake --install` puts where for module authors and hosts: the plug-in base, the host
# library and the description reader (static) with their headers under include/kvx/, the entry point source and version
# script that kvx_add_module_library compiles into each module, the CMake package (targets,
# version, kvx_add_module_library), the description schema, the example modules and a pkg-config
# file for the host library: the dev component. The tool, its man page and completion, the LV2
# bundle (tools/kvx), the bridge (lv2) and the envelope module (modules/adsr) are the runtime
# component. Every install() in the tree names one of the two; each becomes a Debian package
# (KvxPackage.cmake), and scripts/check-devkit finds a file that is in neither.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

# The packages the components become: the runtime for the musician, the dev one for the module
# author, with its own documentation folder (the example modules).
set(KVX_RUNTIME_PACKAGE kvx)
set(KVX_DEV_PACKAGE kvx-dev)
set(KVX_INSTALL_DEV_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${KVX_DEV_PACKAGE})

set(KVX_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kvx)
set(KVX_INSTALL_MODULE_SOURCE_DIR ${CMAKE_INSTALL_DATADIR}/kvx/module)

set_target_properties(kvx_interfaces PROPERTIES EXPORT_NAME interfaces)
set_target_properties(kvx_plugin PROPERTIES EXPORT_NAME plugin)
set_target_properties(kvx_host PROPERTIES EXPORT_NAME host)
set(KVX_INSTALLED_LIBRARIES kvx_interfaces kvx_plugin kvx_host)
if(TARGET kvx_describe)  # not built when a module's project embeds kvx
  set_target_properties(kvx_describe PROPERTIES EXPORT_NAME describe)
  list(APPEND KVX_INSTALLED_LIBRARIES kvx_describe)
endif()
install(TARGETS ${KVX_INSTALLED_LIBRARIES} EXPORT kvxTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY ${KVX_STAGED_INCLUDE_DIR}/kvx DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(FILES ${KVX_STAGED_MODULE_DIR}/entry_point.cpp ${KVX_MODULE_EXPORT_MAP}
        DESTINATION ${KVX_INSTALL_MODULE_SOURCE_DIR} COMPONENT dev)
install(EXPORT kvxTargets NAMESPACE kvx:: DESTINATION ${KVX_INSTALL_CMAKE_DIR} COMPONENT dev)
# The example modules, to copy as the start of one's own (docs/writing-a-module.md).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/vca ${PROJECT_SOURCE_DIR}/examples/osc
        DESTINATION ${KVX_INSTALL_DEV_DOCDIR}/examples COMPONENT dev PATTERN "build*" EXCLUDE)
# The description and patch formats, for module and patch authors and their editors.
install(FILES ${PROJECT_SOURCE_DIR}/schema/kvx-description-1.schema.json
              ${PROJECT_SOURCE_DIR}/schema/kvx-patch-1.schema.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kvx/schema COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kvxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kvxConfig.cmake
  INSTALL_DESTINATION ${KVX_INSTALL_CMAKE_DIR}
  PATH_VARS KVX_INSTALL_MODULE_SOURCE_DIR)
# 0.x releases may change the module author's API between minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvxConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kvxConfig.cmake ${PROJECT_BINARY_DIR}/kvxConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/KvxModule.cmake ${CMAKE_CURRENT_LIST_DIR}/KvxTargetOptions.cmake
        DESTINATION ${KVX_INSTALL_CMAKE_DIR} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own folder, so the file works under any
# prefix (the Debian package installs under /usr what was configured for /usr/local).
cmake_path(RELATIVE_PATH CMAKE_INSTALL_PREFIX
           BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
           OUTPUT_VARIABLE KVX_PC_PREFIX_FROM_PCFILEDIR)
string(REGEX REPLACE "/$" "" KVX_PC_PREFIX_FROM_PCFILEDIR "${KVX_PC_PREFIX_FROM_PCFILEDIR}")
set(CMAKE_DL_LIBS_FLAG "")
foreach(library ${CMAKE_DL_LIBS})
  string(APPEND CMAKE_DL_LIBS_FLAG " -l${library}")
endforeach()
string(STRIP "${CMAKE_DL_LIBS_FLAG}" CMAKE_DL_LIBS_FLAG)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kvx-host.pc.in ${PROJECT_BINARY_DIR}/kvx-host.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kvx-host.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
