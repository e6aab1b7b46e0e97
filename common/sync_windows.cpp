// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "common/sync.h"

namespace velk {

namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

PSRWLOCK Slim(void*& slim) {
  return reinterpret_cast<PSRWLOCK>(&slim);
}

PCONDITION_VARIABLE Condition(void*& slim) {
  return reinterpret_cast<PCONDITION_VARIABLE>(&slim);
}

}  // namespace

void Mutex::lock() {
  AcquireSRWLockExclusive(Slim(slim_));
}

void Mutex::unlock() {
  ReleaseSRWLockExclusive(Slim(slim_));
}

bool Mutex::try_lock() {
  return TryAcquireSRWLockExclusive(Slim(slim_)) != 0;
}

void ConditionVariable::notify_one() {
  WakeConditionVariable(Condition(slim_));
}

void ConditionVariable::notify_all() {
  WakeAllConditionVariable(Condition(slim_));
}

void ConditionVariable::SleepFor(std::unique_lock<Mutex>& lock, std::uint32_t milliseconds) {
  SleepConditionVariableSRW(Condition(slim_), Slim(lock.mutex()->slim_), milliseconds, 0);
}

}  // namespace velk
