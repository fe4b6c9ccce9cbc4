# Installation for host authors: the plug-in, the platform library with its
# header, the interface headers, a CMake package and a pkg-config file.
if(WIN32)
  install(TARGETS vcswitch LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  return()
endif()

include(CMakePackageConfigHelpers)

install(TARGETS udmplatform vcswitch_interface EXPORT udmTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/udm)
install(TARGETS vcswitch LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
file(GLOB UDM_ABI_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/abi/*.h)
install(FILES ${UDM_ABI_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/udm)

install(EXPORT udmTargets NAMESPACE udm:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/udm)
configure_package_config_file(cmake/udmConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/udmConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/udm
  PATH_VARS CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/udmConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/udmConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/udmConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/udm)

# Relocatable: every path is relative to where the .pc file lies.
file(RELATIVE_PATH UDM_PC_INCLUDE_FROM_PC "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(cmake/udmplatform.pc.in ${CMAKE_CURRENT_BINARY_DIR}/udmplatform.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/udmplatform.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
