#include "app/UpdateEntry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using app::CheckEntry;
using app::SplitEntryFields;
using app::TclUpdateEntry;
using Fields = std::vector<std::string>;

struct SplitCase {
  std::string value;
  Fields fields;
};

TEST(SplitEntryFieldsTest, FollowsTheDelimitedTextRule) {
  const SplitCase cases[] = {
      {"1, a/b.dat", {"1", "a/b.dat"}},
      {"1,my file.dat", {"1", "my", "file.dat"}},
      {"1,\"my file.dat\"", {"1", "my file.dat"}},
      {"1,a.dat,", {"1", "a.dat", ""}},
      // A comma followed by blanks at the end adds nothing.
      {"1,a.dat,  ", {"1", "a.dat"}},
      {"  \t2,x", {"2", "x"}},
      {"1\t,\t b", {"1", "b"}},
      {",a", {"", "a"}},
      {"1,\"say \"\"hi\"\"\"", {"1", "say \"hi\""}},
      {"1,\"open ended", {"1", "open ended"}},
      {"1,\"ab\"cd", {"1", "ab", "cd"}},
      {"", {}},
      {"   ", {}},
      // The value ends at a NUL.
      {std::string("1,a.dat\0,b", 10), {"1", "a.dat"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitEntryFields(c.value), c.fields) << "value: " << c.value;
  }
}

struct KindCase {
  std::string field;
  int kind;
};

TEST(EntryKindTest, ReadsSignedDecimalsAndEverythingElseAsMinusOne) {
  const KindCase cases[] = {
      {"0", 0},
      {"7", 7},
      {"+3", 3},
      {"-5", -5},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", -1},
      {"-2147483649", -1},
      {"99999999999999999999", -1},
      {"x", -1},
      {"", -1},
      {"-", -1},
      {"1x", -1},
      {"0x10", -1},
      {" 1", -1},
  };
  for (const KindCase& c : cases) {
    EXPECT_EQ(app::EntryKind(c.field), c.kind) << "field: " << c.field;
  }
}

struct EntryCase {
  std::string value;
  std::optional<TclUpdateEntry> entry;
};

TEST(CheckEntryTest, KeepsValidEntriesAndDropsTheRest) {
  const EntryCase cases[] = {
      {"0,a.dat", TclUpdateEntry{0, "a.dat"}},
      {"7,a.dat", TclUpdateEntry{7, "a.dat"}},
      {"2,bin/tool.exe", TclUpdateEntry{2, "bin/tool.exe"}},
      {"1,\"docs/read me.txt\"", TclUpdateEntry{1, "docs/read me.txt"}},
      {"-2,a.dat", TclUpdateEntry{-2, "a.dat"}},
      {"3,..a/b..", TclUpdateEntry{3, "..a/b.."}},
      {"x,a.dat", std::nullopt},
      {"-1,a.dat", std::nullopt},
      {"1", std::nullopt},
      {"1,my file.dat", std::nullopt},
      {"1,a.dat,", std::nullopt},
      {"1,a,b", std::nullopt},
      {"", std::nullopt},
  };
  for (const EntryCase& c : cases) {
    EXPECT_EQ(CheckEntry(c.value), c.entry) << "value: " << c.value;
  }
}

TEST(CheckEntryTest, DropsPathsThatLeaveTheApplicationFolder) {
  const std::string values[] = {
      "1,",         "1,\"\"",       "1,/etc/passwd", "1,\\x.dat", "1,../x.dat",    "1,a/../../x",
      "1,a/..",     "1,..",         "1,a\\..\\x",    "1,C:x.dat", "1,c:/system/x", "1,bin/",
      "1,\"/abs\"", "1,\"a/../b\"",
  };
  for (const std::string& value : values) {
    EXPECT_EQ(CheckEntry(value), std::nullopt) << "value: " << value;
  }
}

}  // namespace
