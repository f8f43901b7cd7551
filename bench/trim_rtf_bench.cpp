// fn_TrimRTF: calls per second of this build's export against the converter it replaced (a
// hidden window and rich-edit control per call, under one lock), measured in the same run,
// for three sizes of rich text on one and on eight threads.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "blob_io.h"
#include "platform.h"
#include "sql_functions.h"
#include "udf_binding.h"

namespace {

using Clock = std::chrono::steady_clock;

// Calls per second of body on `threads` threads, each calling until `seconds` have passed
// (and at least once).
double Rate(const std::function<void()>& body, int threads, double seconds) {
  std::atomic<long> calls{0};  // added once per thread, at its end
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(seconds));
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      long own = 0;
      do {
        body();
        ++own;
      } while (Clock::now() < deadline);
      calls += own;
    });
  }
  for (auto& w : workers) w.join();
  return calls / std::chrono::duration<double>(Clock::now() - start).count();
}

// A rich text of about `size` bytes as a word processor writes it.
std::string RichText(size_t size) {
  std::string s =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}}"
      "{\\colortbl ;\\red255\\green0\\blue0;}\\viewkind4\\uc1\\pard\\f0\\fs20 ";
  const std::string paragraph = "Some {\\b bold} and {\\cf1 red} text.\\par ";
  while (s.size() + paragraph.size() + 1 <= size) s += paragraph;
  while (s.size() + 1 < size) s += ' ';
  return s + "}";
}

// A blob served straight from a string, and one that only counts what is written: the
// benchmark's own share of each call allocates nothing, so the threads meet only in
// the converters.
class StringBlob {
 public:
  explicit StringBlob(const std::string* data) : data_(data) {
    descriptor_.readSegment = &StringBlob::Read;
    descriptor_.writeSegment = &StringBlob::Write;
    descriptor_.blobHandle = this;
    const size_t size = data != nullptr ? data->size() : 0;
    descriptor_.segmentCount = static_cast<int32_t>((size + 65534) / 65535);
    descriptor_.largestSegment = static_cast<int32_t>(size < 65535 ? size : 65535);
    descriptor_.totalLength = static_cast<int32_t>(size);
  }
  BlobDescriptor* descriptor() { return &descriptor_; }
  size_t written() const { return written_; }

 private:
  static int16_t __cdecl Read(void* handle, unsigned char* buffer, uint16_t size,
                              uint16_t* actual) {
    auto* self = static_cast<StringBlob*>(handle);
    const size_t left = self->data_->size() - self->readPos_;
    const size_t n = left < size ? left : size;
    std::memcpy(buffer, self->data_->data() + self->readPos_, n);
    self->readPos_ += n;
    *actual = static_cast<uint16_t>(n);
    return n == 0 ? 1 : 0;
  }
  static void __cdecl Write(void* handle, const unsigned char*, uint16_t length) {
    static_cast<StringBlob*>(handle)->written_ += length;
  }

  BlobDescriptor descriptor_{};
  const std::string* data_;
  size_t readPos_ = 0;
  size_t written_ = 0;
};

// The export as it was: the whole blob through a new window and control.
void OldTrimRtf(BlobDescriptor* in, BlobDescriptor* out) {
  std::string text = qx::BlobToString(in);
  if (!text.empty() && !qx::HasVisibleText(qx::RichTextToPlain(text))) text.clear();
  qx::StringToBlob(out, text.data(), text.size());
}

struct Size {
  const char* name;
  std::string text;
};

void PrintExportRates(const qxhost::UdfExports& f, const std::vector<Size>& sizes) {
  auto newCall = [&f](const std::string& text) {
    return [&f, &text] {
      StringBlob in(&text);
      StringBlob out(nullptr);
      f.TrimRTF(in.descriptor(), out.descriptor());
    };
  };
  auto oldCall = [](const std::string& text) {
    return [&text] {
      StringBlob in(&text);
      StringBlob out(nullptr);
      OldTrimRtf(in.descriptor(), out.descriptor());
    };
  };
  std::printf("fn_TrimRTF, calls per second (old: a window and control per call)\n");
  std::printf("  %-7s %7s %12s %12s %9s\n", "size", "threads", "old", "new", "new/old");
  for (const Size& size : sizes) {
    for (int threads : {1, 8}) {
      const double seconds = size.text.size() > 100000 ? 2.0 : 1.0;
      const double oldRate = Rate(oldCall(size.text), threads, seconds);
      const double newRate = Rate(newCall(size.text), threads, seconds);
      std::printf("  %-7s %7d %12.1f %12.1f %8.0fx\n", size.name, threads, oldRate, newRate,
                  newRate / oldRate);
    }
  }
  // A text only the control can judge goes the old way, and costs what it did.
  const std::string picture = "{\\rtf1{\\pict\\wmetafile8 0100}" + RichText(2000).substr(6);
  std::printf("  2 KB with a picture (the control decides), 1 thread: old %.1f, new %.1f\n",
              Rate(oldCall(picture), 1, 1.0), Rate(newCall(picture), 1, 1.0));
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // rows appear as they are measured
  const std::vector<Size> sizes = {
      {"100 B", RichText(100)}, {"2 KB", RichText(2000)}, {"200 KB", RichText(200000)}};
  qxhost::UdfLibrary lib;
  if (!lib.Load()) {
    std::fprintf(stderr, "%s\n", lib.error().c_str());
    return 1;
  }
  PrintExportRates(lib.fn(), sizes);
  return 0;
}
