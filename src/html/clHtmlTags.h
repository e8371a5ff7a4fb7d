// The object model of a parsed page: attributes, tags, forms, links, images
// and the lists that hold them. Objects belong to the parser that made them
// and to its thread; every tag is owned by exactly one owning list (the
// parser's Tags), other lists only refer to it.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TclHtmlAttribute {
 public:
  TclHtmlAttribute(std::string name, std::string value)
      : name_(std::move(name)), value_(std::move(value)) {}
  // Lower-case, as browsers compare attribute names.
  const std::string& Name() const { return name_; }
  // Character references decoded; empty for an attribute written without value.
  const std::string& Value() const { return value_; }

 private:
  std::string name_;
  std::string value_;
};

// One element's start tag (a self-closing tag too). End tags are not tags of
// their own: they only end what they close.
class TclHtmlTag {
 public:
  TclHtmlTag(std::string name, int position, int length);
  virtual ~TclHtmlTag();
  TclHtmlTag(const TclHtmlTag&) = delete;
  TclHtmlTag& operator=(const TclHtmlTag&) = delete;

  // The tag name in lower case ("a", "input", "form").
  const std::string& Name() const { return name_; }
  // The decoded text that follows the tag up to the next tag: the caption of a
  // link or button, the content of a textarea, option, title or script.
  // Filled only when the parse method includes text.
  const std::string& Text() const { return text_; }
  // Byte offset of the tag's "<" in the parsed text, and the tag's length up
  // to and including its ">" (the tag's source is text.substr(Position, Length)).
  int Position() const { return position_; }
  int Length() const { return length_; }

  int AttributeCount() const { return static_cast<int>(attributes_.size()); }
  TclHtmlAttribute* Attributes(int index) const;
  // The attribute of that name (lower case), or null.
  TclHtmlAttribute* FindAttribute(const std::string& name) const;
  // Its value, or empty when the attribute is missing.
  std::string AttributeValue(const std::string& name) const;

  // Used by the parser while it builds the tag.
  TclHtmlAttribute* AddAttribute(std::string name, std::string value);
  void AppendText(const std::string& text) { text_ += text; }

 private:
  std::string name_;
  std::string text_;
  int position_;
  int length_;
  std::vector<std::unique_ptr<TclHtmlAttribute>> attributes_;
};

class TclHtmlTagList {
 public:
  explicit TclHtmlTagList(bool ownsTags) : ownsTags_(ownsTags) {}
  virtual ~TclHtmlTagList();
  TclHtmlTagList(const TclHtmlTagList&) = delete;
  TclHtmlTagList& operator=(const TclHtmlTagList&) = delete;

  bool OwnsTags() const { return ownsTags_; }
  int Count() const { return static_cast<int>(tags_.size()); }
  // Zero-based; "List index out of bounds (%d)" outside the list.
  TclHtmlTag* Items(int index) const;
  // Frees the tags first when the list owns them, then empties the list.
  void Clear();
  // Appends a tag; an owning list takes it over.
  void Add(TclHtmlTag* tag);

 private:
  bool ownsTags_;
  std::vector<TclHtmlTag*> tags_;
};

class TclHtmlFormList : public TclHtmlTagList {
 public:
  using TclHtmlTagList::TclHtmlTagList;
};
class TclHtmlLinkList : public TclHtmlTagList {
 public:
  using TclHtmlTagList::TclHtmlTagList;
};
class TclHtmlImageList : public TclHtmlTagList {
 public:
  using TclHtmlTagList::TclHtmlTagList;
};

// A form with the list of its controls (input, select, textarea, button);
// the control tags themselves belong to the parser's Tags.
class TclHtmlForm : public TclHtmlTag {
 public:
  using TclHtmlTag::TclHtmlTag;
  ~TclHtmlForm() override;
  TclHtmlTagList& Controls() { return *controls_; }
  const TclHtmlTagList& Controls() const { return *controls_; }

 private:
  std::unique_ptr<TclHtmlTagList> controls_ = std::make_unique<TclHtmlTagList>(false);
};

// An "a" or "area" tag with an href.
class TclHtmlLink : public TclHtmlTag {
 public:
  using TclHtmlTag::TclHtmlTag;
};

// An "img" tag.
class TclHtmlImage : public TclHtmlTag {
 public:
  using TclHtmlTag::TclHtmlTag;
};
