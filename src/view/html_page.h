// The --html form of the view: one self-contained page (its CSS, script and
// data inline, nothing fetched) holding the changes and the summary that
// --json writes as JSON Lines.
//
// Changes stream in one at a time, so the page of a million changes is
// written without holding them. The data sits in two
// <script type="application/json"> elements, escaped so that no name can end
// the element or open a comment; the page's script reads it with JSON.parse
// and puts every name into the page as text, never as markup.
#ifndef DIRLOG_VIEW_HTML_PAGE_H_
#define DIRLOG_VIEW_HTML_PAGE_H_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

namespace view {

// How many change rows a page holds by default. Past it the page still counts
// every change in its summary and folder tree, and says how many rows it left
// out and that --json lists them all.
constexpr size_t kHtmlRowLimit = 500000;

class HtmlPageWriter {
 public:
  // Writes the page up to its rows to `out`, which must outlive the writer.
  HtmlPageWriter(std::ostream& out, size_t rowLimit);

  // One change object of the --json form. Past the row limit it is only
  // counted.
  void addChange(const nlohmann::json& change);

  // Writes the summary object (the value of the last --json line's
  // "summary" key) and the rest of the page. Call once, last.
  void finish(const nlohmann::json& summary);

 private:
  std::ostream& out_;
  size_t rowLimit_;
  size_t rows_ = 0;
  size_t leftOut_ = 0;
};

// The whole page at once, for callers that hold every change.
void writeHtmlPage(std::ostream& out, const nlohmann::json& summary,
                   const std::vector<nlohmann::json>& changes, size_t rowLimit = kHtmlRowLimit);

// `value` as JSON text that may stand inside a <script> element: "<", ">",
// "&", U+2028 and U+2029 written as \u escapes, bytes that are not UTF-8 as
// U+FFFD. JSON.parse reads it back to the same value.
std::string scriptSafeJson(const nlohmann::json& value);

// The compact row the page's script reads for one change object:
// [kind, path, verdict, size old, size new, size diff, written old,
//  written new, other changed fields as text, old path, type], kinds and
// verdicts and types as their index in the lists the script holds too.
nlohmann::json htmlRow(const nlohmann::json& change);

// The summary's roll-ups as the page carries them, in the same order:
// [folder, created, deleted, modified, moved, type, bytes added, bytes
// removed] each, a third of the size of the objects at every depth.
nlohmann::json rollupRows(const nlohmann::json& summary);

}  // namespace view

#endif  // DIRLOG_VIEW_HTML_PAGE_H_
