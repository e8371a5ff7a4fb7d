#include "rtl/PropertyStreaming.h"

#include "rtl/Collection.h"
#include "rtl/Exceptions.h"
#include "rtl/StringList.h"

namespace rtl {

namespace {

// What one component load collects while it reads: the components it put into
// their loading state and the references still to be resolved by name.
struct LoadContext {
  Component* root;
  std::vector<Component*> loaded;
  std::vector<std::pair<std::string, std::function<void(Component*)>>> fixups;
};
thread_local LoadContext* tLoad = nullptr;

Component* ResolveName(Component* root, const std::string& name) {
  if (name.empty()) return nullptr;
  if (root->Name() == name) return root;
  if (Component* found = root->FindComponent(name)) return found;
  if (root->Owner()) {
    if (root->Owner()->Name() == name) return root->Owner();
    return root->Owner()->FindComponent(name);
  }
  return nullptr;
}

// Name and Tag are properties of every component.
void ReadComponentProperties(Component& component, const Json& json) {
  if (!json.is_object()) throw EReadError("Invalid stream format");
  Json own = json;
  if (auto it = own.find("Name"); it != own.end()) {
    std::string name = Properties::Convert<std::string>("Name", *it);
    if (component.Name().empty()) component.SetName(name);
    own.erase(it);
  }
  if (auto it = own.find("Tag"); it != own.end()) {
    component.SetTag(Properties::Convert<std::int32_t>("Tag", *it));
    own.erase(it);
  }
  ReadProperties(component, own);
}

Json WriteComponentProperties(Component& component) {
  Json result = Json::object();
  if (!component.Name().empty()) result["Name"] = component.Name();
  if (component.Tag() != 0) result["Tag"] = component.Tag();
  Json own = WriteProperties(component);
  for (auto& [key, value] : own.items()) result[key] = std::move(value);
  return result;
}

}  // namespace

Properties::Declared Properties::Add(Property p) {
  list_.push_back(std::move(p));
  return Declared(list_.back());
}

const Properties::Property* Properties::Find(const std::string& name) const {
  for (const auto& p : list_) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

void Properties::RaiseInvalidValue(const std::string& name) {
  throw EReadError(Format("Invalid property value (%s)", name.c_str()));
}

size_t Properties::EnumIndex(const std::string& name, const Json& j, const std::vector<std::string>& names) {
  if (j.is_string()) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == j.get<std::string>()) return i;
    }
  } else if (j.is_number_unsigned() && j.get<size_t>() < names.size()) {
    return j.get<size_t>();
  }
  RaiseInvalidValue(name);
}

Properties::Declared Properties::Object(const std::string& name, Persistent* object) {
  Property p;
  p.name = name;
  p.object = object;
  p.get = [object] { return WriteProperties(*object); };
  p.set = [object, name](const Json& j) {
    if (!j.is_object()) RaiseInvalidValue(name);
    ReadProperties(*object, j);
  };
  return Add(std::move(p));
}

Properties::Declared Properties::Strings(const std::string& name, StringList* list) {
  Property p;
  p.name = name;
  p.get = [list] { return Json(list->Items()); };
  p.set = [list, name](const Json& j) {
    if (!j.is_array()) RaiseInvalidValue(name);
    list->BeginUpdate();
    list->Clear();
    for (const auto& s : j) list->Add(Convert<std::string>(name, s));
    list->EndUpdate();
  };
  auto declared = Add(std::move(p));
  declared.StoredWhen([list] { return list->Count() > 0; });
  return declared;
}

Properties::Declared Properties::Items(const std::string& name, Collection* collection) {
  Property p;
  p.name = name;
  p.get = [collection] {
    Json array = Json::array();
    for (int i = 0; i < collection->Count(); ++i) array.push_back(WriteProperties(*collection->GetItem(i)));
    return array;
  };
  p.set = [collection, name](const Json& j) {
    if (!j.is_array()) RaiseInvalidValue(name);
    collection->BeginUpdate();
    try {
      collection->Clear();
      for (const auto& item : j) ReadProperties(*collection->AddItem(), item);
    } catch (...) {
      collection->EndUpdate();
      throw;
    }
    collection->EndUpdate();
  };
  auto declared = Add(std::move(p));
  declared.StoredWhen([collection] { return collection->Count() > 0; });
  return declared;
}

