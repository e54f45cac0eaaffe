#include "view/html_page.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "view/formatting.h"
#include "view/html_page_assets.h"

namespace view {
namespace {

// Where the template takes the script's hash, the style sheet, the data and
// the script, in the order they stand in it.
constexpr std::string_view kHashMark = "@SCRIPT_HASH@";
constexpr std::string_view kStyleMark = "/*@STYLE@*/";
constexpr std::string_view kDataMark = "<!--@DATA@-->";
constexpr std::string_view kScriptMark = "/*@SCRIPT@*/";

// The names a row's kind, verdict and type take, in the order the page
// numbers them; a name met that is not here is added after them.
constexpr std::array<std::string_view, 5> kKinds = {"created", "deleted", "modified", "moved",
                                                    "type"};
constexpr std::array<std::string_view, 4> kVerdicts = {"content", "metadata", "times", "place"};
constexpr std::array<std::string_view, 4> kTypes = {"file", "directory", "link", "other"};

// The changed fields shown in the "other" column, in the order shown: size
// and write time have columns of their own.
constexpr std::array<std::string_view, 6> kOtherFields = {
    "attributes", "mode", "owner", "short_name", "creation_time", "access_time"};

// The part of the template from `from` up to `mark`; `from` moves past the mark.
std::string_view templatePart(size_t& from, std::string_view mark) {
  size_t at = kHtmlPageTemplate.find(mark, from);
  std::string_view part = kHtmlPageTemplate.substr(from, at - from);
  from = at == std::string_view::npos ? at : at + mark.size();
  return part;
}

// Where the template goes on after each mark, found once.
struct TemplateParts {
  std::string_view head, beforeStyle, beforeData, beforeScript, tail;
};

const TemplateParts& templateParts() {
  static const TemplateParts parts = [] {
    TemplateParts found;
    size_t at = 0;
    found.head = templatePart(at, kHashMark);
    found.beforeStyle = templatePart(at, kStyleMark);
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

void appendHexEscape(std::string& out, unsigned value) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 15];
}

// An ASCII character as it stands inside a page string.
void appendAscii(std::string& out, char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '<':
    case '>':
    case '&':
      appendHexEscape(out, static_cast<unsigned char>(c));
      return;
    default:
      if (static_cast<unsigned char>(c) < 0x20) {
        appendHexEscape(out, static_cast<unsigned char>(c));
      } else {
        out += c;
      }
  }
}

void appendVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

// The bytes of standard base64 text; none when it holds other characters.
std::optional<std::string> fromBase64(const std::string& text) {
  std::string bytes;
  uint32_t group = 0;
  int bits = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+' || c == '/') {
      value = c == '+' ? 62 : 63;
    } else if (c == '=') {
      break;
    } else {
      return std::nullopt;
    }
    group = (group << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((group >> bits) & 0xFF);
    }
  }
  return bytes;
}

// The exact bytes behind a text of a change object: its base64 twin
// ("path_b64") when the text is not UTF-8, else the text.
std::string exactText(const nlohmann::json& change, const std::string& key) {
  auto twin = change.find(key + "_b64");
  if (twin != change.end() && twin->is_string()) {
    if (std::optional<std::string> bytes = fromBase64(twin->get<std::string>())) return *bytes;
  }
  auto text = change.find(key);
  return text != change.end() && text->is_string() ? text->get<std::string>() : std::string();
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

// Days since 1970-01-01 of a proleptic Gregorian date (the era-based
// conversion that formatting.cc turns back).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// A time as the outputs spell it ("2026-12-07T15:14:02.5000000Z", a local
// one ending in "+01:00"): seconds since 1970 on the clock of its zone, the
// 100 ns ticks within the second, and the zone's suffix.
struct Moment {
  int64_t seconds = 0;
  uint32_t fraction = 0;
  std::string zone;
};

std::optional<Moment> parseTime(const std::string& text) {
  size_t at = 0;
  auto number = [&](size_t minDigits, size_t maxDigits) -> std::optional<int64_t> {
    size_t start = at;
    int64_t value = 0;
    while (at < text.size() && at - start < maxDigits && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + (text[at++] - '0');
    }
    if (at - start < minDigits) return std::nullopt;
    return value;
  };
  auto literal = [&](char c) { return at < text.size() && text[at] == c && ++at; };
  std::optional<int64_t> year = number(4, 5);
  if (!year || !literal('-')) return std::nullopt;
  std::optional<int64_t> month = number(2, 2);
  if (!month || *month < 1 || *month > 12 || !literal('-')) return std::nullopt;
  std::optional<int64_t> day = number(2, 2);
  if (!day || *day < 1 || *day > 31 || !literal('T')) return std::nullopt;
  std::optional<int64_t> hour = number(2, 2);
  if (!hour || !literal(':')) return std::nullopt;
  std::optional<int64_t> minute = number(2, 2);
  if (!minute || !literal(':')) return std::nullopt;
  std::optional<int64_t> second = number(2, 2);
  if (!second || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  Moment moment;
  if (literal('.')) {
    size_t start = at;
    std::optional<int64_t> fraction = number(1, 7);
    if (!fraction) return std::nullopt;
    for (size_t digits = at - start; digits < 7; ++digits) *fraction *= 10;
    moment.fraction = static_cast<uint32_t>(*fraction);
  }
  moment.zone = text.substr(at);
  bool utc = moment.zone == "Z";
  bool offset = moment.zone.size() == 6 && (moment.zone[0] == '+' || moment.zone[0] == '-') &&
                moment.zone[3] == ':';
  if (!utc && !offset) return std::nullopt;
  moment.seconds =
      daysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day)) * 86400 +
      *hour * 3600 + *minute * 60 + *second;
  return moment;
}

