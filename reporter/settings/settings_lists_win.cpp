#include "settings_lists_win.h"

#include <atomic>

namespace qx {

namespace {

std::atomic<IKVFields* (*)(TIKVSettings*)> gFieldsMaker{nullptr};
std::atomic<IKVAttachments* (*)(TIKVSettings*)> gAttachmentsMaker{nullptr};
std::atomic<IKVFields* (*)()> gPlainFieldsMaker{nullptr};

}  // namespace

void SetSettingsListMakers(const SettingsListMakers& makers) {
  gFieldsMaker = makers.fields;
  gAttachmentsMaker = makers.attachments;
  gPlainFieldsMaker = makers.plainFields;
}

IKVFields* MakeSettingsFields(TIKVSettings* owner) {
  auto maker = gFieldsMaker.load();
  return maker != nullptr ? maker(owner) : nullptr;
}

IKVAttachments* MakeSettingsAttachments(TIKVSettings* owner) {
  auto maker = gAttachmentsMaker.load();
  return maker != nullptr ? maker(owner) : nullptr;
}

IKVFields* MakePlainFields() {
  auto maker = gPlainFieldsMaker.load();
  return maker != nullptr ? maker() : nullptr;
}

}  // namespace qx
