#include "toolkit/stylemanager.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMetaEnum>
#include <QPalette>
#include <QSettings>
#include <QStyleFactory>
#include <map>

#include "toolkit/application.h"

namespace {

// A theme is a folder under :/themes named after it, holding palette.ini
// (colours by palette role, with Disabled/ overrides) and style.qss.
constexpr auto ThemesRoot = ":/themes";

struct TTheme {
  QString Name;
  QPalette Palette;
  QString StyleSheet;
};

std::map<QString, TTheme>& LoadedThemes() {
  static std::map<QString, TTheme> themes;  // by name folded to lower case
  return themes;
}

QString Active;

TTheme LoadTheme(const QString& folder, const QString& name) {
  TTheme theme{name, QPalette(), {}};
  const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
  QSettings ini(folder + "/palette.ini", QSettings::IniFormat);
  for (const QString& key : ini.allKeys()) {
    const bool disabled = key.startsWith("Disabled/");
    bool ok = false;
    const int role = roles.keyToValue(key.mid(disabled ? 9 : 0).toLatin1().constData(), &ok);
    const QColor colour(ini.value(key).toString());
    if (!ok || !colour.isValid()) continue;
    const auto r = static_cast<QPalette::ColorRole>(role);
    if (disabled) {
      theme.Palette.setColor(QPalette::Disabled, r, colour);
    } else {
      theme.Palette.setColor(QPalette::Active, r, colour);
      theme.Palette.setColor(QPalette::Inactive, r, colour);
      // Disabled keeps its own value when the file gives one (read in any order).
      if (!ini.contains("Disabled/" + key)) theme.Palette.setColor(QPalette::Disabled, r, colour);
    }
  }
  QFile qss(folder + "/style.qss");
  if (qss.open(QIODevice::ReadOnly)) theme.StyleSheet = QString::fromUtf8(qss.readAll());
  return theme;
}

const TTheme* FindTheme(const QString& name) {
  auto& loaded = LoadedThemes();
  const QString key = name.toCaseFolded();
  if (auto it = loaded.find(key); it != loaded.end()) return &it->second;
  const QDir root(ThemesRoot);
  for (const QString& folder : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (folder.toCaseFolded() != key) continue;
    return &loaded.emplace(key, LoadTheme(root.filePath(folder), folder)).first->second;
  }
  return nullptr;
}

}  // namespace

bool TStyleManager::TrySetStyle(const QString& name, bool showErrorDialog) {
  const TTheme* theme = FindTheme(name);
  if (!theme) {
    if (showErrorDialog)
      Application->Presenter().ShowMessageBox(QMessageBox::Critical, QStringLiteral("Error"),
                                              QStringLiteral("Style '%1' not found").arg(name),
                                              QStringLiteral("&Close"));
    return false;
  }
  // Fusion draws every control from the palette, so one palette colours all windows alike.
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setPalette(theme->Palette);
  qApp->setStyleSheet(theme->StyleSheet);
  Active = theme->Name;
  return true;
}

QString TStyleManager::ActiveStyleName() { return Active; }
