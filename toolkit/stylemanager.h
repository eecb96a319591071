// Themes: named colour schemes carried in the program's resources.
#pragma once

#include <QString>

class TStyleManager {
 public:
  // Makes the theme called name (letter case ignored) the look of every
  // window. When there is none, returns false and, if showErrorDialog, says
  // so in an "Error" box; the current look stays.
  static bool TrySetStyle(const QString& name, bool showErrorDialog = true);
  // The name of the active theme, empty for the toolkit's default look.
  static QString ActiveStyleName();
};
