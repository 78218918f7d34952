// A platform critical section owned by an object, with a scoped holder. Recursive on the owning thread,
// as the platform's critical sections are.
#pragma once

#include "platform/com.h"

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&m_section); }
  ~CriticalSection() { DeleteCriticalSection(&m_section); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&m_section); }
  void Leave() { LeaveCriticalSection(&m_section); }

  // Holds the section from construction to the end of the scope, also when an exception passes.
  class Scoped {
   public:
    explicit Scoped(CriticalSection& section) : m_section(section) { m_section.Enter(); }
    ~Scoped() { m_section.Leave(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

   private:
    CriticalSection& m_section;
  };

 private:
  CRITICAL_SECTION m_section;
};
