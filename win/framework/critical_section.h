#pragma once
// A critical section that lives as long as its owner, and a guard that leaves it on every exit path.

#include <windows.h>

class CMyCriticalSection {
 public:
  CMyCriticalSection() { InitializeCriticalSection(&section_); }
  ~CMyCriticalSection() { DeleteCriticalSection(&section_); }
  CMyCriticalSection(const CMyCriticalSection&) = delete;
  CMyCriticalSection& operator=(const CMyCriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }
  CRITICAL_SECTION* get() { return &section_; }

 private:
  CRITICAL_SECTION section_;
};

// Leaves a section the caller has entered, when the scope ends: exceptions included.
class CAutoCriticalSection {
 public:
  explicit CAutoCriticalSection(CRITICAL_SECTION* section) : section_(section) {}
  ~CAutoCriticalSection() {
    if (section_) LeaveCriticalSection(section_);
  }
  CAutoCriticalSection(const CAutoCriticalSection&) = delete;
  CAutoCriticalSection& operator=(const CAutoCriticalSection&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

// Enters and leaves: the usual scoped lock.
class ScopedSection {
 public:
  explicit ScopedSection(CMyCriticalSection& section) : guard_((section.Enter(), section.get())) {}

 private:
  CAutoCriticalSection guard_;
};
