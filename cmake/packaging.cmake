# A Debian package of the two programs (dirlog, dirlog-view), their
# manual pages and the shell completion:
#   cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
#   cmake --build build-package
#   cd build-package && cpack -G DEB
# gives dirlog_<version>_<arch>.deb, which installs below /usr.
#
# In the Windows cross build (cmake/mingw-w64-x86_64.cmake), `cpack -G ZIP`
# gives the release dirlog-<version>-win64.zip instead: one folder of that
# name holding what cmake/install.cmake installs there.
set(CPACK_PACKAGE_NAME dirlog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "dirlog developers")
set(CPACK_PACKAGE_CONTACT "dirlog developers <dev@dirlog.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "record a directory tree in snapshot logs and report what changed")
# One paragraph, in lines that fit the control file's width.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "dirlog walks a directory tree and writes one line for every file and"
  "directory below it (path, name, attributes, size, mode and owner, and the"
  "creation, access and write times) into a numbered snapshot log. It then"
  "compares the two newest logs and writes a plain-text report of every entry"
  "that was modified, deleted or created between them: for instance a"
  "snapshot before an installation, one after it, and the report of what the"
  "installation changed. dirlog-view shows the changes between two logs for"
  "people and scripts: old and new values, moves, a verdict per entry, a"
  "summary with roll-ups per folder, as aligned text or JSON Lines.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY dirlog)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME dirlog)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "dirlog developers <dev@dirlog.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# The dependencies on the C and C++ runtime are worked out from the binary by
# dpkg-shlibdeps (package dpkg-dev) where it exists. Without it, a fixed list:
# what dpkg-shlibdeps finds for this program built on Debian 12.
find_program(DIRLOG_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(DIRLOG_DPKG_SHLIBDEPS)
if(DIRLOG_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5)")
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME dirlog-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

include(CPack)
