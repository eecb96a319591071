// A failure of the folder picker is shown with the system's text for its code.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/folderdialog.h"
#include "platform/process.h"

namespace {

TEST(HResultText, ComResultCodesReadAsTheSystemsText) {
  struct Case {
    HRESULT code;
    int systemCode;  // the system error it wraps, 0 for none
  } cases[] = {
      {E_ACCESSDENIED, ERROR_ACCESS_DENIED},
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND},
      {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), ERROR_PATH_NOT_FOUND},
      {E_OUTOFMEMORY, 0},
      {E_INVALIDARG, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<long>(c.code));
    const std::string text = platform::HResultText(c.code);
    EXPECT_FALSE(text.empty());
    if (c.systemCode) EXPECT_EQ(text, platform::SystemErrorText(c.systemCode));
  }
}

}  // namespace
