// Preloaded after libfaketime into a program for 32-bit ARM built with a 64-bit time_t: Debian
// 12's libfaketime there moves only the 32-bit clock calls, so the 64-bit ones are answered from
// those. Built without _TIME_BITS, so that clock_gettime and time are the 32-bit calls.
#include <time.h>

struct Timespec64 {
  long long tv_sec;
  long tv_nsec;
  long padding;
};

int __clock_gettime64(clockid_t clock, struct Timespec64* now) {
  struct timespec moved;
  if (clock_gettime(clock, &moved) != 0) return -1;
  *now = (struct Timespec64){moved.tv_sec, moved.tv_nsec, 0};
  return 0;
}

long long __time64(long long* now) {
  long long moved = time(0);
  if (now) *now = moved;
  return moved;
}
