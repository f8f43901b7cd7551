// The property records that all reporter copies of a process share. Their layout is fixed:
// every copy of the reporter in a process reads and frees records made by another copy, so
// records and arrays come from an allocator that all copies share (the process heap).
//
// Reads take no lock. Writers exclude each other with a short spin lock and never free
// what a reader may still hold: a replaced text or array is retired and freed once no read
// is in progress (or with the record). A reader can therefore not be blocked by a thread
// that was suspended in the middle of a write, which matters while the reporter pauses
// the other threads of the process.
#pragma once

#include <cstdint>
#include <string>

#include "settings_stream.h"

namespace qx {

struct TSettingsProperty {
  char* name;          // zero-terminated, owned; never changes once the record is listed
  PropertyKind kind;
  uint8_t boolValue;   // 0 or 1; 0 for other kinds
  int32_t intValue;    // 0 for other kinds
  char* text;          // zero-terminated, owned; null for an empty text
};

struct RetiredBlock;

struct TSettingsModule {
  int32_t refCount;    // settings objects of this module alive in the process
  void* module;        // module handle
  int32_t capacity;    // records the array can hold
  int32_t count;       // records in use
  TSettingsProperty* properties;
  TSettingsModule* next;
  // Appended to the shared layout: the writers' lock, the number of reads in progress and
  // the blocks replaced while reads were in progress.
  int32_t writeLock;
  int32_t readers;
  RetiredBlock* retired;
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

// Marks a read in progress: what the record points at stays allocated until it ends.
class PropertyReadScope {
 public:
  explicit PropertyReadScope(TSettingsModule* record);
  ~PropertyReadScope();
  PropertyReadScope(const PropertyReadScope&) = delete;
  PropertyReadScope& operator=(const PropertyReadScope&) = delete;
  // The records visible to this read.
  TSettingsProperty* Properties() const { return properties_; }
  int32_t Count() const { return count_; }

 private:
  TSettingsModule* record_;
  TSettingsProperty* properties_ = nullptr;
  int32_t count_ = 0;
};

// Excludes other writers of a record. Gives up after about a second (Held() is then false)
// rather than hang on a writer that was suspended while holding it. On release it frees
// the retired blocks when no read is in progress.
class PropertyWriteLock {
 public:
  PropertyWriteLock(TSettingsModule* record, const PropertyHeap& heap);
  ~PropertyWriteLock();
  PropertyWriteLock(const PropertyWriteLock&) = delete;
  PropertyWriteLock& operator=(const PropertyWriteLock&) = delete;
  bool Held() const { return held_; }

 private:
  TSettingsModule* record_;
  const PropertyHeap& heap_;
  bool held_ = false;
};

// Finds the first record named exactly `name` (letter case counts) among `count` records.
TSettingsProperty* FindProperty(TSettingsProperty* properties, int32_t count, const char* name);

// The text of a record as a reader sees it; empty when it has none.
std::string PropertyText(const TSettingsProperty& property);

// Appends a record with zero values; grows the array by 20 records when it is full.
// Returns null when memory runs out. The caller holds the write lock.
TSettingsProperty* AppendProperty(TSettingsModule& record, const char* name, PropertyKind kind,
                                  const PropertyHeap& heap);

// Replaces the record's properties by those parsed from a stream (array for at least 131
// records); the previous ones are retired. The caller holds the write lock.
bool LoadProperties(TSettingsModule& record, const StreamParseResult& parsed,
                    const PropertyHeap& heap);

// Frees names, texts, the array and the retired blocks of a record (not the record
// itself). Only when no settings object refers to the record any more.
void FreeProperties(TSettingsModule& record, const PropertyHeap& heap);

// Stores a copy of `text` (none when empty) and retires the previous one. The caller holds
// the write lock.
bool StorePropertyText(TSettingsModule& record, TSettingsProperty& property,
                       const std::string& text, const PropertyHeap& heap);

// Copies a text into a new block of `heap`; null for an empty text.
char* CopyHeapText(const char* text, size_t length, const PropertyHeap& heap);

}  // namespace qx
