#include "forms/UFrmRoboCopy.h"

#include <QShowEvent>

#include "funcoes/funcoes.h"
#include "funcoes/runner.h"
#include "toolkit/application.h"
#include "toolkit/handlers.h"
#include "toolkit/layout.h"

TFrmRoboCopy* FrmRoboCopy = nullptr;

TFrmRoboCopy::TFrmRoboCopy(QWidget* parent) : TForm(parent) {
  setObjectName(QStringLiteral("FrmRoboCopy"));
  setWindowTitle(QStringLiteral("Sincronismo da redundancia de arquivos"));
  // A fixed dialog with a caption and no border icons: no system menu, no
  // minimise, maximise or close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(622, 115);
  const QFont font = PixelFont(QStringLiteral("Tahoma"), 11);
  setFont(font);

  BtInterromper = MakeButton(this, QStringLiteral("BtInterromper"), QStringLiteral("Interromper Processo"), font,
                             {14, 70, 297, 41});
  Button2 = MakeButton(this, QStringLiteral("Button2"), QStringLiteral("Fechar"), font, {317, 70, 297, 41});
  LabelProgress = MakeControl<QLabel>(this, QStringLiteral("LabelProgress"), PixelFont(QStringLiteral("Tahoma"), 19),
                                      {104, 41, 430, 23});
  LabelProgress->setText(QStringLiteral("Aguarde a conclusão do processo de sincronismo..."));
  // Sized to its line (430 by 23 in Tahoma), so a substitute font cuts nothing off.
  LabelProgress->adjustSize();
  // Along the top edge, the full width of the window (which never resizes).
  GaugeEspelho = MakeControl<TGauge>(this, QStringLiteral("GaugeEspelho"), font, {0, 0, 622, 35});
  GaugeEspelho->SetKind(gkVerticalBar);
  GaugeEspelho->SetBackColor(QColor(16, 18, 20));
  // The bar in the theme's highlight colour: black on this near-black
  // background left only the percentage to read.
  GaugeEspelho->SetForeColor(VisibleOn(palette().color(QPalette::Highlight), GaugeEspelho->BackColor()));
  GaugeEspelho->SetProgress(33);

  setTabOrder(BtInterromper, Button2);
  ConnectHandler(BtInterromper, &QPushButton::clicked, this, &TFrmRoboCopy::BtInterromperClick);
  ConnectHandler(Button2, &QPushButton::clicked, this, &TFrmRoboCopy::Button2Click);
}

void TFrmRoboCopy::BtInterromperClick(QObject*) {
  StopMirror();
  close();
}

void TFrmRoboCopy::Button2Click(QObject*) { close(); }

void TFrmRoboCopy::showEvent(QShowEvent* event) {
  // Centred over the main window each time the program shows it; a window
  // restored by the system stays where it was.
  const QWidget* main = Application ? Application->MainForm() : nullptr;
  if (!event->spontaneous() && main && main != this) {
    QRect place(QPoint(), frameGeometry().size());
    place.moveCenter(main->frameGeometry().center());
    move(place.topLeft());
  }
  TForm::showEvent(event);
}
