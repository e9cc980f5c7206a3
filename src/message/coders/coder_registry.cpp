#include "message/coders/coder_registry.h"

#include "message/coders/base64.h"
#include "message/coders/quoted_printable.h"
#include "message/coders/uu_xx.h"
#include "message/string_helpers.h"

namespace tovrel::message {
namespace {

template <typename T>
CoderItem::Factory FactoryOf() {
  return [] { return std::unique_ptr<Coder>(std::make_unique<T>()); };
}

CoderCollection BuildRegistry() {
  constexpr auto kEnc = CoderDirection::kEncoder;
  constexpr auto kDec = CoderDirection::kDecoder;
  CoderCollection r;
  r.AddCoderClass("Coder", FactoryOf<Coder>(), kEnc, "application/octet-stream", "");
  r.AddCoderClass("Coder", FactoryOf<Coder>(), kDec, "application/octet-stream", "");
  r.AddCoderClass("Base64Encoder", FactoryOf<Base64Encoder>(), kEnc, "", "base64");
  r.AddCoderClass("Base64Decoder", FactoryOf<Base64Decoder>(), kDec, "", "base64");
  r.AddCoderClass("UUEncoder", FactoryOf<UUEncoder>(), kEnc, "", "x-uu");
  r.AddCoderClass("UUDecoder", FactoryOf<UUDecoder>(), kDec, "", "x-uu");
  r.AddCoderClass("XXEncoder", FactoryOf<XXEncoder>(), kEnc, "", "x-xx");
  r.AddCoderClass("XXDecoder", FactoryOf<XXDecoder>(), kDec, "", "x-xx");
  r.AddCoderClass("QuotedPrintableEncoder", FactoryOf<QuotedPrintableEncoder>(), kEnc, "",
                  "quoted-printable");
  r.AddCoderClass("QuotedPrintableDecoder", FactoryOf<QuotedPrintableDecoder>(), kDec, "",
                  "quoted-printable");
  r.AddCoderClass("Coder", FactoryOf<Coder>(), kDec, "", "7bit");
  r.AddCoderClass("Coder", FactoryOf<Coder>(), kDec, "", "8bit");
  r.AddCoderClass("Coder", FactoryOf<Coder>(), kDec, "", "binary");
  // No row for "text/" with "8bit": the receive-side message decoder it would name is not built.
  return r;
}

}  // namespace

void CoderCollection::AddCoderClass(std::string class_name, CoderItem::Factory factory,
                                    CoderDirection direction, std::string content_type,
                                    std::string transfer_encoding) {
  items_.push_back(CoderItem{direction, std::move(content_type), std::move(transfer_encoding),
                             std::move(factory), std::move(class_name)});
}

const CoderItem* CoderCollection::FindExactCoder(std::string_view content_type,
                                                 std::string_view transfer_encoding,
                                                 CoderDirection direction) const {
  for (const CoderItem& item : items_) {
    if (item.direction == direction &&
        EqualsIgnoreCase(item.transfer_encoding, transfer_encoding) &&
        EqualsIgnoreCase(item.content_type, content_type)) {
      return &item;
    }
  }
  return nullptr;
}

const CoderItem* CoderCollection::FindCoder(std::string_view content_type,
                                            std::string_view transfer_encoding,
                                            CoderDirection direction) const {
  if (const CoderItem* exact = FindExactCoder(content_type, transfer_encoding, direction)) {
    return exact;
  }
  if (!transfer_encoding.empty()) {
    for (const CoderItem& item : items_) {
      if (item.direction == direction &&
          EqualsIgnoreCase(item.transfer_encoding, transfer_encoding)) {
        return &item;
      }
    }
  } else if (!content_type.empty()) {
    for (const CoderItem& item : items_) {
      if (item.direction == direction && EqualsIgnoreCase(item.content_type, content_type)) {
        return &item;
      }
    }
  }
  return FindExactCoder("application/octet-stream", "", direction);
}

const CoderCollection& CoderRegistry() {
  static const CoderCollection registry = BuildRegistry();
  return registry;
}

const CoderItem* FindCoder(std::string_view content_type, std::string_view transfer_encoding,
                           CoderDirection direction) {
  return CoderRegistry().FindCoder(content_type, transfer_encoding, direction);
}

}  // namespace tovrel::message
