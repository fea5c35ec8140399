#include "pxwriter/PxWriter.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace pxw {

namespace {

void Put16(std::string& s, std::size_t at, unsigned v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) s[at + static_cast<std::size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
}

std::string BigEndian(std::uint64_t v, int bytes) {
  std::string out(static_cast<std::size_t>(bytes), '\0');
  for (int k = 0; k < bytes; ++k) out[static_cast<std::size_t>(bytes - 1 - k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
  return out;
}

}  // namespace

Writer::Writer(std::vector<Field> fields, TableOptions options) : fields_(std::move(fields)), options_(std::move(options)) {
  for (std::size_t i = 0; i < fields_.size(); ++i) recordSize_ += FieldWidth(i);
  mb_.assign(4096, '\0');  // header block of the ".mb"
}

int Writer::FieldWidth(std::size_t i) const { return fields_[i].Type == 23 ? 17 : fields_[i].Size; }

int Writer::HeaderSize() const {
  const bool ext = options_.Version > 4;
  std::size_t size = 88 + (ext ? 32 : 0) + 2 * fields_.size() + 4 + 4 * fields_.size() +
                     (options_.Version >= 12 ? 261 : 79);
  for (const auto& f : fields_) size += f.Name.size() + 1;
  size += 2 * fields_.size() + options_.SortOrder.size() + 1;
  return static_cast<int>((size + 2047) / 2048 * 2048);
}

void Writer::AddRecord(const std::vector<std::string>& values) {
  if (values.size() != fields_.size()) throw std::invalid_argument("wrong number of values");
  std::string rec;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (static_cast<int>(values[i].size()) != FieldWidth(i)) throw std::invalid_argument("value width of " + fields_[i].Name);
    rec += values[i];
  }
  records_.push_back(std::move(rec));
}

std::string Writer::Blob(const std::string& value, int width) {
  if (width < 10) throw std::invalid_argument("BLOB field narrower than 10 bytes");
  const std::size_t leader = static_cast<std::size_t>(width - 10);
  std::string out(static_cast<std::size_t>(width), '\0');
  std::memcpy(out.data(), value.data(), std::min(leader, value.size()));
  std::uint32_t offset = 0;
  if (value.size() > leader) {
    // A block of its own: type 2, number of 4 KB chunks, length, modification number, then the bytes.
    const std::size_t start = mb_.size();
    const std::size_t chunks = (9 + value.size() + 4095) / 4096;
    std::string block(chunks * 4096, '\0');
    block[0] = 2;
    Put16(block, 1, static_cast<unsigned>(chunks));
    Put32(block, 3, static_cast<std::uint32_t>(value.size()));
    Put16(block, 7, 1);
    std::memcpy(block.data() + 9, value.data(), value.size());
    mb_ += block;
    offset = static_cast<std::uint32_t>(start) | 0xFF;
  }
  Put32(out, leader, offset);
  Put32(out, leader + 4, static_cast<std::uint32_t>(value.size()));
  Put16(out, leader + 8, 1);
  return out;
}

std::string Writer::DbBytes() const {
  const int blockSize = options_.BlockSizeKB * 1024;
  const int perBlock = recordSize_ > 0 ? (blockSize - 6) / recordSize_ : 0;
  const std::size_t blocks = perBlock > 0 ? (records_.size() + static_cast<std::size_t>(perBlock) - 1) / static_cast<std::size_t>(perBlock) : 0;
  const int headerSize = HeaderSize();
  std::string h(static_cast<std::size_t>(headerSize), '\0');
  Put16(h, 0x00, static_cast<unsigned>(recordSize_));
  Put16(h, 0x02, static_cast<unsigned>(headerSize));
  h[0x04] = static_cast<char>(options_.FileType);
  h[0x05] = static_cast<char>(options_.BlockSizeKB);
  Put32(h, 0x06, static_cast<std::uint32_t>(records_.size()));
  Put16(h, 0x0A, static_cast<unsigned>(blocks));
  Put16(h, 0x0C, static_cast<unsigned>(blocks));
  Put16(h, 0x0E, blocks ? 1 : 0);
  Put16(h, 0x10, static_cast<unsigned>(blocks));
  Put16(h, 0x21, static_cast<unsigned>(fields_.size()));
  h[0x39] = static_cast<char>(options_.Version);
  std::size_t pos = 88;
  if (options_.Version > 4) {
    Put16(h, 0x6A, options_.CodePage);
    pos += 32;
  }
  for (const auto& f : fields_) {
    h[pos++] = static_cast<char>(f.Type);
    h[pos++] = static_cast<char>(f.Size);
  }
  pos += 4 + 4 * fields_.size();
  pos += options_.Version >= 12 ? 261 : 79;
  for (const auto& f : fields_) {
    std::memcpy(h.data() + pos, f.Name.data(), f.Name.size());
    pos += f.Name.size() + 1;
  }
  for (std::size_t i = 0; i < fields_.size(); ++i, pos += 2) Put16(h, pos, static_cast<unsigned>(i + 1));
  std::memcpy(h.data() + pos, options_.SortOrder.data(), options_.SortOrder.size());

  std::string out = h;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::string block(static_cast<std::size_t>(blockSize), '\0');
    const std::size_t first = b * static_cast<std::size_t>(perBlock);
    const std::size_t count = std::min(records_.size() - first, static_cast<std::size_t>(perBlock));
    Put16(block, 0, b + 1 < blocks ? static_cast<unsigned>(b + 2) : 0);
    Put16(block, 2, static_cast<unsigned>(b));
    Put16(block, 4, static_cast<unsigned>((count - 1) * static_cast<std::size_t>(recordSize_)));
    for (std::size_t r = 0; r < count; ++r)
      std::memcpy(block.data() + 6 + r * static_cast<std::size_t>(recordSize_), records_[first + r].data(),
                  static_cast<std::size_t>(recordSize_));
    out += block;
  }
  return out;
}

