// Template part of InetObject.h.
#pragma once

#include "platform/inet/InetErrors.h"

namespace inet {

template <typename T>
std::shared_ptr<T> LookupAs(HINTERNET handle, std::initializer_list<ObjectKind> kinds) {
  std::shared_ptr<InetObject> object = LookupObject(handle);
  if (!object) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  for (ObjectKind kind : kinds) {
    if (object->Kind() == kind) {
      return std::static_pointer_cast<T>(object);
    }
  }
  Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return nullptr;
}

}  // namespace inet
