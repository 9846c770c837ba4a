// The About window: program version and date, the connected sensor's
// firmware, and a hidden button to the connection window.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAbout(QWidget* parent = nullptr);

  QLabel *lblVersion, *lblDate, *lbl7730;
  QLabel* lblLegal[5];
  QPushButton *btnAboutOK, *Button1;

  // What Button1 opens (the connection window, modally); empty until it exists.
  std::function<void()> showConnectionWindow;

  // The texts refreshed on every opening (About1Click).
  void prepare(const std::string& firmwareVersion);
  void btnAboutOKClick();
  void Button1Click();

 private:
  void fitToTexts();
};

extern TfrmAbout* frmAbout;
