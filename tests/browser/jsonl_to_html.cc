// Writes the --html page of the JSON Lines on standard input (change objects,
// then the summary line) to standard output: the browser tests and the page
// benchmark make pages from JSON they wrote themselves with it.
//
//   dirlog_html_page [ROW_LIMIT] < changes.jsonl > page.html
#include <cstdlib>
#include <iostream>
#include <string>

#include "view/html_page.h"

int main(int argc, char** argv) {
  size_t limit = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : view::kHtmlRowLimit;
  std::ios::sync_with_stdio(false);
  view::HtmlPageWriter page(std::cout, limit);
  nlohmann::json summary = nlohmann::json::object();
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.empty()) continue;
    nlohmann::json value = nlohmann::json::parse(line);
    if (value.contains("summary")) {
      summary = value["summary"];
    } else {
      page.addChange(value);
    }
  }
  page.finish(summary);
  return std::cout ? 0 : 1;
}
