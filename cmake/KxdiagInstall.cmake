include(CMakePackageConfigHelpers)

install(TARGETS kxdiag EXPORT kxdiagTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/kxdiag DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT kxdiagTargets NAMESPACE kxdiag::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kxdiag)

configure_package_config_file(cmake/kxdiagConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kxdiagConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kxdiag)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kxdiagConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/kxdiagConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/kxdiagConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kxdiag)

configure_file(cmake/kxdiag.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kxdiag.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kxdiag.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
