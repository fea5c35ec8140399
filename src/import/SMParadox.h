// Reader of Paradox tables (".db" data file with its ".mb" companion for memo and binary contents) into the
// spreadsheet cell model: one sheet, one row per record (in block-chain order), one column per field.
//
// The ".db" is read through a byte stream, block by block: only the header and the current data block are in
// memory. The ".mb" is opened on first need and read BLOB by BLOB. Encrypted tables are recognised; a
// caller-supplied checksum hook checks the password and a decryption hook receives every block read.
//
// Text. Char and MEMO values and field names are stored in the table's code page: the 16-bit value at 0x6A of
// the 32-byte header extension (read for file versions above 4 and data/secondary-index file types). Tables
// without the extension, or whose extension holds 0, count as code page 437. By default the reader converts this
// text to UTF-8 (SourceCodePage chooses another source code page, RawText keeps the stored bytes). Bytes the code
// page leaves undefined become the control character of the same number, so no byte is lost. A code page that
// this system cannot convert is an error at load (set RawText to read such a table). Multi-byte code pages are
// not supported. BLOB, formatted memo, OLE and graphic bytes are never converted. Field names are cut to 25
// bytes before conversion.
//
// Checks against hostile or broken files, all ending in vez::Exception with a message "<file>: <problem>":
// a header shorter than 88 bytes (or than its announced size, or than its field list), a block size of 0 or
// above 32768 bytes, more than 256 fields, a field whose size does not match its type (2 bytes ShortInt;
// 4 LongInt, Date, Time, AutoInc; 8 Number, Currency, TimeStamp; 1 Logical; at least 10 for BLOB types),
// fields wider than the record, a record wider than a block's record area, a block chain that loops, a block
// that starts inside the file but runs past its end, a last-record offset that leaves its block, a BLOB
// descriptor that points outside the ".mb", and, for encrypted tables, a BLOB window above 32768 bytes.
// A block chain that points beyond the end of the file ends silently.
//
// Missing records: the reported dimensions count at most the records that the file's blocks can hold. When the
// header promises more records than the block chain holds, the records after the end
// of the chain report no cells (their rows stay empty and GetValue gives Null); with StepLoading off the load
// stops at the end of the chain. RecordsRead() tells how many records were walked.
//
// Streams are read from position 0 (the header) with absolute positions. LoadFromFile keeps its file open until
// AfterLoad when StepLoading is on, so step loading works for files too.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "import/SMCells.h"

namespace vez {

struct TParadoxField {
  std::string Name;
  std::int32_t FieldType = 0;
  std::int32_t Offset = 0;  // inside a record
  std::int32_t Size = 0;    // bytes (17 for BCD)
  std::uint8_t SizeByte = 0;  // the descriptor's size byte as stored (the digit count for BCD)
};

// The last 10 bytes of a BLOB field.
struct TPdoxBlob {
  std::uint32_t BlobOffset = 0;  // low 8 bits: index in a shared block (255 = own block); rest: block offset
  std::int32_t BlobLength = 0;
  std::uint16_t ModNumber = 0;
};

using TByteArray = std::array<std::uint8_t, 32768>;

class TDBParadox;

using TPDXDecryptDBBlockEvent = std::function<void(TDBParadox& sender, TByteArray& tba, std::int32_t blockIndex,
                                                   std::int32_t blockSize, std::int32_t checkSum,
                                                   bool isBLOBBlock)>;
using TPDXGetPasswordChecksumEvent =
    std::function<void(TDBParadox& sender, const std::string& password, std::int32_t& result)>;
using TSMIOnPasswordEvent = std::function<void(TDBParadox& sender, std::string& password, bool& cont)>;

constexpr std::size_t kParadoxHeaderSize = 88;
constexpr std::size_t kParadoxHeaderExtensionSize = 32;
constexpr std::int32_t kParadoxMaxFields = 256;
constexpr std::int32_t kParadoxMaxBlockSize = 32768;

class TDBParadox : public TSpreadSheetFile {
public:
  // StepLoading on, NameKind nkFieldName.
  TDBParadox();
  // Runs AfterLoad when StepLoading is on.
  ~TDBParadox() override;

  std::string Password;
  TPDXDecryptDBBlockEvent OnDecryptDBBlock;
  TPDXGetPasswordChecksumEvent OnGetPasswordChecksum;
  TSMIOnPasswordEvent OnPassword;

