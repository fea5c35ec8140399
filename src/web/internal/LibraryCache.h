// Libraries kept open for reading between requests: a records page then costs its rows, not the opening of the
// library, the reading of its definitions and the counting of its records again.
//
// A library is lent to one request at a time (the engine's objects serve one thread) and comes back when the
// request ends; one that a failure passed through is closed instead. It is lent again only while its file is the
// same file (device and inode: a library replaced by a new file is opened anew); changes to that file, by this
// server or any other program, are seen by the engine itself, which keeps its counts and positions only while
// SQLite's data_version of the held connection stays the same.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "web/internal/Library.h"

namespace vez::web {

class TOpenLibraries;

// One library lent to a request: read-only, its definitions read, its table open or not.
class TLibraryLease {
public:
  TLibraryLease(TOpenLibraries& owner, std::string key, std::uintmax_t device, std::uintmax_t inode,
                std::unique_ptr<TOpenLibrary> library);
  ~TLibraryLease();
  TLibraryLease(TLibraryLease&&) = default;
  TLibraryLease(const TLibraryLease&) = delete;
  TLibraryLease& operator=(const TLibraryLease&) = delete;
  TOpenLibrary& operator*() const { return *library_; }

private:
  TOpenLibraries* owner_;
  std::string key_;
  std::uintmax_t device_, inode_;
  std::unique_ptr<TOpenLibrary> library_;
  int exceptions_;  // uncaught exceptions when lent: more at the end means a failure passed through
};

class TOpenLibraries {
public:
  // At most this many libraries wait between requests; the longest waiting goes first.
  static constexpr std::size_t kKept = 16;

  // A library of the file for reading, kept from an earlier request or opened now.
  TLibraryLease Borrow(const std::filesystem::path& file);

private:
  friend class TLibraryLease;
  struct Kept {
    std::string key;
    std::uintmax_t device = 0, inode = 0;
    std::unique_ptr<TOpenLibrary> library;
  };
  void GiveBack(Kept kept);

  std::mutex mutex_;
  std::deque<Kept> kept_;
};

// The server's kept libraries (made on first use).
TOpenLibraries& OpenLibraries(TContext& context);

}  // namespace vez::web
