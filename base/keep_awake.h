// Keeps the PC from going to sleep on its own while a worker transfers or hashes.
// Windows only.
#pragma once

#include <cstdint>

// Asks, for the calling thread, that the system stay awake (the display may still turn off)
// until destruction, which gives the thread back the state it had. The request belongs to the
// thread and ends with it, so an owner makes one on the thread that does the work, for the
// whole run.
class KeepAwake {
 public:
  KeepAwake();
  ~KeepAwake();
  KeepAwake(const KeepAwake&) = delete;
  KeepAwake& operator=(const KeepAwake&) = delete;

 private:
  uint32_t previous_;
};
