# Read by cpack for each generator: the .deb gets the system-wide layout, the tarball the per-user one.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_LUMARK_BUILD_DIR};${CPACK_PACKAGE_NAME};system;/")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_LUMARK_BUILD_DIR};${CPACK_PACKAGE_NAME};user;/")
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
endif()
