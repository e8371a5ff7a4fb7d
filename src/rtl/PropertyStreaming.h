// Property streaming: a persistent object declares its published properties in
// streaming order (DefineProperties); the writer stores each property whose
// "stored when" rule holds and whose value differs from its default, as members
// of an ordered JSON object; the reader replays stored members in the order they
// were written through the same setters, so setter rules apply on loading too.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "rtl/Component.h"

namespace rtl {

using Json = nlohmann::ordered_json;

class Collection;
class StringList;

class Properties {
 public:
  struct Property {
    std::string name;
    std::function<Json()> get;
    std::function<void(const Json&)> set;
    std::function<bool()> stored;  // empty: always stored
    std::optional<Json> defaultValue;
    Persistent* object = nullptr;  // nested persistent streamed as an object
  };

  // Chaining handle for the property just declared.
  class Declared {
   public:
    explicit Declared(Property& p) : p_(p) {}
    template <class T>
    Declared& Default(const T& value) {
      p_.defaultValue = Json(value);
      return *this;
    }
    Declared& StoredWhen(std::function<bool()> rule) {
      p_.stored = std::move(rule);
      return *this;
    }

   private:
    Property& p_;
  };

  // A value property: integers, booleans, doubles, strings.
  template <class T, class Get, class Set>
  Declared Value(const std::string& name, Get get, Set set) {
    Property p;
    p.name = name;
    p.get = [get] { return Json(static_cast<T>(get())); };
    p.set = [set, name](const Json& j) { set(Convert<T>(name, j)); };
    return Add(std::move(p));
  }

  // An enumeration stored by its identifier (names in the enumeration's order).
  template <class E, class Get, class Set>
  Declared Enum(const std::string& name, Get get, Set set, std::vector<std::string> names) {
    Property p;
    p.name = name;
    p.get = [get, names] {
      auto i = static_cast<size_t>(get());
      return Json(i < names.size() ? names[i] : std::to_string(i));
    };
    p.set = [set, names, name](const Json& j) { set(static_cast<E>(EnumIndex(name, j, names))); };
    return Add(std::move(p));
  }

  // A nested persistent object, written as an object of its own properties and
  // read back into the existing object.
  Declared Object(const std::string& name, Persistent* object);
  // A string list, written as an array of strings.
  Declared Strings(const std::string& name, StringList* list);
  // A collection, written as an array of item objects.
  Declared Items(const std::string& name, Collection* collection);
  // A component owned by the object being streamed, written as an object of its
  // own properties. Read inside a component load, it is loaded too: its setters
  // see it loading, and its Loaded runs when the whole load has ended.
  Declared Child(const std::string& name, Component* child);
  // A reference to another component, written as that component's name. Read
  // inside a component load, the name is resolved when the load has read
  // everything (so forward references work), among the components owned by
  // the loaded root and then among its siblings; a name found nowhere leaves
  // the reference unset. Stored only while set.
  Declared Reference(const std::string& name, std::function<Component*()> get,
                     std::function<void(Component*)> set);
  // Anything else: the caller converts to and from JSON itself.
  Declared Custom(const std::string& name, std::function<Json()> write, std::function<void(const Json&)> read);

  const std::vector<Property>& List() const { return list_; }
  const Property* Find(const std::string& name) const;

  template <class T>
  static T Convert(const std::string& name, const Json& j) {
    try {
      return j.get<T>();
    } catch (const std::exception&) {
      RaiseInvalidValue(name);
    }
  }
  static size_t EnumIndex(const std::string& name, const Json& j, const std::vector<std::string>& names);
  [[noreturn]] static void RaiseInvalidValue(const std::string& name);

 private:
  Declared Add(Property p);
  std::vector<Property> list_;
};

// Writes Object's stored properties; an object with nothing stored gives {}.
Json WriteProperties(Persistent& object);
// Replays Json's members in their order. An unknown member raises EReadError
// "Property %s does not exist"; a value of the wrong kind raises EReadError
// "Invalid property value (%s)".
void ReadProperties(Persistent& object, const Json& json);

// Component forms: loading brackets the replay with the component's loading
// state, resolves the references read, and then calls Loaded on the root and
// on every child component loaded with it, in reading order. Name and Tag of
// the component are streamed as "Name" and "Tag" (Tag only when not 0); a
// stored name is not applied to a component that already has one.
Json WriteComponent(Component& component);
void ReadComponent(Component& component, const Json& json);

std::string SaveToText(Persistent& object);
void LoadFromText(Persistent& object, const std::string& text);  // EReadError on bad JSON

}  // namespace rtl
