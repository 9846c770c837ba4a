#include "DeviceComm/ReadReq.h"

ReadReq::ReadReq() = default;
ReadReq::~ReadReq() = default;

void ReadReq::signal() {
  event_.set();
  fd_.wake();
}

void ReadReq::reset() {
  event_.reset();
  fd_.drain();
  // A cancel between the check and the clearing above is seen here.
  if (cancelled_.load()) signal();
}

void ReadReq::cancel() {
  cancelled_.store(true);
  signal();
}

void BytesReadReq::reset() {
  count_.exchange(0);
  ReadReq::reset();
}

bool BytesReadReq::isPending() const { return count_.load() != 0; }

void BytesReadReq::arm(unsigned count) {
  reset();
  count_.exchange(count);
}

void CharReadReq::reset() {
  pending_.exchange(0);
  terminator_.store(0);
  ReadReq::reset();
}

bool CharReadReq::isPending() const { return pending_.load() != 0; }

void CharReadReq::arm(uint8_t terminator) {
  reset();
  terminator_.store(terminator);
  pending_.exchange(1);
}
