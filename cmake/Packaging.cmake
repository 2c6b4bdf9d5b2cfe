# Desktop integration and the Debian package: the user manual, the desktop
# entry and the icons go where a desktop looks for them; `cpack` builds a .deb.
# Included from the top-level CMakeLists.txt after the subdirectories, whose
# own install(TARGETS ...) rules put quillet and quillet-cli in the bin dir.
include_guard(GLOBAL)
include(GNUInstallDirs)

# The manual ships with every build, the command line alone included: the
# window finds it at run time (the launcher's manualUrl()).
install(FILES ${PROJECT_SOURCE_DIR}/docs/manual.html ${PROJECT_SOURCE_DIR}/docs/page-file.png
  ${PROJECT_SOURCE_DIR}/docs/page-text.png ${PROJECT_SOURCE_DIR}/docs/page-result.png
  ${PROJECT_SOURCE_DIR}/docs/page-maximised.png ${PROJECT_SOURCE_DIR}/docs/screenshot-changes.png
  ${PROJECT_SOURCE_DIR}/docs/changes-ticks.png ${PROJECT_SOURCE_DIR}/docs/changes-stopped.png
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(QUILLET_BUILD_GUI)
  set(_quillet_resources ${PROJECT_SOURCE_DIR}/src/gui/resources)
  # quillet-here.desktop puts "Search and replace here" among the programs a
  # file manager offers for a folder; it is not listed in the menus.
  install(FILES ${_quillet_resources}/quillet.desktop ${_quillet_resources}/quillet-here.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${_quillet_resources}/quillet-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME quillet.png)
  endforeach()
  if(NOT TARGET quillet)
    message(STATUS "The window target 'quillet' is missing: the desktop entry names a program that is not installed")
  endif()
endif()

# The Debian package.
set(CPACK_GENERATOR "DEB" CACHE STRING "CPack generators")
set(CPACK_PACKAGE_NAME "quillet")
set(CPACK_PACKAGE_VENDOR "Quillet developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "search, replace and insert text in many files at once")
set(CPACK_PACKAGE_DESCRIPTION
"Quillet searches, replaces and inserts text in many files at once. A search
pattern uses '*' for any run of characters ('href=*.htm', 'A*B*C*D'), and the
new text can reuse what the stars covered as {$1}, {$2}, ... Six operations:
Only Search, Replace Text, Insert Before, Insert After, and two clean-up recipes
for HTML pages (Remove Script, Strip Word HTML). Files are chosen by folder and
mask, with or without sub-folders, or by a list of paths; every matching file is
rewritten atomically.
This package holds the Qt window (quillet), the command line (quillet-cli) and
the user manual.")
set(CPACK_PACKAGE_CONTACT "Quillet developers <support@quillet.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
if(QUILLET_HOMEPAGE MATCHES "^https?://")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUILLET_HOMEPAGE}")
endif()

# dpkg-shlibdeps (package dpkg-dev) computes Depends from the programs' shared
# libraries; without it, name the libraries of Debian 12 by hand.
# The window also needs what no library link shows: Qt's platform plugins
# (xcb, wayland) and the font its layout was measured with.
find_program(QUILLET_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QUILLET_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
else()
  message(STATUS "dpkg-shlibdeps not found (install dpkg-dev): the package's Depends is a fixed list")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(QUILLET_BUILD_GUI)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6core6, libqt6gui6, libqt6widgets6")
  endif()
endif()
if(QUILLET_BUILD_GUI)
  if(CPACK_DEBIAN_PACKAGE_DEPENDS)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ")
  endif()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-extra")
endif()

include(CPack)
