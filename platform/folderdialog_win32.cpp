#include <shobjidl.h>
#include <windows.h>

#include <system_error>

#include "platform/folderdialog.h"
#include "platform/process.h"
#include "platform/win32util.h"

namespace platform {

namespace {

void Check(HRESULT result) {
  if (FAILED(result)) throw std::system_error(static_cast<int>(result), std::system_category(), "folder dialog");
}

// The item's name of the given kind, or empty when it has none.
std::u16string ItemName(IShellItem* item, SIGDN kind) {
  PWSTR text = nullptr;
  if (FAILED(item->GetDisplayName(kind, &text)) || !text) return {};
  std::u16string name = U(text);
  CoTaskMemFree(text);
  return name;
}

}  // namespace

std::string HResultText(long result) {
  std::string text = SystemErrorText(static_cast<int>(result));
  // A code that wraps a system error code has that error's text.
  if (text.empty() && HRESULT_FACILITY(result) == FACILITY_WIN32) text = SystemErrorText(HRESULT_CODE(result));
  return text;
}

FolderDialog::FolderDialog() {
  Check(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&FDialog)));
}

FolderDialog::~FolderDialog() {
  if (FDialog) FDialog->Release();
}

bool FolderDialog::Execute(void* owner, const std::u16string& startFolder, std::u16string& name) {
  name.clear();
  Check(FDialog->SetOptions(FOS_PICKFOLDERS));
  if (!startFolder.empty()) {
    IShellItem* start = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(W(startFolder), nullptr, IID_PPV_ARGS(&start)))) {
      FDialog->SetFolder(start);
      start->Release();
    }
  }
  const HRESULT shown = FDialog->Show(static_cast<HWND>(owner));
  if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return false;
  Check(shown);
  IShellItem* chosen = nullptr;
  Check(FDialog->GetResult(&chosen));
  name = ItemName(chosen, SIGDN_FILESYSPATH);
  if (name.empty()) name = ItemName(chosen, SIGDN_NORMALDISPLAY);
  chosen->Release();
  return true;
}

}  // namespace platform
