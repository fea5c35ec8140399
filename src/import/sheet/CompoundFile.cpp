#include "import/sheet/CompoundFile.h"

#include <algorithm>
#include <cstring>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

namespace {

constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

std::uint16_t U16(const char* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
}
std::uint32_t U32(const char* p) { return static_cast<std::uint32_t>(U16(p)) | static_cast<std::uint32_t>(U16(p + 2)) << 16; }

[[noreturn]] void Damaged(const std::string& what) { throw Exception("The compound document is damaged: " + what); }

}  // namespace

bool IsCompoundFile(std::string_view bytes) {
  return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

std::uint64_t CompoundFile::SectorOffset(std::uint32_t sector) const {
  return (static_cast<std::uint64_t>(sector) + 1) << sectorShift_;
}

CompoundFile::CompoundFile(std::string_view bytes) : bytes_(bytes), size_(bytes.size()) { Open(); }

CompoundFile::CompoundFile(std::istream& file) : file_(&file) {
  file.clear();
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (!file || size < 0) throw EInOutError("Cannot read the file: its size is unknown");
  size_ = static_cast<std::uint64_t>(size);
  Open();
}

void CompoundFile::Fetch(std::uint64_t offset, std::size_t n, char* out) const {
  if (file_ == nullptr) {
    std::memcpy(out, bytes_.data() + offset, n);
    return;
  }
  file_->clear();
  file_->seekg(static_cast<std::streamoff>(offset));
  file_->read(out, static_cast<std::streamsize>(n));
  if (static_cast<std::size_t>(file_->gcount()) != n) throw EInOutError("Cannot read the file: it is shorter than it was");
}

void CompoundFile::Open() {
  char h[512];
  const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(size_, sizeof h));
  Fetch(0, head, h);
  if (!IsCompoundFile(std::string_view(h, head))) throw Exception("Not a compound document");
  if (size_ < 512) throw Exception("The file is cut short: the compound document header is incomplete");
  sectorShift_ = U16(h + 30);
  miniShift_ = U16(h + 32);
  if (sectorShift_ < 7 || sectorShift_ > 16) Damaged(Format("sector size 2^%d", sectorShift_));
  if (miniShift_ < 2 || miniShift_ >= sectorShift_) Damaged(Format("mini sector size 2^%d", miniShift_));
  const bool version4 = U16(h + 26) == 4;
  miniCutoff_ = U32(h + 56);
  const std::uint64_t sectorSize = 1ull << sectorShift_;
  const std::uint64_t whole = size_ > sectorSize ? (size_ - sectorSize) / sectorSize : 0;
  const std::uint64_t present = size_ > sectorSize ? (size_ - sectorSize + sectorSize - 1) / sectorSize : 0;

  // The sector allocation table: its sectors are listed in the header and in the chain of DIFAT sectors.
  const std::uint32_t fatSectors = U32(h + 44);
  if (fatSectors > present) throw Exception("The file is cut short: the sector table lies beyond its end");
  std::vector<std::uint32_t> fatList;
  for (std::uint32_t i = 0; i < 109 && fatList.size() < fatSectors; ++i) fatList.push_back(U32(h + 76 + 4 * i));
  std::uint32_t difat = U32(h + 68);
  const std::uint32_t perDifat = static_cast<std::uint32_t>(sectorSize / 4) - 1;
  std::string sector(static_cast<std::size_t>(sectorSize), '\0');
  for (std::uint64_t hops = 0; fatList.size() < fatSectors; ++hops) {
    if (difat >= whole || hops > whole) Damaged("the list of table sectors leaves the file");
    Fetch(SectorOffset(difat), sector.size(), sector.data());
    const char* d = sector.data();
    for (std::uint32_t i = 0; i < perDifat && fatList.size() < fatSectors; ++i) fatList.push_back(U32(d + 4 * i));
    difat = U32(d + 4 * perDifat);
  }
  fat_.reserve(fatList.size() * (sectorSize / 4));
  for (std::uint32_t at : fatList) {
    if (at >= present) throw Exception("The file is cut short: the sector table lies beyond its end");
    // A table sector that the end of the file cuts: the entries it lost are free sectors.
    const std::uint64_t offset = SectorOffset(at);
    const std::uint64_t there = std::min<std::uint64_t>(sectorSize, size_ - offset);
    Fetch(offset, static_cast<std::size_t>(there), sector.data());
    for (std::uint64_t i = 0; i < sectorSize / 4; ++i) fat_.push_back(i < there / 4 ? U32(sector.data() + 4 * i) : 0xFFFFFFFF);
  }

  // The directory; its first sector beyond the end of the file is a file cut short, not a damaged one.
  if (const std::uint32_t first = U32(h + 48); first < fat_.size() && first >= present)
    throw Exception("The file is cut short: the directory lies beyond its end");
  bool truncated = false;
  const std::string dir = ReadChain(U32(h + 48), present * sectorSize, truncated);
  for (std::size_t at = 0; at + 128 <= dir.size(); at += 128) {
    const char* d = dir.data() + at;
    Entry e;
    const std::uint16_t nameBytes = std::min<std::uint16_t>(U16(d + 64), 64);
    AppendUtf16(e.Name, reinterpret_cast<const unsigned char*>(d), nameBytes >= 2 ? nameBytes / 2 - 1 : 0);
    e.Type = static_cast<std::uint8_t>(d[66]);
    e.Left = U32(d + 68);
    e.Right = U32(d + 72);
    e.Child = U32(d + 76);
    e.Start = U32(d + 116);
    e.Size = version4 ? (static_cast<std::uint64_t>(U32(d + 124)) << 32 | U32(d + 120)) : U32(d + 120);
    entries_.push_back(std::move(e));
  }
  if (entries_.empty() || entries_[0].Type != 5) Damaged("it has no root entry");

  // The mini stream (the root entry's data) and its table, for streams below the cutoff.
  const std::uint32_t miniFatSectors = U32(h + 64);
  if (miniFatSectors > 0 && miniFatSectors <= whole) {
    bool cut = false;
    const std::string table = ReadChain(U32(h + 60), static_cast<std::uint64_t>(miniFatSectors) * sectorSize, cut);
    for (std::size_t i = 0; i + 4 <= table.size(); i += 4) miniFat_.push_back(U32(table.data() + i));
    miniStream_ = ReadChain(entries_[0].Start, entries_[0].Size, cut);
  }
}

