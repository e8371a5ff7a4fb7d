#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "html/clHtmlEntities.h"
#include "html/clHtmlParser.h"
#include "rtl/PropertyStreaming.h"

namespace {

// A sign-up page: a form with every kind of control, a second form, tables
// nested in tables, a script holding "</div>", unclosed tags and attributes
// without quotes.
const char kSignupPage[] = R"(<!DOCTYPE html>
<html lang=en>
<head>
<title>Sign up &amp; win</title>
<meta charset="utf-8">
<style>p > a { color: red } /* <b>not a tag</b> */</style>
<script type="text/javascript">
  var s = "</div>"; if (a < b && c > d) { document.write('<a href="x">'); }
</script>
</head>
<body>
<!-- <form action="/commented-out"> -->
<div id=main class='wrap'>
<form action=/signup method="POST" name='reg'>
  <input type=text name=user value="J&uuml;rgen">
  <input type="password" name="pw">
  <input type="checkbox" name="news" checked>
  <input type=radio name=plan value=free><input type=radio name=plan value=paid>
  <input type="hidden" name="token" value='a"b'>
  <input type="file" name="avatar">
  <select name="country"><option value="de">Germany<option value="fr" selected>France</select>
  <textarea name="bio" rows=3>Hello <b>world</b> &lt;3</textarea>
  <button type="submit" name="go">Create account</button>
  <input type=submit value=Send>
</form>
<table border=1>
  <tr><td>outer<table><tr><td><a href="/inner?a=1&b=2">inner link</a><td>cell</table>
  <tr><td><img src="logo.png" alt="Logo"><td><img src=x.gif>
</table>
<p>Unclosed paragraph <b>bold <i>both
<p>Another <a name="anchor">anchor</a> and <a href='/help' title=Help>help</a>
<map name=m><area href="/region" shape=rect coords="0,0,10,10"><area shape=default></map>
<form action="/search"><input name=q><input type=submit></form>
</div>
</body>
</html>
)";

std::vector<std::string> Names(TclHtmlTagList& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Items(i)->Name());
  return names;
}

class HtmlParserTest : public ::testing::Test {
 protected:
  TclHtmlParser parser;
};

TEST_F(HtmlParserTest, NewParserIsEmptyWithTagsOnly) {
  EXPECT_EQ(parser.ParseMethod(), pmTagsOnly);
  EXPECT_EQ(parser.Tags().Count(), 0);
  EXPECT_EQ(parser.Forms().Count(), 0);
  EXPECT_EQ(parser.Links().Count(), 0);
  EXPECT_EQ(parser.Images().Count(), 0);
  EXPECT_TRUE(parser.Tags().OwnsTags());
  EXPECT_FALSE(parser.Forms().OwnsTags());
  EXPECT_THROW(parser.Tags().Items(0), rtl::EListError);
}

TEST_F(HtmlParserTest, EveryStartTagInDocumentOrder) {
  parser.Parse(kSignupPage);
  std::vector<std::string> expected = {
      "html",   "head",   "title",  "meta",     "style",  "script", "body",  "div",
      "form",   "input",  "input",  "input",    "input",  "input",  "input", "input",
      "select", "option", "option", "textarea", "button", "input",  "table", "tr",
      "td",     "table",  "tr",     "td",       "a",      "td",     "tr",    "td",
      "img",    "td",     "img",    "p",        "b",      "i",      "p",     "a",
      "a",      "map",    "area",   "area",     "form",   "input",  "input"};
  EXPECT_EQ(Names(parser.Tags()), expected);
}

