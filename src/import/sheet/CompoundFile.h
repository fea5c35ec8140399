// A reader of compound documents (the OLE2 container of .xls workbooks and of encrypted Office packages), just
// enough to find a stream by name among the root's children and read its bytes.
//
// Our choice: a small reader of our own rather than libgsf's. We need one operation (read one stream of a file
// already in memory); our own reader brings no glib into the library or the fuzz target, and it checks every
// number the file gives against the bytes there are before it uses it: sector numbers against the file size,
// chains against the number of sectors (a chain that loops ends in an error, not a hang), stream sizes against
// what the chains can hold. It reads from bytes in memory or from a file, the sectors it needs when it needs
// them (runs of adjacent sectors in one read), so that a file is never held whole: memory is the sector tables
// and the stream read, or, through a StreamWindow, a window of the stream.
//
// A file cut inside its last sector still opens: a stream whose bytes the file holds reads whole, and one that
// runs past the end of the file reads as far as the file goes and says so (Truncated), so that the caller can
// tell whether what it needs is there.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <istream>
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
  // The same from a file open for reading (which must outlive this object), with the same messages; a file
  // that cannot be read as far as its size said throws EInOutError.
  explicit CompoundFile(std::istream& file);

  // The first stream among the root's children whose name equals one of `names` (case ignored, earlier names
  // preferred); nullptr when there is none.
  const Entry* FindStream(std::initializer_list<std::string_view> names) const;
  Stream Read(const Entry& entry) const;

private:
  // A run of adjacent sectors of a chain: where it lies in the file and how many of its bytes belong to the
  // stream.
  struct Piece {
    std::uint64_t Offset = 0, Size = 0;
  };

public:
  // A stream read from the file a window at a time, so that a large stream is never held whole (a stream below
  // the mini-stream cutoff is small and held whole). The CompoundFile and its file must outlive it.
  class StreamWindow {
  public:
    // The bytes of the stream that the file holds, and whether the file ends before the stream does.
    std::uint64_t Size() const { return size_; }
    bool Truncated() const { return truncated_; }
    // Bytes [offset, offset + n) of the stream (offset + n within Size()), valid until the next call. A window
    // of the window size is read at a time; a longer range is read whole.
    std::string_view View(std::uint64_t offset, std::size_t n);

  private:
    friend class CompoundFile;
    const CompoundFile* doc_ = nullptr;
    std::vector<Piece> pieces_;
    std::vector<std::uint64_t> starts_;  // the stream offset of each piece
    std::string held_;                   // the window, or a small stream whole
    std::uint64_t heldStart_ = 0;
    std::size_t windowBytes_ = 1;
    std::uint64_t size_ = 0;
    bool truncated_ = false;
  };
  StreamWindow Window(const Entry& entry, std::size_t windowBytes) const;
  // Gives up the sector tables (4 bytes for every sector of the file) once no other stream is to be read: the
  // windows made before read on, and Read, Window and FindStream find nothing any more.
  void DropTables();

private:
  void Open();
  // Copies n bytes from `offset` (within the size) to `out`.
  void Fetch(std::uint64_t offset, std::size_t n, char* out) const;
  std::uint64_t SectorOffset(std::uint32_t sector) const;
  std::string ReadChain(std::uint32_t start, std::uint64_t size, bool& truncated) const;
  // The pieces of the file that hold the chain from `start`, up to `size` bytes; `got` receives their total.
  std::vector<Piece> ChainPieces(std::uint32_t start, std::uint64_t size, std::uint64_t& got) const;

  std::string_view bytes_;   // in memory, or
  std::istream* file_ = nullptr;  // from a file
  std::uint64_t size_ = 0;   // of either
  unsigned sectorShift_ = 9, miniShift_ = 6;
  std::uint32_t miniCutoff_ = 4096;
  std::vector<std::uint32_t> fat_, miniFat_;
  std::vector<Entry> entries_;
  std::string miniStream_;
};

}  // namespace vez::detail