std::string Writer::MbBytes() const { return mb_.size() > 4096 ? mb_ : std::string(); }

void Writer::Write(const std::string& path) const {
  auto save = [](const std::string& p, const std::string& bytes) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + p);
  };
  save(path, DbBytes());
  const std::string mb = MbBytes();
  if (!mb.empty()) {
    const std::size_t dot = path.find_last_of('.');
    save((dot == std::string::npos ? path : path.substr(0, dot)) + ".mb", mb);
  }
}

std::string Writer::Char(const std::string& text, int width) {
  std::string out(static_cast<std::size_t>(width), '\0');
  std::memcpy(out.data(), text.data(), std::min(text.size(), out.size()));
  return out;
}

std::string Writer::Short(std::int16_t v) { return BigEndian(static_cast<std::uint16_t>(v) ^ 0x8000u, 2); }
std::string Writer::Long(std::int32_t v) { return BigEndian(static_cast<std::uint32_t>(v) ^ 0x80000000u, 4); }

std::string Writer::Number(double v) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
  bits = (bits >> 63) ? ~bits : bits | (static_cast<std::uint64_t>(1) << 63);
  return BigEndian(bits, 8);
}

std::string Writer::Logical(bool v) { return std::string(1, static_cast<char>(v ? 0x81 : 0x80)); }

std::string Writer::Bcd(const std::string& decimal, int digitsAfterPoint) {
  bool negative = !decimal.empty() && decimal[0] == '-';
  std::string body = decimal.substr(negative || (!decimal.empty() && decimal[0] == '+') ? 1 : 0);
  const std::size_t point = body.find('.');
  std::string whole = body.substr(0, point);
  std::string frac = point == std::string::npos ? "" : body.substr(point + 1);
  frac.resize(static_cast<std::size_t>(digitsAfterPoint), '0');
  std::string digits = whole + frac;
  if (digits.size() > 32) throw std::invalid_argument("too many BCD digits");
  digits.insert(0, 32 - digits.size(), '0');
  std::string out(17, '\0');
  out[0] = static_cast<char>((negative ? 0x40 : 0x80) | (digitsAfterPoint & 0x3F));
  for (std::size_t k = 0; k < 16; ++k) {
    auto byte = static_cast<unsigned char>(((digits[2 * k] - '0') << 4) | (digits[2 * k + 1] - '0'));
    if (negative) byte = static_cast<unsigned char>(~byte);
    out[1 + k] = static_cast<char>(byte);
  }
  return out;
}

}  // namespace pxw
