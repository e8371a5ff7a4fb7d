// The download component as placed on a form: every setting published, so that
// it is stored with the window and in the registry value "Data".
//
// Threads: the user-interface thread's.
#pragma once

#include "download/MultiDownLoaderControl.h"

class TclMultiDownLoader : public TclCustomMultiDownLoaderControl {
 public:
  explicit TclMultiDownLoader(rtl::Component* owner = nullptr)
      : TclCustomMultiDownLoaderControl(owner) {}
  std::string ClassName() const override { return "TclMultiDownLoader"; }
  void DefineProperties(rtl::Properties& properties) override;
};
