#include "view/json_output.h"

#include "platform/view_support.h"

namespace view {
namespace {

using nlohmann::json;

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
  if (std::optional<std::string> name = platform::userName(uid)) owner["name"] = *name;
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
      return entry.shortName;
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
  return {{"log", log.file},
          {"start", log.facts.start},
          {"taken", log.taken ? timeToJson(*log.taken, TimeZone::kUtc) : json(nullptr)},
          {"records", log.facts.records}};
}

json countsToJson(const KindCounts& counts) {
  json object = json::object();
  for (size_t kind = 0; kind < kKindCount; ++kind) {
    object[kindName(static_cast<Kind>(kind))] = counts[kind];
  }
  return object;
}

}  // namespace

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
    unread.push_back({{"log", line.log == UnreadLine::Log::kBefore ? "before" : "after"},
                      {"line", line.line},
                      {"text", line.text}});
  }
  json rollups = json::array();
  for (const Rollup& rollup : summary.rollups) {
    json object = {{"folder", rollup.folder},
                   {"depth", rollup.depth},
                   {"bytes_added", rollup.bytes.added},
                   {"bytes_removed", rollup.bytes.removed},
                   {"bytes_net", rollup.bytes.net()}};
    object.update(countsToJson(rollup.counts));
    rollups.push_back(object);
  }
  return {{"before", logToJson(summary.before)},
          {"after", logToJson(summary.after)},
          {"separator", std::string(1, summary.separator)},
          {"counts", countsToJson(summary.counts)},
          {"shown", summary.shown},
          {"bytes",
           {{"added", summary.bytes.added},
            {"removed", summary.bytes.removed},
            {"net", summary.bytes.net()}}},
          {"access_only_hidden", summary.accessOnlyHidden},
          {"unread_lines", summary.unreadCount},
          {"unread", unread},
          {"rollups", rollups}};
}

std::string jsonLine(const json& object) {
  return object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

void writeJsonLines(std::FILE* out, const std::vector<Change>& changes, const Summary& summary,
                    const Presentation& presentation) {
  for (const Change& change : changes) {
    std::string line = jsonLine(changeToJson(change, presentation));
    std::fwrite(line.data(), 1, line.size(), out);
  }
  std::string last = jsonLine({{"summary", summaryToJson(summary, presentation)}});
  std::fwrite(last.data(), 1, last.size(), out);
}

}  // namespace view
