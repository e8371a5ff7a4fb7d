#include <gtest/gtest.h>

#include "rtl/Exceptions.h"
#include "rtl/StringList.h"

namespace {

TEST(StringList, NameValueAccessIsCaseInsensitive) {
  rtl::StringList l;
  l.Add("Host=example");
  l.Add("plain line");
  l.Add("Accept=*/*");
  EXPECT_EQ(l.Values("host"), "example");
  EXPECT_EQ(l.IndexOfName("ACCEPT"), 2);
  EXPECT_EQ(l.Values("plain line"), "");
  l.SetValues("accept", "text/html");
  EXPECT_EQ(l[2], "accept=text/html");
  l.SetValues("Host", "");
  EXPECT_EQ(l.Count(), 2);
  l.SetValues("New", "1");
  EXPECT_EQ(l[2], "New=1");
}

TEST(StringList, TextSplitsAnyLineBreakAndJoinsWithCrLf) {
  rtl::StringList l;
  l.SetText("a\r\nb\nc\rd");
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l.Text(), "a\r\nb\r\nc\r\nd\r\n");
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, DelimitedTextQuotesWhatNeedsIt) {
  rtl::StringList l;
  l.Add("plain");
  l.Add("with space");
  l.Add("say \"hi\"");
  std::string text = l.CommaText();
  EXPECT_EQ(text, "plain,\"with space\",\"say \"\"hi\"\"\"");
  rtl::StringList back;
  back.SetCommaText(text);
  EXPECT_TRUE(back.Equals(l));
}

TEST(StringList, ChangeEventsFireOncePerUpdateBracket) {
  rtl::StringList l;
  int changing = 0, changed = 0;
  l.OnChanging = [&](rtl::StringList*) { ++changing; };
  l.OnChange = [&](rtl::StringList*) { ++changed; };
  l.Add("a");
  EXPECT_EQ(changed, 1);
  l.BeginUpdate();
  l.Add("b");
  l.Add("c");
  l.Delete(0);
  EXPECT_EQ(changed, 1);
  l.EndUpdate();
  EXPECT_EQ(changing, 2);
  EXPECT_EQ(changed, 2);
}

TEST(StringList, BadIndexesRaiseListErrors) {
  rtl::StringList l{"a"};
  EXPECT_THROW(l.Strings(1), rtl::EListError);
  EXPECT_THROW(l.Delete(-1), rtl::EListError);
  try {
    l.Strings(5);
  } catch (const rtl::EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
}

TEST(StringList, AssignCopiesLinesAndNotifies) {
  rtl::StringList a{"x", "y"}, b;
  int changed = 0;
  b.OnChange = [&](rtl::StringList*) { ++changed; };
  b.Assign(a);
  EXPECT_TRUE(b.Equals(a));
  EXPECT_EQ(changed, 1);
}

}  // namespace
