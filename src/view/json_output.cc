#include "view/json_output.h"

#include "platform/system.h"

namespace view {
namespace {

using nlohmann::json;

// A text taken from a log or the file system as JSON: where it is not valid
// UTF-8, the exact bytes go along in base64 under the key and "_b64".
void putPath(json& object, const char* key, const std::string& path) {
  if (isValidUtf8(path)) {
    object[key] = path;
    return;
  }
  object[key] = toValidUtf8(path);
  object[std::string(key) + "_b64"] = base64(path);
}

json ownerToJson(uint32_t uid) {
  json owner = {{"uid", uid}};
  if (std::optional<std::string> name = platform::userName(uid)) owner["name"] = toValidUtf8(*name);
  return owner;
}

// The value of one field of `entry` as the output gives it.
json fieldValue(Field field, const Entry& entry, const Presentation& presentation) {
  switch (field) {
    case kSizeField:
      return entry.size;
    case kWriteTimeField:
      return timeToJson(entry.write, presentation.zone);
    case kCreationTimeField:
      return timeToJson(entry.creation, presentation.zone);
    case kAccessTimeField:
      return timeToJson(entry.access, presentation.zone);
    case kAttributesField:
      return attributeNames(entry.attributes);
    case kModeField:
      return modeString(entry.mode);
    case kOwnerField:
      return ownerToJson(entry.owner);
    case kShortNameField:
      return toValidUtf8(entry.shortName);
  }
  return nullptr;
}

// Mode and owner exist on POSIX logs only; the access time of a changed
// entry shows only when asked for, a created or deleted entry's always.
bool fieldApplies(Field field, bool whole, const Presentation& presentation) {
  if (field == kModeField || field == kOwnerField) return presentation.system == LogSystem::kPosix;
  if (field == kAccessTimeField) return whole || presentation.access == AccessTimes::kShown;
  return true;
}

json sizeToJson(const Change& change) {
  json size = json::object();
  if (change.before) size["old"] = change.before->size;
  if (change.after) size["new"] = change.after->size;
  Bytes bytes = bytesOf(change);
  size["diff"] = bytes.net();
  return size;
}

json logToJson(const LogSummary& log) {
  json object = {{"taken", log.taken ? timeToJson(*log.taken, TimeZone::kUtc) : json(nullptr)},
                 {"records", log.facts.records}};
  if (log.live) {
    object["log"] = nullptr;  // no log holds it: the tree as walked just now
    object["live"] = true;
  } else {
    putPath(object, "log", log.file);
  }
  putPath(object, "start", log.facts.start);
  return object;
}

json countsToJson(const KindCounts& counts) {
  json object = json::object();
  for (size_t kind = 0; kind < kKindCount; ++kind) {
    object[kindName(static_cast<Kind>(kind))] = counts[kind];
  }
  return object;
}

// The change line written directly, for speed: the same text that
// jsonLine(changeToJson(change)) gives, keys in the same (sorted) order and
// strings escaped the same way, without building the object first.
class ChangeLine {
 public:
  ChangeLine(std::string& out, const Presentation& presentation)
      : out_(out), presentation_(presentation) {}

  void write(const Change& change) {
    const Entry& current = change.after ? *change.after : *change.before;
    bool whole = change.kind == Kind::kCreated || change.kind == Kind::kDeleted;
    auto shows = [&](Field field) {
      if (!fieldApplies(field, whole, presentation_)) return false;
      return whole || (change.changed & field) != 0;
    };
    out_ += '{';
    if (shows(kAccessTimeField)) fieldObject("access_time", kAccessTimeField, change);
    if (shows(kAttributesField)) fieldObject("attributes", kAttributesField, change);
    key("changed");
    out_ += '[';
    bool first = true;
    for (Field field : kAllFields) {
      if ((change.changed & field) == 0) continue;
      if (!first) out_ += ',';
      first = false;
      text(fieldName(field));
    }
    out_ += ']';
    if (shows(kCreationTimeField)) fieldObject("creation_time", kCreationTimeField, change);
    key("kind");
    text(kindName(change.kind));
    if (shows(kModeField)) fieldObject("mode", kModeField, change);
    if (change.kind == Kind::kMoved) path("old_path", change.before->path);
    if (change.kind == Kind::kType) {
      key("old_type");
      text(typeName(change.before->type));
    }
    if (shows(kOwnerField)) fieldObject("owner", kOwnerField, change);
    path("path", current.path);
    if (shows(kShortNameField)) fieldObject("short_name", kShortNameField, change);
    key("size");
    out_ += "{\"diff\":";
    out_ += std::to_string(bytesOf(change).net());
    if (change.after) out_ += ",\"new\":" + std::to_string(change.after->size);
    if (change.before) out_ += ",\"old\":" + std::to_string(change.before->size);
    out_ += '}';
    key("type");
    text(typeName(current.type));
    key("verdict");
    text(verdictName(change.verdict));
    if (shows(kWriteTimeField)) fieldObject("write_time", kWriteTimeField, change);
    out_ += "}\n";
  }

