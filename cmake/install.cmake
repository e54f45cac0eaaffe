# Installation layout: the program (its rule stays in the top-level
# CMakeLists.txt) and its manual page, in the places GNUInstallDirs gives
# (bin/ and share/man/man1 below the prefix).
include(GNUInstallDirs)

set(DIRLOG_MAN_PAGE ${PROJECT_SOURCE_DIR}/doc/dirlog.1)

# Installed manual pages are compressed where gzip exists, as man(1) and
# Debian packages expect; -n leaves the name and time out of the header so
# that the same page always gives the same bytes.
find_program(DIRLOG_GZIP gzip)
mark_as_advanced(DIRLOG_GZIP)
if(DIRLOG_GZIP)
  set(DIRLOG_MAN_PAGE_GZ ${PROJECT_BINARY_DIR}/man/dirlog.1.gz)
  add_custom_command(
    OUTPUT ${DIRLOG_MAN_PAGE_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${DIRLOG_GZIP} -9 -n -c ${DIRLOG_MAN_PAGE} > ${DIRLOG_MAN_PAGE_GZ}
    DEPENDS ${DIRLOG_MAN_PAGE}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(dirlog_man_page ALL DEPENDS ${DIRLOG_MAN_PAGE_GZ})
  install(FILES ${DIRLOG_MAN_PAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${DIRLOG_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