TEST_F(HtmlParserTest, FormsCollectTheirControls) {
  parser.Parse(kSignupPage);
  ASSERT_EQ(parser.Forms().Count(), 2);
  auto* reg = dynamic_cast<TclHtmlForm*>(parser.Forms().Items(0));
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->AttributeValue("action"), "/signup");
  EXPECT_EQ(reg->AttributeValue("method"), "POST");
  EXPECT_EQ(reg->AttributeValue("name"), "reg");
  std::vector<std::string> controls;
  for (int i = 0; i < reg->Controls().Count(); ++i) {
    TclHtmlTag* c = reg->Controls().Items(i);
    controls.push_back(c->Name() + ":" + c->AttributeValue("name"));
  }
  EXPECT_EQ(controls,
            (std::vector<std::string>{"input:user", "input:pw", "input:news", "input:plan",
                                      "input:plan", "input:token", "input:avatar", "select:country",
                                      "textarea:bio", "button:go", "input:"}));
  EXPECT_EQ(reg->Controls().Items(0)->AttributeValue("value"), "J\xC3\xBCrgen");
  EXPECT_EQ(reg->Controls().Items(5)->AttributeValue("value"), "a\"b");
  ASSERT_NE(reg->Controls().Items(2)->FindAttribute("checked"), nullptr);
  EXPECT_EQ(reg->Controls().Items(2)->FindAttribute("checked")->Value(), "");
  auto* search = dynamic_cast<TclHtmlForm*>(parser.Forms().Items(1));
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->Controls().Count(), 2);
  EXPECT_FALSE(search->Controls().OwnsTags());
}

TEST_F(HtmlParserTest, LinksAreHrefAnchorsAndAreasAndImagesAreImgs) {
  parser.Parse(kSignupPage);
  std::vector<std::string> hrefs;
  for (int i = 0; i < parser.Links().Count(); ++i) {
    EXPECT_NE(dynamic_cast<TclHtmlLink*>(parser.Links().Items(i)), nullptr);
    hrefs.push_back(parser.Links().Items(i)->AttributeValue("href"));
  }
  EXPECT_EQ(hrefs, (std::vector<std::string>{"/inner?a=1&b=2", "/help", "/region"}));
  ASSERT_EQ(parser.Images().Count(), 2);
  EXPECT_EQ(parser.Images().Items(0)->AttributeValue("src"), "logo.png");
  EXPECT_EQ(parser.Images().Items(1)->AttributeValue("src"), "x.gif");
}

TEST_F(HtmlParserTest, ScriptAndStyleAreRawTextUpToTheirOwnEndTag) {
  parser.SetParseMethod(pmAll);
  parser.Parse(kSignupPage);
  TclHtmlTag* script = nullptr;
  TclHtmlTag* style = nullptr;
  for (int i = 0; i < parser.Tags().Count(); ++i) {
    if (parser.Tags().Items(i)->Name() == "script") script = parser.Tags().Items(i);
    if (parser.Tags().Items(i)->Name() == "style") style = parser.Tags().Items(i);
  }
  ASSERT_NE(script, nullptr);
  EXPECT_NE(script->Text().find("var s = \"</div>\";"), std::string::npos);
  EXPECT_NE(script->Text().find("document.write('<a href=\"x\">')"), std::string::npos);
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->Text(), "p > a { color: red } /* <b>not a tag</b> */");
  EXPECT_EQ(parser.Text().find("document.write"), std::string::npos) << "script is not page text";
}

TEST_F(HtmlParserTest, TagTextAndPositions) {
  parser.SetParseMethod(pmAll);
  const std::string page = kSignupPage;
  parser.Parse(page);
  for (int i = 0; i < parser.Tags().Count(); ++i) {
    TclHtmlTag* tag = parser.Tags().Items(i);
    std::string source =
        page.substr(static_cast<size_t>(tag->Position()), static_cast<size_t>(tag->Length()));
    EXPECT_EQ(source.front(), '<');
    EXPECT_EQ(source.back(), '>');
    EXPECT_EQ(source.substr(1, tag->Name().size()), tag->Name()) << source;
  }
  auto text = [&](const std::string& name, int nth = 0) {
    for (int i = 0; i < parser.Tags().Count(); ++i) {
      if (parser.Tags().Items(i)->Name() == name && nth-- == 0)
        return parser.Tags().Items(i)->Text();
    }
    return std::string("<missing>");
  };
  EXPECT_EQ(text("title"), "Sign up & win");
  EXPECT_EQ(text("textarea"), "Hello <b>world</b> <3")
      << "textarea content is text, references decoded";
  EXPECT_EQ(text("button"), "Create account");
  EXPECT_EQ(text("option", 1), "France");
  EXPECT_EQ(text("a", 2), "help");
  EXPECT_NE(parser.Text().find("Unclosed paragraph bold both"), std::string::npos);
  EXPECT_EQ(parser.Text().find("<b>not a tag"), std::string::npos);
}

