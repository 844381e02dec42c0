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

# The Python package goes into the site-packages folder of the interpreter found (KVD_PYTHON_SITEDIR,
# relative to the prefix), with a module that names the library installed beside it. The folder is the
# interpreter's own for this prefix where it has one (Debian's lib/python3.X/dist-packages under
# /usr/local), else the standard lib/python3.X/site-packages.
if(Python3_Interpreter_FOUND)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c "import os, sysconfig
base = os.path.normpath('${CMAKE_INSTALL_PREFIX}')
site = sysconfig.get_path('purelib')
if os.path.commonpath([base, site]) != base:
    site = sysconfig.get_path('purelib', 'posix_prefix', vars={'base': base, 'platbase': base})
print(os.path.relpath(site, base))"
    OUTPUT_VARIABLE KVD_DEFAULT_SITEDIR OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(KVD_PYTHON_SITEDIR ${KVD_DEFAULT_SITEDIR} CACHE STRING "Where the Python package is installed, relative to the prefix")
  install(DIRECTORY python/kvd DESTINATION ${KVD_PYTHON_SITEDIR} FILES_MATCHING PATTERN "*.py"
          PATTERN __pycache__ EXCLUDE)
  install(CODE "
    file(WRITE \"${PROJECT_BINARY_DIR}/install/_installed.py\"
         \"# Written by cmake --install: the library installed with this package.\\n\"
         \"LIBRARY = \\\"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/nsKVDLibrary.so.1\\\"\\n\")
    file(INSTALL \"${PROJECT_BINARY_DIR}/install/_installed.py\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${KVD_PYTHON_SITEDIR}/kvd\")
  ")
endif()
