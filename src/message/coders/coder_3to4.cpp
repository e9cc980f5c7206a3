#include "message/coders/coder_3to4.h"

#include "message/coders/base64_kernels.h"

namespace tovrel::message {

void Coder3To4::AppendGroups(const char* table, std::string_view bytes, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + 4 * ((bytes.size() + 2) / 3));
  PackGroups(table, bytes, out.data() + start);
}

void Coder3To4::EncodeGroups(std::string_view bytes, std::string& out) const {
  const std::size_t start = out.size();
  out.resize(start + 4 * ((bytes.size() + 2) / 3));
  EncodeGroupsInto(bytes, bytes.size(), out.data() + start);
}

void Coder3To4::EncodeGroupsInto(std::string_view bytes, std::size_t readable, char* out) const {
  if (base64_alphabet_) {
    EncodeBase64Groups(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), readable,
                       out);
  } else {
    PackGroups(coding_table().data(), bytes, out);
  }
}

void Coder3To4::TableSet() { base64_alphabet_ = coding_table() == kBase64Alphabet; }

void Coder3To4::EncodeGroup(unsigned char b1, unsigned char b2, unsigned char b3,
                            std::string& out) const {
  char group[4];
  PackGroup(coding_table().data(), b1, b2, b3, group);
  out.append(group, 4);
}

void Coder3To4::DecodeGroup(char c1, char c2, char c3, char c4, std::string& out) const {
  const std::uint32_t v =
      IndexInTable(c1) << 18 | IndexInTable(c2) << 12 | IndexInTable(c3) << 6 | IndexInTable(c4);
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>((v >> 8) & 255));
  out.push_back(static_cast<char>(v & 255));
}

}  // namespace tovrel::message