 private:
  void key(const char* name) {
    if (out_.back() != '{') out_ += ',';
    out_ += '"';
    out_ += name;
    out_ += "\":";
  }

  static bool needsNoEscape(char c) {
    return static_cast<unsigned char>(c) >= 0x20 && c != '"' && c != '\\';
  }

  // As the library escapes: the two that must be, the five with short
  // escapes, other control characters as \u00xx; all else as it is.
  void text(std::string_view value) {
    out_ += '"';
    size_t plain = 0;
    while (plain < value.size() && needsNoEscape(value[plain])) ++plain;
    out_.append(value.data(), plain);
    for (char c : value.substr(plain)) {
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\b':
          out_ += "\\b";
          break;
        case '\f':
          out_ += "\\f";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        default:
          if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out_ += escaped;
          } else {
            out_ += c;
          }
      }
    }
    out_ += '"';
  }

  void path(const char* name, const std::string& value) {
    key(name);
    if (isValidUtf8(value)) {
      text(value);
      return;
    }
    text(toValidUtf8(value));
    key((std::string(name) + "_b64").c_str());
    text(base64(value));
  }

  void time(uint64_t ticks) {
    if (ticks == 0) {
      out_ += "null";
      return;
    }
    TimeZone zone = presentation_.zone;
    text(isoTime(ticks, zone, zone == TimeZone::kLocal ? localOffsetAt(ticks) : 0));
  }

  void value(Field field, const Entry& entry) {
    switch (field) {
      case kWriteTimeField:
        return time(entry.write);
      case kCreationTimeField:
        return time(entry.creation);
      case kAccessTimeField:
        return time(entry.access);
      case kAttributesField: {
        out_ += '[';
        bool first = true;
        for (const std::string& name : attributeNames(entry.attributes)) {
          if (!first) out_ += ',';
          first = false;
          text(name);
        }
        out_ += ']';
        return;
      }
      case kModeField:
        return text(modeString(entry.mode));
      case kOwnerField: {
        out_ += '{';
        if (std::optional<std::string> name = platform::userName(entry.owner)) {
          key("name");
          text(toValidUtf8(*name));
        }
        key("uid");
        out_ += std::to_string(entry.owner);
        out_ += '}';
        return;
      }
      case kShortNameField:
        return text(toValidUtf8(entry.shortName));
      case kSizeField:
        out_ += std::to_string(entry.size);
        return;
    }
  }

  void fieldObject(const char* name, Field field, const Change& change) {
    key(name);
    out_ += '{';
    if (change.after) {
      key("new");
      value(field, *change.after);
    }
    if (change.before) {
      key("old");
      value(field, *change.before);
    }
    out_ += '}';
  }

  std::string& out_;
  const Presentation& presentation_;
};

// Characters that a terminal takes as orders, written as \u escapes so
// that a JSON line shown as it is cannot reorder or drive the terminal: DEL,
// the C1 controls and those that turn the writing direction. JSON text
// holds bytes other than ASCII only inside its strings, where an escape
// means the same character.
void escapeTerminalOrders(std::string& text, size_t from) {
  auto orders = [](uint32_t c) {
    return c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
  };
  size_t at = from;
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x7F) ++at;
  if (at == text.size()) return;
  std::string result = text.substr(0, at);
  while (at < text.size()) {
    Utf8Char c = utf8CharAt(text, at);
    if (orders(c.value)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c.value));
      result += escaped;
    } else {
      result.append(text, at, c.length);
    }
    at += c.length;
  }
  text = std::move(result);
}

}  // namespace