// Strings numbered in the order first met.
class StringTable {
 public:
  StringTable() = default;
  template <size_t N>
  explicit StringTable(const std::array<std::string_view, N>& names) {
    for (std::string_view name : names) indexOf(std::string(name));
  }

  uint32_t indexOf(const std::string& text) {
    auto [found, added] = ids_.try_emplace(text, static_cast<uint32_t>(list_.size()));
    if (added) list_.push_back(text);
    return found->second;
  }

  uint32_t indexOf(const nlohmann::json& value) {
    return indexOf(value.is_string() ? value.get<std::string>() : std::string());
  }

  const std::vector<std::string>& list() const { return list_; }
  size_t size() const { return list_.size(); }

 private:
  std::unordered_map<std::string, uint32_t> ids_;
  std::vector<std::string> list_;
};

// Whether path `a` comes before path `b` in the page's path order: byte by
// byte, with the separator below every other byte, so that what lies below
// a folder follows it at once.
bool pathBefore(const std::string& a, const std::string& b, char separator) {
  auto key = [separator](char c) {
    return c == separator ? -1 : static_cast<int>(static_cast<unsigned char>(c));
  };
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) return key(a[i]) < key(b[i]);
  }
  return a.size() < b.size();
}

}  // namespace

size_t appendPageString(std::string& out, const std::string& bytes) {
  size_t units = 0;
  for (size_t at = 0; at < bytes.size();) {
    unsigned char lead = static_cast<unsigned char>(bytes[at]);
    size_t length = sequenceLength(bytes, at);
    if (length == 0) {
      appendHexEscape(out, 0xDC00 + lead);
      length = 1;
    } else if (length == 1) {
      appendAscii(out, bytes[at]);
    } else if (length == 3 && lead == 0xE2 && bytes[at + 1] == '\x80' &&
               (bytes[at + 2] == '\xA8' || bytes[at + 2] == '\xA9')) {
      appendHexEscape(out, bytes[at + 2] == '\xA8' ? 0x2028 : 0x2029);
    } else {
      out.append(bytes, at, length);
    }
    units += length == 4 ? 2 : 1;
    at += length;
  }
  return units;
}

std::string scriptSafeJson(const nlohmann::json& value) {
  std::ostringstream out;
  writeScriptSafe(out, dumpJson(value));
  return out.str();
}

// The page's data, gathered change by change and written by column.
class HtmlPageWriter::Data {
 public:
  explicit Data(const HtmlPageShape& shape)
      : shape_(shape), kinds_(kKinds), verdicts_(kVerdicts), types_(kTypes) {
    folders_.push_back(Folder{"", 0, {}, 0, 0});
    folderIds_.emplace("", 0);
    others_.indexOf(std::string());
  }

  void add(const nlohmann::json& change) {
    uint32_t kind = kinds_.indexOf(change.value("kind", nlohmann::json()));
    std::string path = exactText(change, "path");
    std::string folder = parentOf(path);
    uint32_t folderId = folderOf(folder);
    tally(folderId, kind, sizeDiff(change));
    if (keepsNext()) addRow(change, std::move(path), folder.size(), folderId, kind);
    ++seen_;
  }

