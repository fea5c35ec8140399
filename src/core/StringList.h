// StringList: an ordered list of strings, each with an integer slot for the caller's data.
//
// Used for vocabularies, lists of table names, field lists and the conversion's delete list. Lookups
// (IndexOf, IndexOfName, Find) compare case-insensitively unless CaseSensitive is set: ASCII letters order as
// CompareText does, and two texts that differ only in the case of other letters (CaseFold.h) are equal. When Sorted is
// set the list keeps itself in order (CompareText, or byte order when case-sensitive), Add inserts at the
// sorted place, and Duplicates decides what happens to a string that is there already.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vez {

enum class Duplicates { Accept, Ignore, Error };

class StringList {
public:
  struct Item {
    std::string Text;
    std::int64_t Object = 0;
  };

  StringList() = default;
  StringList(std::initializer_list<std::string> items);

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // Strings(i) / Objects(i); indices outside 0..Count-1 throw EListError "List index out of bounds (%d)".
  const std::string& Strings(int index) const;
  const std::string& operator[](int index) const { return Strings(index); }
  void SetString(int index, std::string text);
  std::int64_t Objects(int index) const;
  void SetObject(int index, std::int64_t object);

  // Returns the index of the new string (or of the existing one when duplicates are ignored).
  int Add(std::string text);
  int AddObject(std::string text, std::int64_t object);
  void Insert(int index, std::string text, std::int64_t object = 0);
  void Delete(int index);
  void Clear() { items_.clear(); }
  void Exchange(int a, int b);

  int IndexOf(std::string_view text) const;  // -1 when absent
  bool Contains(std::string_view text) const { return IndexOf(text) >= 0; }
  int IndexOfObject(std::int64_t object) const;

  // "Name=Value" lines.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;  // "" when absent
  int IndexOfName(std::string_view name) const;

  // All strings joined with "\n" (each followed by a line break), and its inverse (splits on \n, \r\n or \r).
  std::string Text() const;
  void SetText(std::string_view text);
  // Comma-separated, fields with blanks, commas or quotes in double quotes.
  std::string CommaText() const;

  void Sort();
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool caseSensitive);
  Duplicates DuplicatesMode() const { return duplicates_; }
  void SetDuplicates(Duplicates mode) { duplicates_ = mode; }

  std::vector<Item>::const_iterator begin() const { return items_.begin(); }
  std::vector<Item>::const_iterator end() const { return items_.end(); }
  std::vector<std::string> ToVector() const;

private:
  int CompareStrings(std::string_view a, std::string_view b) const;
  // Binary search in a sorted list: true and the index when found, else false and the insert position.
  bool Find(std::string_view text, int& index) const;
  void CheckIndex(int index) const;

  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  Duplicates duplicates_ = Duplicates::Ignore;
};

}  // namespace vez