std::vector<CompoundFile::Piece> CompoundFile::ChainPieces(std::uint32_t start, std::uint64_t size,
                                                           std::uint64_t& got) const {
  const std::uint64_t sectorSize = 1ull << sectorShift_;
  // No more than the file can hold, whatever the size says.
  const std::uint64_t want = std::min<std::uint64_t>(size, size_);
  // The chain is followed whole before any byte is read, so that its checks come first.
  std::vector<Piece> pieces;
  got = 0;
  std::vector<bool> seen(fat_.size());
  for (std::uint32_t s = start; s != kEndOfChain && got < want; s = fat_[s]) {
    if (s >= fat_.size()) break;  // the chain ends early: the caller sees the shortfall
    if (seen[s]) Damaged("a sector chain loops");
    seen[s] = true;
    const std::uint64_t offset = SectorOffset(s);
    if (offset >= size_) break;
    const std::uint64_t n = std::min({sectorSize, want - got, size_ - offset});
    if (!pieces.empty() && pieces.back().Offset + pieces.back().Size == offset) pieces.back().Size += n;
    else pieces.push_back({offset, n});
    got += n;
    if (n < sectorSize && got < want) break;  // the file ends inside this sector
  }
  return pieces;
}

std::string CompoundFile::ReadChain(std::uint32_t start, std::uint64_t size, bool& truncated) const {
  std::uint64_t got = 0;
  const std::vector<Piece> pieces = ChainPieces(start, size, got);
  std::string out(static_cast<std::size_t>(got), '\0');
  std::size_t at = 0;
  for (const Piece& piece : pieces) {
    Fetch(piece.Offset, static_cast<std::size_t>(piece.Size), out.data() + at);
    at += static_cast<std::size_t>(piece.Size);
  }
  truncated = out.size() < size;
  return out;
}

