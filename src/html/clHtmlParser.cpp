#include "html/clHtmlParser.h"

#include <climits>

#include "html/clHtmlTokenizer.h"
#include "rtl/PropertyStreaming.h"

namespace {

bool IsFormControl(const std::string& name) {
  return name == "input" || name == "select" || name == "textarea" || name == "button";
}

int Clamp32(size_t value) {
  return value > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

}  // namespace

// One parse: turns tokens into tags and lists, and raises each tag's events
// once the text that follows it has been read.
class TclHtmlParser::Builder {
 public:
  explicit Builder(TclHtmlParser& parser) : p_(parser) {}

  void Run(const std::string& html) {
    const bool wantTags = p_.parseMethod_ != pmTextOnly;
    const bool wantText = p_.parseMethod_ != pmTagsOnly;
    html::Tokenizer tokenizer(html);
    html::Token token;
    while (tokenizer.Next(token)) {
      switch (token.kind) {
        case html::Token::Text:
          if (!wantText) break;
          if (pending_) pending_->AppendText(token.text);
          if (!token.scriptOrStyle) p_.text_ += token.text;
          break;
        case html::Token::EndTag:
          if (!wantTags) break;
          Flush();
          if (token.name == "form") form_ = nullptr;
          break;
        case html::Token::StartTag:
          if (!wantTags) break;
          Flush();
          StartTag(token);
          break;
      }
    }
    Flush();
  }

 private:
  void StartTag(html::Token& token) {
    std::string& name = token.name;
    if (name == "image") name = "img";  // browsers read <image> as <img>
    const int position = Clamp32(token.position);
    const int length = Clamp32(token.length);
    auto has = [&](const char* attribute) {
      for (const auto& a : token.attributes) {
        if (a.first == attribute) return true;
      }
      return false;
    };
    std::unique_ptr<TclHtmlTag> tag;
    if (name == "form" && !form_) {
      tag = std::make_unique<TclHtmlForm>(name, position, length);
    } else if ((name == "a" || name == "area") && has("href")) {
      tag = std::make_unique<TclHtmlLink>(name, position, length);
    } else if (name == "img") {
      tag = std::make_unique<TclHtmlImage>(name, position, length);
    } else {
      tag = std::make_unique<TclHtmlTag>(name, position, length);
    }
    for (auto& [attrName, value] : token.attributes)
      tag->AddAttribute(std::move(attrName), std::move(value));
    TclHtmlTag* raw = tag.release();
    p_.tags_->Add(raw);  // Tags owns it from here on
    pending_ = raw;
    pendingForm_ = nullptr;
    if (auto* form = dynamic_cast<TclHtmlForm*>(raw)) {
      p_.forms_->Add(form);
      form_ = form;
    } else if (auto* link = dynamic_cast<TclHtmlLink*>(raw)) {
      p_.links_->Add(link);
    } else if (auto* image = dynamic_cast<TclHtmlImage*>(raw)) {
      p_.images_->Add(image);
    }
    if (form_ && IsFormControl(name)) {
      form_->Controls().Add(raw);
      pendingForm_ = form_;
    }
  }

  void Flush() {
    TclHtmlTag* tag = pending_;
    TclHtmlForm* form = pendingForm_;
    pending_ = nullptr;
    pendingForm_ = nullptr;
    if (!tag) return;
    for (int i = 0; i < tag->AttributeCount(); ++i) p_.DoParseAttribute(tag, tag->Attributes(i));
    p_.DoParseTag(tag);
    if (auto* f = dynamic_cast<TclHtmlForm*>(tag)) {
      p_.DoParseForm(f);
    } else if (auto* link = dynamic_cast<TclHtmlLink*>(tag)) {
      p_.DoParseLink(link);
    } else if (auto* image = dynamic_cast<TclHtmlImage*>(tag)) {
      p_.DoParseImage(image);
    }
    if (form) p_.DoParseFormControl(form, tag);
  }

  TclHtmlParser& p_;
  TclHtmlForm* form_ = nullptr;         // the open form
  TclHtmlTag* pending_ = nullptr;       // the last tag, whose events are due
  TclHtmlForm* pendingForm_ = nullptr;  // its form, when it is a control
};

TclHtmlParser::TclHtmlParser(rtl::Component* owner)
    : rtl::Component(owner),
      tags_(std::make_unique<TclHtmlTagList>(true)),
      forms_(std::make_unique<TclHtmlFormList>(false)),
      links_(std::make_unique<TclHtmlLinkList>(false)),
      images_(std::make_unique<TclHtmlImageList>(false)) {}

TclHtmlParser::~TclHtmlParser() {
  images_.reset();
  links_.reset();
  forms_.reset();
  tags_.reset();
}

void TclHtmlParser::Clear() {
  if (parsing_) throw rtl::Exception("The HTML parser is busy with a parse");
  // The referring lists first: Tags frees the tags they point to.
  images_->Clear();
  links_->Clear();
  forms_->Clear();
  tags_->Clear();
  text_.clear();
}

void TclHtmlParser::Parse(const std::string& html) {
  Clear();
  parsing_ = true;
  try {
    Builder(*this).Run(html);
  } catch (...) {
    parsing_ = false;
    throw;
  }
  parsing_ = false;
}

void TclHtmlParser::DefineProperties(rtl::Properties& properties) {
  properties.Enum<TclHtmlParseMethod>(
      "ParseMethod", [this] { return parseMethod_; },
      [this](TclHtmlParseMethod v) { SetParseMethod(v); }, {"pmAll", "pmTagsOnly", "pmTextOnly"});
}

void TclHtmlParser::DoParseTag(TclHtmlTag* tag) {
  if (OnParseTag) OnParseTag(this, tag);
}
void TclHtmlParser::DoParseForm(TclHtmlForm* form) {
  if (OnParseForm) OnParseForm(this, form);
}
void TclHtmlParser::DoParseLink(TclHtmlLink* link) {
  if (OnParseLink) OnParseLink(this, link);
}
void TclHtmlParser::DoParseImage(TclHtmlImage* image) {
  if (OnParseImage) OnParseImage(this, image);
}
void TclHtmlParser::DoParseAttribute(TclHtmlTag* tag, TclHtmlAttribute* attribute) {
  if (OnParseAttribute) OnParseAttribute(this, tag, attribute);
}
void TclHtmlParser::DoParseFormControl(TclHtmlForm* form, TclHtmlTag* control) {
  if (OnParseFormControl) OnParseFormControl(this, form, control);
}