TEST_F(HtmlParserTest, TagsOnlyLeavesTextEmptyAndTextOnlyMakesNoTags) {
  int events = 0;
  parser.OnParseTag = [&](TclHtmlParser*, TclHtmlTag*) { ++events; };
  parser.Parse(kSignupPage);
  EXPECT_TRUE(parser.Text().empty());
  for (int i = 0; i < parser.Tags().Count(); ++i)
    EXPECT_TRUE(parser.Tags().Items(i)->Text().empty());
  EXPECT_EQ(events, parser.Tags().Count());

  events = 0;
  parser.SetParseMethod(pmTextOnly);
  parser.Parse(kSignupPage);
  EXPECT_EQ(parser.Tags().Count(), 0);
  EXPECT_EQ(parser.Forms().Count(), 0);
  EXPECT_EQ(events, 0);
  EXPECT_NE(parser.Text().find("Create account"), std::string::npos);
}

TEST_F(HtmlParserTest, EventsComeInDocumentOrderPerTag) {
  std::vector<std::string> log;
  parser.OnParseTag = [&](TclHtmlParser* sender, TclHtmlTag* t) {
    EXPECT_EQ(sender, &parser);
    log.push_back("tag " + t->Name());
  };
  parser.OnParseAttribute = [&](TclHtmlParser*, TclHtmlTag* t, TclHtmlAttribute* a) {
    log.push_back("attr " + t->Name() + " " + a->Name() + "=" + a->Value());
  };
  parser.OnParseForm = [&](TclHtmlParser*, TclHtmlForm* f) {
    log.push_back("form " + f->AttributeValue("id"));
  };
  parser.OnParseLink = [&](TclHtmlParser*, TclHtmlLink* l) {
    log.push_back("link " + l->AttributeValue("href"));
  };
  parser.OnParseImage = [&](TclHtmlParser*, TclHtmlImage* i) {
    log.push_back("image " + i->AttributeValue("src"));
  };
  parser.OnParseFormControl = [&](TclHtmlParser*, TclHtmlForm* f, TclHtmlTag* c) {
    log.push_back("control " + f->AttributeValue("id") + " " + c->Name());
  };
  parser.Parse("<form id=f><input name=a><a href=/x><img src=i.png></a></form><input name=out>");
  EXPECT_EQ(log, (std::vector<std::string>{
                     "attr form id=f", "tag form", "form f", "attr input name=a", "tag input",
                     "control f input", "attr a href=/x", "tag a", "link /x", "attr img src=i.png",
                     "tag img", "image i.png", "attr input name=out", "tag input"}));
}

TEST_F(HtmlParserTest, HandlersSeeTheFollowingText) {
  parser.SetParseMethod(pmAll);
  std::vector<std::string> seen;
  parser.OnParseLink = [&](TclHtmlParser*, TclHtmlLink* l) { seen.push_back(l->Text()); };
  parser.Parse("<a href=1>one</a> <a href=2>t<!-- c -->wo</a><a href=3>");
  EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", ""}));
}

TEST_F(HtmlParserTest, NestedFormIsIgnoredLikeBrowsersDo) {
  parser.Parse("<form id=outer><input name=a><form id=inner><input name=b></form><input name=c>");
  ASSERT_EQ(parser.Forms().Count(), 1);
  auto* outer = static_cast<TclHtmlForm*>(parser.Forms().Items(0));
  EXPECT_EQ(outer->Controls().Count(), 2) << "</form> closed the outer form";
  EXPECT_EQ(parser.Tags().Count(), 5);
  EXPECT_EQ(dynamic_cast<TclHtmlForm*>(parser.Tags().Items(2)), nullptr);
}

