#pragma once

#include "platform/unique_fd.h"

namespace corvane {

// A level-triggered wake-up shared by every thread of one listener: once raised it stays
// readable, so every poll() that includes Fd() returns until Clear() is called.
class StopSignal {
 public:
  StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  int Fd() const { return fd_.Get(); }
  void Raise();
  void Clear();
  bool Raised() const;

 private:
  UniqueFd fd_;
};

}  // namespace corvane