const CompoundFile::Entry* CompoundFile::FindStream(std::initializer_list<std::string_view> names) const {
  // The root's children form a tree through Left, Right (siblings) and Child; walk it without trusting it.
  std::vector<const Entry*> children;
  std::vector<bool> seen(entries_.size());
  std::vector<std::uint32_t> stack{entries_[0].Child};
  while (!stack.empty()) {
    const std::uint32_t i = stack.back();
    stack.pop_back();
    if (i == kNoEntry || i >= entries_.size() || seen[i]) continue;
    seen[i] = true;
    children.push_back(&entries_[i]);
    stack.push_back(entries_[i].Left);
    stack.push_back(entries_[i].Right);
  }
  for (std::string_view name : names)
    for (const Entry* e : children)
      if (e->Type == 2 && SameText(e->Name, name)) return e;
  return nullptr;
}

CompoundFile::Stream CompoundFile::Read(const Entry& entry) const {
  Stream stream;
  if (entry.Size >= miniCutoff_ || miniFat_.empty()) {
    stream.Bytes = ReadChain(entry.Start, entry.Size, stream.Truncated);
    return stream;
  }
  const std::uint64_t miniSize = 1ull << miniShift_;
  std::vector<bool> seen(miniFat_.size());
  for (std::uint32_t s = entry.Start; s != kEndOfChain && stream.Bytes.size() < entry.Size; s = miniFat_[s]) {
    if (s >= miniFat_.size()) break;
    if (seen[s]) Damaged("a chain of mini sectors loops");
    seen[s] = true;
    const std::uint64_t offset = static_cast<std::uint64_t>(s) << miniShift_;
    if (offset >= miniStream_.size()) break;
    const std::uint64_t n = std::min({miniSize, entry.Size - stream.Bytes.size(), miniStream_.size() - offset});
    stream.Bytes.append(miniStream_, static_cast<std::size_t>(offset), static_cast<std::size_t>(n));
  }
  stream.Truncated = stream.Bytes.size() < entry.Size;
  return stream;
}

CompoundFile::StreamWindow CompoundFile::Window(const Entry& entry, std::size_t windowBytes) const {
  StreamWindow window;
  window.doc_ = this;
  window.windowBytes_ = std::max<std::size_t>(windowBytes, 1);
  if (entry.Size < miniCutoff_ && !miniFat_.empty()) {
    Stream whole = Read(entry);
    window.held_ = std::move(whole.Bytes);
    window.size_ = window.held_.size();
    window.truncated_ = whole.Truncated;
    return window;
  }
  window.pieces_ = ChainPieces(entry.Start, entry.Size, window.size_);
  window.truncated_ = window.size_ < entry.Size;
  std::uint64_t at = 0;
  for (const Piece& piece : window.pieces_) {
    window.starts_.push_back(at);
    at += piece.Size;
  }
  return window;
}

void CompoundFile::DropTables() {
  std::vector<std::uint32_t>().swap(fat_);
  std::vector<std::uint32_t>().swap(miniFat_);
  std::string().swap(miniStream_);
  entries_.resize(1);  // the root, which FindStream starts from: its children are gone
  entries_[0].Child = kNoEntry;
}

std::string_view CompoundFile::StreamWindow::View(std::uint64_t offset, std::size_t n) {
  if (offset + n > size_) throw Exception("The compound document stream is read past its end");
  if (n == 0) return {};
  if (offset >= heldStart_ && offset - heldStart_ + n <= held_.size())
    return std::string_view(held_).substr(static_cast<std::size_t>(offset - heldStart_), n);
  const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(n, windowBytes_), size_ - offset));
  // A range longer than the window (a record with its continuations, such as the shared strings) is held only
  // until the next window: its room goes back then, and does not stay taken while the cells are read.
  if (length <= windowBytes_ && held_.capacity() > windowBytes_) std::string().swap(held_);
  held_.resize(length);
  heldStart_ = offset;
  std::size_t i = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
  for (std::size_t at = 0; at < length; ++i) {
    const std::uint64_t within = offset + at - starts_[i];
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(pieces_[i].Size - within, length - at));
    doc_->Fetch(pieces_[i].Offset + within, take, held_.data() + at);
    at += take;
  }
  return std::string_view(held_).substr(0, n);
}

}  // namespace vez::detail
