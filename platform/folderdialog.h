// The system's folder picker (Windows only: elsewhere the window toolkit's own is used).
#pragma once

#include <string>

struct IFileOpenDialog;

namespace platform {

// The common item dialog for opening, in folder-picking mode. Needs COM on the
// calling thread as a single-threaded apartment.
class FolderDialog {
 public:
  // Both throw std::system_error with the COM result code when the system fails.
  FolderDialog();
  ~FolderDialog();
  FolderDialog(const FolderDialog&) = delete;
  FolderDialog& operator=(const FolderDialog&) = delete;

  // Shows the dialog modally, owned by the window owner (an HWND; while it is
  // open that window takes no input), opened on startFolder when the
  // shell resolves it (else where the system chooses). False when the user
  // cancels; otherwise name is the chosen item's file-system path, or its
  // display name for an item without one. Folder picking alone replaces the
  // default options, so a typed name that names no folder is returned as well.
  bool Execute(void* owner, const std::u16string& startFolder, std::u16string& name);

 private:
  IFileOpenDialog* FDialog = nullptr;
};

// The system's message for a COM result code (HRESULT), so that a failure
// reads "Access is denied." and not a bare negative number.
std::string HResultText(long result);

}  // namespace platform
