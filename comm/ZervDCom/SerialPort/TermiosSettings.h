#pragma once
// Line settings to termios values, kept apart so the mapping is tested
// without a port.

#include <termios.h>

#include "SerialPort/LineSettings.h"

// The speed constant for a standard rate, or 0 when the rate needs BOTHER.
speed_t standardSpeed(int baud);

// Raw mode with the settings applied; false for an unknown flow-control code
// (its bits are then left as they were).
bool applyLineSettings(termios& t, const LineSettings& s);

// Sets a non-standard rate through termios2; 0 or errno.
int setCustomBaud(int fd, int baud);
