// A reader of compound documents (the OLE2 container of .xls workbooks and of encrypted Office packages), just
// enough to find a stream by name among the root's children and read its bytes.
//
// Our choice: a small reader of our own rather than libgsf's. We need one operation (read one stream of a file
// already in memory); our own reader brings no glib into the library or the fuzz target, and it checks every
// number the file gives against the bytes there are before it uses it: sector numbers against the file size,
// chains against the number of sectors (a chain that loops ends in an error, not a hang), stream sizes against
// what the chains can hold. Memory is the file and at most one copy of the stream read.
//
// A file cut inside its last sector still opens: a stream whose bytes the file holds reads whole, and one that
// runs past the end of the file reads as far as the file goes and says so (Truncated), so that the caller can
// tell whether what it needs is there.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vez::detail {

// True when the bytes start with the compound-document signature.
bool IsCompoundFile(std::string_view bytes);

class CompoundFile {
public:
  struct Entry {
    std::string Name;  // UTF-8
    std::uint8_t Type = 0;  // 1 storage, 2 stream, 5 root
    std::uint32_t Start = 0;
    std::uint64_t Size = 0;
    std::uint32_t Left = 0xFFFFFFFF, Right = 0xFFFFFFFF, Child = 0xFFFFFFFF;
  };
  struct Stream {
    std::string Bytes;
    bool Truncated = false;  // the file ends before the stream does
  };

  // Reads the header, the sector tables and the directory of `bytes` (which must outlive this object).
  // Throws vez::Exception naming the problem when the container is damaged.
  explicit CompoundFile(std::string_view bytes);

  // The first stream among the root's children whose name equals one of `names` (case ignored, earlier names
  // preferred); nullptr when there is none.
  const Entry* FindStream(std::initializer_list<std::string_view> names) const;
  Stream Read(const Entry& entry) const;

private:
  std::uint64_t SectorOffset(std::uint32_t sector) const;
  std::string ReadChain(std::uint32_t start, std::uint64_t size, bool& truncated) const;

  std::string_view bytes_;
  unsigned sectorShift_ = 9, miniShift_ = 6;
  std::uint32_t miniCutoff_ = 4096;
  std::vector<std::uint32_t> fat_, miniFat_;
  std::vector<Entry> entries_;
  std::string miniStream_;
};

}  // namespace vez::detail
