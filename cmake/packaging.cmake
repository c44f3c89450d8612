# What `cmake --install` adds beside the libraries, header and Fortran module:
# a CMake package with a version file, a pkg-config file and the plot viewer.
include(CMakePackageConfigHelpers)

set(VIDEZ5_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/videz5_c)
install(EXPORT videz5_cTargets NAMESPACE videz5_c:: DESTINATION ${VIDEZ5_CMAKE_DIR})
install(EXPORT videz5_cFortranTargets NAMESPACE videz5_c:: DESTINATION ${VIDEZ5_CMAKE_DIR})
# The module's compiler, by CMake's name and major version: a consumer's own
# compiler uses the installed module only when it is the same.
string(REGEX MATCH "^[0-9]+" VIDEZ5_FORTRAN_MAJOR "${CMAKE_Fortran_COMPILER_VERSION}")
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/videz5_cConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/videz5_cConfig.cmake INSTALL_DESTINATION ${VIDEZ5_CMAKE_DIR}
  PATH_VARS VIDEZ5_FORTRAN_SOURCE_DIR)
# Before 1.0 a minor version may change the interface: only 0.1.x satisfies 0.1.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/videz5_cConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/videz5_cConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/videz5_cConfigVersion.cmake
  DESTINATION ${VIDEZ5_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so the tree can be
# installed under any --prefix, or moved, after configuring.
file(RELATIVE_PATH VIDEZ5_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" VIDEZ5_PC_TO_PREFIX "${VIDEZ5_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/videz5_c.pc.in ${CMAKE_CURRENT_BINARY_DIR}/videz5_c.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/videz5_c.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(VIDEZ5_MPI)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/videz5_c_mpi.pc.in ${CMAKE_CURRENT_BINARY_DIR}/videz5_c_mpi.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/videz5_c_mpi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/videz5-plot DESTINATION ${CMAKE_INSTALL_BINDIR})
