# Install rules: the shared object with its soname and development links, the public header in its own
# folder, every tool of tools/ in bin/ (finding the library in the installed lib folder), a pkg-config
# file and a CMake package with the imported target nsKVDLibrary::nsKVDLibrary.
include(CMakePackageConfigHelpers)

set(KVD_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nsKVDLibrary)

install(TARGETS nsKVDLibrary EXPORT nsKVDLibraryTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_BINARY_DIR}/nsKVDLibrary.so.1 DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/nsAPItypes.h include/kvd.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nsKVDLibrary)

# The tools load the library by its soname: their run path leads from bin/ to the lib folder.
file(RELATIVE_PATH KVD_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
get_property(KVD_TOOL_TARGETS DIRECTORY tools PROPERTY BUILDSYSTEM_TARGETS)
foreach(tool IN LISTS KVD_TOOL_TARGETS)
  get_target_property(type ${tool} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "\$ORIGIN/${KVD_BIN_TO_LIB}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(EXPORT nsKVDLibraryTargets NAMESPACE nsKVDLibrary:: DESTINATION ${KVD_CMAKE_DIR})
configure_package_config_file(cmake/nsKVDLibraryConfig.cmake.in
  ${PROJECT_BINARY_DIR}/install/nsKVDLibraryConfig.cmake INSTALL_DESTINATION ${KVD_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/nsKVDLibraryConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/nsKVDLibraryConfig.cmake
              ${PROJECT_BINARY_DIR}/install/nsKVDLibraryConfigVersion.cmake
        DESTINATION ${KVD_CMAKE_DIR})

# The pkg-config file names absolute folders: it is written when installing, for the prefix installed to
# (`cmake --install --prefix` may differ from the configured one).
install(CODE "
  set(KVD_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(KVD_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(KVD_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(KVD_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/nsKVDLibrary.pc.in\"
                 \"${PROJECT_BINARY_DIR}/install/nsKVDLibrary.pc\" @ONLY)
  file(INSTALL \"${PROJECT_BINARY_DIR}/install/nsKVDLibrary.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
")
