// The system folder picker that the "Raiz" buttons open.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class TFolderPicker {
 public:
  virtual ~TFolderPicker() = default;
  // Shows the picker modally, opened on startFolder when that can be resolved.
  // The confirmed name (which need not name an existing folder), or nothing
  // when the user cancels.
  virtual std::optional<QString> Execute(const QString& startFolder) = 0;
};

// Creates the picker; replaceable so that tests can answer it.
extern std::function<std::unique_ptr<TFolderPicker>()> CreateFolderPicker;
