# Packages made with CPack from the normal build (scripts/package.sh runs them per host):
#  - DEB: the system-wide layout of Debian's own OBS plug-ins, read from the obs-studio package
#    (dpkg -L obs-studio): modules in /usr/lib/<multiarch>/obs-plugins/NAME.so, their data in
#    /usr/share/obs/obs-plugins/NAME/.
#  - TGZ: the per-user folder lumark-button/ for ~/.config/obs-studio/plugins on other distributions.
# The two layouts are the install components "system" and "user"; a plain `cmake --install` keeps
# installing the per-user layout only.

# libobs's CMake package reports a fourth version part (29.0.2.1); OBS releases have three.
set(LUMARK_OBS_VERSION "${libobs_VERSION_MAJOR}.${libobs_VERSION_MINOR}.${libobs_VERSION_PATCH}")

set(LUMARK_OBS_PLUGIN_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/obs-plugins")
set(LUMARK_OBS_DATA_DIR "share/obs/obs-plugins/${PROJECT_NAME}")
set(LUMARK_DOC_DIR "share/doc/${PROJECT_NAME}")

install(TARGETS lumark-button LIBRARY DESTINATION ${LUMARK_OBS_PLUGIN_DIR} COMPONENT system EXCLUDE_FROM_ALL)
install(DIRECTORY data/ DESTINATION ${LUMARK_OBS_DATA_DIR} COMPONENT system EXCLUDE_FROM_ALL)

# Debian wants a copyright file and a compressed changelog in the package's doc folder.
# The changelog's date follows SOURCE_DATE_EPOCH when it is set, so rebuilds give the same file.
string(TIMESTAMP LUMARK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(LUMARK_DEB_REVISION "1+obs${LUMARK_OBS_VERSION}")
set(LUMARK_DEB_VERSION "${PROJECT_VERSION}-${LUMARK_DEB_REVISION}")
set(LUMARK_MAINTAINER "Lumark Button maintainers <maintainers@users.noreply.c-seed-1c0b215a.example>")
configure_file(cmake/debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
    COMMAND ${GZIP_PROGRAM} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian)
  add_custom_target(lumark-package-docs ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz)
  install(FILES cmake/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${LUMARK_DOC_DIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          COMPONENT system EXCLUDE_FROM_ALL)
endif()

# The OBS and Qt this build was made against name the packages.
set(LUMARK_PACKAGE_FLAVOUR "obs${LUMARK_OBS_VERSION}-qt${LUMARK_QT_VERSION}")

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "Lumark Button")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${LUMARK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OBS Studio plug-in: mark, clip and replay highlights with one button")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_GENERATOR "DEB;TGZ")
# Which install component each generator packs (read at packaging time).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake)
set(CPACK_LUMARK_BUILD_DIR ${CMAKE_CURRENT_BINARY_DIR})

# Tarball: lumark-button/bin/64bit/lumark-button.so and lumark-button/data/ at its top.
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-${LUMARK_PACKAGE_FLAVOUR}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# Debian package.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LUMARK_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMARK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries actually linked (libobs, Qt, libstdc++...) come from dpkg-shlibdeps; OBS itself
# from the version built against. Debian's OBS 30 and later are Qt 6 programs, which cannot load a
# Qt 5 plug-in, so the Qt 5 build stops below them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= ${LUMARK_OBS_VERSION})")
if(LUMARK_QT_VERSION EQUAL 5)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", obs-studio (<< 30~)")
endif()
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the long text under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Lumark Button helps streamers keep the moments that matter. One press
(a hotkey, the Lumark dock, or a Stream Deck button through obs-websocket)
marks a numbered timestamp in the running stream or recording, saves OBS's
replay buffer as a clip named after the mark, and can play the clip back on
stream at once.
.
A recap scene replays the clips of the last session. When the session ends,
the plug-in writes YouTube chapters, a CSV of all marks, notes and a quotes
file next to the videos. Scripts and other plug-ins add song and topic marks.
.
This build is for OBS Studio ${LUMARK_OBS_VERSION} (Qt ${LUMARK_QT_VERSION}).")

include(CPack)
