/* libZervDCom.so: the device-communication library's C interface.
 *
 * Every connection lives inside the library and is known outside only by its
 * DeviceHandle (never 0; issued from 1 upwards and never reused while the
 * library stays loaded). Every int result is 1 for true and 0 for false; no
 * function lets an exception out. A handle the library does not know gives 0
 * and stores no error. After a failure on a known handle, comm_getLastErr
 * and comm_translateLastErr tell what happened.
 *
 * Strings are UTF-16 (char16_t), lengths in code units; data are bytes;
 * time-outs are milliseconds, 2147483647 (or any negative value) meaning no
 * limit and 0 not waiting. Output arguments are written only when the pointer
 * is not null.
 *
 * Threads: any function may be called on one handle from several threads at
 * once. comm_close may race every other call on its handle: it wakes every
 * call in flight (even one waiting without a limit), which then returns 0
 * with code 3, waits for them to return, and only then closes; a call that
 * starts after the close finds no handle (0, no error stored).
 *
 * Hang-up: once a read meets a vanished device (code 6), the connection
 * stays hung up: every later read on it fails with 6 at once and writes fail
 * with 7; close it and create a new one to reconnect.
 */
#ifndef ZERVDCOM_H
#define ZERVDCOM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <uchar.h>
#endif

#if defined(ZERVDCOM_BUILDING)
#define ZERVDCOM_API __attribute__((visibility("default")))
#else
#define ZERVDCOM_API
#endif

typedef int32_t DeviceHandle;
#define INVALID_DEV_COMM_HANDLE 0
#define ZERVDCOM_NO_TIMEOUT 2147483647
#define ZERVDCOM_LIBRARY_NAME "libZervDCom.so"
/* The largest data buffer or queue size accepted; a size of 0 or above it is
 * taken by comm_create* but refused by the open with code 10. */
#define ZERVDCOM_MAX_BUFFER_SIZE 16777216u

/* Library life cycle: load sets up the diagnostic log (written nothing at the
 * level used); unload closes and destroys every connection. Either fails when
 * already in the state asked for. The handle functions work in both states. */
ZERVDCOM_API int comm_loadInterface(void);
ZERVDCOM_API int comm_unloadInterface(void);

/* A serial connection on portName (at most nameLen code units, below 260; a
 * name starting with "/" is a device path, COMn names /dev/ttyS<n-1>).
 * listener != 0: a helper thread fills a data buffer of sizeA bytes; else the
 * port is read directly with an input queue of sizeA. sizeB is the output
 * queue. Opens nothing. *handle must not hold a live handle (that connection's
 * last error then becomes 31); the new handle is stored in it (0 on failure). */
ZERVDCOM_API int comm_createSerialPort(DeviceHandle* handle, const char16_t* portName, int nameLen,
                                       unsigned sizeA, unsigned sizeB, int listener);
/* byteSize 5 to 8 (another fails with 27); parity 1 none, 2 odd, 3 even,
 * 4 mark, 5 space; stopBits 0 one, 1 one and a half, 2 two; flow 0 none,
 * 1 hardware, 2 software. */
ZERVDCOM_API int comm_openSerialPort(DeviceHandle h, int baud, int byteSize, unsigned char parity,
                                     unsigned char stopBits, unsigned char flow);

/* The sensor manager: lists the attached sensors once per manager handle. */
ZERVDCOM_API int comm_createTKS7730USBDevMngr(DeviceHandle* handle);
ZERVDCOM_API int comm_buildTKS7730USBDevList(DeviceHandle mngr, int* count);
/* A sensor connection on the manager's sensor at index (0-based). */
ZERVDCOM_API int comm_createTKS7730USB(DeviceHandle mngr, int index, DeviceHandle* handle,
                                       unsigned bufCapacity);
/* Opens the sensor and starts it: start command, then polling. */
ZERVDCOM_API int comm_openTKS7730USB(DeviceHandle h);

/* Closes and destroys the connection; the handle is dead afterwards. */
ZERVDCOM_API int comm_close(DeviceHandle h);
ZERVDCOM_API int comm_getLastErr(DeviceHandle h);
/* The message of code (plus, with appendDetail, the connection's last error
 * detail) with its terminator; fails when it needs bufLen code units or more. */
