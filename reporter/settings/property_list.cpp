#include "property_list.h"

#include <cstdlib>
#include <cstring>

namespace qx {

namespace {

void* CrtAllocate(size_t size) { return std::calloc(1, size); }
void CrtRelease(void* block) { std::free(block); }

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

PropertyValueLock::PropertyValueLock(TSettingsModule* record) : record_(record) {
  if (record_ == nullptr) return;
  while (__atomic_exchange_n(&record_->valueLock, 1, __ATOMIC_ACQUIRE) != 0) {
    while (__atomic_load_n(&record_->valueLock, __ATOMIC_RELAXED) != 0) {
#if defined(__i386__) || defined(__x86_64__)
      __builtin_ia32_pause();
#endif
    }
  }
}

PropertyValueLock::~PropertyValueLock() {
  if (record_ != nullptr) __atomic_store_n(&record_->valueLock, 0, __ATOMIC_RELEASE);
}

TSettingsProperty* FindProperty(TSettingsProperty* properties, int32_t count, const char* name) {
  if (properties == nullptr || name == nullptr) return nullptr;
  for (int32_t i = 0; i < count; ++i)
    if (properties[i].name != nullptr && std::strcmp(properties[i].name, name) == 0)
      return &properties[i];
  return nullptr;
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
  if (record.count >= record.capacity || record.properties == nullptr) {
    int32_t capacity = record.properties == nullptr ? kInitialPropertyCapacity
                                                    : record.capacity + kPropertyCapacityGrowth;
    auto* grown =
        static_cast<TSettingsProperty*>(heap.allocate(sizeof(TSettingsProperty) * capacity));
    if (grown == nullptr) return nullptr;
    if (record.properties != nullptr) {
      std::memcpy(grown, record.properties, sizeof(TSettingsProperty) * record.count);
      heap.release(record.properties);
    }
    record.properties = grown;
    record.capacity = capacity;
  }
  char* nameCopy = CopyHeapText(name, std::strlen(name), heap);
  if (nameCopy == nullptr) return nullptr;
  TSettingsProperty& property = record.properties[record.count++];
  property = TSettingsProperty{nameCopy, kind, 0, 0, nullptr};
  return &property;
}

bool StorePropertyText(TSettingsProperty& property, const std::string& text,
                       const PropertyHeap& heap) {
  char* copy = nullptr;
  if (!text.empty()) {
    copy = CopyHeapText(text.data(), text.size(), heap);
    if (copy == nullptr) return false;
  }
  heap.release(property.text);
  property.text = copy;
  return true;
}

bool LoadProperties(TSettingsModule& record, const StreamParseResult& parsed,
                    const PropertyHeap& heap) {
  TSettingsModule fresh{};
  fresh.properties = static_cast<TSettingsProperty*>(
      heap.allocate(sizeof(TSettingsProperty) * kInitialPropertyCapacity));
  bool complete = fresh.properties != nullptr;
  if (complete) fresh.capacity = kInitialPropertyCapacity;
  for (const StreamProperty& source : parsed.properties) {
    if (!complete) break;
    TSettingsProperty* property = AppendProperty(fresh, source.name.c_str(), source.kind, heap);
    if (property == nullptr) {
      complete = false;
      break;
    }
    if (source.kind == PropertyKind::Boolean) property->boolValue = source.boolValue ? 1 : 0;
    if (source.kind == PropertyKind::Integer) property->intValue = source.intValue;
    if (source.kind == PropertyKind::Text && !StorePropertyText(*property, source.text, heap))
      complete = false;
  }
  TSettingsProperty* old;
  int32_t oldCount;
  {
    PropertyValueLock lock(&record);
    old = record.properties;
    oldCount = record.count;
    record.properties = fresh.properties;
    record.capacity = fresh.capacity;
    record.count = fresh.count;
  }
  FreeArray(old, oldCount, heap);
  return complete;
}

void FreeProperties(TSettingsModule& record, const PropertyHeap& heap) {
  TSettingsProperty* old;
  int32_t oldCount;
  {
    PropertyValueLock lock(&record);
    old = record.properties;
    oldCount = record.count;
    record.properties = nullptr;
    record.capacity = 0;
    record.count = 0;
  }
  FreeArray(old, oldCount, heap);
}

}  // namespace qx