  void write(std::ostream& out, const nlohmann::json& summary);

 private:
  struct Folder {
    std::string path;
    uint32_t parent;
    std::vector<uint64_t> counts;  // by kind
    uint64_t added;
    uint64_t removed;
  };

  // How a write time stands in a row: not given (the change object has no
  // such side, or no write_time at all: it did not change), null, a text
  // the page shows as it is, or a time read from its text.
  struct Written {
    enum State : uint8_t { kAbsent, kNull, kText, kTime } state = kAbsent;
    uint32_t index = 0;  // of the zone, or of the text
    int64_t seconds = 0;
    uint32_t fraction = 0;
  };

  // Past the row limit the page keeps changes evenly spaced: change n when
  // floor((n + 1) * limit / changes) > floor(n * limit / changes), tracked
  // without the products.
  bool keepsNext() {
    if (shape_.changes <= shape_.rowLimit || seen_ >= shape_.changes) {
      return rows() < shape_.rowLimit;
    }
    spacing_ += shape_.rowLimit;
    if (spacing_ < shape_.changes) return false;
    spacing_ -= shape_.changes;
    return true;
  }

  size_t rows() const { return kind_.size(); }

  std::string parentOf(const std::string& path) const {
    size_t cut = path.rfind(shape_.separator);
    return cut == std::string::npos || cut == 0 ? std::string() : path.substr(0, cut);
  }

  // The folder's number, made with the folders above it when first met.
  uint32_t folderOf(const std::string& path) {
    auto found = folderIds_.find(path);
    if (found != folderIds_.end()) return found->second;
    uint32_t parent = folderOf(parentOf(path));
    uint32_t id = static_cast<uint32_t>(folders_.size());
    folders_.push_back(Folder{path, parent, {}, 0, 0});
    folderIds_.emplace(path, id);
    return id;
  }

  static int64_t sizeDiff(const nlohmann::json& change) {
    auto size = change.find("size");
    if (size == change.end() || !size->is_object()) return 0;
    auto diff = size->find("diff");
    return diff != size->end() && diff->is_number_integer() ? diff->get<int64_t>() : 0;
  }

  // Counts the change in its folder and every folder above it.
  void tally(uint32_t id, uint32_t kind, int64_t diff) {
    while (true) {
      Folder& folder = folders_[id];
      if (folder.counts.size() <= kind) folder.counts.resize(kind + 1);
      ++folder.counts[kind];
      if (diff > 0) folder.added += static_cast<uint64_t>(diff);
      if (diff < 0) folder.removed += 0 - static_cast<uint64_t>(diff);
      if (id == 0) return;
      id = folder.parent;
    }
  }

  // A size as the page numbers it: 0 for none, else the size plus one.
  static uint64_t sizeSide(const nlohmann::json& change, const char* side) {
    auto size = change.find("size");
    if (size == change.end() || !size->is_object()) return 0;
    auto value = size->find(side);
    if (value == size->end() || !value->is_number_unsigned()) return 0;
    uint64_t bytes = value->get<uint64_t>();
    return bytes == UINT64_MAX ? bytes : bytes + 1;
  }

  Written writtenSide(const nlohmann::json& change, const char* side) {
    Written written;
    auto field = change.find("write_time");
    if (field == change.end() || !field->is_object()) return written;
    auto value = field->find(side);
    if (value == field->end()) return written;
    if (!value->is_string()) {
      written.state = Written::kNull;
      return written;
    }
    const std::string& text = value->get_ref<const std::string&>();
    if (std::optional<Moment> moment = parseTime(text)) {
      written.state = Written::kTime;
      written.index = zones_.indexOf(moment->zone);
      written.seconds = moment->seconds;
      written.fraction = moment->fraction;
      earliest_ = std::min(earliest_, moment->seconds);
    } else {
      written.state = Written::kText;
      written.index = timeTexts_.indexOf(text);
    }
    return written;
  }

  void addRow(const nlohmann::json& change, std::string path, size_t folderLength,
              uint32_t folderId, uint32_t kind) {
    uint32_t row = static_cast<uint32_t>(rows());
    kind_.push_back(kind);
    verdict_.push_back(verdicts_.indexOf(change.value("verdict", nlohmann::json())));
    type_.push_back(types_.indexOf(change.value("type", nlohmann::json())));
    folder_.push_back(folderId);
    std::string name = folderId == 0 ? path : path.substr(folderLength + 1);
    nameLength_.push_back(appendPageString(names_, name));
    sizeOld_.push_back(sizeSide(change, "old"));
    sizeNew_.push_back(sizeSide(change, "new"));
    writtenOld_.push_back(writtenSide(change, "old"));
    writtenNew_.push_back(writtenSide(change, "new"));
    other_.push_back(others_.indexOf(otherChanges(change)));
    if (change.contains("old_path")) oldPaths_.emplace_back(row, exactText(change, "old_path"));
    paths_.push_back(std::move(path));
  }

