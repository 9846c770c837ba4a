#include "Common/CriticalSection.h"

#include <system_error>

#include "Common/Exc.h"

void CriticalSection::enter() {
  try {
    mutex_.lock();
  } catch (const std::system_error&) {
    throw CriticalSectionExc(ZRQ_HERE);
  }
}

void CriticalSection::leave() { mutex_.unlock(); }

bool CriticalSection::tryEnter() { return mutex_.try_lock(); }
