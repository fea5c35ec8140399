#include "import/SMParadox.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <istream>
#include <new>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/paradox/ParadoxEncryption.h"
#include "import/paradox/DateText.h"

namespace vez {

// A seekable byte stream of known size, read at absolute positions.
class TDBParadox::Source {
public:
  explicit Source(std::istream& stream) : stream_(stream) {
    stream_.clear();
    stream_.seekg(0, std::ios::end);
    const auto end = stream_.tellg();
    size_ = end < 0 ? 0 : static_cast<std::int64_t>(end);
    stream_.clear();
    stream_.seekg(0);
  }
  std::int64_t Size() const { return size_; }
  // Reads exactly n bytes at pos; false (nothing guaranteed) when they are not all in the stream.
  bool ReadAt(std::int64_t pos, void* out, std::size_t n) {
    if (pos < 0 || pos > size_ || static_cast<std::int64_t>(n) > size_ - pos) return false;
    stream_.clear();
    stream_.seekg(pos);
    stream_.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
    return stream_.gcount() == static_cast<std::streamsize>(n);
  }

private:
  std::istream& stream_;
  std::int64_t size_ = 0;
};

namespace {

constexpr double kDaysBeforeDelphiEpoch = 693594.0;  // 1 January 0001 is day 1 of the stored day numbers
constexpr double kMsPerDay = 86400000.0;
constexpr double kLastDate = 2958465.0;  // 31 December 9999
constexpr std::int32_t kBlockHeaderSize = 6;

bool IsNumericFamily(std::int32_t type) {
  switch (type) {
    case 2: case 3: case 4: case 5: case 6: case 9: case 20: case 21: case 22: return true;
    default: return false;
  }
}

// The width a type decodes into, 0 when any width is accepted, -1 for "at least 10" (BLOB types).
int RequiredWidth(std::int32_t type) {
  switch (type) {
    case 3: return 2;
    case 2: case 4: case 20: case 22: return 4;
    case 5: case 6: case 21: return 8;
    case 9: return 1;
    case 12: case 13: case 14: case 15: case 16: return -1;
    default: return 0;
  }
}

TAlignment AlignmentOf(std::int32_t type) {
  switch (type) {
    case 3: case 4: case 5: case 6: case 22: case 23: return taRightJustify;
    default: return taLeftJustify;
  }
}

std::string_view TrimBytes(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

std::uint32_t LE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

TDBParadox::TDBParadox() {
  StepLoading = true;
  NameKind = nkFieldName;
}

TDBParadox::~TDBParadox() {
  if (StepLoading) {
    try {
      AfterLoad();
    } catch (...) {
      // Nothing may escape a destructor; AfterLoad only releases.
    }
  }
}

std::string TDBParadox::TableName() const { return FileName.empty() ? std::string("(stream)") : FileName; }

void TDBParadox::Fail(const std::string& problem) const { throw Exception(TableName() + ": " + problem); }

void TDBParadox::Warn(const std::string& problem) {
  ++warningCount_;
  if (warnings_.size() < kMaxParadoxWarnings) warnings_.push_back(TableName() + ": " + problem);
}

std::uint16_t TDBParadox::U16(std::size_t at) const {
  return static_cast<std::uint16_t>(header_[at] | (header_[at + 1] << 8));
}

std::uint32_t TDBParadox::U32(std::size_t at) const { return LE32(header_.data() + at); }

std::int32_t TDBParadox::RecordCount() const { return static_cast<std::int32_t>(U32(0x06)); }
std::int32_t TDBParadox::FieldCount() const { return U16(0x21); }
std::int32_t TDBParadox::RecordSize() const { return U16(0x00); }
std::int32_t TDBParadox::HeaderSize() const { return U16(0x02); }
std::int32_t TDBParadox::FirstBlock() const { return U16(0x0E); }

std::int32_t TDBParadox::TableCodePage() const {
  return hasExtension_ ? static_cast<std::int32_t>(extension_[0x12] | (extension_[0x13] << 8)) : 0;
}

std::int32_t TDBParadox::TextCodePage() const { return textCodePage_; }

bool TDBParadox::IsEncrypted() { return GetEncryptionCheckSum() != 0 || (U32(0x40) != 0 && U32(0x44) != 0); }

std::int32_t TDBParadox::GetEncryptionCheckSum() const {
  const std::uint32_t v = U32(0x25);
  return static_cast<std::int32_t>(v == 0xFF00FF00u ? LE32(extension_.data() + 4) : v);
}

std::int32_t TDBParadox::GetPasswordChecksum(const std::string& password) {
  std::int32_t result = 0;
  if (OnGetPasswordChecksum) OnGetPasswordChecksum(*this, password, result);
  else if (!OnDecryptDBBlock) result = static_cast<std::int32_t>(ParadoxPasswordChecksum(password));
  return result;
}

void TDBParadox::Decrypt(TByteArray& buffer, std::int32_t blockIndex, std::int32_t size, bool isBlob) {
  if (OnDecryptDBBlock) {
    OnDecryptDBBlock(*this, buffer, blockIndex, size, GetEncryptionCheckSum(), isBlob);
    return;
  }
  const auto checksum = static_cast<std::uint32_t>(GetEncryptionCheckSum());
  if (!UsesBuiltInEncryption() || checksum == 0) return;
  if (isBlob) ParadoxDecryptBlobWindow(buffer.data(), static_cast<std::size_t>(size), checksum);
  else ParadoxDecryptDataBlock(buffer.data(), static_cast<std::size_t>(size), checksum, blockIndex);
}

bool TDBParadox::IsPasswordValid() {
  bool cont = true;
  bool valid = false;
  do {
    if (OnPassword) OnPassword(*this, Password, cont);
    else cont = false;
    valid = GetPasswordChecksum(Password) == GetEncryptionCheckSum();
  } while (!valid && cont);
  return valid;
}

std::uint16_t TDBParadox::GetTableLevel() const {
  const std::uint8_t v = FileVersion();
  if (v <= 3) return 30;
  if (v == 4) return 35;
  if (v <= 9) return 40;
  if (v <= 11) return 50;
  if (v == 12) return 70;
  return 65535;
}

std::string TDBParadox::GetStrFieldType(std::int32_t type) {
  switch (type) {
    case 1: return "Char";
    case 2: return "Date";
    case 3: return "ShortInt";
    case 4: return "LongInt";
    case 5: return "Currency";
    case 6: return "Number";
    case 9: return "Logical";
    case 12: return "MEMO";
    case 13: return "BLOB";
    case 14: return "Formated MEMO";
    case 15: return "OLE";
    case 16: return "Graphic";
    case 20: return "Time";
    case 21: return "TimeStamp";
    case 22: return "AutoInc";
    case 23: return "BCD";
    case 24: return "Bytes";
    default: return "<unknown>";
  }
}

std::string TDBParadox::GetStrFileType(std::uint8_t type) {
  switch (type) {
    case 0: return "indexed .DB data file";
    case 1: return "primary index .PX file";
    case 2: return "non-indexed .DB data file";
    case 3: return "non-incrementing secondary index .Xnn file";
    case 4: return "secondary index .Ynn file (inc or non-inc)";
    case 5: return "incrementing secondary index .Xnn file";
    case 6: return "non-incrementing secondary index .XGn file";
    case 7: return "secondary index .YGn file (inc or non inc)";
    case 8: return "incrementing secondary index .XGn file";
    default: return "";
  }
}

void TDBParadox::FmtMemo2PlainText(std::string& s) {
  if (s.size() <= 44 || static_cast<unsigned char>(s[0]) != 7) return;
  const std::uint32_t count = LE32(reinterpret_cast<const std::uint8_t*>(s.data()) + 4);
  s = s.substr(44, count);
}

std::string TDBParadox::Text(std::string_view bytes) const {
  if (RawText || rawFallback_) return std::string(bytes);
  bool ascii = true;
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return std::string(bytes);
  if (multiByte_) return ToUtf8(bytes, textCodePage_);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) out += c;
    else out += highBytes_[b - 0x80];
  }
  return out;
}

// ---- loading ----

void TDBParadox::LoadFromFile(const std::string& fileName) {
  TSpreadSheetFile::LoadFromFile(fileName);
  auto file = std::make_unique<std::ifstream>(fileName, std::ios::binary);
  if (!*file) Fail("cannot be opened for reading");
  if (StepLoading) {
    ownFile_ = std::move(file);
    LoadFromStream(*ownFile_);
  } else {
    LoadFromStream(*file);
  }
}

void TDBParadox::BeforeLoad() {
  TSpreadSheetFile::BeforeLoad();
  TSpreadSheet& sheet = Sheets().Spreadsheet(0);
  sheet.Caption = ExtractFileName(FileName);
  sheet.Cells.AutoExtent = false;
}

void TDBParadox::AfterLoad() {
  source_.reset();
  block_.clear();
  block_.shrink_to_fit();
  areaSize_ = 0;
  blob_.reset();
  blobFile_.reset();
  ownFile_.reset();
  TSpreadSheetFile::AfterLoad();
}

void TDBParadox::ReadHeader() {
  if (source_->Size() < static_cast<std::int64_t>(kParadoxHeaderSize) ||
      !source_->ReadAt(0, header_.data(), kParadoxHeaderSize))
    Fail(Format("truncated header: %s bytes, at least %d needed", std::to_string(source_->Size()),
                static_cast<int>(kParadoxHeaderSize)));
}

void TDBParadox::LoadFromStream(std::istream& stream) {
  try {
    LoadFromStreamUnguarded(stream);
  } catch (const std::bad_alloc&) {
    Fail("not enough memory to read the table");
  }
}

void TDBParadox::LoadFromStreamUnguarded(std::istream& stream) {
  // Forget everything of an earlier load.
  source_.reset();
  blob_.reset();
  blobFile_.reset();
  blobMissing_ = false;
  fields_.clear();
  sortOrder_.clear();
  header_.fill(0);
  extension_.fill(0);
  hasExtension_ = false;
  chainEnded_ = true;
  recordsRead_ = 0;
  rawFallback_ = false;
  multiByte_ = false;
  warnings_.clear();
  warningCount_ = 0;
  if (&stream != ownFile_.get()) ownFile_.reset();

  TSpreadSheetFile::LoadFromStream(stream);
  BeforeLoad();
  try {
    source_ = std::make_unique<Source>(stream);
    ReadHeader();
    const std::int64_t fileSize = source_->Size();
    const std::int32_t headerSize = HeaderSize();
    const std::int32_t blockSize = GetBlockSize();
    // The extent reported is at most what the blocks of the file can hold, so that a header promising
    // billions of records does not make a grid of billions of rows.
    std::int64_t rows = std::max<std::int32_t>(RecordCount(), 0);
    if (RecordSize() > 0 && fileSize > headerSize)
      rows = std::min<std::int64_t>(rows, (fileSize - headerSize) / RecordSize());
    else
      rows = 0;
    if (OnDimensions) OnDimensions(*this, 0, 0, static_cast<std::int32_t>(rows), 0, FieldCount());

    const std::int32_t fieldCount = FieldCount();
    if (headerSize > fileSize)
      Fail(Format("header size %d exceeds the file size %s", headerSize, std::to_string(fileSize)));
    if (blockSize == 0) Fail("block size is 0");
    if (blockSize > kParadoxMaxBlockSize)
      Fail(Format("block size %d exceeds %d bytes", blockSize, kParadoxMaxBlockSize));
    if (fieldCount > kParadoxMaxFields) Fail(Format("%d fields, at most %d allowed", fieldCount, kParadoxMaxFields));

    std::int64_t pos = static_cast<std::int64_t>(kParadoxHeaderSize);
    hasExtension_ = FileVersion() > 4 &&
                    (FileType() == 0 || FileType() == 2 || FileType() == 3 || FileType() == 5);
    if (hasExtension_) {
      if (pos + static_cast<std::int64_t>(kParadoxHeaderExtensionSize) > headerSize ||
          !source_->ReadAt(pos, extension_.data(), kParadoxHeaderExtensionSize))
        Fail(Format("header size %d leaves no room for the header extension", headerSize));
      pos += static_cast<std::int64_t>(kParadoxHeaderExtensionSize);
    }
    if (SourceCodePage != 0) textCodePage_ = SourceCodePage;
    else textCodePage_ = TableCodePage() != 0 ? TableCodePage() : 437;
    if (!RawText) {
      if (!CodePageSupported(textCodePage_)) {
        rawFallback_ = true;
        Warn(Format("code page %d cannot be converted to UTF-8; text is kept as stored", textCodePage_));
      } else if (IsMultiByteCodePage(textCodePage_)) {
        multiByte_ = true;
      } else {
        for (int b = 0x80; b < 0x100; ++b)
          highBytes_[static_cast<std::size_t>(b - 0x80)] = ToUtf8(std::string(1, static_cast<char>(b)), textCodePage_);
      }
    }

    // Field descriptors.
    std::vector<std::uint8_t> descriptors(static_cast<std::size_t>(fieldCount) * 2);
    if (pos + static_cast<std::int64_t>(descriptors.size()) > headerSize ||
        !source_->ReadAt(pos, descriptors.data(), descriptors.size()))
      Fail(Format("header size %d is too small for %d field descriptors", headerSize, fieldCount));
    pos += static_cast<std::int64_t>(descriptors.size());
    std::int32_t offset = 0;
    fields_.resize(static_cast<std::size_t>(fieldCount));
    for (std::int32_t i = 0; i < fieldCount; ++i) {
      TParadoxField& f = fields_[static_cast<std::size_t>(i)];
      f.FieldType = descriptors[static_cast<std::size_t>(2 * i)];
      f.SizeByte = descriptors[static_cast<std::size_t>(2 * i + 1)];
      f.Size = f.FieldType == 23 ? 17 : f.SizeByte;
      f.Offset = offset;
      offset += f.Size;
      const int width = RequiredWidth(f.FieldType);
      if ((width > 0 && f.Size != width) || (width < 0 && f.Size < 10))
        Fail(Format("field %d of type %s has size %d, %s%d expected", i + 1, GetStrFieldType(f.FieldType), f.Size,
                    width < 0 ? "at least " : "", width < 0 ? 10 : width));
    }
    if (offset > RecordSize())
      Fail(Format("record size %d is smaller than the %d bytes of its fields", RecordSize(), offset));
    if (RecordCount() > 0 && RecordSize() == 0) Fail("record size is 0");
    if (RecordSize() > blockSize - kBlockHeaderSize)
      Fail(Format("record size %d does not fit a block of %d bytes", RecordSize(), blockSize));

    // Names region: table-name pointer, field-name pointers, table name, then the field names.
    pos += 4 + 4 * static_cast<std::int64_t>(fieldCount);
    pos += GetTableLevel() < 70 ? 79 : 261;
    const std::int64_t restSize = headerSize - pos - 1;
    if (restSize < 0) Fail(Format("header size %d is too small for the names of %d fields", headerSize, fieldCount));
    std::string rest(static_cast<std::size_t>(restSize), '\0');
    if (!source_->ReadAt(pos, rest.data(), rest.size())) Fail("header cannot be read");
    std::size_t at = 0;
    for (std::int32_t i = 0; i < fieldCount; ++i) {
      // The last name may end with the header itself (its terminator is the header's last byte).
      if (at >= rest.size()) Fail(Format("header holds the names of %d of %d fields", i, fieldCount));
      std::size_t end = rest.find('\0', at);
      if (end == std::string::npos) end = rest.size();
      std::string_view name(rest.data() + at, end - at);
      fields_[static_cast<std::size_t>(i)].Name = Text(name.substr(0, 25));
      at = end + 1;
      if (OnColumnWidth) OnColumnWidth(*this, 0, i, fields_[static_cast<std::size_t>(i)].Size);
    }
    if ((U32(0x40) != 0 || U32(0x44) != 0) && header_[0x3D] != 0) at += 261;
    at += 2 * static_cast<std::size_t>(fieldCount);
    if (at < rest.size()) {
      const std::size_t end = rest.find('\0', at);
      sortOrder_ = Text(std::string_view(rest).substr(at, end == std::string::npos ? std::string::npos : end - at));
    }

    block_.assign(static_cast<std::size_t>(blockSize), 0);
    areaSize_ = static_cast<std::size_t>(blockSize - kBlockHeaderSize);
    visited_.assign(65536, false);
    if (IsEncrypted() && !IsPasswordValid())
      Fail(std::string("This file is encrypted but valid password is not specified. ") +
           (Password.empty() ? "No password was given." : "The password given is wrong."));

    chainEnded_ = false;
    nextIndex_ = static_cast<std::uint16_t>(FirstBlock() > 1 ? FirstBlock() - 1 : 0);
    LoadNextBlock();

    if (!StepLoading) {
      const std::int32_t count = RecordCount();
      const std::int64_t lastRow = LoadRange().LastRow;
      for (std::int32_t i = 0; i < count; ++i) {
        LoadRecord(i);
        if (i > lastRow || chainEnded_) break;
      }
      AfterLoad();
    }
  } catch (...) {
    if (!StepLoading) AfterLoad();
    throw;
  }
}

bool TDBParadox::ReadBlock() {
  const std::int32_t blockSize = GetBlockSize();
  const std::int64_t index = nextIndex_;
  const std::int64_t p = static_cast<std::int64_t>(blockSize) * index + HeaderSize();
  if (p >= source_->Size()) return false;
  if (visited_[static_cast<std::size_t>(index)])
    Fail(Format("the block chain loops back to block %d", static_cast<int>(index + 1)));
  visited_[static_cast<std::size_t>(index)] = true;
  // A block cut short by the end of the file (a truncated table) gives what lies whole in it; in an encrypted
  // table only whole 256-byte chunks can be unscrambled.
  const bool encrypted = IsEncrypted();
  std::int64_t available = std::min<std::int64_t>(blockSize, source_->Size() - p);
  if (available < blockSize && encrypted) available &= ~static_cast<std::int64_t>(0xFF);
  std::fill(block_.begin(), block_.end(), std::uint8_t{0});
  if (encrypted && (OnDecryptDBBlock || UsesBuiltInEncryption())) {
    auto buffer = std::make_unique<TByteArray>();
    if (!source_->ReadAt(p, buffer->data(), static_cast<std::size_t>(available))) Fail("data block cannot be read");
    Decrypt(*buffer, static_cast<std::int32_t>(index), blockSize, false);
    std::memcpy(block_.data(), buffer->data(), static_cast<std::size_t>(available));
  } else if (!source_->ReadAt(p, block_.data(), static_cast<std::size_t>(available))) {
    Fail("data block cannot be read");
  }
  const std::uint8_t* head = block_.data();
  const auto nextBlock = static_cast<std::uint16_t>(head[0] | (head[1] << 8));
  prevBlock_ = static_cast<std::uint16_t>(head[2] | (head[3] << 8));
  lastOffset_ = static_cast<std::uint16_t>(head[4] | (head[5] << 8));
  nextIndex_ = static_cast<std::uint16_t>(nextBlock - 1);  // 0 (no next block) wraps to 65535
  if (available < blockSize) {
    Warn(Format("data block %d is cut short by the end of the file (%s of %d bytes)", static_cast<int>(index + 1),
                std::to_string(available), blockSize));
    nextIndex_ = 65535;
    // The last record lying whole in what was read; none: the block counts as empty.
    const std::int64_t room = available - kBlockHeaderSize - RecordSize();
    if (room < 0 || RecordSize() == 0) {
      lastOffset_ = 0xFFFF;
    } else if (lastOffset_ < blockSize && lastOffset_ > room) {
      lastOffset_ = static_cast<std::uint16_t>(room / RecordSize() * RecordSize());
    }
  }
  if (lastOffset_ < blockSize && static_cast<std::int64_t>(lastOffset_) + RecordSize() > static_cast<std::int64_t>(areaSize_))
    Fail(Format("the last record offset %d of data block %d leaves the block", static_cast<int>(lastOffset_),
                static_cast<int>(index + 1)));
  return true;
}

void TDBParadox::LoadNextBlock() {
  if (!source_) return;
  for (;;) {
    if (!ReadBlock()) {
      chainEnded_ = true;
      if (recordsRead_ < RecordCount())
        Warn(Format("the header promises %d records, the blocks hold %d", RecordCount(), recordsRead_));
      return;
    }
    recordOffset_ = 0;
    if (lastOffset_ < GetBlockSize()) return;
  }
}

void TDBParadox::LoadRecord(std::int32_t index) {
  try {
    LoadRecordUnguarded(index);
  } catch (const std::bad_alloc&) {
    Fail("not enough memory to read the table");
  }
}

void TDBParadox::LoadRecordUnguarded(std::int32_t index) {
  TSpreadSheetFile::LoadRecord(index);
  if (areaSize_ == 0) return;
  UpdateProgress(index, RecordCount());
  if (chainEnded_) return;
  ++recordsRead_;
  const std::int64_t first = static_cast<std::int64_t>(LoadRange().FirstRow) - 1;
  const std::int64_t last = static_cast<std::int64_t>(LoadRange().LastRow) - 1;
  if (index >= first && index <= last) {
    for (std::size_t i = 0; i < fields_.size(); ++i)
      SetFieldValue(fields_[i], fields_[i].Offset + recordOffset_, index, static_cast<std::int32_t>(i));
    SetRowStatus(0, index, rsNormal);
  }
  recordOffset_ += RecordSize();
  if (recordOffset_ > GetBlockSize() || recordOffset_ > lastOffset_) LoadNextBlock();
}

// ---- field decoding ----

void TDBParadox::SetFieldValue(const TParadoxField& field, std::int32_t offset, std::int32_t row,
                               std::int32_t column) {
  if (offset < 0 || field.Size < 0 ||
      static_cast<std::int64_t>(offset) + field.Size > static_cast<std::int64_t>(areaSize_))
    Fail(Format("field %d of record %d lies outside the record area", column + 1, row + 1));
  const std::uint8_t* bytes = Area() + offset;
  cellRow_ = row;
  cellColumn_ = column;
  const std::int32_t size = field.Size;
  const std::int32_t type = field.FieldType;
  auto report = [&](const Variant& v) {
    if (OnCellValue) OnCellValue(*this, 0, row, column, 0, v, v.IsNull() ? taLeftJustify : AlignmentOf(type));
  };

  if (IsNumericFamily(type)) {
    if (size <= 0 || size > 8) return;  // refused at load; a caller's own field list may still hold it
    bool allZero = true;
    for (std::int32_t k = 0; k < size; ++k)
      if (bytes[k] != 0) {
        allZero = false;
        break;
      }
    if (allZero) {
      report(Variant::Null());
      return;
    }
    // Most significant byte first, top bit set for non-negative values; negative values are inverted.
    std::uint64_t u = 0;
    for (std::int32_t k = 0; k < size; ++k) u = (u << 8) | bytes[k];
    const std::uint64_t topBit = static_cast<std::uint64_t>(1) << (8 * size - 1);
    const std::uint64_t mask = size == 8 ? ~static_cast<std::uint64_t>(0) : ((static_cast<std::uint64_t>(1) << (8 * size)) - 1);
    if (bytes[0] & 0x80) u &= ~topBit;
    else u = ~u & mask;

    switch (type) {
      case 3: {
        const auto v = static_cast<std::uint16_t>(u);
        report(Variant(static_cast<std::int64_t>(v > 32767 ? 32767 - static_cast<std::int64_t>(v) : v)));
        return;
      }
      case 4: {
        const auto v = static_cast<std::uint32_t>(u);
        report(Variant(static_cast<std::int64_t>(v > 2147483647u ? 2147483647 - static_cast<std::int64_t>(v) : v)));
        return;
      }
      case 22:
        report(Variant(static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(u)))));
        return;
      case 5:
      case 6:
        report(Variant(std::bit_cast<double>(u)));
        return;
      case 9:
        report(Variant(static_cast<std::uint8_t>(u) == 1));
        return;
      default:
        break;
    }
    // Date, Time, TimeStamp.
    double v = type == 21 ? std::bit_cast<double>(u)
                          : static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(u)));
    if (v == -129.0 || v == -32769.0) v = 0;
    if (v != 0 && (type == 20 || type == 21)) v /= kMsPerDay;
    if (v != 0 && (type == 2 || type == 21)) v -= kDaysBeforeDelphiEpoch;
    if (v == 0 || std::isnan(v)) {
      report(Variant::Null());
      return;
    }
    if (v < -65535.0 || v > kLastDate) report(Variant(detail::DateText(v)));
    else report(Variant::FromDateTime(v));
    return;
  }

  switch (type) {
    case 1: {
      std::string_view s(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
      const std::size_t zero = s.find('\0');
      if (zero != std::string_view::npos) s = s.substr(0, zero);
      report(Variant(Text(TrimBytes(s))));
      return;
    }
    case 12: case 13: case 14: case 15: case 16: {
      if (size < 10) return;
      const std::uint8_t* d = bytes + size - 10;
      TPdoxBlob blob;
      blob.BlobOffset = LE32(d);
      blob.BlobLength = static_cast<std::int32_t>(LE32(d + 4));
      blob.ModNumber = static_cast<std::uint16_t>(d[8] | (d[9] << 8));
      if (blob.BlobLength <= 0) {
        report(Variant::Null());
        return;
      }
      std::string value;
      if (blob.BlobLength <= size - 10) {
        value.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(blob.BlobLength));
      } else if (ParseBLOB) {
        ReadBLOBValue1(blob, value);
      }
      if (ParseBLOB && type == 12) {
        while (!value.empty() && value.back() == '\0') value.pop_back();
      }
      report(Variant(type == 12 ? Text(value) : std::move(value)));
      return;
    }
    case 23: {
      TSMIBCD bcd;
      std::memcpy(bcd.data(), bytes, bcd.size());
      double v = 0;
      if (!SMBCDToCurr(bcd, 32, v)) v = 0;
      report(Variant(v));
      return;
    }
    default:
      return;
  }
}

