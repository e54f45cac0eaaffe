#include "view/html_page.h"

#include <array>
#include <sstream>
#include <string_view>

#include "view/html_page_assets.h"

namespace view {
namespace {

// Where the template takes the style sheet, the data and the script, in the
// order they stand in it.
constexpr std::string_view kStyleMark = "/*@STYLE@*/";
constexpr std::string_view kDataMark = "<!--@DATA@-->";
constexpr std::string_view kScriptMark = "/*@SCRIPT@*/";

// The page's script holds the same lists; a row names its kind, verdict and
// type by index so that 200,000 rows do not repeat the words.
constexpr std::array<std::string_view, 5> kKinds = {"created", "deleted", "modified", "moved",
                                                    "type"};
constexpr std::array<std::string_view, 4> kVerdicts = {"content", "metadata", "times", "place"};
constexpr std::array<std::string_view, 4> kTypes = {"file", "directory", "link", "other"};

// The changed fields shown in the "other" column, in the order shown: size
// and write time have columns of their own.
constexpr std::array<std::string_view, 6> kOtherFields = {
    "attributes", "mode", "owner", "short_name", "creation_time", "access_time"};

template <size_t N>
int indexOf(const std::array<std::string_view, N>& names, const nlohmann::json& value) {
  if (!value.is_string()) return -1;
  const std::string& text = value.get_ref<const std::string&>();
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == text) return static_cast<int>(i);
  }
  return -1;
}

// The part of the template from `from` up to `mark`; `from` moves past the mark.
std::string_view templatePart(size_t& from, std::string_view mark) {
  size_t at = kHtmlPageTemplate.find(mark, from);
  std::string_view part = kHtmlPageTemplate.substr(from, at - from);
  from = at == std::string_view::npos ? at : at + mark.size();
  return part;
}

// Where the template goes on after each mark, found once.
struct TemplateParts {
  std::string_view head, beforeData, beforeScript, tail;
};

const TemplateParts& templateParts() {
  static const TemplateParts parts = [] {
    TemplateParts found;
    size_t at = 0;
    found.head = templatePart(at, kStyleMark);
    found.beforeData = templatePart(at, kDataMark);
    found.beforeScript = templatePart(at, kScriptMark);
    found.tail = kHtmlPageTemplate.substr(at);
    return found;
  }();
  return parts;
}

