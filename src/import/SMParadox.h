// Reader of Paradox tables (".db" data file with its ".mb" companion for memo and binary contents) into the
// spreadsheet cell model: one sheet, one row per record (in block-chain order), one column per field.
//
// The ".db" is read through a byte stream, block by block: only the header and the current data block are in
// memory. The ".mb" is opened on first need and read BLOB by BLOB.
//
// Encryption. A table is encrypted when the checksum of its header (the uint32 at 0x25, or at 0x5C when 0x25
// holds 0xFF00FF00) is not 0; real encrypted tables leave the two "encryption fields" at 0x40 and 0x44 at zero, so
// we recognise them by the checksum (a table with both of those fields set counts as encrypted too). Callers may
// install their own checksum and decryption hooks. When they install neither, this library uses its own
// (ParadoxEncryption.h): the password's checksum is checked against the header and the blocks are unscrambled, so
// setting Password is all a caller has to do. A missing or wrong password fails the load with
// "<file>: This file is encrypted but valid password is not specified." followed by "No password was given." or
// "The password given is wrong.".
//
// Text. Char and MEMO values and field names are stored in the table's code page: the 16-bit value at 0x6A of
// the 32-byte header extension (read for file versions above 4 and data/secondary-index file types). Tables
// without the extension, or whose extension holds 0, count as code page 437. By default the reader converts this
// text to UTF-8 (SourceCodePage chooses another source code page, RawText keeps the stored bytes). In single-byte
// code pages, bytes the code page leaves undefined become the control character of the same number, so no byte
// is lost. The multi-byte code pages 932, 936, 949 and 950 are converted as multi-byte text. A code page that
// this system cannot convert does not fail the load: we keep the stored bytes and add a warning. BLOB, formatted
// memo, OLE and graphic bytes are never converted. Field names are cut to 25 bytes before conversion.
//
// Checks against hostile or broken files, all ending in vez::Exception with a message "<file>: <problem>":
// a header shorter than 88 bytes (or than its announced size, or than its field list), a block size of 0 or
// above 32768 bytes, more than 256 fields, a field whose size does not match its type (2 bytes ShortInt;
// 4 LongInt, Date, Time, AutoInc; 8 Number, Currency, TimeStamp; 1 Logical; at least 10 for BLOB types),
// fields wider than the record, a record wider than a block's record area, a block chain that loops, a last-record
// offset that leaves its block, and, for encrypted tables with the caller's own decryption hook, a BLOB window
// above 32768 bytes (the hook's buffer). Running out of memory is reported the same way, never as a bare
// std::bad_alloc. A block chain that points beyond the end of the file ends silently.
//
// Damage that leaves the rest of the table readable is a warning, not a failure (Warnings(); each "<file>:
// <problem>"): a BLOB whose descriptor points past the end of the ".mb" (a truncated companion) gives an empty
// value for that cell; a data block cut short by the end of the file gives the records that lie whole in it and
// ends the chain; an unconvertible code page (see Text).
//
// Missing records: the reported dimensions count at most the records that the file's blocks can hold. When the
// header promises more records than the block chain holds, the records after the end of the chain report no
// cells (their rows stay empty and GetValue gives Null); with StepLoading off the load stops at the end of the
// chain. RecordsRead() tells how many records were walked, RecordCount() what the header promises, and
// RecordsMissing() whether the chain ended before the promised count; a warning gives both counts.
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
constexpr std::size_t kMaxParadoxWarnings = 100;

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
  // The caller's hook when installed; without any hooks of the caller's, the built-in checksum of the password.
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
  // True when the chain ended before the records the header promises (RecordCount) were walked.
  bool RecordsMissing() const { return chainEnded_ && recordsRead_ < RecordCount(); }
  // Damage that did not stop the load, each "<file>: <problem>"; the first kMaxParadoxWarnings are kept,
  // WarningCount() counts all of this load.
  const std::vector<std::string>& Warnings() const { return warnings_; }
  std::int64_t WarningCount() const { return warningCount_; }
  // True when the text is kept as stored: RawText, or a code page that cannot be converted.
  bool TextIsRaw() const { return RawText || rawFallback_; }

private:
  class Source;
  [[noreturn]] void Fail(const std::string& problem) const;
  void Warn(const std::string& problem);
  std::string TableName() const;
  // The caller's decryption hook, else the built-in one (only when the caller installed no hooks).
  void Decrypt(TByteArray& buffer, std::int32_t blockIndex, std::int32_t size, bool isBlob);
  bool UsesBuiltInEncryption() const { return !OnDecryptDBBlock && !OnGetPasswordChecksum; }
  // Reads count bytes of the ".mb" at position; false when they lie outside the file.
  bool ReadBlobBytes(std::int64_t position, std::int64_t count, std::string& out);
  void LoadFromStreamUnguarded(std::istream& stream);
  void LoadRecordUnguarded(std::int32_t index);
  std::uint16_t U16(std::size_t at) const;
  std::uint32_t U32(std::size_t at) const;
  void ReadHeader();
  bool ReadBlock();
  std::string Text(std::string_view bytes) const;
  bool OpenBlobFile();

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
  bool rawFallback_ = false;    // the code page cannot be converted: text kept as stored
  bool multiByte_ = false;      // the code page is a multi-byte one: text converted as a whole
  std::int32_t cellRow_ = 0;    // the cell being decoded, for warnings
  std::int32_t cellColumn_ = 0;
  std::vector<std::string> warnings_;
  std::int64_t warningCount_ = 0;
};

}  // namespace vez
