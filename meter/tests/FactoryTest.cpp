#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "DialixHQCtrl.h"
#include "DialixHQFactory.h"
#include "WidgetTestSupport.h"

using namespace zrq::meter;

TEST(MeterFactory, CreatesByClassIdentifierOrProgIdOnly) {
  meter_test::ensureApplication();
  for (const char* name :
       {"{2484DDF7-5E96-498C-B21D-CB0111AF91AB}", "{2484ddf7-5e96-498c-b21d-cb0111af91ab}",
        "2484DDF7-5E96-498C-B21D-CB0111AF91AB", "Kestov.DialixHQCtrl.1"}) {
    std::unique_ptr<CDialixHQCtrl> c(createControl(name));
    ASSERT_NE(c, nullptr) << name;
    EXPECT_EQ(c->model().props(), MeterProps{});
  }
  for (const char* name :
       {"", "{2484DDF8-5E96-498C-B21D-CB0111AF91AB}", "Kestov.DialixHQPropPage.1",
        "Kestov.DialixHQCtrl.2", "{2484DDF7-5E96-498C-B21D-CB0111AF91AB"})
    EXPECT_EQ(createControl(name), nullptr) << name;
}

TEST(MeterFactory, EntryPointsMapOntoTheFactory) {
  meter_test::ensureApplication();
  void* obj = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kDialixHQProgId, &obj), kClassNotAvailable);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(DllGetClassObject(nullptr, &obj), kEPointer);
  EXPECT_EQ(DllGetClassObject(kDialixHQClsid, nullptr), kEPointer);
  ASSERT_EQ(DllGetClassObject(kDialixHQClsid, &obj), kSOk);
  auto* factory = static_cast<DialixHQClassFactory*>(obj);

  EXPECT_EQ(DllCanUnloadNow(), kSOk);
  {
    std::unique_ptr<CDialixHQCtrl> c(factory->CreateInstance());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), kSFalse);
  }
  EXPECT_EQ(DllCanUnloadNow(), kSOk);
  factory->LockServer(true);
  EXPECT_EQ(DllCanUnloadNow(), kSFalse);
  factory->LockServer(false);
  factory->LockServer(false);  // one unlock too many is not a negative count
  EXPECT_EQ(DllCanUnloadNow(), kSOk);

  EXPECT_EQ(DllUnregisterServer(), kSOk);
  EXPECT_EQ(createControl(kDialixHQClsid), nullptr);
  EXPECT_EQ(DllGetClassObject(kDialixHQClsid, &obj), kClassNotAvailable);
  EXPECT_EQ(DllRegisterServer(), kSOk);
  std::unique_ptr<CDialixHQCtrl> back(createControl(kDialixHQProgId));
  EXPECT_NE(back, nullptr);
}

TEST(MeterFactory, PropertiesByTextAndStateThroughTheControl) {
  meter_test::ensureApplication();
  std::unique_ptr<CDialixHQCtrl> c(createControl(kDialixHQProgId));
  c->setPropText("MinimumValue", "70");
  EXPECT_EQ(c->getPropText("GreenStartValue"), "70");
  EXPECT_THROW(c->setPropText("Nothing", "1"), MeterError);
  EXPECT_THROW(c->setPropText("Value", "1,5"), MeterError);
  c->resize(234, 155);
  const std::vector<uint8_t> saved = c->saveState();
  std::unique_ptr<CDialixHQCtrl> d(createControl(kDialixHQClsid));
  d->loadState(saved);
  EXPECT_EQ(d->model().props(), c->model().props());
  EXPECT_EQ(d->size(), QSize(234, 155));
  EXPECT_THROW(d->loadState(std::span<const uint8_t>(saved.data(), saved.size() - 1)), MeterError);
  EXPECT_EQ(d->model().props(), c->model().props());
}

TEST(MeterAboutBox, ShowsNameVersionAndClosesWithOk) {
  meter_test::ensureApplication();
  CDialixHQCtrl ctrl;
  bool sawBox = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!box) return;
    sawBox = box->isModal();
    QStringList texts;
    for (QLabel* l : box->findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Version 1.0"))) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.join(' ').contains(QStringLiteral("DialixHQ")));
    for (QPushButton* b : box->findChildren<QPushButton*>())
      if (b->text() == QStringLiteral("OK")) b->click();
  });
  QTimer::singleShot(10000, [] {
    if (QWidget* w = QApplication::activeModalWidget()) w->close();  // never hang the test
  });
  ctrl.AboutBox();
  EXPECT_TRUE(sawBox);
}
