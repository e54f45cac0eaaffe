#include "view/html_page.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace view {
namespace {

// The text of the page's <script ... id="ID"> element.
std::string scriptText(const std::string& page, const std::string& id) {
  size_t start = page.find("id=\"" + id + "\">");
  if (start == std::string::npos) return "";
  start = page.find('>', start) + 1;
  return page.substr(start, page.find("</script>", start) - start);
}

// The data of a page read back as its script reads it: the meta object, and
// the columns of varints one after the other.
struct PageData {
  nlohmann::json meta;
  std::string bytes;
  size_t at = 0;

  explicit PageData(const std::string& page) {
    // Lone surrogates (bytes that are not UTF-8) are kept as the text of
    // their escapes: JSON.parse takes them, nlohmann::json does not.
    std::string text = scriptText(page, "dirlog-data");
    for (size_t at = 0; (at = text.find("\\udc", at)) != std::string::npos; at += 6) {
      text.insert(at, "\\");
    }
    meta = nlohmann::json::parse(text);
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    uint32_t group = 0;
    int bits = 0;
    for (char c : scriptText(page, "dirlog-columns")) {
      if (c == '=') break;
      group = (group << 6) | static_cast<uint32_t>(digits.find(c));
      bits += 6;
      if (bits >= 8) bytes += static_cast<char>((group >> (bits -= 8)) & 0xFF);
    }
  }

  uint64_t next() {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      auto byte = static_cast<unsigned char>(bytes.at(at++));
      value |= uint64_t{byte & 0x7Fu} << shift;
      if (byte < 0x80) return value;
    }
  }

  std::vector<uint64_t> column(size_t count) {
    std::vector<uint64_t> values(count);
    for (uint64_t& value : values) value = next();
    return values;
  }

  // A write time column: each code, with the fraction that follows a time.
  std::vector<std::string> written(size_t count) {
    std::vector<std::string> values;
    for (size_t i = 0; i < count; ++i) {
      uint64_t code = next();
      values.push_back(code < 3 || code % 2 == 0
                           ? std::to_string(code)
                           : std::to_string(code) + "." + std::to_string(next()));
    }
    return values;
  }
};

nlohmann::json change(const char* kind, const std::string& path, int64_t diff = 1) {
  return {{"kind", kind}, {"path", path}, {"size", {{"new", diff}, {"diff", diff}}}};
}

TEST(HtmlPageTest, DataCannotEndItsScriptElementAndReadsBackTheSame) {
  const std::string hostile[] = {
      "</script><script>window.__pwned=1</script>",
      "<!--<script>",
      "a&amp;b\"'>x\\",
      "line\u2028and\u2029paragraph",
      "control\x01\x1f\x7f",
      "invoice\u202Efdp.exe",
  };
  for (const std::string& name : hostile) {
    SCOPED_TRACE(name);
    std::string safe = scriptSafeJson(name);
    std::string own = "\"";
    appendPageString(own, name);
    own += '"';
    for (const std::string& text : {safe, own}) {
      EXPECT_EQ(text.find_first_of("<>&"), std::string::npos);
      EXPECT_EQ(text.find("\u2028"), std::string::npos);
      EXPECT_EQ(text.find("\u2029"), std::string::npos);
      EXPECT_EQ(nlohmann::json::parse(text), name);
    }
  }
  // Bytes that are not UTF-8: U+FFFD in JSON; in the page's own strings a
  // lone surrogate each, so that two such names stay two. Lengths count
  // UTF-16 code units, as the script does.
  EXPECT_EQ(nlohmann::json::parse(scriptSafeJson("a\xff\xfe"
                                                 "b")),
            "a\uFFFD\uFFFD"
            "b");
  std::string own;
  EXPECT_EQ(appendPageString(own,
                             "a\xff\xfe"
                             "b\U0001F600"),
            6u);
  EXPECT_EQ(own, "a\\udcff\\udcfeb\U0001F600");
}

