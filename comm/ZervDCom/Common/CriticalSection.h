#pragma once
// Re-entrant lock, as the platform critical section the classes were built on.

#include <mutex>

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter();
  void leave();
  bool tryEnter();

  // BasicLockable, so std::lock_guard / std::unique_lock work.
  void lock() { enter(); }
  void unlock() { leave(); }

 private:
  std::recursive_mutex mutex_;
};

class CsLock {
 public:
  explicit CsLock(CriticalSection& cs) : cs_(cs) { cs_.enter(); }
  ~CsLock() { cs_.leave(); }
  CsLock(const CsLock&) = delete;
  CsLock& operator=(const CsLock&) = delete;

 private:
  CriticalSection& cs_;
};
