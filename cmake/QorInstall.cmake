# Exported CMake package: find_package(qor) gives qor::base, qor::compression, ...
include(CMakePackageConfigHelpers)
install(TARGETS qor_settings EXPORT qorTargets)
install(EXPORT qorTargets NAMESPACE qor:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qor)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qorConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qorConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qor)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qorConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qorConfig.cmake ${PROJECT_BINARY_DIR}/qorConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/QorDependencies.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qor)
