// TclHtmlParser: parses an HTML text into an object model (every tag in
// document order with its attributes; forms with their controls; links;
// images) and announces each element through an event. A component of the
// thread that created it; not safe for concurrent use.
//
// ParseMethod says what a parse collects:
//   pmTagsOnly  tags, attributes, the form/link/image lists and every event;
//               no text (each tag's Text and the parser's Text stay empty);
//   pmTextOnly  only the page's text (the parser's Text); no tags, no events;
//   pmAll       both.
//
// The reading follows browsers: tag and attribute names are compared in
// lower case; attribute values may be double-quoted, single-quoted or
// unquoted; the first of several same-named attributes wins; comments,
// declarations and processing instructions are skipped; character
// references are decoded to UTF-8; script and style (and xmp, iframe,
// noembed, noframes) hold raw text up to their own end tag, textarea and
// title text with references decoded; a tag cut off by the end of the text
// is dropped. A form lasts from <form> to </form> (or the end of the text);
// a <form> inside an open form is listed as a plain tag and its controls
// belong to the outer form, as browsers ignore the nested one. Links are the
// a and area tags with an href; images are the img tags.
//
// Events of one tag come once its following text is known, in this order:
// OnParseAttribute for each attribute, OnParseTag, then OnParseForm,
// OnParseLink or OnParseImage for those kinds, then OnParseFormControl when
// the tag is a control of a form. Tags are reported in document order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "html/clHtmlTags.h"
#include "rtl/Component.h"
#include "rtl/Exceptions.h"

enum TclHtmlParseMethod : std::uint8_t { pmAll, pmTagsOnly, pmTextOnly };

class TclHtmlParser;
using TclOnParseTag = std::function<void(TclHtmlParser* sender, TclHtmlTag* tag)>;
using TclOnParseForm = std::function<void(TclHtmlParser* sender, TclHtmlForm* form)>;
using TclOnParseLink = std::function<void(TclHtmlParser* sender, TclHtmlLink* link)>;
using TclOnParseImage = std::function<void(TclHtmlParser* sender, TclHtmlImage* image)>;
using TclOnParseAttribute =
    std::function<void(TclHtmlParser* sender, TclHtmlTag* tag, TclHtmlAttribute* attribute)>;
using TclOnParseFormControl =
    std::function<void(TclHtmlParser* sender, TclHtmlForm* form, TclHtmlTag* control)>;

class TclHtmlParser : public rtl::Component {
 public:
  explicit TclHtmlParser(rtl::Component* owner = nullptr);
  ~TclHtmlParser() override;
  std::string ClassName() const override { return "TclHtmlParser"; }

  TclHtmlParseMethod ParseMethod() const { return parseMethod_; }
  void SetParseMethod(TclHtmlParseMethod value) { parseMethod_ = value; }

  TclHtmlTagList& Tags() { return *tags_; }
  TclHtmlFormList& Forms() { return *forms_; }
  TclHtmlLinkList& Links() { return *links_; }
  TclHtmlImageList& Images() { return *images_; }
  // The page's text without markup, script and style (pmAll, pmTextOnly).
  const std::string& Text() const { return text_; }

  // Clears the four lists and the text, then parses the HTML text. A handler
  // that starts another parse of the same parser gets an rtl::Exception.
  void Parse(const std::string& html);
  void Clear();

  void DefineProperties(rtl::Properties& properties) override;

  TclOnParseTag OnParseTag;
  TclOnParseForm OnParseForm;
  TclOnParseLink OnParseLink;
  TclOnParseImage OnParseImage;
  TclOnParseAttribute OnParseAttribute;
  TclOnParseFormControl OnParseFormControl;

 protected:
  virtual void DoParseTag(TclHtmlTag* tag);
  virtual void DoParseForm(TclHtmlForm* form);
  virtual void DoParseLink(TclHtmlLink* link);
  virtual void DoParseImage(TclHtmlImage* image);
  virtual void DoParseAttribute(TclHtmlTag* tag, TclHtmlAttribute* attribute);
  virtual void DoParseFormControl(TclHtmlForm* form, TclHtmlTag* control);

 private:
  class Builder;
  // Declared so that destruction frees Images, Links, Forms, then Tags.
  std::unique_ptr<TclHtmlTagList> tags_;
  std::unique_ptr<TclHtmlFormList> forms_;
  std::unique_ptr<TclHtmlLinkList> links_;
  std::unique_ptr<TclHtmlImageList> images_;
  std::string text_;
  TclHtmlParseMethod parseMethod_ = pmTagsOnly;
  bool parsing_ = false;
};
