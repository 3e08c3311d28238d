// Test helper: a mutable, null-terminated argument vector built from strings.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace zelto::opt {

class TestArgv {
 public:
  TestArgv(std::initializer_list<std::string> args) : store_(args) {
    for (std::string& s : store_) ptrs_.push_back(s.data());
    ptrs_.push_back(nullptr);
  }
  char** argv() { return ptrs_.data(); }
  int argc() const { return static_cast<int>(store_.size()); }
  // Punches a hole, as a damaged vector would have.
  void null_at(std::size_t i) { ptrs_[i] = nullptr; }

 private:
  std::vector<std::string> store_;
  std::vector<char*> ptrs_;
};

}  // namespace zelto::opt
