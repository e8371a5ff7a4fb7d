// The item class registry is the one piece of request composition shared
// between threads: builders on several threads recreate stored items while
// other classes are being registered.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "http/clHttpRequest.h"
#include "rtl/PropertyStreaming.h"

namespace {

struct TclThreadTestItem : TclTextRequestItem {
  const TclHttpRequestItemClass& ItemClass() const override { return ClassInfo(); }
  static const TclHttpRequestItemClass& ClassInfo() {
    static const TclHttpRequestItemClass info{"TclThreadTestItem", &CreateFor<TclThreadTestItem>};
    return info;
  }
};

TEST(ItemRegistryThreading, BuildersOnManyThreadsLoadWhileClassesAreRegistered) {
  rtl::Json stored;
  {
    TclHttpRequestBuilder source;
    auto* field = source.AddItem<TclFormFieldRequestItem>();
    field->SetFieldName("n");
    field->SetFieldValue("v");
    source.AddItem<TclXmlRequestItem>()->SetText("<x/>");
    stored = rtl::WriteComponent(source);
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        TclHttpRequestBuilder builder;
        rtl::ReadComponent(builder, stored);
        builder.Prepare();
        if (builder.ItemCount() != 2 || builder.GetBodyText().Count() != 1) ++failures;
      }
    });
  }
  threads.emplace_back([] {
    for (int i = 0; i < 200; ++i) RegisterRequestItemClass(TclThreadTestItem::ClassInfo());
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  ASSERT_NE(FindRequestItemClass("TclThreadTestItem"), nullptr);
  TclHttpRequestBuilder builder;
  EXPECT_EQ(builder.AddItem(*FindRequestItemClass("TclThreadTestItem"))->ClassName(),
            "TclThreadTestItem");
}

}  // namespace
