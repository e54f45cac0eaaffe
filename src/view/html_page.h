// The --html form of the view: one self-contained page (its CSS, script and
// data inline, nothing fetched) holding the changes and the summary that
// --json writes as JSON Lines.
//
// The page carries its rows by column: small numbers as base64 of unsigned
// LEB128 varints in one <script type="text/plain"> element, names and other
// text in a <script type="application/json"> element, escaped so that no
// name can end the element or open a comment. The page's script reads both
// and puts every name into the page as text, never as markup. Each name is
// stored once below a table of folders, so that a million changes make a
// page a browser opens in a second or two.
#ifndef DIRLOG_VIEW_HTML_PAGE_H_
#define DIRLOG_VIEW_HTML_PAGE_H_

#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

namespace view {

// How many change rows a page holds by default. Past it the page lists an
// evenly spaced share of the changes, so that every kind and folder keeps
// its share, counts every change in its summary and folder tree, and says
// what it left out and that --json lists it all.
constexpr size_t kHtmlRowLimit = 1000000;

struct HtmlPageShape {
  size_t changes = 0;  // how many changes addChange will be given
  char separator = '/';
  size_t rowLimit = kHtmlRowLimit;
};

class HtmlPageWriter {
 public:
  // Writes the page to `out`, which must outlive the writer. The rows are
  // held until finish(): the page's columns come one after the other.
  HtmlPageWriter(std::ostream& out, const HtmlPageShape& shape);
  ~HtmlPageWriter();
  HtmlPageWriter(const HtmlPageWriter&) = delete;
  HtmlPageWriter& operator=(const HtmlPageWriter&) = delete;

  // One change object of the --json form; counted in the folder tree, and
  // listed unless the row limit leaves it out.
  void addChange(const nlohmann::json& change);

  // Writes the page, with the summary object (the value of the last --json
  // line's "summary" key; its roll-ups are not used: the page's folder
  // tree comes from the changes, at every depth). Call once, last.
  void finish(const nlohmann::json& summary);

 private:
  class Data;
  std::ostream& out_;
  std::unique_ptr<Data> data_;
};

// The whole page at once, for callers that hold every change.
void writeHtmlPage(std::ostream& out, const nlohmann::json& summary,
                   const std::vector<nlohmann::json>& changes, size_t rowLimit = kHtmlRowLimit);

// `value` as JSON text that may stand inside a <script> element: "<", ">",
// "&", U+2028 and U+2029 written as \u escapes, bytes that are not UTF-8 as
// U+FFFD. JSON.parse reads it back to the same value.
std::string scriptSafeJson(const nlohmann::json& value);

// The exact bytes of a name as the inside of a JSON string that may stand
// inside a <script> element, escaped as scriptSafeJson() escapes; each byte
// that is not part of valid UTF-8 becomes the lone surrogate U+DC00 + byte,
// so that names differing only in such bytes stay apart in the page.
// Appends to `out` and returns the length of the name in UTF-16 code units,
// which is how the page's script measures it.
size_t appendPageString(std::string& out, const std::string& bytes);

}  // namespace view

#endif  // DIRLOG_VIEW_HTML_PAGE_H_
