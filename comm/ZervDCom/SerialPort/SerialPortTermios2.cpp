// The kernel's termios2 is the only way to a non-standard rate, and its
// header cannot meet glibc's <termios.h>: this file includes neither glibc
// header and declares ioctl itself.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

int setCustomBaud(int fd, int baud);

int setCustomBaud(int fd, int baud) {
  if (baud <= 0) return EINVAL;
  struct termios2 t2;
  if (ioctl(fd, TCGETS2, &t2) != 0) return errno;
  t2.c_cflag &= ~CBAUD;
  t2.c_cflag |= BOTHER;
  t2.c_ispeed = static_cast<speed_t>(baud);
  t2.c_ospeed = static_cast<speed_t>(baud);
  if (ioctl(fd, TCSETS2, &t2) != 0) return errno;
  return 0;
}