  // Source code page of Char and MEMO text and field names; 0 = the table's own (437 when it has none).
  int SourceCodePage = 0;
  // Keep text as stored, without conversion to UTF-8.
  bool RawText = false;
  // A ".mb" companion to use instead of the file named after FileName (not owned; for stream loading).
  std::istream* BlobStream = nullptr;

  std::uint16_t TableLevel() const { return GetTableLevel(); }

  bool IsEncrypted() override;
  void LoadFromFile(const std::string& fileName) override;
  void LoadFromStream(std::istream& stream) override;
  void BeforeLoad() override;
  void AfterLoad() override;
  void LoadRecord(std::int32_t index) override;

  std::int32_t GetEncryptionCheckSum() const;
  std::int32_t GetPasswordChecksum(const std::string& password);
  bool IsPasswordValid();
  std::int32_t GetBlockSize() const { return header_[5] * 1024; }
  std::uint16_t GetTableLevel() const;
  static std::string GetStrFieldType(std::int32_t type);
  static std::string GetStrFileType(std::uint8_t type);

  // Decodes the field whose bytes start at `offset` in the current record area and reports it as cell
  // (row, column) of sheet 0. Throws when the field does not lie inside the record area.
  void SetFieldValue(const TParadoxField& field, std::int32_t offset, std::int32_t row, std::int32_t column);
  // Reads a BLOB from the ".mb"; leaves value unchanged when the ".mb" is missing.
  void ReadBLOBValue1(const TPdoxBlob& blob, std::string& value);
  // Reads the next non-empty block of the chain into the record area.
  void LoadNextBlock();
  // The plain text of a formatted memo (bytes from the 45th on, as many as bytes 5..8 count), else unchanged.
  static void FmtMemo2PlainText(std::string& s);

  // The 88 header bytes and the 32 extension bytes (zeros when not read).
  const std::array<std::uint8_t, kParadoxHeaderSize>& Header() const { return header_; }
  const std::array<std::uint8_t, kParadoxHeaderExtensionSize>& HeaderExtension() const { return extension_; }
  bool HasHeaderExtension() const { return hasExtension_; }
  std::int32_t RecordCount() const;
  std::int32_t FieldCount() const;
  std::int32_t RecordSize() const;
  std::int32_t HeaderSize() const;
  std::uint8_t FileType() const { return header_[4]; }
  std::uint8_t FileVersion() const { return header_[0x39]; }
  std::int32_t FirstBlock() const;
  // The code page stored in the table (0 when it has none) and the one its text is read with.
  std::int32_t TableCodePage() const;
  std::int32_t TextCodePage() const;
  const std::vector<TParadoxField>& Fields() const { return fields_; }
  const std::string& SortOrder() const { return sortOrder_; }
  // Records walked inside the block chain during this load.
  std::int32_t RecordsRead() const { return recordsRead_; }
  // True once the block chain has no further block.
  bool ChainEnded() const { return chainEnded_; }

private:
  class Source;
  [[noreturn]] void Fail(const std::string& problem) const;
  std::uint16_t U16(std::size_t at) const;
  std::uint32_t U32(std::size_t at) const;
  void ReadHeader();
  bool ReadBlock();
  std::string Text(std::string_view bytes) const;
  bool OpenBlobFile();
  void ReadBlobBytes(std::int64_t position, std::int64_t count, std::string& out);

  std::array<std::uint8_t, kParadoxHeaderSize> header_{};
  std::array<std::uint8_t, kParadoxHeaderExtensionSize> extension_{};
  bool hasExtension_ = false;
  std::vector<TParadoxField> fields_;
  std::string sortOrder_;
  int textCodePage_ = 437;
  std::array<std::string, 128> highBytes_;  // UTF-8 of the bytes 0x80..0xFF in the text code page

  std::unique_ptr<std::ifstream> ownFile_;  // the file of LoadFromFile while step loading
  std::unique_ptr<Source> source_;
  std::unique_ptr<Source> blob_;
  std::unique_ptr<std::ifstream> blobFile_;
  bool blobMissing_ = false;

  std::vector<std::uint8_t> block_;  // the current block: 6-byte block header, then the record area
  std::size_t areaSize_ = 0;       // block size - 6 while loading, 0 otherwise
  std::uint8_t* Area() { return block_.data() + 6; }
  std::vector<bool> visited_;       // blocks read in this load, against loops
  std::uint16_t nextIndex_ = 0;     // 0-based index of the next block to read
  std::uint16_t prevBlock_ = 0;
  std::uint16_t lastOffset_ = 0;
  std::int32_t recordOffset_ = 0;
  std::int32_t recordsRead_ = 0;
  bool chainEnded_ = true;
};

}  // namespace vez