TEST(HtmlPageTest, PastItsLimitAPageListsAnEvenShareOfEveryKindAndCountsTheRest) {
  nlohmann::json summary = {{"counts", {{"deleted", 6}, {"created", 4}}}, {"rollups", {"dropped"}}};
  std::vector<nlohmann::json> changes;
  for (int i = 0; i < 6; ++i) changes.push_back(change("deleted", "old/" + std::to_string(i), -1));
  for (int i = 0; i < 4; ++i)
    changes.push_back(change("created", "new<script>" + std::to_string(i)));
  std::ostringstream out;
  writeHtmlPage(out, summary, changes, 5);
  const std::string page = out.str();

  PageData data(page);
  EXPECT_EQ(data.meta["changes"], 10);
  EXPECT_EQ(data.meta["rows"], 5);
  EXPECT_EQ(data.meta["summary"]["counts"], summary["counts"]);
  EXPECT_FALSE(data.meta["summary"].contains("rollups"));
  // Kinds by their number (created 0, deleted 1), the rest of the code
  // being verdict and type: the page keeps changes 1, 3, 5, 7 and 9.
  std::vector<uint64_t> kinds = data.column(5);
  for (uint64_t& kind : kinds) kind %= data.meta["kinds"].size();
  EXPECT_EQ(kinds, (std::vector<uint64_t>{1, 1, 1, 0, 0}));
  EXPECT_NE(data.meta["names"].get<std::string>().find("new<script>1"), std::string::npos);
  // The folder tree counts all ten: the start folder holds 4 created and
  // 6 deleted, "old" 6 deleted.
  data.column(5 * 4);
  data.written(5);
  data.written(5);
  data.column(5 * 2);
  ASSERT_EQ(data.meta["folders"], 2);
  data.column(2 * 2);
  EXPECT_EQ(data.column(7), (std::vector<uint64_t>{4, 6, 0, 0, 0, 4, 6}));
  // The page's own script is the only one, allowed by its hash.
  EXPECT_EQ(page.find("<script>"), page.rfind("<script"));
  EXPECT_NE(page.find("script-src 'sha256-"), std::string::npos);
  EXPECT_EQ(page.find("@SCRIPT_HASH@"), std::string::npos);
  EXPECT_NE(page.find("</html>"), std::string::npos);
}

TEST(HtmlPageTest, FoldersKeepTheirExactBytesAndCountEachChangeOnce) {
  std::vector<nlohmann::json> changes = {change("created", "/srv/x"), change("created", "top")};
  for (const char* b64 : {"ZP8vYQ==", "ZP4vYg=="}) {  // "d\xFF/a", "d\xFE/b"
    changes.push_back(change("created", "d\uFFFD/a"));
    changes.back()["path_b64"] = b64;
  }
  std::ostringstream out;
  writeHtmlPage(out, nlohmann::json::object(), changes);
  PageData data(out.str());
  // Folders in path order, the separator first: "", "/srv", "d\xFE", "d\xFF".
  EXPECT_EQ(data.meta["folders"], 4);
  EXPECT_EQ(data.meta["folder_names"], R"(/srvd\udcfed\udcff)");
  data.column(4 * 5);
  data.written(4);
  data.written(4);
  data.column(4 * 2);
  EXPECT_EQ(data.column(4), (std::vector<uint64_t>{0, 0, 0, 0}));  // parents
  data.column(4);
  EXPECT_EQ(data.next(), 4u);  // the start folder: 4 created, not 5
}

TEST(HtmlPageTest, WriteTimesSayWhetherTheyChangedOrWereNeverGiven) {
  struct Case {
    nlohmann::json writeTime;
    const char* old;
    const char* now;
  } cases[] = {
      // Not in the change (a mode or a move): not given on either side.
      {nullptr, "0", "0"},
      {{{"new", nullptr}}, "0", "1"},
      {{{"old", "2026-12-07T15:14:02Z"}, {"new", "2026-12-07T15:14:02.5Z"}}, "3.0", "3.5000000"},
      {{{"old", "1970-01-01T00:00:00+01:00"}, {"new", "not a time"}}, "3.0", "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.writeTime.dump());
    nlohmann::json modified = change("modified", "f");
    if (!c.writeTime.is_null()) modified["write_time"] = c.writeTime;
    std::ostringstream out;
    writeHtmlPage(out, nlohmann::json::object(), {modified});
    PageData data(out.str());
    data.column(5);
    EXPECT_EQ(data.written(1), std::vector<std::string>{c.old});
    EXPECT_EQ(data.written(1), std::vector<std::string>{c.now});
  }
}

}  // namespace
}  // namespace view