void writeScriptSafe(std::ostream& out, const std::string& json) {
  // Outside its strings JSON text holds none of these characters, so every
  // one met is inside a string, where its \u escape means the same.
  for (size_t i = 0; i < json.size(); ++i) {
    char c = json[i];
    if (c == '<') {
      out << "\\u003c";
    } else if (c == '>') {
      out << "\\u003e";
    } else if (c == '&') {
      out << "\\u0026";
    } else if (c == '\xE2' && i + 2 < json.size() && json[i + 1] == '\x80' &&
               (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
      out << (json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029");
      i += 2;
    } else {
      out << c;
    }
  }
}

std::string dumpJson(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// One side of a changed field as a person reads it.
std::string fieldText(std::string_view field, const nlohmann::json& value) {
  if (value.is_null()) return "none";
  if (field == "attributes" && value.is_array()) {
    std::string names;
    for (const auto& name : value) {
      if (!names.empty()) names += ',';
      names += name.is_string() ? name.get<std::string>() : dumpJson(name);
    }
    return names.empty() ? "none" : names;
  }
  if (field == "owner" && value.is_object()) {
    std::string uid = value.contains("uid") ? dumpJson(value["uid"]) : "?";
    if (value.contains("name") && value["name"].is_string()) {
      return value["name"].get<std::string>() + " (" + uid + ")";
    }
    return uid;
  }
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    return text.empty() && field == "short_name" ? "(none)" : text;
  }
  return dumpJson(value);
}

std::string otherChanges(const nlohmann::json& change) {
  std::string text;
  auto add = [&text](std::string_view field, const std::string& from, const std::string& to) {
    if (!text.empty()) text += "; ";
    text.append(field).append(" ").append(from).append(" \u2192 ").append(to);
  };
  if (change.contains("old_type") && change.contains("type")) {
    add("type", fieldText("type", change["old_type"]), fieldText("type", change["type"]));
  }
  // Created and deleted entries carry every field on one side only; nothing
  // of theirs changed but their being there.
  const std::string kind = change.value("kind", "");
  if (kind == "created" || kind == "deleted") return text;
  for (std::string_view field : kOtherFields) {
    auto found = change.find(std::string(field));
    if (found == change.end() || !found->is_object()) continue;
    add(field, fieldText(field, found->value("old", nlohmann::json())),
        fieldText(field, found->value("new", nlohmann::json())));
  }
  return text;
}

nlohmann::json sideOf(const nlohmann::json& change, const char* field, const char* side) {
  auto found = change.find(field);
  if (found == change.end() || !found->is_object()) return nullptr;
  return found->value(side, nlohmann::json());
}

}  // namespace

nlohmann::json rollupRows(const nlohmann::json& summary) {
  nlohmann::json rows = nlohmann::json::array();
  auto rollups = summary.find("rollups");
  if (rollups == summary.end() || !rollups->is_array()) return rows;
  for (const auto& rollup : *rollups) {
    nlohmann::json row = nlohmann::json::array({rollup.value("folder", "")});
    for (std::string_view kind : kKinds) row.push_back(rollup.value(std::string(kind), 0));
    row.push_back(rollup.value("bytes_added", 0));
    row.push_back(rollup.value("bytes_removed", 0));
    rows.push_back(std::move(row));
  }
  return rows;
}

nlohmann::json htmlRow(const nlohmann::json& change) {
  nlohmann::json size = change.value("size", nlohmann::json::object());
  return nlohmann::json::array({
      indexOf(kKinds, change.value("kind", nlohmann::json())),
      change.value("path", ""),
      indexOf(kVerdicts, change.value("verdict", nlohmann::json())),
      sideOf(change, "size", "old"),
      sideOf(change, "size", "new"),
      size.value("diff", nlohmann::json(0)),
      sideOf(change, "write_time", "old"),
      sideOf(change, "write_time", "new"),
      otherChanges(change),
      change.value("old_path", ""),
      indexOf(kTypes, change.value("type", nlohmann::json())),
  });
}

std::string scriptSafeJson(const nlohmann::json& value) {
  std::ostringstream out;
  writeScriptSafe(out, dumpJson(value));
  return out.str();
}

HtmlPageWriter::HtmlPageWriter(std::ostream& out, size_t rowLimit)
    : out_(out), rowLimit_(rowLimit) {
  const TemplateParts& parts = templateParts();
  out_ << parts.head << kHtmlPageStyle << parts.beforeData
       << "<script type=\"application/json\" id=\"dirlog-rows\">[";
}

void HtmlPageWriter::addChange(const nlohmann::json& change) {
  if (rows_ == rowLimit_) {
    ++leftOut_;
    return;
  }
  if (rows_ > 0) out_ << ",\n";
  writeScriptSafe(out_, dumpJson(htmlRow(change)));
  ++rows_;
}

void HtmlPageWriter::finish(const nlohmann::json& summary) {
  const TemplateParts& parts = templateParts();
  nlohmann::json data = {{"summary", summary},
                         {"rollup_rows", rollupRows(summary)},
                         {"row_limit", rowLimit_},
                         {"rows_left_out", leftOut_}};
  data["summary"].erase("rollups");
  out_ << "]</script>\n<script type=\"application/json\" id=\"dirlog-summary\">";
  writeScriptSafe(out_, dumpJson(data));
  out_ << "</script>\n" << parts.beforeScript << kHtmlPageScript << parts.tail;
}

void writeHtmlPage(std::ostream& out, const nlohmann::json& summary,
                   const std::vector<nlohmann::json>& changes, size_t rowLimit) {
  HtmlPageWriter page(out, rowLimit);
  for (const auto& change : changes) page.addChange(change);
  page.finish(summary);
}

}  // namespace view
