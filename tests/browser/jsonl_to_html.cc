// Writes the --html page of the JSON Lines on standard input (change objects,
// then the summary line) to standard output: the browser tests and the page
// benchmark make pages from JSON they wrote themselves with it.
//
//   dirlog_html_page [ROW_LIMIT] < changes.jsonl > page.html
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "view/html_page.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // The page spaces the rows it keeps by the number of changes and needs
  // the summary's separator first, so the lines are read whole first.
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty()) lines.push_back(std::move(line));
  }
  nlohmann::json summary = nlohmann::json::object();
  if (!lines.empty() && lines.back().find("\"summary\"") != std::string::npos) {
    summary = nlohmann::json::parse(lines.back())["summary"];
    lines.pop_back();
  }
  view::HtmlPageShape shape;
  shape.changes = lines.size();
  shape.rowLimit = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : view::kHtmlRowLimit;
  std::string separator = summary.value("separator", "/");
  shape.separator = separator.size() == 1 ? separator[0] : '/';
  view::HtmlPageWriter page(std::cout, shape);
  for (const std::string& change : lines) page.addChange(nlohmann::json::parse(change));
  page.finish(summary);
  return std::cout ? 0 : 1;
}