TEST_F(HtmlParserTest, UnclosedFormRunsToTheEnd) {
  parser.Parse("<form><input name=a><p>text<select name=s><option>1</select><textarea></textarea>");
  ASSERT_EQ(parser.Forms().Count(), 1);
  EXPECT_EQ(Names(static_cast<TclHtmlForm*>(parser.Forms().Items(0))->Controls()),
            (std::vector<std::string>{"input", "select", "textarea"}));
}

TEST_F(HtmlParserTest, AttributesFollowBrowserRules) {
  parser.Parse(
      R"(<input NAME="a" name="b" Value='x y' data-x = "spaced" bare disabled=disabled /><img src=a.png/>)"
      R"(<a href="?a=1&copy=2&amp;c=&lt;">)");
  TclHtmlTag* input = parser.Tags().Items(0);
  ASSERT_EQ(input->AttributeCount(), 5);
  EXPECT_EQ(input->Attributes(0)->Name(), "name");
  EXPECT_EQ(input->Attributes(0)->Value(), "a") << "the first of two same-named attributes wins";
  EXPECT_EQ(input->AttributeValue("value"), "x y");
  EXPECT_EQ(input->AttributeValue("data-x"), "spaced");
  EXPECT_EQ(input->Attributes(3)->Name(), "bare");
  EXPECT_EQ(input->AttributeValue("disabled"), "disabled");
  EXPECT_EQ(parser.Tags().Items(1)->AttributeValue("src"), "a.png/")
      << "unquoted values end only at blanks and >";
  EXPECT_EQ(parser.Tags().Items(2)->AttributeValue("href"), "?a=1&copy=2&c=<");
}

TEST_F(HtmlParserTest, CommentsAndDeclarationsAreSkipped) {
  parser.SetParseMethod(pmAll);
  parser.Parse(
      "<!doctype html><?xml version=1?><!--> <!---> a<!-- <b> -- > --><i>b</i><!-- unterminated "
      "<p>");
  EXPECT_EQ(Names(parser.Tags()), std::vector<std::string>{"i"});
  EXPECT_EQ(parser.Text(), "  ab");
}

TEST_F(HtmlParserTest, MalformedMarkupNeverCrashesOrLoops) {
  const std::vector<std::string> pages = {
      "",
      "<",
      "<<<<",
      "</",
      "</>",
      "< p>",
      "a < b > c",
      "<a",
      "<a href=\"unterminated",
      "<a href='x>",
      "<a b c d",
      "<script>never closed",
      "<script></script",
      "<style>",
      "<textarea>x</textarea",
      "<plaintext><b>all text</b></plaintext>",
      "&#",
      "&#x;",
      "&#99999999999999;",
      "&",
      "&amp",
      "&unknown;",
      std::string("\0<a\0b=\0>\0", 9),
      "<!",
      "<!-",
      "<!--",
      "<?",
      "<form></form></form></form>",
      "<a/href=x>",
      "<=>",
      "<a =x>",
      "<img src=\"\xff\xfe\">",
  };
  for (const auto& page : pages) {
    parser.SetParseMethod(pmAll);
    EXPECT_NO_THROW(parser.Parse(page)) << page;
  }
  parser.Parse("<plaintext><b>all text</b></plaintext>");
  EXPECT_EQ(parser.Tags().Count(), 1);
  EXPECT_EQ(parser.Text(), "<b>all text</b></plaintext>");
  parser.Parse("<a href=\"unterminated");
  EXPECT_EQ(parser.Tags().Count(), 0) << "a tag cut off by the end is dropped";
  parser.Parse("a < b > c");
  EXPECT_EQ(parser.Text(), "a < b > c");
}

TEST_F(HtmlParserTest, DeepAndWideInputStaysLinear) {
  std::string page;
  for (int i = 0; i < 20000; ++i) page += "<div><!-- c --><b class=x>";
  parser.Parse(page);
  EXPECT_EQ(parser.Tags().Count(), 40000);
}

