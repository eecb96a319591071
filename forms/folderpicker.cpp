#include "forms/folderpicker.h"

#ifdef _WIN32
#include <memory>
#include <system_error>

#include "forms/UFrmTarnvel.h"
#include "funcoes/exceptions.h"
#include "platform/folderdialog.h"
#else
#include <QFileDialog>
#endif

namespace {

#ifdef _WIN32
// The dialog's failures raise the system's error, with the system's text for the COM code.
template <class Call>
auto Checked(Call call) {
  try {
    return call();
  } catch (const std::system_error& e) {
    throw EOSError(e.code().value(), platform::HResultText(e.code().value()));
  }
}

class TSystemFolderPicker : public TFolderPicker {
 public:
  std::optional<QString> Execute(const QString& startFolder) override {
    std::u16string name;
    // Owned by the main window, which takes no input (a second "Raiz" click
    // included) while the picker is open.
    void* owner = FrmTarnvel ? reinterpret_cast<void*>(FrmTarnvel->winId()) : nullptr;
    if (!Checked([&] { return FDialog->Execute(owner, startFolder.toStdU16String(), name); })) return std::nullopt;
    return QString::fromStdU16String(name);
  }

 private:
  std::unique_ptr<platform::FolderDialog> FDialog = Checked([] { return std::make_unique<platform::FolderDialog>(); });
};
#else
class TSystemFolderPicker : public TFolderPicker {
 public:
  std::optional<QString> Execute(const QString& startFolder) override {
    const QString name = QFileDialog::getExistingDirectory(nullptr, QString(), startFolder);
    if (name.isEmpty()) return std::nullopt;
    return name;
  }
};
#endif

}  // namespace

std::function<std::unique_ptr<TFolderPicker>()> CreateFolderPicker = [] {
  return std::unique_ptr<TFolderPicker>(std::make_unique<TSystemFolderPicker>());
};
