# Installation layout. On POSIX: the programs, their manual pages and the
# shell completion of dirlog-view, in the places GNUInstallDirs gives
# (bin/, share/man/man1 and share/ below the prefix). On Windows, the layout
# of the release zip: the programs at its top, beside the README, the manual
# pages rendered to HTML and a text on where the logs go.
include(GNUInstallDirs)

set(DIRLOG_MAN_PAGES ${PROJECT_SOURCE_DIR}/doc/dirlog.1 ${PROJECT_SOURCE_DIR}/doc/dirlog-view.1)

# Makes man/<name><suffix> of each manual page with `<command...> page >
# output` (the name is the page's file name, or without its section for
# name_part NAME_WE), puts the outputs in `outputs_var`, and builds them
# with the target dirlog_man_page.
function(dirlog_render_man_pages outputs_var name_part suffix comment)
  set(outputs)
  foreach(page ${DIRLOG_MAN_PAGES})
    get_filename_component(page_name ${page} ${name_part})
    set(output ${PROJECT_BINARY_DIR}/man/${page_name}${suffix})
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${ARGN} ${page} > ${output}
      DEPENDS ${page}
      COMMENT "${comment} ${page_name}"
      VERBATIM)
    list(APPEND outputs ${output})
  endforeach()
  add_custom_target(dirlog_man_page ALL DEPENDS ${outputs})
  set(${outputs_var} ${outputs} PARENT_SCOPE)
endfunction()

if(WIN32)
  install(TARGETS dirlog dirlog-view RUNTIME DESTINATION .)
  # Windows has no man(1): the pages go along as HTML, rendered by mandoc
  # when the programs are built, so that the zip needs nothing at packing.
  find_program(DIRLOG_MANDOC mandoc)
  mark_as_advanced(DIRLOG_MANDOC)
  if(NOT DIRLOG_MANDOC)
    message(FATAL_ERROR "The Windows build renders the manual pages to HTML: install mandoc")
  endif()
  dirlog_render_man_pages(html_pages NAME_WE .html "Rendering to HTML the manual page"
                          ${DIRLOG_MANDOC} -Thtml)
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
  dirlog_render_man_pages(compressed_pages NAME .gz "Compressing the manual page"
                          ${DIRLOG_GZIP} -9 -n -c)
  install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${DIRLOG_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
