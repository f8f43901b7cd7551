#include "property_list.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qx {

struct RetiredBlock {
  RetiredBlock* next;
  void* block;
};

namespace {

void* CrtAllocate(size_t size) { return std::calloc(1, size); }
void CrtRelease(void* block) { std::free(block); }

template <class T>
T* Acquire(T* const& field) {
  return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}

// Keeps `block` until no read can hold it. When memory for the note runs out the block is
// kept for good rather than freed under a reader.
void Retire(TSettingsModule& record, void* block, const PropertyHeap& heap) {
  if (block == nullptr) return;
  auto* note = static_cast<RetiredBlock*>(heap.allocate(sizeof(RetiredBlock)));
  if (note == nullptr) return;
  note->block = block;
  note->next = record.retired;
  record.retired = note;
}

void FreeRetired(TSettingsModule& record, const PropertyHeap& heap) {
  RetiredBlock* note = record.retired;
  record.retired = nullptr;
  while (note != nullptr) {
    RetiredBlock* next = note->next;
    heap.release(note->block);
    heap.release(note);
    note = next;
  }
}

void FreeArray(TSettingsProperty* properties, int32_t count, const PropertyHeap& heap) {
  if (properties == nullptr) return;
  for (int32_t i = 0; i < count; ++i) {
    heap.release(properties[i].name);
    heap.release(properties[i].text);
  }
  heap.release(properties);
}

}  // namespace

const PropertyHeap& CrtPropertyHeap() {
  static const PropertyHeap heap{CrtAllocate, CrtRelease};
  return heap;
}

PropertyReadScope::PropertyReadScope(TSettingsModule* record) : record_(record) {
  if (record_ == nullptr) return;
  // Sequentially consistent: a writer that then finds no reader has already unpublished
  // what it retires, so this read cannot see it.
  __atomic_add_fetch(&record_->readers, 1, __ATOMIC_SEQ_CST);
  // Count first: an array published with a larger count is published before that count,
  // and every array holds at least as many (possibly empty) records as any count before it.
  count_ = __atomic_load_n(&record_->count, __ATOMIC_ACQUIRE);
  properties_ = Acquire(record_->properties);
}

PropertyReadScope::~PropertyReadScope() {
  if (record_ != nullptr) __atomic_sub_fetch(&record_->readers, 1, __ATOMIC_SEQ_CST);
}

PropertyWriteLock::PropertyWriteLock(TSettingsModule* record, const PropertyHeap& heap)
    : record_(record), heap_(heap) {
  if (record_ == nullptr) return;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (int spins = 0;; ++spins) {
    if (__atomic_exchange_n(&record_->writeLock, 1, __ATOMIC_ACQUIRE) == 0) {
      held_ = true;
      return;
    }
    if (spins % 64 == 63) {
      if (std::chrono::steady_clock::now() > deadline) return;
      std::this_thread::yield();
    }
  }
}

PropertyWriteLock::~PropertyWriteLock() {
  if (!held_) return;
  // What was retired is unpublished by now; the fence orders those stores before the look
  // at the readers (a reader's increment is a full barrier on its side).
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  if (record_->retired != nullptr && __atomic_load_n(&record_->readers, __ATOMIC_SEQ_CST) == 0)
    FreeRetired(*record_, heap_);
  __atomic_store_n(&record_->writeLock, 0, __ATOMIC_RELEASE);
}

TSettingsProperty* FindProperty(TSettingsProperty* properties, int32_t count, const char* name) {
  if (properties == nullptr || name == nullptr) return nullptr;
  for (int32_t i = 0; i < count; ++i)
    if (properties[i].name != nullptr && std::strcmp(properties[i].name, name) == 0)
      return &properties[i];
  return nullptr;
}

std::string PropertyText(const TSettingsProperty& property) {
  const char* text = Acquire(property.text);
  return text != nullptr ? std::string(text) : std::string();
}