  void appendWritten(std::string& out, const Written& written) const {
    switch (written.state) {
      case Written::kAbsent:
        appendVarint(out, 0);
        return;
      case Written::kNull:
        appendVarint(out, 1);
        return;
      case Written::kText:
        appendVarint(out, 2 + 2 * uint64_t{written.index});
        return;
      case Written::kTime: {
        uint64_t since = static_cast<uint64_t>(written.seconds - earliest_);
        appendVarint(out, 3 + 2 * (written.index + zones_.size() * since));
        appendVarint(out, written.fraction);
        return;
      }
    }
  }

  // The folders as the page numbers them, with their names below their
  // parents as page strings.
  struct FolderTable {
    std::vector<uint32_t> order;  // folder ids by page number
    std::vector<uint32_t> rank;   // page number by folder id
    std::string names;
    std::vector<size_t> nameLengths;
  };

  FolderTable folderTable() const;
  std::vector<uint32_t> pathOrder() const;
  std::string columns(const FolderTable& folders) const;
  void writeMeta(std::ostream& out, const nlohmann::json& summary,
                 const FolderTable& folders) const;

  HtmlPageShape shape_;
  size_t seen_ = 0;
  size_t spacing_ = 0;
  StringTable kinds_;
  StringTable verdicts_;
  StringTable types_;
  std::vector<Folder> folders_;
  std::unordered_map<std::string, uint32_t> folderIds_;

  std::vector<uint32_t> kind_, verdict_, type_, folder_, nameLength_, other_;
  std::vector<uint64_t> sizeOld_, sizeNew_;
  std::vector<Written> writtenOld_, writtenNew_;
  std::vector<std::string> paths_;
  std::string names_;
  StringTable zones_;
  StringTable timeTexts_;
  int64_t earliest_ = INT64_MAX;
  StringTable others_;
  std::vector<std::pair<uint32_t, std::string>> oldPaths_;
};

// Folders in the path order, which is the order of a walk of the tree: what
// lies below a folder comes right after it, so the page finds the changes
// below a folder as one range of folder numbers.
HtmlPageWriter::Data::FolderTable HtmlPageWriter::Data::folderTable() const {
  FolderTable table;
  table.order.resize(folders_.size());
  for (uint32_t i = 0; i < table.order.size(); ++i) table.order[i] = i;
  std::sort(table.order.begin(), table.order.end(), [this](uint32_t a, uint32_t b) {
    return pathBefore(folders_[a].path, folders_[b].path, shape_.separator);
  });
  table.rank.resize(folders_.size());
  for (uint32_t i = 0; i < table.order.size(); ++i) table.rank[table.order[i]] = i;
  for (uint32_t id : table.order) {
    const Folder& folder = folders_[id];
    size_t cut = folder.parent == 0 ? 0 : folders_[folder.parent].path.size() + 1;
    std::string name = folder.path.substr(std::min(cut, folder.path.size()));
    table.nameLengths.push_back(appendPageString(table.names, name));
  }
  return table;
}

std::vector<uint32_t> HtmlPageWriter::Data::pathOrder() const {
  std::vector<uint32_t> order(rows());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
    return pathBefore(paths_[a], paths_[b], shape_.separator);
  });
  return order;
}

