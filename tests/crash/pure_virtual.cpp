// A pure virtual call from a base class's constructor: in this runtime the pure-call slot is
// an unresolved weak symbol, so the call lands on address 0.
#include "crash_support.h"

struct Shape {
  Shape();
  virtual ~Shape() = default;
  virtual int Area() const = 0;
};

CRASH_NOINLINE int Measure(const Shape* volatile* shape) {
  int area = (*shape)->Area();
  KeepFrame();
  return area;
}

CRASH_NOINLINE Shape::Shape() {
  const Shape* volatile self = this;
  Measure(&self);
  KeepFrame();
}

struct Square : Shape {
  int Area() const override { return 4; }
};

CRASH_NOINLINE int Build() {
  Square square;
  KeepFrame();
  return square.Area();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Build();
  KeepFrame();
  return 0;
}
