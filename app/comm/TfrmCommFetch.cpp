// The data side of the connection window: its timers and the main window's
// requests handed to the sensor session, which holds the stream policy.
#include <QTimer>

#include "SensorSession.h"
#include "TKS7730Commands.h"
#include "TfrmComm.h"

namespace zrq::comm {

TKS7730Commands& TfrmComm::commands() { return session_->commands(); }

bool TfrmComm::connected() const { return session_->connected(); }

void TfrmComm::endRun() {
  session_->endRun();
  dataPollTimer->stop();
}

void TfrmComm::connectPort(int portNum) { session_->connectPort(portNum); }

void TfrmComm::disconnect() { session_->disconnect(); }

bool TfrmComm::readZeroCalResult() { return session_->readZeroCalResult(); }

void TfrmComm::readSensorData() { session_->readSensorData(); }

void TfrmComm::pktDataString(const std::string& text) { session_->handleDataLine(text); }

void TfrmComm::dataPollTimerTimer() { session_->supervise(); }

}  // namespace zrq::comm
