#pragma once
// The buffered read protocol shared by the connections whose helper threads
// fill a data buffer: read, readInBuff, readLine, purge and the step
// conditions a helper step checks before it reads more data.

#include <cstdint>
#include <functional>

#include "Common/Event.h"

class DeviceComm;
class CircDevDataBuf;
class BytesReadReq;
class CharReadReq;
class HelperThread;
class ReadReq;

// A transport's own way of waiting for a request: it may move device data
// itself while it waits. satisfied() tells whether the request is met.
using RequestWaiter =
    std::function<WaitResult(ReadReq& req, const std::function<bool()>& satisfied, int timeoutMs)>;

struct BufferedReadParts {
  CircDevDataBuf* dataBuf = nullptr;
  BytesReadReq* bytesReq = nullptr;
  CharReadReq* charReq = nullptr;
  HelperThread* threads[2] = {nullptr, nullptr};  // second one optional
  RequestWaiter waiter;                           // optional; the request's event otherwise
};

namespace BufferedRead {

bool readInBuff(DeviceComm& dc, const BufferedReadParts& p, uint8_t* buf, unsigned len,
                unsigned* got);
bool read(DeviceComm& dc, const BufferedReadParts& p, uint8_t* buf, unsigned len, unsigned* got,
          int timeoutMs);
bool readLine(DeviceComm& dc, const BufferedReadParts& p, uint8_t* buf, unsigned bufLen,
              unsigned* got, int timeoutMs);
// Protocol part only; the transport adds its own purge.
bool purge(DeviceComm& dc, const BufferedReadParts& p);

// Signals a pending request that the data buffer satisfies (then yields).
void checkStepConditions(CircDevDataBuf& dataBuf, BytesReadReq& bytesReq, CharReadReq& charReq);
// Wakes both requests if pending: a step that failed calls this so that a
// waiting caller learns of the error at once.
void signalPending(BytesReadReq& bytesReq, CharReadReq& charReq);

}  // namespace BufferedRead
