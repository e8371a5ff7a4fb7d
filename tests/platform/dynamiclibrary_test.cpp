#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/Files.h"
#include "platform/LastError.h"

namespace {

using namespace platform;

using AnswerFunction = int (*)(int);
using CosineFunction = double (*)(double);

const char kPlugin[] = "libplatform_test_plugin.so";

TEST(DynamicLibraryTest, LoadsLibraryBesideTheProgramByName) {
  DynamicLibrary library;
  ASSERT_TRUE(library.Load(kPlugin)) << LastLoaderError();
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_TRUE(library.IsLoaded());
  EXPECT_EQ(library.FileName(), ExecutableFolder() + kPlugin);
  auto answer = library.ResolveAs<AnswerFunction>("platform_test_plugin_answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(20), 41);
}

TEST(DynamicLibraryTest, LoadsSystemLibraryThroughTheLoadersSearch) {
  DynamicLibrary library;
  ASSERT_TRUE(library.Load("libm.so.6")) << LastLoaderError();
  auto cosine = library.ResolveAs<CosineFunction>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}

TEST(DynamicLibraryTest, MissingLibraryFailsWithModuleNotFoundAndReadableText) {
  DynamicLibrary library;
  EXPECT_FALSE(library.Load("libno-such-library-3b1c.so"));
  EXPECT_EQ(GetLastError(), kErrorModNotFound);
  EXPECT_NE(LastLoaderError().find("libno-such-library-3b1c.so"), std::string::npos) << LastLoaderError();
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_FALSE(library.Load(""));
  EXPECT_EQ(GetLastError(), kErrorModNotFound);
}

TEST(DynamicLibraryTest, MissingEntryPointFailsWithProcNotFoundAndReadableText) {
  DynamicLibrary library;
  ASSERT_TRUE(library.Load(kPlugin));
  EXPECT_EQ(library.Resolve("NoSuchEntryPoint"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorProcNotFound);
  EXPECT_NE(LastLoaderError().find("NoSuchEntryPoint"), std::string::npos) << LastLoaderError();
  // Symbols the library does not export stay invisible.
  EXPECT_EQ(library.Resolve("main"), nullptr);
}

TEST(DynamicLibraryTest, NothingLoadedRefusesLookups) {
  DynamicLibrary library;
  EXPECT_EQ(library.Resolve("cos"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  ASSERT_TRUE(library.Load(kPlugin));
  library.Free();
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_EQ(library.FileName(), "");
  EXPECT_EQ(library.Resolve("platform_test_plugin_answer"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

TEST(DynamicLibraryTest, MovedLibraryStaysLoaded) {
  DynamicLibrary first;
  ASSERT_TRUE(first.Load(kPlugin));
  DynamicLibrary second(std::move(first));
  EXPECT_TRUE(second.IsLoaded());
  DynamicLibrary third;
  third = std::move(second);
  auto answer = third.ResolveAs<AnswerFunction>("platform_test_plugin_answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(1), 3);
}

TEST(DynamicLibraryTest, LoaderTextBelongsToTheFailingThread) {
  DynamicLibrary library;
  ASSERT_FALSE(library.Load("libfirst-missing-9d.so"));
  std::string otherText;
  DWORD otherError = 0;
  std::thread([&] {
    DynamicLibrary theirs;
    theirs.Load("libsecond-missing-9d.so");
    otherText = LastLoaderError();
    otherError = GetLastError();
  }).join();
  EXPECT_NE(otherText.find("libsecond-missing-9d.so"), std::string::npos);
  EXPECT_EQ(otherError, kErrorModNotFound);
  EXPECT_NE(LastLoaderError().find("libfirst-missing-9d.so"), std::string::npos);
  EXPECT_EQ(LastLoaderError().find("libsecond"), std::string::npos);
}

}  // namespace
