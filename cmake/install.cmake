# Installation layout: the programs (their rules stay in the top-level
# CMakeLists.txt) and their manual pages, in the places GNUInstallDirs gives
# (bin/ and share/man/man1 below the prefix).
include(GNUInstallDirs)

set(DIRLOG_MAN_PAGES ${PROJECT_SOURCE_DIR}/doc/dirlog.1 ${PROJECT_SOURCE_DIR}/doc/dirlog-view.1)

# Installed manual pages are compressed where gzip exists, as man(1) and
# Debian packages expect; -n leaves the name and time out of the header so
# that the same page always gives the same bytes.
find_program(DIRLOG_GZIP gzip)
mark_as_advanced(DIRLOG_GZIP)
if(DIRLOG_GZIP)
  set(compressed_pages)
  foreach(page ${DIRLOG_MAN_PAGES})
    get_filename_component(page_name ${page} NAME)
    set(page_gz ${PROJECT_BINARY_DIR}/man/${page_name}.gz)
    add_custom_command(
      OUTPUT ${page_gz}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${DIRLOG_GZIP} -9 -n -c ${page} > ${page_gz}
      DEPENDS ${page}
      COMMENT "Compressing the manual page ${page_name}"
      VERBATIM)
    list(APPEND compressed_pages ${page_gz})
  endforeach()
  add_custom_target(dirlog_man_page ALL DEPENDS ${compressed_pages})
  install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${DIRLOG_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
