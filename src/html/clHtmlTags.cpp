#include "html/clHtmlTags.h"

#include "rtl/Exceptions.h"

TclHtmlTag::TclHtmlTag(std::string name, int position, int length)
    : name_(std::move(name)), position_(position), length_(length) {}

TclHtmlTag::~TclHtmlTag() = default;

TclHtmlAttribute* TclHtmlTag::Attributes(int index) const {
  if (index < 0 || index >= AttributeCount()) rtl::RaiseListIndexError(index);
  return attributes_[static_cast<size_t>(index)].get();
}

TclHtmlAttribute* TclHtmlTag::FindAttribute(const std::string& name) const {
  for (const auto& a : attributes_) {
    if (a->Name() == name) return a.get();
  }
  return nullptr;
}

std::string TclHtmlTag::AttributeValue(const std::string& name) const {
  const TclHtmlAttribute* a = FindAttribute(name);
  return a ? a->Value() : std::string();
}

TclHtmlAttribute* TclHtmlTag::AddAttribute(std::string name, std::string value) {
  attributes_.push_back(std::make_unique<TclHtmlAttribute>(std::move(name), std::move(value)));
  return attributes_.back().get();
}

TclHtmlTagList::~TclHtmlTagList() {
  Clear();
}

TclHtmlTag* TclHtmlTagList::Items(int index) const {
  if (index < 0 || index >= Count()) rtl::RaiseListIndexError(index);
  return tags_[static_cast<size_t>(index)];
}

void TclHtmlTagList::Clear() {
  if (ownsTags_) {
    for (TclHtmlTag* tag : tags_) delete tag;
  }
  tags_.clear();
}

void TclHtmlTagList::Add(TclHtmlTag* tag) {
  std::unique_ptr<TclHtmlTag> guard(ownsTags_ ? tag : nullptr);  // freed if the list cannot grow
  tags_.push_back(tag);
  guard.release();
}

TclHtmlForm::~TclHtmlForm() {
  controls_.reset();
}
