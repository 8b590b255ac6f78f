// A file descriptor owned by the scope or the object that holds it: closed when that is left or
// destroyed, on whichever path. Close says whether the close itself succeeded, which matters where
// a file system reports a write's failure only then.
#pragma once

#include <unistd.h>

class Descriptor {
public:
  Descriptor() = default;
  explicit Descriptor(int Opened) : Fd(Opened) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  Descriptor(Descriptor &&Other) noexcept : Fd(Other.Release()) {}
  Descriptor &operator=(Descriptor &&Other) noexcept {
    Reset(Other.Release());
    return *this;
  }

  int Get() const { return Fd; }
  bool Valid() const { return Fd >= 0; }
  int Release() {
    int Kept = Fd;
    Fd = -1;
    return Kept;
  }
  void Reset(int Opened = -1) {
    if (Fd >= 0)
      close(Fd);
    Fd = Opened;
  }
  bool Close() {
    int Old = Release();
    return Old < 0 || close(Old) == 0;
  }

private:
  int Fd = -1;
};