// ---- BLOBs ----

bool TDBParadox::OpenBlobFile() {
  if (blob_) return true;
  if (blobMissing_) return false;
  if (BlobStream) {
    blob_ = std::make_unique<Source>(*BlobStream);
    return true;
  }
  if (FileName.empty()) {
    blobMissing_ = true;
    return false;
  }
  // The companion keeps the case of the data file's extension; other spellings are tried after it.
  const std::string ext = ExtractFileExt(FileName);
  const bool upper = ext.size() >= 2 && ext[1] >= 'A' && ext[1] <= 'Z';
  static const char* const kUpperFirst[] = {".MB", ".mb", ".Mb", ".mB"};
  static const char* const kLowerFirst[] = {".mb", ".MB", ".Mb", ".mB"};
  for (const char* candidate : upper ? kUpperFirst : kLowerFirst) {
    const std::string name = ChangeFileExt(FileName, candidate);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec)) continue;
    auto file = std::make_unique<std::ifstream>(name, std::ios::binary);
    if (!*file) continue;
    blobFile_ = std::move(file);
    blob_ = std::make_unique<Source>(*blobFile_);
    return true;
  }
  blobMissing_ = true;
  return false;
}

bool TDBParadox::ReadBlobBytes(std::int64_t position, std::int64_t count, std::string& out) {
  if (count < 0 || position < 0 || position > blob_->Size() || count > blob_->Size() - position) return false;
  out.resize(static_cast<std::size_t>(count));
  if (IsEncrypted() && (OnDecryptDBBlock || (UsesBuiltInEncryption() && GetEncryptionCheckSum() != 0))) {
    const std::int64_t start = position & ~static_cast<std::int64_t>(0xFF);
    std::int64_t length = position + count - start;
    if ((length & 0xFF) != 0xFF) length = (length | 0xFF) + 1;
    const std::int64_t available = std::min<std::int64_t>(length, blob_->Size() - start);
    if (!OnDecryptDBBlock) {
      // The built-in decryption works chunk by chunk and is not bound to the hook's fixed buffer.
      std::vector<std::uint8_t> window(static_cast<std::size_t>((length + 255) & ~static_cast<std::int64_t>(0xFF)), 0);
      if (!blob_->ReadAt(start, window.data(), static_cast<std::size_t>(available))) Fail(".mb file cannot be read");
      ParadoxDecryptBlobWindow(window.data(), window.size(), static_cast<std::uint32_t>(GetEncryptionCheckSum()));
      std::memcpy(out.data(), window.data() + (position - start), static_cast<std::size_t>(count));
      return true;
    }
    if (length > kParadoxMaxBlockSize)
      Fail(Format("an encrypted BLOB window of %s bytes exceeds %d bytes", std::to_string(length),
                  kParadoxMaxBlockSize));
    auto buffer = std::make_unique<TByteArray>();
    if (!blob_->ReadAt(start, buffer->data(), static_cast<std::size_t>(available))) Fail(".mb file cannot be read");
    Decrypt(*buffer, 0, static_cast<std::int32_t>(length), true);
    std::memcpy(out.data(), buffer->data() + (position - start), static_cast<std::size_t>(count));
  } else if (count > 0 && !blob_->ReadAt(position, out.data(), static_cast<std::size_t>(count))) {
    Fail(".mb file cannot be read");
  }
  return true;
}

