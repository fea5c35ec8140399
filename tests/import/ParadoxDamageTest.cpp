// The Paradox reader on encrypted, truncated and damaged tables built in memory.
#include <array>
#include <new>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "ParadoxTestUtil.h"
#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/paradox/ParadoxEncryption.h"
#include "import/SMParadox.h"

namespace vez {
namespace {

using pxw::Writer;
using test::LoadBytes;
using test::Reported;

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) s[at + static_cast<std::size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
}

std::uint8_t* Bytes(std::string& s, std::size_t at = 0) { return reinterpret_cast<std::uint8_t*>(s.data() + at); }

// Encrypts a table as Paradox does: the checksum at 0x25, every data block and the whole ".mb" scrambled.
void Encrypt(std::string& db, std::string& mb, std::uint32_t checksum) {
  Put32(db, 0x25, checksum);
  const std::size_t header = test::Get16(db, 2);
  const std::size_t block = static_cast<unsigned char>(db[5]) * 1024u;
  for (std::size_t i = 0; header + (i + 1) * block <= db.size(); ++i)
    ParadoxEncryptDataBlock(Bytes(db, header + i * block), block, checksum, static_cast<std::int64_t>(i));
  ASSERT_EQ(mb.size() % 256, 0u);
  ParadoxEncryptBlobWindow(Bytes(mb), mb.size(), checksum);
}

// A memo table whose records hold a short id and a memo longer than its 11-byte leader.
Writer MemoTable(const std::vector<std::string>& memos) {
  Writer w({{"N", 3, 2}, {"M", 12, 11}}, {2, 12, 1252, 2, "ascii"});
  for (std::size_t i = 0; i < memos.size(); ++i)
    w.AddRecord({Writer::Short(static_cast<std::int16_t>(i + 1)), w.Blob(memos[i], 11)});
  return w;
}

TEST(ParadoxDamageEncryption, PasswordChecksumsAndScrambling) {
  EXPECT_EQ(ParadoxPasswordChecksum("rparadox"), 0x8848F16Eu);
  EXPECT_EQ(ParadoxPasswordChecksum("vez-secret"), 0xF745D87Eu);
  EXPECT_EQ(ParadoxPasswordChecksum(""), 0u);
  // Unscrambling undoes scrambling for any parameters, and scrambling changes the chunk.
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::array<std::uint8_t, 256> chunk, original;
    for (auto& b : chunk) b = static_cast<std::uint8_t>(rng());
    original = chunk;
    const auto a = static_cast<std::uint8_t>(rng()), b = static_cast<std::uint8_t>(rng()),
               c = static_cast<std::uint8_t>(rng()), d = static_cast<std::uint8_t>(rng());
    ParadoxScrambleChunk(chunk.data(), a, b, c, d);
    EXPECT_NE(chunk, original);
    ParadoxUnscrambleChunk(chunk.data(), a, b, c, d);
    ASSERT_EQ(chunk, original) << round;
  }
}

TEST(ParadoxDamageEncryption, BuiltInHooksDecryptBlocksAndBlobs) {
  const std::vector<std::string> memos = {"the first memo, longer than its leader", std::string(5000, 'x') + "end"};
  Writer w = MemoTable(memos);
  std::string db = w.DbBytes(), mb = w.MbBytes();
  Encrypt(db, mb, ParadoxPasswordChecksum("geheim"));
  TDBParadox reader;
  reader.Password = "geheim";
  const Reported r = LoadBytes(db, reader, &mb);
  ASSERT_TRUE(reader.IsEncrypted());
  EXPECT_EQ(std::tuple(Variant(memos[0]), Variant(memos[1]), 2, std::size_t{0}),
            std::tuple(r.At(0, 1), r.At(1, 1), r.At(1, 0).AsInteger(), reader.Warnings().size()));
  TDBParadox wrong;
  wrong.Password = "Geheim";
  EXPECT_THROW_MSG(LoadBytes(db, wrong, &mb), Exception,
                   "(stream): This file is encrypted but valid password is not specified. The password given is wrong.");
}