Properties::Declared Properties::Child(const std::string& name, Component* child) {
  Property p;
  p.name = name;
  p.object = child;
  p.get = [child] { return WriteComponentProperties(*child); };
  p.set = [child, name](const Json& j) {
    if (!j.is_object()) RaiseInvalidValue(name);
    if (tLoad == nullptr) {
      ReadComponentProperties(*child, j);
      return;
    }
    child->BeginLoading();
    tLoad->loaded.push_back(child);
    ReadComponentProperties(*child, j);
  };
  return Add(std::move(p));
}

Properties::Declared Properties::Reference(const std::string& name, std::function<Component*()> get,
                                           std::function<void(Component*)> set) {
  Property p;
  p.name = name;
  p.get = [get] {
    Component* c = get();
    return c ? Json(c->Name()) : Json();
  };
  p.set = [set, name](const Json& j) {
    if (j.is_null()) {
      set(nullptr);
      return;
    }
    std::string target = Convert<std::string>(name, j);
    if (tLoad != nullptr) {
      tLoad->fixups.emplace_back(target, set);
    }
  };
  auto declared = Add(std::move(p));
  declared.StoredWhen([get] {
    Component* c = get();
    return c != nullptr && !c->Name().empty();
  });
  return declared;
}

Properties::Declared Properties::Custom(const std::string& name, std::function<Json()> write,
                                        std::function<void(const Json&)> read) {
  Property p;
  p.name = name;
  p.get = std::move(write);
  p.set = std::move(read);
  return Add(std::move(p));
}

Json WriteProperties(Persistent& object) {
  Properties properties;
  object.DefineProperties(properties);
  Json result = Json::object();
  for (const auto& p : properties.List()) {
    if (p.stored && !p.stored()) continue;
    Json value = p.get();
    if (p.defaultValue && value == *p.defaultValue) continue;
    // A nested object with nothing of its own to store is left out.
    if (p.object && value.empty()) continue;
    result[p.name] = std::move(value);
  }
  return result;
}

void ReadProperties(Persistent& object, const Json& json) {
  if (!json.is_object()) throw EReadError("Invalid stream format");
  Properties properties;
  object.DefineProperties(properties);
  for (const auto& [name, value] : json.items()) {
    const auto* p = properties.Find(name);
    if (!p || !p->set) throw EReadError(Format("Property %s does not exist", name.c_str()));
    p->set(value);
  }
}

Json WriteComponent(Component& component) { return WriteComponentProperties(component); }

void ReadComponent(Component& component, const Json& json) {
  LoadContext context{&component, {&component}, {}};
  LoadContext* outer = tLoad;
  tLoad = &context;
  component.BeginLoading();
  std::exception_ptr failure;
  try {
    ReadComponentProperties(component, json);
    for (auto& [name, set] : context.fixups) {
      if (Component* target = ResolveName(&component, name)) set(target);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  tLoad = outer;
  // Every component that entered its loading state leaves it, also after a
  // failed read, so that none stays with its setters switched off.
  for (Component* loaded : context.loaded) {
    try {
      loaded->EndLoading();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

std::string SaveToText(Persistent& object) { return WriteProperties(object).dump(2); }

void LoadFromText(Persistent& object, const std::string& text) {
  Json json;
  try {
    json = Json::parse(text);
  } catch (const std::exception& e) {
    throw EReadError(Format("Invalid stream format: %s", e.what()));
  }
  if (auto* component = dynamic_cast<Component*>(&object)) {
    ReadComponent(*component, json);
  } else {
    ReadProperties(object, json);
  }
}

}  // namespace rtl
