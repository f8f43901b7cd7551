#include "blob_transfer.h"

#include <cstdio>

namespace qx::udr {

namespace {

// An interface the engine handed out with a reference for us. A blob that was closed
// has already let go of its reference; one left open (a failure half-way) is released.
template <class T>
class Held {
 public:
  explicit Held(T* object) : object_(object) {}
  ~Held() {
    if (object_ != nullptr) object_->release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* operator->() const { return object_; }
  T* get() const { return object_; }
  void Close(Status* status) {
    object_->close(status);
    object_ = nullptr;
  }

 private:
  T* object_;
};

// The blob's total length as the engine reports it.
size_t TotalLength(Status* status, ::Firebird::IBlob* blob) {
  const unsigned char items[] = {isc_info_blob_total_length, isc_info_end};
  unsigned char answer[32] = {};
  blob->getInfo(status, sizeof items, items, sizeof answer, answer);
  if (answer[0] != isc_info_blob_total_length) return 0;
  const unsigned width = answer[1] | (answer[2] << 8);
  if (width == 0 || width > 8 || 3 + width > sizeof answer) return 0;
  size_t total = 0;
  for (unsigned i = 0; i < width; ++i) total |= static_cast<size_t>(answer[3 + i]) << (8 * i);
  return total;
}

}  // namespace

std::string ReadWholeBlob(Status* status, ::Firebird::IExternalContext* context,
                          ISC_QUAD id, const char* function) {
  Held<::Firebird::IAttachment> attachment(context->getAttachment(status));
  Held<::Firebird::ITransaction> transaction(context->getTransaction(status));
  Held<::Firebird::IBlob> blob(attachment->openBlob(status, transaction.get(), &id, 0, nullptr));
  const size_t total = TotalLength(status, blob.get());
  std::string text;
  ReserveBlobBytes(text, total);
  text.resize(total);
  size_t offset = 0;
  while (offset < total) {
    const size_t remaining = total - offset;
    const unsigned request = remaining < kMaxBlobSegment ? static_cast<unsigned>(remaining)
                                                         : kMaxBlobSegment;
    unsigned delivered = 0;
    const int result = blob->getSegment(status, request, &text[offset], &delivered);
    if (result == ::Firebird::IStatus::RESULT_NO_DATA || delivered == 0) {
      char message[160];
      std::snprintf(message, sizeof message,
                    "damaged blob: it ended after %zu of its %zu bytes", offset, total);
      RaiseSqlError(status, function, message);
    }
    offset += delivered;
  }
  blob.Close(status);
  return text;
}

void WriteNewBlob(Status* status, ::Firebird::IExternalContext* context, ISC_QUAD* id,
                  std::string_view bytes) {
  Held<::Firebird::IAttachment> attachment(context->getAttachment(status));
  Held<::Firebird::ITransaction> transaction(context->getTransaction(status));
  Held<::Firebird::IBlob> blob(attachment->createBlob(status, transaction.get(), id, 0, nullptr));
  size_t offset = 0;
  while (offset < bytes.size()) {
    const size_t remaining = bytes.size() - offset;
    const unsigned chunk = remaining < kMaxBlobSegment ? static_cast<unsigned>(remaining)
                                                       : kMaxBlobSegment;
    blob->putSegment(status, chunk, bytes.data() + offset);
    offset += chunk;
  }
  blob.Close(status);
}

}  // namespace qx::udr
