// Brackets every use of QuickTime in the process: start initialises the
// QuickTime library and then its movie services, stop ends them in the
// reverse order. The object itself holds nothing; construction and
// destruction make no call.
#pragma once

class QuickTimeEnvironment {
 public:
  // True when QuickTime is ready for use. On false start has undone its own
  // work, and stop need not be called (calling it is harmless).
  bool start();
  void stop();
};