char* CopyHeapText(const char* text, size_t length, const PropertyHeap& heap) {
  if (text == nullptr || length == 0) return nullptr;
  auto* copy = static_cast<char*>(heap.allocate(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

TSettingsProperty* AppendProperty(TSettingsModule& record, const char* name, PropertyKind kind,
                                  const PropertyHeap& heap) {
  char* nameCopy = CopyHeapText(name, std::strlen(name), heap);
  if (nameCopy == nullptr) return nullptr;
  if (record.count >= record.capacity || record.properties == nullptr) {
    int32_t capacity = record.properties == nullptr ? kInitialPropertyCapacity
                                                    : record.capacity + kPropertyCapacityGrowth;
    auto* grown =
        static_cast<TSettingsProperty*>(heap.allocate(sizeof(TSettingsProperty) * capacity));
    if (grown == nullptr) {
      heap.release(nameCopy);
      return nullptr;
    }
    if (record.properties != nullptr)
      std::memcpy(grown, record.properties, sizeof(TSettingsProperty) * record.count);
    // The old array's names and texts now belong to the new one; only the array retires.
    Retire(record, record.properties, heap);
    __atomic_store_n(&record.properties, grown, __ATOMIC_RELEASE);
    record.capacity = capacity;
  }
  TSettingsProperty& property = record.properties[record.count];
  property = TSettingsProperty{nameCopy, kind, 0, 0, nullptr};
  __atomic_store_n(&record.count, record.count + 1, __ATOMIC_RELEASE);
  return &property;
}

bool StorePropertyText(TSettingsModule& record, TSettingsProperty& property,
                       const std::string& text, const PropertyHeap& heap) {
  char* copy = nullptr;
  if (!text.empty()) {
    copy = CopyHeapText(text.data(), text.size(), heap);
    if (copy == nullptr) return false;
  }
  char* old = property.text;
  __atomic_store_n(&property.text, copy, __ATOMIC_RELEASE);
  Retire(record, old, heap);
  return true;
}

bool LoadProperties(TSettingsModule& record, const StreamParseResult& parsed,
                    const PropertyHeap& heap) {
  // Room for as many records as readers may still count in the old array.
  int32_t capacity = kInitialPropertyCapacity;
  if (record.count > capacity) capacity = record.count;
  int32_t wanted = static_cast<int32_t>(parsed.properties.size());
  if (wanted > capacity) capacity = wanted;
  auto* fresh =
      static_cast<TSettingsProperty*>(heap.allocate(sizeof(TSettingsProperty) * capacity));
  if (fresh == nullptr) return false;
  int32_t filled = 0;
  bool complete = true;
  for (const StreamProperty& source : parsed.properties) {
    char* name = CopyHeapText(source.name.data(), source.name.size(), heap);
    char* text = source.kind == PropertyKind::Text
                     ? CopyHeapText(source.text.data(), source.text.size(), heap)
                     : nullptr;
    if (name == nullptr || (text == nullptr && source.kind == PropertyKind::Text &&
                            !source.text.empty())) {
      heap.release(name);
      complete = false;
      break;
    }
    fresh[filled++] = TSettingsProperty{
        name, source.kind,
        static_cast<uint8_t>(source.kind == PropertyKind::Boolean && source.boolValue),
        source.kind == PropertyKind::Integer ? source.intValue : 0, text};
  }
  TSettingsProperty* old = record.properties;
  int32_t oldCount = record.count;
  __atomic_store_n(&record.properties, fresh, __ATOMIC_RELEASE);
  __atomic_store_n(&record.count, filled, __ATOMIC_RELEASE);
  record.capacity = capacity;
  for (int32_t i = 0; i < oldCount; ++i) {
    Retire(record, old[i].name, heap);
    Retire(record, old[i].text, heap);
  }
  Retire(record, old, heap);
  return complete;
}

void FreeProperties(TSettingsModule& record, const PropertyHeap& heap) {
  FreeArray(record.properties, record.count, heap);
  record.properties = nullptr;
  record.capacity = 0;
  record.count = 0;
  FreeRetired(record, heap);
}

}  // namespace qx
