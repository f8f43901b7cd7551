// What the SQL-function tests share: the module loaded through its export table once per
// test program, and results taken over the way a server takes them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ib_util_host.h"
#include "udf_binding.h"

namespace qxtest {

// The module as a server binds it; loaded on first use and kept for the program's life.
inline const qxhost::UdfExports& Udf() {
  static qxhost::UdfLibrary* library = [] {
    auto* lib = new qxhost::UdfLibrary;
    if (!lib->Load("QXUdfLib.dll")) {
      ADD_FAILURE() << lib->error();
    }
    return lib;
  }();
  return library->fn();
}

// Checks that a text result is a live ib_util_malloc block of exactly length + 1 bytes,
// copies it and frees it as the server would.
inline std::string TakeText(char* block) {
  EXPECT_NE(block, nullptr);
  if (block == nullptr) return "<null>";
  std::string text(block);
  EXPECT_EQ(ib_util_block_size(block), static_cast<int32_t>(text.size() + 1))
      << "result is not a fresh server block of length + 1: '" << text << "'";
  EXPECT_EQ(ib_util_free(block), 1);
  return text;
}

}  // namespace qxtest
