// The progress window: the gauge that a running mirror drives, a line asking
// the user to wait, and the buttons that stop the copy or only close the window.
#pragma once

#include <QLabel>
#include <QPushButton>

#include "controls/gauge.h"
#include "toolkit/form.h"

class TFrmRoboCopy : public TForm {
  Q_OBJECT

 public:
  explicit TFrmRoboCopy(QWidget* parent = nullptr);

  QPushButton* BtInterromper;
  QPushButton* Button2;
  QLabel* LabelProgress;
  TGauge* GaugeEspelho;

  // Ends the running mirror's copy, if one runs, then closes the window.
  void BtInterromperClick(QObject* Sender);
  // Closes the window; a running copy goes on.
  void Button2Click(QObject* Sender);

 protected:
  void showEvent(QShowEvent* event) override;
};

// Empty until the sync command first creates the window.
extern TFrmRoboCopy* FrmRoboCopy;