TEST_F(HtmlParserTest, ANewParseStartsFromEmptyLists) {
  parser.Parse(kSignupPage);
  parser.Parse("<a href=1>");
  EXPECT_EQ(parser.Tags().Count(), 1);
  EXPECT_EQ(parser.Links().Count(), 1);
  EXPECT_EQ(parser.Forms().Count(), 0);
  EXPECT_EQ(parser.Images().Count(), 0);
}

TEST_F(HtmlParserTest, AHandlerCannotStartAnotherParse) {
  parser.OnParseTag = [&](TclHtmlParser* sender, TclHtmlTag*) { sender->Parse("<b>"); };
  EXPECT_THROW(parser.Parse("<a><i>"), rtl::Exception);
  parser.OnParseTag = nullptr;
  parser.Parse("<a><i>");
  EXPECT_EQ(parser.Tags().Count(), 2);
}

TEST(HtmlParserLifetime, EveryTagIsFreedExactlyOnce) {
  // Tags listed in Forms, Links, Images and form control lists as well are
  // freed by Tags alone; a sanitizer build reports any double or missed free.
  auto parser = std::make_unique<TclHtmlParser>();
  parser->Parse(kSignupPage);
  int count = parser->Tags().Count();
  std::set<TclHtmlTag*> distinct;
  for (int i = 0; i < count; ++i) distinct.insert(parser->Tags().Items(i));
  EXPECT_EQ(static_cast<int>(distinct.size()), count);
  for (auto* list : {static_cast<TclHtmlTagList*>(&parser->Forms()),
                     static_cast<TclHtmlTagList*>(&parser->Links()),
                     static_cast<TclHtmlTagList*>(&parser->Images())}) {
    for (int i = 0; i < list->Count(); ++i) EXPECT_EQ(distinct.count(list->Items(i)), 1u);
  }
  parser.reset();
}

TEST(HtmlParserLifetime, OwnedByAComponentAndStoredWithItsMethod) {
  rtl::Component owner;
  auto* parser = new TclHtmlParser(&owner);
  parser->SetParseMethod(pmAll);
  EXPECT_EQ(rtl::WriteComponent(*parser).dump(), R"({"ParseMethod":"pmAll"})");
  TclHtmlParser copy;
  rtl::ReadComponent(copy, rtl::Json::parse(R"({"ParseMethod":"pmTextOnly"})"));
  EXPECT_EQ(copy.ParseMethod(), pmTextOnly);
  EXPECT_EQ(rtl::WriteComponent(copy).dump(), R"({"ParseMethod":"pmTextOnly"})");
  parser->Parse("<a href=x>");
}

TEST(CharacterReferences, DecodeAsBrowsersDo) {
  using html::DecodeCharacterReferences;
  EXPECT_EQ(DecodeCharacterReferences("&lt;&gt;&amp;&quot;&apos;", false), "<>&\"'");
  EXPECT_EQ(DecodeCharacterReferences("&#65;&#x42;&#X43;&#68", false), "ABCD");
  EXPECT_EQ(DecodeCharacterReferences("&#x20AC;&euro;&#128;", false),
            "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC");
  EXPECT_EQ(DecodeCharacterReferences("&#0;&#xD800;&#x110000;", false),
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(DecodeCharacterReferences("&copy 2024 &nbsp;", false), "\xC2\xA9 2024 \xC2\xA0");
  EXPECT_EQ(DecodeCharacterReferences("&euro no semicolon", false), "&euro no semicolon");
  EXPECT_EQ(DecodeCharacterReferences("&bogus; & &#; &#x;", false), "&bogus; & &#; &#x;");
  EXPECT_EQ(DecodeCharacterReferences("a=1&copy=2&reg3", true), "a=1&copy=2&reg3");
  EXPECT_EQ(DecodeCharacterReferences("&notit;", false), "\xC2\xACit;") << "longest legacy prefix";
  EXPECT_EQ(DecodeCharacterReferences("&Uuml;ber &eacute;t&eacute;", false),
            "\xC3\x9C"
            "ber \xC3\xA9t\xC3\xA9");
}

}  // namespace
