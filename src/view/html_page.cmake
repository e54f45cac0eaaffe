# The --html page writer: its HTML, CSS and script live in files of their
# own, turned into a header of string literals in the build folder.
set(DIRLOG_HTML_ASSETS
  ${CMAKE_CURRENT_LIST_DIR}/html_page.html
  ${CMAKE_CURRENT_LIST_DIR}/html_page.css
  ${CMAKE_CURRENT_LIST_DIR}/html_page.js)
set(DIRLOG_HTML_HEADER ${PROJECT_BINARY_DIR}/generated/view/html_page_assets.h)
add_custom_command(
  OUTPUT ${DIRLOG_HTML_HEADER}
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${DIRLOG_HTML_HEADER}
          "-DNAMES=kHtmlPageTemplate|kHtmlPageStyle|kHtmlPageScript" -DHASHED=kHtmlPageScript
          "-DFILES=${CMAKE_CURRENT_LIST_DIR}/html_page.html|${CMAKE_CURRENT_LIST_DIR}/html_page.css|${CMAKE_CURRENT_LIST_DIR}/html_page.js"
          -P ${PROJECT_SOURCE_DIR}/cmake/embed_text.cmake
  DEPENDS ${DIRLOG_HTML_ASSETS} ${PROJECT_SOURCE_DIR}/cmake/embed_text.cmake
  COMMENT "Embedding the HTML page's markup, style sheet and script"
  VERBATIM)

target_sources(dirlog_view_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/html_page.cc ${DIRLOG_HTML_HEADER})
target_include_directories(dirlog_view_core PRIVATE ${PROJECT_BINARY_DIR}/generated)

if(BUILD_TESTING)
  target_sources(dirlog_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/html_page_test.cc)
endif()
