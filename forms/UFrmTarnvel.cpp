#include "forms/UFrmTarnvel.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

#include "app/stylemanager.h"

TFrmTarnvel* FrmTarnvel = nullptr;

namespace {

QFont PixelFont(const char* family, int pixels) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixels);
  return font;
}

// The window's font. Given to every control, since a style sheet stops a
// parent's font from reaching its children.
QFont FormFont() { return PixelFont("Tahoma", 11); }

template <class W>
W* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setFont(FormFont());
  widget->setGeometry(left, top, width, height);
  return widget;
}

QFrame* MakePanel(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* panel = Make<QFrame>(parent, name, left, top, width, height);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  return panel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* button = Make<QPushButton>(parent, name, geometry.x(), geometry.y(), geometry.width(), geometry.height());
  button->setText(QString::fromLatin1(caption));
  button->setAutoDefault(false);
  return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* caption, QRect geometry, bool checked) {
  auto* box = Make<QCheckBox>(parent, name, geometry.x(), geometry.y(), geometry.width(), geometry.height());
  box->setText(QString::fromLatin1(caption));
  box->setChecked(checked);
  return box;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, QPoint position) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(PixelFont("Tahoma", 16));
  label->setWordWrap(false);
  // Sized to its text on one line; what runs past the next control is covered by it.
  label->move(position);
  label->adjustSize();
  return label;
}

// The lists show their parent's face colour unless a theme colours them.
void StyleList(QListWidget* list) {
  list->setFont(PixelFont("Arial", 16));
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  if (TStyleManager::ActiveStyleName().isEmpty()) {
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    list->setPalette(palette);
  }
}

}  // namespace

TFrmTarnvel::TFrmTarnvel(QWidget* parent) : TForm(parent) {
  setObjectName(QStringLiteral("FrmTarnvel"));
  setWindowTitle(QStringLiteral("Tarnvel KESTRO"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/tarnvel.png")));
  // Fixed size: close and minimise boxes, no maximise box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(967, 556);
  setFont(FormFont());

  PanelPastas = MakePanel(this, "PanelPastas", 0, 0, 967, 145);
  DirectoryListOrigem = Make<TDirectoryListBox>(PanelPastas, "DirectoryListOrigem", 1, 42, 482, 102);
  DirectoryListBoxdestino = Make<TDirectoryListBox>(PanelPastas, "DirectoryListBoxdestino", 484, 42, 482, 102);
  PanelSuperior = MakePanel(PanelPastas, "PanelSuperior", 1, 1, 965, 41);
  LBLOrigem = MakeLabel(PanelSuperior, "LBLOrigem", "Pasta origem", {74, 11});
  LblDestino = MakeLabel(PanelSuperior, "LblDestino", "Pasta destino", {565, 11});
  PanelFiles = MakePanel(this, "PanelFiles", 0, 145, 967, 336);
  FileListBoxOrigem = Make<TFileListBox>(PanelFiles, "FileListBoxOrigem", 1, 1, 482, 334);
  FileListBoxDestino = Make<TFileListBox>(PanelFiles, "FileListBoxDestino", 484, 1, 482, 334);
  BtRaizOrigem = MakeButton(PanelSuperior, "BtRaizOrigem", "Raiz", {3, 6, 60, 28});
  BtRaizDestino = MakeButton(PanelSuperior, "BtRaizDestino", "Raiz", {484, 6, 70, 28});
  CHKHotFolderOrigem = MakeCheckBox(this, "CHKHotFolderOrigem", "Hot Folder Origem", {350, 504, 123, 17}, false);
  BtCopiar = MakeButton(this, "BtCopiar", "Sincronizar", {0, 532, 479, 25});
  BtRefresh = MakeButton(this, "BtRefresh", "Refresh", {477, 532, 482, 25});
  ChkPreserva = MakeCheckBox(this, "ChkPreserva", "Preversa Arquivos do destino", {16, 504, 169, 17}, true);

  for (TDirectoryListBox* tree : {DirectoryListOrigem, DirectoryListBoxdestino}) {
    StyleList(tree);
    tree->SetItemHeight(18);
  }
  for (TFileListBox* files : {FileListBoxOrigem, FileListBoxDestino}) {
    StyleList(files);
    files->SetItemHeight(18);
    files->setSelectionMode(QAbstractItemView::ExtendedSelection);
  }
  DirectoryListOrigem->SetFileList(FileListBoxOrigem);
  DirectoryListBoxdestino->SetFileList(FileListBoxDestino);

  // The panels hold the upper controls, so the trees come first, then the
  // header buttons, then the file lists, then the controls at the bottom.
  QWidget* order[] = {DirectoryListOrigem, DirectoryListBoxdestino, BtRaizOrigem, BtRaizDestino,
                      FileListBoxOrigem,   FileListBoxDestino,      CHKHotFolderOrigem, BtCopiar,
                      BtRefresh,           ChkPreserva};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  // Centred on the primary screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}
