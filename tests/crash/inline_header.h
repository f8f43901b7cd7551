// Code of a header, inlined into the unit that includes it.
#pragma once

inline void StoreThrough(int* target, int value) {
  int doubled = value * 2;
  target[value] = doubled;
}
