// Any text is parsed without crash, hang or leak, with every method; the
// lists only refer to tags that Tags owns, and each tag's source span lies
// inside the text.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "html/clHtmlParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TclHtmlParser parser;
  int events = 0;
  parser.OnParseTag = [&](TclHtmlParser*, TclHtmlTag*) { ++events; };
  for (TclHtmlParseMethod method : {pmAll, pmTagsOnly, pmTextOnly}) {
    parser.SetParseMethod(method);
    events = 0;
    parser.Parse(text);
    std::set<TclHtmlTag*> owned;
    for (int i = 0; i < parser.Tags().Count(); ++i) {
      TclHtmlTag* tag = parser.Tags().Items(i);
      owned.insert(tag);
      if (tag->Position() < 0 || tag->Length() < 2 ||
          static_cast<std::size_t>(tag->Position()) + static_cast<std::size_t>(tag->Length()) >
              size) {
        __builtin_trap();
      }
    }
    if (static_cast<int>(owned.size()) != parser.Tags().Count() || events != parser.Tags().Count())
      __builtin_trap();
    for (TclHtmlTagList* list : {static_cast<TclHtmlTagList*>(&parser.Forms()),
                                 static_cast<TclHtmlTagList*>(&parser.Links()),
                                 static_cast<TclHtmlTagList*>(&parser.Images())}) {
      for (int i = 0; i < list->Count(); ++i) {
        if (!owned.count(list->Items(i))) __builtin_trap();
      }
    }
    for (int i = 0; i < parser.Forms().Count(); ++i) {
      auto* form = static_cast<TclHtmlForm*>(parser.Forms().Items(i));
      for (int k = 0; k < form->Controls().Count(); ++k) {
        if (!owned.count(form->Controls().Items(k))) __builtin_trap();
      }
    }
  }
  return 0;
}
