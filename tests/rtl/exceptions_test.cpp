#include <gtest/gtest.h>

#include "rtl/Component.h"
#include "rtl/Exceptions.h"

namespace {

TEST(Exceptions, AssertionCarriesMessageModuleAndLine) {
  try {
    rtl::Assert(false, "Cannot find SyncInfo", "clDCUtils", 513);
    FAIL();
  } catch (const rtl::EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Cannot find SyncInfo (clDCUtils, line 513)");
  }
  EXPECT_NO_THROW(rtl::Assert(true, "x", "m", 1));
}

class TFoo : public rtl::Persistent {
 public:
  std::string ClassName() const override { return "TFoo"; }
};
class TBar : public rtl::Persistent {
 public:
  std::string ClassName() const override { return "TBar"; }
};

TEST(Exceptions, AssignBetweenUnrelatedClassesIsRefusedWithBothNames) {
  TFoo foo;
  TBar bar;
  try {
    bar.Assign(foo);
    FAIL();
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TFoo to a TBar");
  }
}

}  // namespace
