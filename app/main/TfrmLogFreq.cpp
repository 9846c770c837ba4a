#include "TfrmLogFreq.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>

#include "core/ReadingFormat.h"
#include "frame/Fonts.h"
#include "frame/Scaling.h"
#include "uiface/MsgBox.h"

TfrmLogFreq* frmLogFreq = nullptr;

using zrq::core::LogTrigger;

namespace {

constexpr int kWidth = 432, kHeight = 266;  // design size of the client area

QButtonGroup* radioItems(QGroupBox* box, std::initializer_list<const char*> texts, int width) {
  auto* group = new QButtonGroup(box);
  int y = 18;
  for (const char* t : texts) {
    auto* b = new QRadioButton(QString::fromLatin1(t), box);
    b->setGeometry(8, y, width, 20);
    group->addButton(b, group->buttons().size());
    y += 22;
  }
  group->button(0)->setChecked(true);
  return group;
}

const char* const kLimitHints[] = {"Enter Forward Display Limit Trigger In Watts",
                                   "Enter Reflected Display Trigger Limit In Watts",
                                   "Enter Peak Limit Trigger In Watts",
                                   "Enter Burst Trigger Limit In Watts"};

}  // namespace

TfrmLogFreq::TfrmLogFreq(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("frmLogFreq");
  setWindowTitle("Logging Trigger Event Set Up");
  setModal(true);
  setFont(zrq::frame::designFont("Arial", 8));

  eventRadioGroup = new QGroupBox("Event", this);
  eventRadioGroup->setObjectName("eventRadioGroup");
  eventRadioGroup->setToolTip("Select Log File Event");
  eventRadioGroup->setGeometry(8, 8, 292, 134);
  eventItems_ = radioItems(eventRadioGroup,
                           {"Sample Time", "Sample Time Whenever Trigger Above Limit",
                            "First And Last Occurrence Of Trigger Above Limit",
                            "Sample Time Whenever Trigger Below Limit",
                            "First And Last Occurrence Of Trigger Below Limit"},
                           278);

  triggerRadioGroup = new QGroupBox("Trigger", this);
  triggerRadioGroup->setObjectName("triggerRadioGroup");
  triggerRadioGroup->setToolTip("Select Log File Trigger ");
  triggerRadioGroup->setGeometry(308, 8, 116, 112);
  triggerItems_ = radioItems(triggerRadioGroup, {"Forward", "Reflected", "Peak", "Burst"}, 100);

  rgrpTime = new QGroupBox("Sample Time Interval", this);
  rgrpTime->setObjectName("rgrpTime");
  rgrpTime->setGeometry(8, 150, 150, 90);
  timeItems_ = radioItems(rgrpTime, {"Seconds", "Minutes", "Hours"}, 134);

  cspinLogSampleTime = new QSpinBox(this);
  cspinLogSampleTime->setObjectName("cspinLogSampleTime");
  cspinLogSampleTime->setGeometry(168, 168, 56, 22);
  cspinLogSampleTime->setRange(zrq::core::kMinSampleTime, zrq::core::kMaxSampleTime);
  cspinLogSampleTime->setValue(1);
  // Typing disabled: only the arrows change the value.
  if (auto* le = cspinLogSampleTime->findChild<QLineEdit*>()) le->setReadOnly(true);

  // The four limits share one place: only the chosen trigger's is ever shown.
  const char* const names[] = {"forwardLimit", "reflectedLimit", "peakLimit", "burstLimit"};
  const char* const labelNames[] = {"fwdTriggerLimit", "rflTriggerLimit", "peakTriggerLimit",
                                    "burstTriggerLimit"};
  const char* const captions[] = {"Forward Trigger Limit In Watts",
                                  "Reflected  Trigger Limit In Watts",
                                  "Peak Trigger Limit In Watts", "Burst Trigger Limit In Watts"};
  QLineEdit** edits[] = {&forwardLimit, &reflectedLimit, &peakLimit, &burstLimit};
  QLabel** labels[] = {&fwdTriggerLimit, &rflTriggerLimit, &peakTriggerLimit, &burstTriggerLimit};
  for (int i = 0; i < 4; ++i) {
    auto* l = new QLabel(captions[i], this);
    l->setObjectName(labelNames[i]);
    l->setGeometry(266, 150, 166, 16);
    *labels[i] = l;
    auto* e = new QLineEdit("0", this);
    e->setObjectName(names[i]);
    e->setToolTip(kLimitHints[i]);
    e->setGeometry(266, 168, 100, 22);
    e->installEventFilter(this);
    connect(e, &QLineEdit::textChanged, this, [this, e] { limitChange(e); });
    *edits[i] = e;
  }

  btnOK = new QPushButton("OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setGeometry(266, 214, 75, 25);
  btnOK->setAutoDefault(false);
  btnCancel = new QPushButton("Cancel", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(349, 214, 75, 25);
  btnCancel->setDefault(true);  // and Escape cancels, as in any QDialog

  connect(eventItems_, &QButtonGroup::idClicked, this, [this] { eventRadioGroupClick(); });
  connect(triggerItems_, &QButtonGroup::idClicked, this, [this] { triggerRadioGroupClick(); });
  connect(cspinLogSampleTime, &QSpinBox::valueChanged, this,
          &TfrmLogFreq::cspinLogSampleTimeChange);
  connect(btnOK, &QPushButton::clicked, this, &TfrmLogFreq::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmLogFreq::btnCancelClick);

  // FormCreate: scale the controls, then the window by the same factor taken
  // as a 32-bit float, truncated.
  const double f = zrq::frame::screenScale();
  zrq::frame::scaleChildren(this, f);
  const float ff = static_cast<float>(f);
  setFixedSize(static_cast<int>(kWidth * ff), static_cast<int>(kHeight * ff));
  applyVisibility();
}

zrq::core::LogSettings TfrmLogFreq::settings() const {
  zrq::core::LogSettings s;
  s.event = static_cast<zrq::core::LogEvent>(std::max(0, eventIndex()));
  s.trigger = static_cast<LogTrigger>(std::max(0, triggerIndex()));
  s.timeUnit = static_cast<zrq::core::LogTimeUnit>(std::max(0, timeIndex()));
  s.sampleTime = cspinLogSampleTime->value();
  for (int i = 0; i < 4; ++i)
    s.limitTexts[static_cast<std::size_t>(i)] = limitEdit(i)->text().toStdString();
  return s;
}

int TfrmLogFreq::intervalTicks() const { return settings().intervalTicks(); }

int TfrmLogFreq::timeIndex() const { return timeItems_->checkedId(); }
int TfrmLogFreq::triggerIndex() const { return triggerItems_->checkedId(); }
int TfrmLogFreq::eventIndex() const { return eventItems_->checkedId(); }

void TfrmLogFreq::clickTime(int index) {
  if (QAbstractButton* b = timeItems_->button(index)) b->click();
}
void TfrmLogFreq::clickTrigger(int index) {
  if (QAbstractButton* b = triggerItems_->button(index)) b->click();
}
void TfrmLogFreq::clickEvent(int index) {
  if (QAbstractButton* b = eventItems_->button(index)) b->click();
}

void TfrmLogFreq::setSampleTime(int value) {
  if (value != cspinLogSampleTime->value() && value >= zrq::core::kMinSampleTime &&
      value <= zrq::core::kMaxSampleTime) {
    cspinLogSampleTime->setValue(value);  // the change handler runs
    return;
  }
  cspinLogSampleTimeChange(value);
}

void TfrmLogFreq::cspinLogSampleTimeChange(int value) {
  if (value >= zrq::core::kMinSampleTime && value <= zrq::core::kMaxSampleTime) return;
  cspinLogSampleTime->setValue(1);
  zrq::ui::showMessage("Sample time must be between 1 and 60", "Entry error");
}

QLineEdit* TfrmLogFreq::limitEdit(int t) const {
  switch (t) {
    case 1:
      return reflectedLimit;
    case 2:
      return peakLimit;
    case 3:
      return burstLimit;
    default:
      return forwardLimit;
  }
}

QLabel* TfrmLogFreq::limitLabel(int t) const {
  switch (t) {
    case 1:
      return rflTriggerLimit;
    case 2:
      return peakTriggerLimit;
    case 3:
      return burstTriggerLimit;
    default:
      return fwdTriggerLimit;
  }
}

LogTrigger TfrmLogFreq::triggerOf(const QLineEdit* e) const {
  if (e == reflectedLimit) return LogTrigger::Reflected;
  if (e == peakLimit) return LogTrigger::Peak;
  if (e == burstLimit) return LogTrigger::Burst;
  return LogTrigger::Forward;
}

void TfrmLogFreq::applyVisibility() {
  const auto event = static_cast<zrq::core::LogEvent>(std::max(0, eventIndex()));
  const int t = triggerIndex();
  for (int i = 0; i < 4; ++i) {
    const bool shown = i == t && zrq::core::eventUsesLimit(event);
    limitLabel(i)->setVisible(shown);
    limitEdit(i)->setVisible(shown);
  }
  const bool sample = zrq::core::eventUsesSampleTime(event);
  cspinLogSampleTime->setVisible(sample);
  rgrpTime->setVisible(sample);
}

void TfrmLogFreq::eventRadioGroupClick() { applyVisibility(); }

void TfrmLogFreq::triggerRadioGroupClick() {
  const int t = triggerIndex();
  const auto type = measTypeSource ? measTypeSource() : zrq::core::MeasType::Average;
  if (t == static_cast<int>(LogTrigger::Burst) && type == zrq::core::MeasType::CCDF) {
    zrq::ui::showMessage(
        "The burst trigger is not available when CCDF is displayed\n\rChange power display type "
        "to select burst trigger",
        "Burst Trigger Not Available");
    if (QAbstractButton* b = triggerItems_->button(rememberedTrigger_)) b->setChecked(true);
    return;
  }
  rememberedTrigger_ = t;
  applyVisibility();
}

void TfrmLogFreq::limitChange(QLineEdit* edit) {
  if (edit->text().isEmpty()) edit->setText("0");
}

double TfrmLogFreq::fwdFullScale() const {
  return fwdFullScaleSource ? fwdFullScaleSource() : 150.0;
}

void TfrmLogFreq::markRange(QLineEdit* edit, double watts) {
  const LogTrigger t = triggerOf(edit);
  const double fs = fwdFullScale();
  const bool in = zrq::core::limitInRange(t, watts, fs);
  const int i = static_cast<int>(t);
  // Kept as entered either way: the mark only tells.
  edit->setProperty("outOfRange", !in);
  edit->setStyleSheet(in ? QString() : QStringLiteral("color: red;"));
  edit->setToolTip(in ? QString(kLimitHints[i])
                      : QString("%1 (outside 0 to %2 W; used as entered)")
                            .arg(kLimitHints[i])
                            .arg(QString::fromStdString(
                                zrq::core::shortestText(zrq::core::limitRangeMax(t, fs)))));
}

bool TfrmLogFreq::limitExit(QLineEdit* edit) {
  const QString text = edit->text();
  const auto v = zrq::core::parseLimitText(text.toStdString());
  if (!v) {
    const QString title = QApplication::applicationDisplayName();
    zrq::ui::showMessage(("'" + text + "' is not a valid floating point value").toStdString(),
                         title.isEmpty() ? "ZRQUSB" : title.toStdString(), zrq::ui::MsgButtons::Ok,
                         zrq::ui::MsgIcon::Error);
    return false;
  }
  markRange(edit, *v);
  return true;
}

bool TfrmLogFreq::limitKeyPress(QLineEdit* edit, int key, const QString& text) {
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  if (edit == forwardLimit || edit == peakLimit) {
    if (!enter) return false;
    edit->hide();
    limitExit(edit);
    return true;
  }
  // Reflected and burst convert the text as it is before every typed key.
  // Tab only moves the focus (the exit converts then).
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab) return false;
  if (!enter && text.isEmpty() && key != Qt::Key_Backspace) return false;
  limitExit(edit);
  return enter;  // Enter must not close the dialog through its default button
}

bool TfrmLogFreq::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit &&
      (edit == forwardLimit || edit == reflectedLimit || edit == peakLimit || edit == burstLimit)) {
    if (event->type() == QEvent::KeyPress) {
      auto* k = static_cast<QKeyEvent*>(event);
      if (k->key() != Qt::Key_Escape && limitKeyPress(edit, k->key(), k->text())) return true;
    } else if (event->type() == QEvent::FocusOut) {
      // Only a move to another control is an exit; a box popping up or the
      // window losing focus is not (that would raise the box again).
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
          reason == Qt::MouseFocusReason || reason == Qt::OtherFocusReason)
        limitExit(edit);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmLogFreq::btnOKClick() {
  if (storeIntervalTicks) storeIntervalTicks(intervalTicks());
  accept();
}

void TfrmLogFreq::btnCancelClick() {
  // Nothing is undone: the controls are the settings.
  reject();
}

void TfrmLogFreq::showEvent(QShowEvent* event) {
  applyVisibility();
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}
