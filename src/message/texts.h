#pragma once

// The user-visible texts of the message layer (exception messages). They are shown to the user
// as they stand, so they are kept together here and never rephrased at the raise site.

namespace tovrel::message::texts {

inline constexpr const char* kCanNotCreateMessagePart =
    "MessagePart can not be created.  Use descendant classes. ";
inline constexpr const char* kTextInvalidCount =
    "Invalid Text count. TextPart must be greater than 1";
inline constexpr const char* kFailedToRetrieveTimeZoneInfo =
    "Failed attempting to retrieve time zone information.";
inline constexpr const char* kCodingTableEntryNotFound = "Coding table entry not found.";
// printf-style: the source's and the target's class names.
inline constexpr const char* kCannotAssign = "Cannot assign a %s to a %s";
// printf-style: the address and the reason the library gives.
inline constexpr const char* kInvalidDomain =
    "The domain of %s is not a valid international domain name: %s";
// printf-style: the address and the system's reason the library could not be loaded.
inline constexpr const char* kDomainConverterMissing =
    "The domain of %s cannot be sent: the library for international domain names (libidn2) "
    "cannot be loaded: %s";
// printf-style: the path.
inline constexpr const char* kCannotCreateFile = "Cannot create file %s";
inline constexpr const char* kCannotOpenFile = "Cannot open file %s";
inline constexpr const char* kFileWriteError = "Write error on file %s";
// printf-style: the path. Files to be sent: what is neither a regular file nor a pipe, a read
// that fails, a pipe that stays silent past the time limit, and a file written to between two
// passes over it.
inline constexpr const char* kNotAnInputFile = "Cannot send %s: it is not a regular file or a pipe";
inline constexpr const char* kInputReadError = "Read error on file %s";
inline constexpr const char* kInputTimedOut = "Nothing more arrived from %s in time";
inline constexpr const char* kInputChanged = "The file %s changed while it was being sent";
// printf-style: the path and the most bytes a piped body may bring.
inline constexpr const char* kSpoolLimitReached =
    "The body from %s is longer than %s bytes, the most a piped body may be";

// Header problems the UU/XX decoders record in their error list.
inline constexpr const char* kNoBeginAfterTable = "No BEGIN statement followed a TABLE";
inline constexpr const char* kPrivilegeNotNumeric = "Privilege chars not numeric";
inline constexpr const char* kPrivilegeTooShort = "Not enough chars for three-digit Privilege";
inline constexpr const char* kPrivilegeTooLong = "Too many chars for three-digit Privilege";
inline constexpr const char* kDataEndedWithoutEnd = " Data ended without an END statment";

}  // namespace tovrel::message::texts
