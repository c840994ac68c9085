#ifndef LINKSIM_MODEL_TIME_H_
#define LINKSIM_MODEL_TIME_H_

/// The simulation clock: one process-wide value in nanoseconds, advanced by
/// exactly 1.0 per tick. Time objects carry no state; every operation works
/// on the static value and returns the clock after it.
class Time {
 public:
  /// The clock; 0.0 when the program starts, kept between runs.
  static double nanoseconds;

  static double start() { return nanoseconds = 0.0; }
  static double getTime() { return nanoseconds; }
  static double increase() { return nanoseconds += 1.0; }
};

#endif  // LINKSIM_MODEL_TIME_H_