void appendChangeLine(std::string& out, const Change& change, const Presentation& presentation) {
  size_t start = out.size();
  ChangeLine(out, presentation).write(change);
  escapeTerminalOrders(out, start);
}

json timeToJson(uint64_t ticks, TimeZone zone) {
  if (ticks == 0) return nullptr;
  return isoTime(ticks, zone, zone == TimeZone::kLocal ? localOffsetAt(ticks) : 0);
}

json changeToJson(const Change& change, const Presentation& presentation) {
  json object;
  object["kind"] = kindName(change.kind);
  const Entry& current = change.after ? *change.after : *change.before;
  putPath(object, "path", current.path);
  if (change.kind == Kind::kMoved) putPath(object, "old_path", change.before->path);
  object["type"] = typeName(current.type);
  if (change.kind == Kind::kType) object["old_type"] = typeName(change.before->type);
  object["verdict"] = verdictName(change.verdict);
  json changed = json::array();
  for (Field field : kAllFields) {
    if ((change.changed & field) != 0) changed.push_back(fieldName(field));
  }
  object["changed"] = changed;
  object["size"] = sizeToJson(change);
  bool whole = change.kind == Kind::kCreated || change.kind == Kind::kDeleted;
  for (Field field : kAllFields) {
    if (field == kSizeField || !fieldApplies(field, whole, presentation)) continue;
    if (!whole && (change.changed & field) == 0) continue;
    json values = json::object();
    if (change.before) values["old"] = fieldValue(field, *change.before, presentation);
    if (change.after) values["new"] = fieldValue(field, *change.after, presentation);
    object[fieldName(field)] = values;
  }
  return object;
}

json summaryToJson(const Summary& summary, const Presentation&) {
  json unread = json::array();
  for (const UnreadLine& line : summary.unread) {
    json object = {{"log", line.log == UnreadLine::Log::kBefore ? "before" : "after"},
                   {"line", line.line}};
    putPath(object, "text", line.text);
    unread.push_back(object);
  }
  json rollups = json::array();
  for (const Rollup& rollup : summary.rollups) {
    json object = {{"depth", rollup.depth},
                   {"bytes_added", rollup.bytes.added},
                   {"bytes_removed", rollup.bytes.removed},
                   {"bytes_net", rollup.bytes.net()}};
    putPath(object, "folder", rollup.folder);
    object.update(countsToJson(rollup.counts));
    rollups.push_back(object);
  }
  json object = {{"before", logToJson(summary.before)},
                 {"after", logToJson(summary.after)},
                 {"separator", std::string(1, summary.separator)},
                 {"paths_below", nullptr},
                 {"code_page", summary.codePage ? json(*summary.codePage) : json(nullptr)},
                 {"counts", countsToJson(summary.counts)},
                 {"shown", summary.shown},
                 {"bytes",
                  {{"added", summary.bytes.added},
                   {"removed", summary.bytes.removed},
                   {"net", summary.bytes.net()}}},
                 {"access_only_hidden", summary.accessOnlyHidden},
                 {"unread_lines", summary.unreadCount},
                 {"unread", unread},
                 {"rollups", rollups},
                 {"version", DIRLOG_VERSION}};
  if (summary.pathsBelow) putPath(object, "paths_below", *summary.pathsBelow);
  return object;
}

std::string jsonLine(const json& object) {
  std::string line = object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  escapeTerminalOrders(line, 0);
  return line;
}

void writeJsonLines(std::FILE* out, const std::vector<Change>& changes, const Summary& summary,
                    const Presentation& presentation) {
  std::string line;
  for (const Change& change : changes) {
    line.clear();
    appendChangeLine(line, change, presentation);
    platform::writeUtf8(out, line.data(), line.size());
  }
  std::string last = jsonLine({{"summary", summaryToJson(summary, presentation)}});
  platform::writeUtf8(out, last.data(), last.size());
}

}  // namespace view
