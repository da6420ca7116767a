include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS quorvane EXPORT quorvaneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/quorvane DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT quorvaneTargets NAMESPACE quorvane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane)
configure_package_config_file(cmake/quorvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quorvaneConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quorvaneConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/quorvaneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/quorvaneConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane)
