// The property records that all reporter copies of a process share. Their layout is fixed:
// every copy of the reporter in a process reads and frees records made by another copy, so
// records and arrays come from an allocator that all copies share (the process heap).
#pragma once

#include <cstdint>
#include <string>

#include "settings_stream.h"

namespace qx {

struct TSettingsProperty {
  char* name;          // zero-terminated, owned
  PropertyKind kind;
  uint8_t boolValue;   // 0 or 1; 0 for other kinds
  int32_t intValue;    // 0 for other kinds
  char* text;          // zero-terminated, owned; null for an empty text
};

struct TSettingsModule {
  int32_t refCount;    // settings objects of this module alive in the process
  void* module;        // module handle
  int32_t capacity;    // records the array can hold
  int32_t count;       // records in use
  TSettingsProperty* properties;
  TSettingsModule* next;
  // Guards the array and the texts against a reader seeing them freed by a concurrent
  // write, growth or re-read. A spin lock: it is held only for a copy or a pointer swap.
  int32_t valueLock;
};

constexpr int32_t kInitialPropertyCapacity = 131;
constexpr int32_t kPropertyCapacityGrowth = 20;

// The allocator records, arrays, names and texts come from. Allocations are zero-filled.
struct PropertyHeap {
  void* (*allocate)(size_t size);
  void (*release)(void* block);
};
// malloc-based; the Windows build uses the process heap instead.
const PropertyHeap& CrtPropertyHeap();

// Scoped hold of a record's value lock.
class PropertyValueLock {
 public:
  explicit PropertyValueLock(TSettingsModule* record);
  ~PropertyValueLock();
  PropertyValueLock(const PropertyValueLock&) = delete;
  PropertyValueLock& operator=(const PropertyValueLock&) = delete;

 private:
  TSettingsModule* record_;
};

// Finds the first record named exactly `name` (letter case counts) among `count` records.
TSettingsProperty* FindProperty(TSettingsProperty* properties, int32_t count, const char* name);

// Appends a record with zero values; grows the array by 20 records when it is full.
// Returns null when memory runs out. The caller holds the value lock.
TSettingsProperty* AppendProperty(TSettingsModule& record, const char* name, PropertyKind kind,
                                  const PropertyHeap& heap);

// Replaces the record's properties by those parsed from a stream (array for at least 131
// records); the previous ones are freed. Takes the value lock for the swap itself.
bool LoadProperties(TSettingsModule& record, const StreamParseResult& parsed,
                    const PropertyHeap& heap);

// Frees names, texts and the array of a record (not the record itself).
void FreeProperties(TSettingsModule& record, const PropertyHeap& heap);

// Stores a copy of `text` (none when empty) and frees the previous one. The caller holds
// the value lock.
bool StorePropertyText(TSettingsProperty& property, const std::string& text,
                       const PropertyHeap& heap);

// Copies a zero-terminated text into a new block of `heap`; null for an empty text.
char* CopyHeapText(const char* text, size_t length, const PropertyHeap& heap);

}  // namespace qx
