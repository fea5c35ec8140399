#include "core/StringList.h"

#include <algorithm>

#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

namespace {

bool HasNonAscii(std::string_view s) {
  for (char ch : s)
    if (static_cast<unsigned char>(ch) >= 0x80) return true;
  return false;
}

}  // namespace

StringList::StringList(std::initializer_list<std::string> items) {
  for (const auto& s : items) Add(s);
}

void StringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
}

const std::string& StringList::Strings(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].Text;
}

void StringList::SetString(int index, std::string text) {
  CheckIndex(index);
  items_[static_cast<std::size_t>(index)].Text = std::move(text);
  if (sorted_) Sort();
}

std::int64_t StringList::Objects(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].Object;
}

void StringList::SetObject(int index, std::int64_t object) {
  CheckIndex(index);
  items_[static_cast<std::size_t>(index)].Object = object;
}

int StringList::CompareStrings(std::string_view a, std::string_view b) const {
  if (caseSensitive_) {
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  const int c = CompareText(a, b);
  // Non-ASCII letters are folded too, so "GRÖSSE" and "grösse" are equal.
  if (c != 0 && HasNonAscii(a) && HasNonAscii(b) && SameTextFolded(a, b)) return 0;
  return c;
}

bool StringList::Find(std::string_view text, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const int c = CompareStrings(items_[static_cast<std::size_t>(mid)].Text, text);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != Duplicates::Accept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

int StringList::Add(std::string text) { return AddObject(std::move(text), 0); }

int StringList::AddObject(std::string text, std::int64_t object) {
  if (!sorted_) {
    items_.push_back({std::move(text), object});
    return Count() - 1;
  }
  int index;
  if (Find(text, index)) {
    if (duplicates_ == Duplicates::Ignore) return index;
    if (duplicates_ == Duplicates::Error) throw EListError("String list does not allow duplicates");
  }
  items_.insert(items_.begin() + index, Item{std::move(text), object});
  return index;
}

void StringList::Insert(int index, std::string text, std::int64_t object) {
  if (sorted_) throw EListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) throw EListError(Format("List index out of bounds (%d)", index));
  items_.insert(items_.begin() + index, Item{std::move(text), object});
}

void StringList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
}

void StringList::Exchange(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  std::swap(items_[static_cast<std::size_t>(a)], items_[static_cast<std::size_t>(b)]);
}

int StringList::IndexOf(std::string_view text) const {
  if (sorted_) {
    int index;
    return Find(text, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(items_[static_cast<std::size_t>(i)].Text, text) == 0) return i;
  return -1;
}

int StringList::IndexOfObject(std::int64_t object) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<std::size_t>(i)].Object == object) return i;
  return -1;
}

std::string StringList::Names(int index) const {
  const std::string& s = Strings(index);
  const auto p = s.find('=');
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string StringList::ValueFromIndex(int index) const {
  const std::string& s = Strings(index);
  const auto p = s.find('=');
  return p == std::string::npos ? std::string() : s.substr(p + 1);
}

int StringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& s = items_[static_cast<std::size_t>(i)].Text;
    const auto p = s.find('=');
    if (p != std::string::npos && CompareStrings(std::string_view(s).substr(0, p), name) == 0) return i;
  }
  return -1;
}

std::string StringList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

std::string StringList::Text() const {
  std::string r;
  for (const auto& item : items_) {
    r += item.Text;
    r += '\n';
  }
  return r;
}

void StringList::SetText(std::string_view text) {
  Clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const auto p = text.find_first_of("\r\n", i);
    if (p == std::string_view::npos) {
      Add(std::string(text.substr(i)));
      break;
    }
    Add(std::string(text.substr(i, p - i)));
    i = p + 1;
    if (text[p] == '\r' && i < text.size() && text[i] == '\n') ++i;
  }
}

std::string StringList::CommaText() const {
  std::string r;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) r += ',';
    const std::string& s = items_[static_cast<std::size_t>(i)].Text;
    const bool quote = s.empty() || s.find_first_of(" ,\"\t") != std::string::npos;
    if (!quote) {
      r += s;
      continue;
    }
    r += '"';
    for (char c : s) {
      if (c == '"') r += '"';
      r += c;
    }
    r += '"';
  }
  return r;
}

void StringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return CompareStrings(a.Text, b.Text) < 0; });
}

void StringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) {
    sorted_ = true;
    Sort();
  }
  sorted_ = sorted;
}

void StringList::SetCaseSensitive(bool caseSensitive) {
  caseSensitive_ = caseSensitive;
  if (sorted_) Sort();
}

std::vector<std::string> StringList::ToVector() const {
  std::vector<std::string> r;
  r.reserve(items_.size());
  for (const auto& item : items_) r.push_back(item.Text);
  return r;
}

}  // namespace vez
