# Installation layout. On POSIX: the programs, their manual pages and the
# shell completion of dirlog-view, in the places GNUInstallDirs gives
# (bin/, share/man/man1 and share/ below the prefix). On Windows, the layout
# of the release zip: the programs at its top, beside the README, the manual
# pages rendered to HTML and a text on where the logs go.
include(GNUInstallDirs)

set(DIRLOG_MAN_PAGES ${PROJECT_SOURCE_DIR}/doc/dirlog.1 ${PROJECT_SOURCE_DIR}/doc/dirlog-view.1)

if(WIN32)
  install(TARGETS dirlog dirlog-view RUNTIME DESTINATION .)
  # Windows has no man(1): the pages go along as HTML, rendered by mandoc
  # when the programs are built, so that the zip needs nothing at packing.
  find_program(DIRLOG_MANDOC mandoc)
  mark_as_advanced(DIRLOG_MANDOC)
  if(NOT DIRLOG_MANDOC)
    message(FATAL_ERROR "The Windows build renders the manual pages to HTML: install mandoc")
  endif()
  set(html_pages)
  foreach(page ${DIRLOG_MAN_PAGES})
    get_filename_component(page_name ${page} NAME_WE)
    set(page_html ${PROJECT_BINARY_DIR}/man/${page_name}.html)
    add_custom_command(
      OUTPUT ${page_html}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${DIRLOG_MANDOC} -Thtml ${page} > ${page_html}
      DEPENDS ${page}
      COMMENT "Rendering the manual page ${page_name} to HTML"
      VERBATIM)
    list(APPEND html_pages ${page_html})
  endforeach()
  add_custom_target(dirlog_man_page ALL DEPENDS ${html_pages})
  install(FILES ${html_pages} ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/windows-logs.txt DESTINATION . RENAME LOGS.txt)
  return()
endif()

install(TARGETS dirlog dirlog-view RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Where bash-completion and Debian's zsh look for completions on their own.
install(FILES ${PROJECT_SOURCE_DIR}/completion/dirlog-view.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dirlog-view)
install(FILES ${PROJECT_SOURCE_DIR}/completion/_dirlog-view
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

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
