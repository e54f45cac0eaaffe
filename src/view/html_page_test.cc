#include "view/html_page.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace view {
namespace {

// The text of the page's <script id="ID"> element.
std::string scriptText(const std::string& page, const std::string& id) {
  std::string open = "<script type=\"application/json\" id=\"" + id + "\">";
  size_t start = page.find(open);
  if (start == std::string::npos) return "";
  start += open.size();
  return page.substr(start, page.find("</script>", start) - start);
}

TEST(HtmlPageTest, DataCannotEndItsScriptElementAndReadsBackTheSame) {
  const std::string hostile[] = {
      "</script><script>window.__pwned=1</script>",
      "<!--<script>",
      "a&amp;b\"'>x",
      "line\u2028and\u2029paragraph",
      "control\x01\x1f\x7f",
  };
  for (const std::string& name : hostile) {
    SCOPED_TRACE(name);
    std::string safe = scriptSafeJson(name);
    EXPECT_EQ(safe.find_first_of("<>&"), std::string::npos);
    EXPECT_EQ(safe.find("\u2028"), std::string::npos);
    EXPECT_EQ(safe.find("\u2029"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(safe), name);
  }
  // Bytes that are not UTF-8 come out as U+FFFD rather than as an error.
  EXPECT_EQ(nlohmann::json::parse(scriptSafeJson("a\xff\xfe"
                                                 "b")),
            "a\uFFFD\uFFFD"
            "b");
}

TEST(HtmlPageTest, RowsHoldWhatTheTableShows) {
  struct Case {
    const char* change;
    const char* row;
  } cases[] = {
      {R"({"kind":"created","path":"lib/x.so","type":"file","verdict":"content","changed":[],
          "size":{"new":3,"diff":3},"write_time":{"new":"2026-12-07T15:14:02Z"},
          "mode":{"new":"-rw-r--r--"}})",
       R"([0,"lib/x.so",0,null,3,3,null,"2026-12-07T15:14:02Z","","",0])"},
      {R"({"kind":"moved","path":"new/a","old_path":"old/a","type":"directory",
          "verdict":"metadata","changed":["mode","owner"],"size":{"old":4,"new":4,"diff":0},
          "mode":{"old":"drwxr-xr-x","new":"drwx------"},
          "owner":{"old":{"uid":1000,"name":"alice"},"new":{"uid":0}}})",
       R"([3,"new/a",1,4,4,0,null,null,"mode drwxr-xr-x → drwx------; owner alice (1000) → 0","old/a",1])"},
      {R"({"kind":"type","path":"p","type":"directory","old_type":"file","verdict":"content",
          "changed":["size","attributes"],"size":{"old":9,"new":0,"diff":-9},
          "attributes":{"old":["archive"],"new":["directory"]},
          "creation_time":{"old":null,"new":"2026-12-07T15:14:02.5Z"}})",
       R"([4,"p",0,9,0,-9,null,null,"type file → directory; attributes archive → directory; creation_time none → 2026-12-07T15:14:02.5Z","",1])"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(htmlRow(nlohmann::json::parse(c.change)), nlohmann::json::parse(c.row));
  }
}

TEST(HtmlPageTest, PageKeepsRowsToItsLimitAndCountsTheRest) {
  nlohmann::json summary = {
      {"counts", {{"created", 3}}},
      {"rollups", {{{"folder", "a<"}, {"depth", 1}, {"created", 3}, {"bytes_added", 3}}}}};
  std::vector<nlohmann::json> changes;
  for (const char* path : {"a</script>", "b", "c"}) {
    changes.push_back({{"kind", "created"}, {"path", path}, {"size", {{"new", 1}, {"diff", 1}}}});
  }
  std::ostringstream out;
  writeHtmlPage(out, summary, changes, 2);
  const std::string page = out.str();

  nlohmann::json rows = nlohmann::json::parse(scriptText(page, "dirlog-rows"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], "a</script>");
  nlohmann::json data = nlohmann::json::parse(scriptText(page, "dirlog-summary"));
  EXPECT_EQ(data["summary"]["counts"], summary["counts"]);
  EXPECT_EQ(data["rollup_rows"], nlohmann::json::parse(R"([["a<",3,0,0,0,0,3,0]])"));
  EXPECT_EQ(data["row_limit"], 2);
  EXPECT_EQ(data["rows_left_out"], 1);
  // The page's own script and nothing the data added.
  EXPECT_EQ(page.find("<script nonce="), page.rfind("<script"));
  EXPECT_EQ(page.find("@STYLE@"), std::string::npos);
  EXPECT_NE(page.find("</html>"), std::string::npos);
}

}  // namespace
}  // namespace view