void TDBParadox::ReadBLOBValue1(const TPdoxBlob& blob, std::string& value) {
  if (!OpenBlobFile()) return;
  const std::uint32_t index = blob.BlobOffset & 0xFF;
  const std::int64_t blockStart = blob.BlobOffset & ~static_cast<std::uint32_t>(0xFF);
  std::int64_t dataPos;
  bool inside = true;
  if (index == 255) {
    dataPos = blockStart + 9;
  } else {
    std::string entry;
    const std::int64_t entryPos = blockStart + 12 + 5 * static_cast<std::int64_t>(index);
    inside = ReadBlobBytes(entryPos, 5, entry);
    dataPos = inside ? blockStart + 16 * static_cast<std::int64_t>(static_cast<unsigned char>(entry[0])) : 0;
  }
  if (inside) inside = ReadBlobBytes(dataPos, blob.BlobLength, value);
  if (!inside) {
    // A truncated or damaged ".mb": this cell stays empty, the rest of the table is read.
    value.clear();
    Warn(Format("record %d, field %d: the BLOB of %s bytes at offset %s lies past the end of the .mb file "
                "(%s bytes); the value is left empty",
                cellRow_ + 1, cellColumn_ + 1, std::to_string(static_cast<std::uint32_t>(blob.BlobLength)),
                std::to_string(blob.BlobOffset), std::to_string(blob_->Size())));
  }
}

}  // namespace vez
