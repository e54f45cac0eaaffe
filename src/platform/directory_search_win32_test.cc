// The Windows directory search on real folders (under Wine in the cross
// build's tests).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/directory_search.h"
#include "test_support.h"

namespace {

TEST(Win32DirectorySearchTest, AFailedListingSaysWhyInOneLineAndASuccessForgetsIt) {
  ScopedTempDir folder;
  platform::DirectorySearch& search = platform::directorySearch();
  platform::FindData entry;
  EXPECT_EQ(search.findFirst(folder.str() + "\\missing\\*", entry), nullptr);
  std::string reason = search.lastFailure();
  EXPECT_NE(reason, "");
  EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << reason;
  EXPECT_NE(search.findFirst(folder.str() + "\\*", entry), nullptr);
  EXPECT_EQ(search.lastFailure(), "");
}

}  // namespace
