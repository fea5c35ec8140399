// Libraries kept open for reading between requests (see LibraryCache.h).
#include "web/internal/LibraryCache.h"

#include <sys/stat.h>

#include <exception>
#include <vector>

namespace vez::web {

TLibraryLease::TLibraryLease(TOpenLibraries& owner, std::string key, std::uintmax_t device, std::uintmax_t inode,
                             std::unique_ptr<TOpenLibrary> library)
    : owner_(&owner), key_(std::move(key)), device_(device), inode_(inode), library_(std::move(library)),
      exceptions_(std::uncaught_exceptions()) {}

TLibraryLease::~TLibraryLease() {
  if (!library_ || std::uncaught_exceptions() > exceptions_) return;  // closed here: nothing is pending in it
  try {
    owner_->GiveBack(TOpenLibraries::Kept{std::move(key_), device_, inode_, std::move(library_)});
  } catch (...) {
  }
}

TLibraryLease TOpenLibraries::Borrow(const std::filesystem::path& file) {
  const std::string key = file.string();
  struct stat st {};
  const bool known = ::stat(key.c_str(), &st) == 0;
  std::vector<Kept> stale;  // closed outside the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = kept_.begin(); it != kept_.end();) {
      if (it->key != key) {
        ++it;
      } else if (known && it->device == st.st_dev && it->inode == st.st_ino) {
        Kept found = std::move(*it);
        kept_.erase(it);
        return TLibraryLease(*this, key, found.device, found.inode, std::move(found.library));
      } else {
        stale.push_back(std::move(*it));
        it = kept_.erase(it);
      }
    }
  }
  auto library = std::make_unique<TOpenLibrary>(file, false);
  // A file whose identity is not known is opened for this request only.
  return TLibraryLease(*this, known ? key : std::string(), st.st_dev, st.st_ino, std::move(library));
}

void TOpenLibraries::GiveBack(Kept kept) {
  if (kept.key.empty()) return;
  Kept dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  kept_.push_back(std::move(kept));
  if (kept_.size() > kKept) {
    dropped = std::move(kept_.front());
    kept_.pop_front();
  }
}

TOpenLibraries& OpenLibraries(TContext& context) {
  static std::mutex made;
  std::lock_guard<std::mutex> lock(made);
  if (!context.Libraries) context.Libraries = std::make_shared<TOpenLibraries>();
  return *context.Libraries;
}

}  // namespace vez::web