TEST(ParadoxDamage, BlobPastTheEndOfATruncatedMbIsEmptyWithAWarning) {
  Writer w = MemoTable({"a memo in the first block", "a memo in the second block"});
  std::string db = w.DbBytes();
  const std::string mb = w.MbBytes().substr(0, 2 * 4096 + 20);  // the second BLOB's block is cut
  TDBParadox reader;
  const Reported r = LoadBytes(db, reader, &mb);
  EXPECT_EQ(r.At(0, 1), Variant("a memo in the first block"));
  EXPECT_EQ(r.At(1, 1), Variant(""));
  EXPECT_EQ(r.At(1, 0).AsInteger(), 2);
  EXPECT_FALSE(reader.RecordsMissing());
  EXPECT_EQ(reader.Warnings(),
            std::vector<std::string>{"(stream): record 2, field 2: the BLOB of 26 bytes at offset 8447 lies past the "
                                     "end of the .mb file (8212 bytes); the value is left empty"});

  // Offsets above 2 GiB are written unsigned.
  Writer big({{"M", 12, 11}}, {2, 12, 1252, 2, "ascii"});
  std::string field = big.Blob("x", 11);
  Put32(field, 1, 0x800000FFu);
  Put32(field, 5, 0x70000000u);
  big.AddRecord({field});
  TDBParadox bigReader;
  const Reported rb = LoadBytes(big.DbBytes(), bigReader, &mb);
  EXPECT_EQ(rb.At(0, 0), Variant(""));
  EXPECT_EQ(bigReader.Warnings(),
            std::vector<std::string>{"(stream): record 1, field 1: the BLOB of 1879048192 bytes at offset 2147483903 "
                                     "lies past the end of the .mb file (8212 bytes); the value is left empty"});
}

TEST(ParadoxDamage, TruncatedDbIsReadAsFarAsItGoes) {
  const std::string whole = test::Numbered(12);
  const std::size_t block3 = test::Get16(whole, 2) + 2 * 1024;
  struct Case {
    std::size_t Keep;  // bytes of block 3 left
    int Read;
  };
  for (const Case c : {Case{6 + 202 + 100, 11}, Case{6 + 202, 11}, Case{4, 10}, Case{6 + 2 * 202, 12}}) {
    SCOPED_TRACE(c.Keep);
    TDBParadox reader;
    const Reported r = LoadBytes(whole.substr(0, block3 + c.Keep), reader);
    EXPECT_EQ(reader.RecordsRead(), c.Read);
    EXPECT_EQ(r.Cells.size(), 2u * static_cast<std::size_t>(c.Read));
    EXPECT_EQ(reader.RecordsMissing(), c.Read < 12);
    std::vector<std::string> expected = {
        Format("(stream): data block 3 is cut short by the end of the file (%d of 1024 bytes)", static_cast<int>(c.Keep))};
    if (c.Read < 12) expected.push_back(Format("(stream): the header promises 12 records, the blocks hold %d", c.Read));
    EXPECT_EQ(reader.Warnings(), expected);
  }
}

TEST(ParadoxDamage, RunningOutOfMemoryIsANamedError) {
  TDBParadox reader;
  reader.OnCellValue = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                          const Variant&, TAlignment) { throw std::bad_alloc(); };
  std::istringstream stream(test::Numbered(12));
  reader.StepLoading = false;
  EXPECT_THROW_MSG(reader.LoadFromStream(stream), Exception, "(stream): not enough memory to read the table");
}

TEST(ParadoxDamage, SetFieldValueRefusesOffsetsOutsideTheRecordArea) {
  const std::string db = test::Numbered(12);
  std::istringstream stream(db);
  TDBParadox reader;
  Reported r;
  test::Capture(reader, r);
  const TParadoxField wide{"N", 3, 0, 2, 2};
  EXPECT_THROW_MSG(reader.SetFieldValue(wide, 0, 0, 0), Exception,
                   "(stream): field 1 of record 1 lies outside the record area");  // nothing loaded
  reader.LoadFromStream(stream);
  const std::int32_t area = reader.GetBlockSize() - 6;
  for (const std::int32_t offset : {-1, area - 1, area, 1 << 30})
    EXPECT_THROW_MSG(reader.SetFieldValue(wide, offset, 4, 2), Exception,
                     "(stream): field 3 of record 5 lies outside the record area");
  reader.SetFieldValue(wide, area - 2, 4, 2);  // the last two bytes are inside
  EXPECT_TRUE(r.Has(4, 2));
}

}  // namespace
}  // namespace vez