// The numbers of the page, column after column: per row its kind, verdict
// and type in one number, folder, name length, sizes, write times and other
// changes; the rows in path order; per folder its parent, name length,
// counts by kind and bytes added and removed.
std::string HtmlPageWriter::Data::columns(const FolderTable& folders) const {
  std::string out;
  out.reserve(rows() * 24 + folders_.size() * 12);
  auto column = [&](const auto& values, auto&& number) {
    for (const auto& value : values) appendVarint(out, number(value));
  };
  auto same = [](uint64_t value) { return value; };
  for (size_t row = 0; row < rows(); ++row) {
    appendVarint(out, kind_[row] + kinds_.size() * (verdict_[row] + verdicts_.size() * type_[row]));
  }
  column(folder_, [&](uint32_t id) { return folders.rank[id]; });
  column(nameLength_, same);
  column(sizeOld_, same);
  column(sizeNew_, same);
  for (const Written& written : writtenOld_) appendWritten(out, written);
  for (const Written& written : writtenNew_) appendWritten(out, written);
  column(other_, same);
  column(pathOrder(), same);
  column(folders.order, [&](uint32_t id) { return folders.rank[folders_[id].parent]; });
  column(folders.nameLengths, same);
  for (uint32_t id : folders.order) {
    const Folder& folder = folders_[id];
    for (size_t kind = 0; kind < kinds_.size(); ++kind) {
      appendVarint(out, kind < folder.counts.size() ? folder.counts[kind] : 0);
    }
    appendVarint(out, folder.added);
    appendVarint(out, folder.removed);
  }
  return out;
}

namespace {

void writeStringList(std::ostream& out, const std::vector<std::string>& list) {
  out << '[';
  std::string text;
  for (size_t i = 0; i < list.size(); ++i) {
    text.assign(i == 0 ? "\"" : ",\"");
    appendPageString(text, list[i]);
    out << text << '"';
  }
  out << ']';
}

}  // namespace

void HtmlPageWriter::Data::writeMeta(std::ostream& out, const nlohmann::json& summary,
                                     const FolderTable& folders) const {
  nlohmann::json shown = summary;
  if (shown.is_object()) shown.erase("rollups");
  std::string separator(1, '"');
  appendPageString(separator, std::string(1, shape_.separator));
  out << "{\"summary\":" << scriptSafeJson(shown) << ",\"separator\":" << separator
      << "\",\"kinds\":";
  writeStringList(out, kinds_.list());
  out << ",\"verdicts\":";
  writeStringList(out, verdicts_.list());
  out << ",\"types\":";
  writeStringList(out, types_.list());
  out << ",\"changes\":" << seen_ << ",\"rows\":" << rows() << ",\"row_limit\":" << shape_.rowLimit
      << ",\"folders\":" << folders_.size()
      << ",\"time_base\":" << (earliest_ == INT64_MAX ? 0 : earliest_) << ",\"zones\":";
  writeStringList(out, zones_.list());
  out << ",\"time_texts\":";
  writeStringList(out, timeTexts_.list());
  out << ",\"others\":";
  writeStringList(out, others_.list());
  out << ",\"old_paths\":[";
  std::string text;
  for (size_t i = 0; i < oldPaths_.size(); ++i) {
    text.assign(i == 0 ? "" : ",");
    text += '[' + std::to_string(oldPaths_[i].first) + ",\"";
    appendPageString(text, oldPaths_[i].second);
    out << text << "\"]";
  }
  out << "],\"names\":\"" << names_ << "\",\"folder_names\":\"" << folders.names << "\"}";
}

void HtmlPageWriter::Data::write(std::ostream& out, const nlohmann::json& summary) {
  const TemplateParts& parts = templateParts();
  FolderTable folders = folderTable();
  out << parts.head << kHtmlPageScriptHash << parts.beforeStyle << kHtmlPageStyle
      << parts.beforeData << "<script type=\"application/json\" id=\"dirlog-data\">";
  writeMeta(out, summary, folders);
  out << "</script>\n<script type=\"text/plain\" id=\"dirlog-columns\">" << base64(columns(folders))
      << "</script>\n"
      << parts.beforeScript << kHtmlPageScript << parts.tail;
}

HtmlPageWriter::HtmlPageWriter(std::ostream& out, const HtmlPageShape& shape)
    : out_(out), data_(std::make_unique<Data>(shape)) {}

HtmlPageWriter::~HtmlPageWriter() = default;

void HtmlPageWriter::addChange(const nlohmann::json& change) { data_->add(change); }

void HtmlPageWriter::finish(const nlohmann::json& summary) { data_->write(out_, summary); }

void writeHtmlPage(std::ostream& out, const nlohmann::json& summary,
                   const std::vector<nlohmann::json>& changes, size_t rowLimit) {
  HtmlPageShape shape;
  shape.changes = changes.size();
  shape.rowLimit = rowLimit;
  std::string separator = summary.is_object() ? summary.value("separator", "/") : "/";
  shape.separator = separator.size() == 1 ? separator[0] : '/';
  HtmlPageWriter page(out, shape);
  for (const auto& change : changes) page.addChange(change);
  page.finish(summary);
}

}  // namespace view
