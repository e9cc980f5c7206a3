#pragma once

// Every text the settings store raises, in one place. The store uses nothing of the other layers,
// so the texts that name a value are built here rather than filled by a placeholder helper.

#include <string>
#include <string_view>

namespace tovrel::store::texts {

inline constexpr const char* kDefaultBaseKey = "\\Software\\tovrel\\";
inline constexpr const char* kMissingValue = "None";
inline constexpr const char* kCannotOpenKeyToRead = "Cannot open key to read";
inline constexpr const char* kCannotOpenKeyToWrite = "Cannot open key to write";
inline constexpr const char* kReadSectionNoList = "RegistryStore - Read Section retvals is NULL";

inline std::string InvalidDataType(std::string_view name) {
  return "Invalid data type for '" + std::string(name) + "'";
}
inline std::string FailedToGetData(std::string_view name) {
  return "Failed to get data for '" + std::string(name) + "'";
}
inline std::string FailedToSetData(std::string_view name) {
  return "Failed to set data for '" + std::string(name) + "'";
}

}  // namespace tovrel::store::texts
