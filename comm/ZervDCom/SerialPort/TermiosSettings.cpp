#include "SerialPort/TermiosSettings.h"

speed_t standardSpeed(int baud) {
  switch (baud) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 500000:
      return B500000;
    case 576000:
      return B576000;
    case 921600:
      return B921600;
    case 1000000:
      return B1000000;
    case 1152000:
      return B1152000;
    case 1500000:
      return B1500000;
    case 2000000:
      return B2000000;
    case 2500000:
      return B2500000;
    case 3000000:
      return B3000000;
    case 3500000:
      return B3500000;
    case 4000000:
      return B4000000;
    default:
      return 0;
  }
}

bool applyLineSettings(termios& t, const LineSettings& s) {
  const tcflag_t oldIflowBits = t.c_iflag & (IXON | IXOFF | IXANY);
  const tcflag_t oldCflowBits = t.c_cflag & CRTSCTS;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  // VMIN 1: on the non-blocking descriptor an empty read is then EAGAIN, so
  // a read of 0 bytes can only mean a hang-up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  t.c_cflag &= ~CSIZE;
  switch (s.byteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    default:
      t.c_cflag |= CS8;
      break;
  }

  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (s.parity) {
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
    case 3:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;  // mark
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;  // space
    default:
      break;
  }
  // Errors and breaks arrive marked in the stream (0xFF 0x00 x) so the port
  // can report them; a data 0xFF then arrives doubled.
  t.c_iflag &= ~(IGNPAR | IGNBRK | BRKINT | ISTRIP);
  t.c_iflag |= INPCK | PARMRK;

  if (s.stopBits == 1 || s.stopBits == 2)
    t.c_cflag |= CSTOPB;  // one and a half has no termios form: two
  else
    t.c_cflag &= ~CSTOPB;

  switch (s.flowControl) {
    case 0:
      t.c_cflag &= ~CRTSCTS;
      t.c_iflag &= ~(IXON | IXOFF | IXANY);
      break;
    case 1:
      t.c_cflag |= CRTSCTS;
      t.c_iflag &= ~(IXON | IXOFF | IXANY);
      break;
    case 2:
      t.c_cflag &= ~CRTSCTS;
      t.c_iflag |= IXON | IXOFF;
      break;
    default:
      t.c_iflag = (t.c_iflag & ~(IXON | IXOFF | IXANY)) | oldIflowBits;
      t.c_cflag = (t.c_cflag & ~CRTSCTS) | oldCflowBits;
      return false;
  }

  if (speed_t sp = standardSpeed(s.baudRate)) {
    cfsetispeed(&t, sp);
    cfsetospeed(&t, sp);
  }
  return true;
}
