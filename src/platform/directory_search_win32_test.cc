// The Windows directory search on real folders (under Wine in the cross
// build's tests).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/directory_search.h"
#include "platform/listing_win32.h"
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

// A kept listing is checked by asking its directory's state by path, which
// must answer for the root of a drive as for any folder below it.
TEST(Win32DirectorySearchTest, ADirectorysStateIsReadByPathForAFolderAndADriveRoot) {
  ScopedTempDir folder;
  std::wstring path = L"\\\\?\\" + folder.path().wstring();
  ASSERT_EQ(path.substr(5, 2), L":\\") << folder.str();
  EXPECT_TRUE(platform::directoryStateOf(path));
  EXPECT_TRUE(platform::directoryStateOf(path.substr(0, 6)));  // \\?\C:
  EXPECT_FALSE(platform::directoryStateOf(path + L"\\missing"));
}

}  // namespace
