#include "store/registry_store.h"

#include "store/reg_file_backend.h"
#include "store/store_error.h"
#include "store/stored_integer.h"
#include "store/texts.h"

namespace tovrel::store {

namespace {

// Key names of a backslash-separated path; empty names (a leading or trailing backslash) are
// left out.
KeyPath SplitPath(const std::string& path) {
  KeyPath names;
  std::size_t start = 0;
  while (start <= path.size()) {
    auto end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

RegistryStore::RegistryStore(std::unique_ptr<RegistryBackend> backend)
    : backend_(backend ? std::move(backend) : std::make_unique<RegFileBackend>()),
      base_key_(texts::kDefaultBaseKey) {}

RegistryStore::~RegistryStore() = default;

KeyPath RegistryStore::BasePath() const { return SplitPath(base_key_); }

KeyPath RegistryStore::SectionPath() const {
  KeyPath path = BasePath();
  for (auto& name : SplitPath(target_key_)) path.push_back(std::move(name));
  return path;
}

template <typename Result, typename Operation>
Result RegistryStore::Guarded(const ErrorEvent& event, Result on_failure, Operation&& operation) {
  try {
    return operation();
  } catch (const RegistryError&) {
    if (!event) throw;
  }
  event(*this);
  return on_failure;
}

std::unique_ptr<RegistrySession> RegistryStore::OpenBaseForRead() {
  auto session = backend_->Open(RegistryBackend::Access::kRead);
  if (!session || !session->KeyExists(BasePath())) {
    throw RegistryError(texts::kCannotOpenKeyToRead);
  }
  return session;
}

std::optional<std::string> RegistryStore::ReadText() {
  auto session = OpenBaseForRead();
  auto lookup = session->QueryValue(SectionPath(), target_value_);
  switch (lookup.status) {
    case ValueLookup::Status::kMissing:
      return std::nullopt;
    case ValueLookup::Status::kUnreadable:
      throw RegistryError(texts::FailedToGetData(target_value_));
    case ValueLookup::Status::kFound:
      break;
  }
  if (!lookup.value.IsText()) {
    throw RegistryError(texts::InvalidDataType(target_value_));
  }
  return std::move(lookup.value.data);
}

std::string RegistryStore::ReadString() {
  return Guarded(on_read_error_, std::string(),
                 [this] { return ReadText().value_or(texts::kMissingValue); });
}

int RegistryStore::ReadInteger() {
  return Guarded(on_read_error_, -1, [this] {
    const auto text = ReadText();
    return text ? StrToIntDef(*text, -1) : -1;
  });
}

bool RegistryStore::ReadBool() {
  return Guarded(on_read_error_, false, [this] {
    const auto text = ReadText();
    return text && StrToIntDef(*text, 0) != 0;
  });
}

void RegistryStore::ReadSection(std::vector<std::string>* list) {
  Guarded(on_read_error_, false, [&] {
    if (list == nullptr) throw RegistryError(texts::kReadSectionNoList);
    auto session = OpenBaseForRead();
    if (auto names = session->ValueNames(SectionPath())) *list = std::move(*names);
    return true;
  });
}

std::vector<std::pair<std::string, std::string>> RegistryStore::ReadSectionStrings() {
  using Texts = std::vector<std::pair<std::string, std::string>>;
  return Guarded(on_read_error_, Texts(), [this] {
    auto session = OpenBaseForRead();
    Texts result;
    auto values = session->Values(SectionPath());
    if (!values) return result;
    result.reserve(values->size());
    for (auto& [name, lookup] : *values) {
      switch (lookup.status) {
        case ValueLookup::Status::kMissing:
          continue;
        case ValueLookup::Status::kUnreadable:
          throw RegistryError(texts::FailedToGetData(name));
        case ValueLookup::Status::kFound:
          break;
      }
      if (!lookup.value.IsText()) throw RegistryError(texts::InvalidDataType(name));
      result.emplace_back(std::move(name), std::move(lookup.value.data));
    }
    return result;
  });
}

bool RegistryStore::Write(const std::string& text) {
  return Guarded(on_write_error_, false, [&] {
    auto session = backend_->Open(RegistryBackend::Access::kWrite);
    const KeyPath base = BasePath();
    const bool base_open =
        session && (dont_create_ ? session->KeyExists(base) : session->CreateKey(base));
    if (!base_open) throw RegistryError(texts::kCannotOpenKeyToWrite);
    const KeyPath section = SectionPath();
    if (!session->CreateKey(section) ||
        !session->SetValue(section, target_value_, RegValue::Text(text)) || !session->Commit()) {
      throw RegistryError(texts::FailedToSetData(target_value_));
    }
    return true;
  });
}

bool RegistryStore::WriteString(const std::string& value) { return Write(value); }

bool RegistryStore::WriteInteger(int value) { return Write(std::to_string(value)); }

bool RegistryStore::WriteBool(bool value) { return Write(value ? "1" : "0"); }

bool RegistryStore::DeleteValue() {
  return Guarded(on_write_error_, false, [&] {
    auto session = backend_->Open(RegistryBackend::Access::kWrite);
    if (!session) throw RegistryError(texts::kCannotOpenKeyToWrite);
    if (!session->DeleteValue(SectionPath(), target_value_) || !session->Commit()) {
      throw RegistryError(texts::FailedToSetData(target_value_));
    }
    return true;
  });
}

bool RegistryStore::BaseKeyExists() {
  auto session = backend_->Open(RegistryBackend::Access::kRead);
  return session && session->KeyExists(BasePath());
}

}  // namespace tovrel::store
