#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FakeLibrary.h"
#include "inet/clWinInet.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "support/TempDir.h"

namespace {

using inet_test::FakeControls;
using ::testing::HasSubstr;

HINTERNET ValidHandle() { return reinterpret_cast<HINTERNET>(1); }

// Every test starts with nothing loaded and the complete stand-in library named.
class BindingLoadTest : public ::testing::Test {
 protected:
  inet_test::BindingScope scope{inet_test::kFakeLibrary};

  // The message of the exception the next wrapper call raises ("" if none).
  static std::string LoadFailure() {
    try {
      clWinInet::InternetCloseHandle(ValidHandle());
    } catch (const EclInternetError& e) {
      return std::string("unexpected EclInternetError: ") + e.what();
    } catch (const rtl::Exception& e) {
      return e.Message();
    }
    return std::string();
  }
};

TEST_F(BindingLoadTest, FirstWrapperCallLoadsTheLibraryAndLaterCallsDoNotLoadAgain) {
  EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
  int before = clWinInet::InternetLibraryLoadCount();
  EXPECT_EQ(clWinInet::InternetCloseHandle(ValidHandle()), TRUE);
  EXPECT_TRUE(clWinInet::InternetLibraryLoaded());
  EXPECT_EQ(clWinInet::InternetErrorDlg(nullptr, nullptr, 4242, 7, nullptr), 4242u);
  EXPECT_EQ(clWinInet::InternetLibraryLoadCount(), before + 1);
  FakeControls fake;
  EXPECT_EQ(fake.CloseCalls(), 1);
}

TEST_F(BindingLoadTest, WrapperReturnsTheResultUnchangedAndLeavesTheLastErrorToTheCaller) {
  platform::SetLastError(0);
  EXPECT_EQ(clWinInet::InternetCloseHandle(reinterpret_cast<HINTERNET>(2)), FALSE);
  EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(BindingLoadTest, MissingLibraryRaisesAReadableGeneralExceptionAndTheNextCallRetries) {
  clWinInet::SetInternetLibraryName("libno_such_inetclient.so");
  std::string message = LoadFailure();
  EXPECT_THAT(message, HasSubstr("The specified module could not be found"));
  EXPECT_THAT(message, HasSubstr("libno_such_inetclient.so"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorModNotFound);
  EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
  EXPECT_NE(LoadFailure(), "");

  clWinInet::SetInternetLibraryName(inet_test::kFakeLibrary);
  EXPECT_EQ(LoadFailure(), "");
  EXPECT_TRUE(clWinInet::InternetLibraryLoaded());
}

TEST_F(BindingLoadTest, MissingEntryPointRaisesItsNameAndTheNextCallResolvesAgain) {
  clWinInet::SetInternetLibraryName(inet_test::kFakeWithoutStatusCallback);
  std::string message = LoadFailure();
  EXPECT_THAT(message, HasSubstr("The specified procedure could not be found"));
  EXPECT_THAT(message, HasSubstr("InternetSetStatusCallback"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorProcNotFound);
  EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
  EXPECT_THAT(LoadFailure(), HasSubstr("InternetSetStatusCallback"));

  clWinInet::SetInternetLibraryName(inet_test::kFakeLibrary);
  EXPECT_EQ(LoadFailure(), "");
  EXPECT_TRUE(clWinInet::InternetLibraryLoaded());
}

TEST_F(BindingLoadTest, LibraryInstalledAfterAFailedFirstCallIsLoadedByTheNextCall) {
  testing_support::TempDir dir;
  std::string installed = dir.File("libinetclient-late.so");
  clWinInet::SetInternetLibraryName(installed);
  EXPECT_THAT(LoadFailure(), HasSubstr("The specified module could not be found"));

  std::string self = ::testing::internal::GetArgvs()[0];
  std::string folder = self.substr(0, self.rfind('/') + 1);
  testing_support::WriteFile(installed, testing_support::ReadFile(folder + inet_test::kFakeLibrary));
  int before = clWinInet::InternetLibraryLoadCount();
  EXPECT_EQ(LoadFailure(), "");
  EXPECT_TRUE(clWinInet::InternetLibraryLoaded());
  EXPECT_EQ(clWinInet::InternetLibraryLoadCount(), before + 1);
  clWinInet::UnloadInternetLibrary();
}

TEST_F(BindingLoadTest, EntryPointsAreResolvedInTableOrderAndTheFirstMissingOneIsReported) {
  clWinInet::SetInternetLibraryName(inet_test::kFakeWithoutOpenAndStatusCallback);
  std::string message = LoadFailure();
  EXPECT_THAT(message, HasSubstr("InternetOpenA"));
  EXPECT_THAT(message, ::testing::Not(HasSubstr("InternetSetStatusCallback")));
}

TEST_F(BindingLoadTest, LoadInternetLibraryRaisesForAMissingLibrary) {
  clWinInet::SetInternetLibraryName("libno_such_inetclient.so");
  EXPECT_THROW(clWinInet::LoadInternetLibrary(), rtl::Exception);
  EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
}

TEST_F(BindingLoadTest, NameWithAFolderIsLoadedFromThatPath) {
  std::string self = ::testing::internal::GetArgvs()[0];
  std::string folder = self.substr(0, self.rfind('/') + 1);
  clWinInet::SetInternetLibraryName(folder + inet_test::kFakeLibrary);
  EXPECT_EQ(LoadFailure(), "");
  clWinInet::UnloadInternetLibrary();
  clWinInet::SetInternetLibraryName(folder + "nothing/" + inet_test::kFakeLibrary);
  EXPECT_NE(LoadFailure(), "");
}

TEST_F(BindingLoadTest, AFailedLoadNamesTheFileAndTheFoldersLookedIn) {
  // In the build the programs and the platform library share one folder,
  // which is therefore searched once.
  const std::string folder = platform::ExecutableFolder();
  const std::string broken = "libinetclient-broken-" + std::to_string(::getpid()) + ".so";
  testing_support::WriteFile(folder + broken, "not a library");
  struct Case {
    std::string name;
    std::vector<std::string> parts;  // of the message
    std::vector<std::string> folders;
  };
  const Case cases[] = {
      {"libno_such_inetclient.so",
       {"The specified module could not be found (libno_such_inetclient.so looked for in " + folder +
            ", then on the loader's search path: ",
        "No such file"},
       {folder}},
      // The copy that is there is the news, not a search for another.
      {broken, {"The specified module could not be found (" + folder + broken + ": "}, {folder}},
      {folder + "nothing/" + broken, {folder + "nothing/" + broken + ": "}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clWinInet::SetInternetLibraryName(c.name);
    try {
      clWinInet::LoadInternetLibrary();
      ADD_FAILURE() << "loaded";
    } catch (const clWinInet::EclInternetLibraryError& e) {
      for (const std::string& part : c.parts) EXPECT_THAT(e.Message(), HasSubstr(part));
      EXPECT_EQ(e.LibraryName(), c.name);
      EXPECT_EQ(e.Folders(), c.folders);
      EXPECT_EQ(platform::GetLastError(), platform::kErrorModNotFound);
    }
    EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
  }
  std::remove((folder + broken).c_str());
}

TEST_F(BindingLoadTest, UnloadForgetsTheTableAndTheNextCallLoadsAgain) {
  int before = clWinInet::InternetLibraryLoadCount();
  clWinInet::LoadInternetLibrary();
  clWinInet::UnloadInternetLibrary();
  EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
  EXPECT_EQ(clWinInet::InternetCloseHandle(ValidHandle()), TRUE);
  EXPECT_EQ(clWinInet::InternetLibraryLoadCount(), before + 2);
}

// Error texts with the stand-in library loaded (its table is the module table).
class InternetErrorTextTest : public BindingLoadTest {
 protected:
  void SetUp() override {
    clWinInet::LoadInternetLibrary();
    fake_ = std::make_unique<FakeControls>();
    fake_->ResetMessages();
    fake_->SetResponse("");
  }
  void TearDown() override {
    fake_->SetResponse("");
    fake_.reset();
    SetInternetMessages(TclInternetMessages());
  }

  std::unique_ptr<FakeControls> fake_;
};

TEST_F(InternetErrorTextTest, ModuleTableIsAskedBeforeTheSystemTable) {
  EXPECT_EQ(clWinInet::GetInternetErrorText(2), "Module text for code two");
}

TEST_F(InternetErrorTextTest, SystemTableAnswersWhatTheModuleDoesNotKnow) {
  EXPECT_EQ(clWinInet::GetInternetErrorText(5), "Access is denied");
}

TEST_F(InternetErrorTextTest, TrailingPeriodBlankAndLineBreakAreAllRemoved) {
  EXPECT_EQ(clWinInet::GetInternetErrorText(12902), "Ends in a period and a blank");
}

TEST_F(InternetErrorTextTest, TextOfOnlyDotsAndBlanksBecomesTheUnknownErrorText) {
  EXPECT_EQ(clWinInet::GetInternetErrorText(12901), "Unknown error, code = 12901");
}

TEST_F(InternetErrorTextTest, CodeWithoutTextInEitherTableGivesTheUnknownErrorText) {
  EXPECT_EQ(clWinInet::GetInternetErrorText(12999), "Unknown error, code = 12999");
  EXPECT_EQ(clWinInet::GetInternetErrorText(-7), "Unknown error, code = -7");
}

TEST_F(InternetErrorTextTest, ExtendedErrorAppendsTheServerResponseWithItsLineBreaks) {
  fake_->SetResponse("550 No such file\r\n");
  EXPECT_EQ(clWinInet::GetInternetErrorText(12003),
            "An extended error occurred on the server; Additional info: 550 No such file\r\n");
}

TEST_F(InternetErrorTextTest, ExtendedErrorWithoutServerResponseKeepsThePlainText) {
  EXPECT_EQ(clWinInet::GetInternetErrorText(12003), "An extended error occurred on the server");
}

TEST_F(InternetErrorTextTest, ExtendedErrorWithEmptyTextGivesTheResponseAlone) {
  fake_->SetMessage(12003, "");
  fake_->SetResponse("421 Too many users");
  EXPECT_EQ(clWinInet::GetInternetErrorText(12003), "421 Too many users");
}

TEST_F(InternetErrorTextTest, ServerResponseIsOnlyAddedForTheExtendedErrorCode) {
  fake_->SetResponse("550 No such file");
  EXPECT_EQ(clWinInet::GetInternetErrorText(5), "Access is denied");
}

TEST_F(InternetErrorTextTest, ProducingATextKeepsTheThreadsLastError) {
  fake_->SetResponse("550 No such file");
  platform::SetLastError(77);
  clWinInet::GetInternetErrorText(12003);
  EXPECT_EQ(platform::GetLastError(), 77u);
}

TEST_F(InternetErrorTextTest, ReplacedMessageTextsAreUsed) {
  TclInternetMessages messages;
  messages.AdditionalInfo = "Zusatz";
  messages.UnknownError = "Fehler %d (%s) 100%%";
  SetInternetMessages(messages);
  fake_->SetResponse("550 weg");
  EXPECT_EQ(clWinInet::GetInternetErrorText(12003),
            "An extended error occurred on the server; Zusatz: 550 weg");
  EXPECT_EQ(clWinInet::GetInternetErrorText(12999), "Fehler 12999 (%s) 100%");
}

TEST_F(BindingLoadTest, BeforeLoadingOnlyTheSystemTableIsUsed) {
  EXPECT_EQ(clWinInet::GetInternetErrorText(2), "The system cannot find the file specified");
  EXPECT_EQ(clWinInet::GetInternetErrorText(12003), "Unknown error, code = 12003");
  EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
}

class InternetErrorTest : public BindingLoadTest {};

TEST_F(InternetErrorTest, FromLastErrorTakesTheCodeAndItsText) {
  platform::SetLastError(5);
  EclInternetError error = EclInternetError::FromLastError();
  EXPECT_EQ(error.ErrorCode(), 5);
  EXPECT_EQ(error.Message(), "Access is denied");
}

TEST_F(InternetErrorTest, TimeoutErrorIsCaughtAsAnInternetErrorWithItsCode) {
  try {
    throw EclTimeoutInternetError(InternetMessages().RequestTimeout, 258);
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.Message(), "Request timeout");
    EXPECT_EQ(e.ErrorCode(), 258);
  }
}

TEST_F(InternetErrorTest, DefaultMessageTexts) {
  TclInternetMessages m = InternetMessages();
  EXPECT_EQ(m.OperationInProgress, "Operation is in progress");
  EXPECT_EQ(m.ReadDataFailed, "Read data failed");
  EXPECT_EQ(FormatInternetMessage(m.HttpResourceAccessError, 404),
            "HTTP resource access error occured, code = 404");
}

TEST_F(InternetErrorTest, MessageFormattingReplacesOnlyTheFirstNumber) {
  EXPECT_EQ(FormatInternetMessage("%d and %d", 3), "3 and %d");
  EXPECT_EQ(FormatInternetMessage("no number", 3), "no number");
  EXPECT_EQ(FormatInternetMessage("trailing %", 3), "trailing %");
}

}  // namespace