ZERVDCOM_API int comm_translateLastErr(DeviceHandle h, int code, char16_t* buf, unsigned bufLen,
                                       int appendDetail);

ZERVDCOM_API int comm_write(DeviceHandle h, const void* data, unsigned len, unsigned* written,
                            int timeoutMs);
ZERVDCOM_API int comm_read(DeviceHandle h, void* buf, unsigned len, unsigned* got, int timeoutMs);
ZERVDCOM_API int comm_readInBuff(DeviceHandle h, void* buf, unsigned len, unsigned* got);
/* One line up to and with its line feed, not zero-terminated. */
ZERVDCOM_API int comm_readLine(DeviceHandle h, void* buf, unsigned bufLen, unsigned* got,
                               int timeoutMs);
/* flags: 1 abort writes, 2 abort reads, 4 clear output, 8 clear input. */
ZERVDCOM_API int comm_purge(DeviceHandle h, unsigned flags);

/* "ZervDCom.dll v1.0 (UNICODE), 2004/05/10" (39 code units) and its terminator. */
ZERVDCOM_API int comm_getVersionInfo(char16_t* buf, unsigned bufLen);
/* 0 only for the two time-outs (8 and 9). */
ZERVDCOM_API int comm_isLastErrSevere(int code);
ZERVDCOM_API int comm_isSerialPortAvail(const char16_t* portName, int nameLen);
ZERVDCOM_API int comm_isTKS7730USBPortAvail(DeviceHandle mngr, int index);

/* Pointer types for binding by name with dlsym. */
typedef int (*comm_loadInterface_fn)(void);
typedef int (*comm_unloadInterface_fn)(void);
typedef int (*comm_createSerialPort_fn)(DeviceHandle*, const char16_t*, int, unsigned, unsigned,
                                        int);
typedef int (*comm_openSerialPort_fn)(DeviceHandle, int, int, unsigned char, unsigned char,
                                      unsigned char);
typedef int (*comm_createTKS7730USBDevMngr_fn)(DeviceHandle*);
typedef int (*comm_buildTKS7730USBDevList_fn)(DeviceHandle, int*);
typedef int (*comm_createTKS7730USB_fn)(DeviceHandle, int, DeviceHandle*, unsigned);
typedef int (*comm_openTKS7730USB_fn)(DeviceHandle);
typedef int (*comm_close_fn)(DeviceHandle);
typedef int (*comm_getLastErr_fn)(DeviceHandle);
typedef int (*comm_translateLastErr_fn)(DeviceHandle, int, char16_t*, unsigned, int);
typedef int (*comm_write_fn)(DeviceHandle, const void*, unsigned, unsigned*, int);
typedef int (*comm_read_fn)(DeviceHandle, void*, unsigned, unsigned*, int);
typedef int (*comm_readInBuff_fn)(DeviceHandle, void*, unsigned, unsigned*);
typedef int (*comm_readLine_fn)(DeviceHandle, void*, unsigned, unsigned*, int);
typedef int (*comm_purge_fn)(DeviceHandle, unsigned);
typedef int (*comm_getVersionInfo_fn)(char16_t*, unsigned);
typedef int (*comm_isLastErrSevere_fn)(int);
typedef int (*comm_isSerialPortAvail_fn)(const char16_t*, int);
typedef int (*comm_isTKS7730USBPortAvail_fn)(DeviceHandle, int);

/* Every entry point once, in the order above: X(name) builds binding tables
 * whose members have the types name##_fn. */
/* clang-format off */
#define ZERVDCOM_FUNCTIONS(X)                                                                   \
  X(comm_loadInterface) X(comm_unloadInterface) X(comm_createSerialPort) X(comm_openSerialPort) \
  X(comm_createTKS7730USBDevMngr) X(comm_buildTKS7730USBDevList) X(comm_createTKS7730USB)       \
  X(comm_openTKS7730USB) X(comm_close) X(comm_getLastErr) X(comm_translateLastErr) X(comm_write) \
  X(comm_read) X(comm_readInBuff) X(comm_readLine) X(comm_purge) X(comm_getVersionInfo)         \
  X(comm_isLastErrSevere) X(comm_isSerialPortAvail) X(comm_isTKS7730USBPortAvail)
/* clang-format on */

#ifdef __cplusplus
}
#endif

#endif /* ZERVDCOM_H */
