#pragma once

// Building a message's header block: the character set named in encoded words (from the user's
// locale), RFC 2047 encoded words for subjects, organizations and display names, the header text
// of addresses and address lists, and the generated header fields in their fixed order.
// The message writer (network layer) adds the multipart Content-Type and writes the block.

#include <string>
#include <string_view>

#include "message/email_address.h"
#include "message/header_list.h"
#include "message/locale_info.h"
#include "message/message.h"
#include "message/string_list.h"

namespace tovrel::message {

// How header bytes are treated before encoding.
enum HeaderTransfer {
  tx8Bit = 1,       // taken as they are
  txIso2022Jp = 2,  // Shift_JIS text converted to ISO-2022-JP first
};

struct HeaderCharset {
  std::string charset;  // used only inside encoded words, e.g. "UTF-8", "ISO-8859-1"
  char letter = 'Q';    // 'B' (base64) or 'Q' (quoted-printable-like)
  HeaderTransfer transfer = tx8Bit;
};

// The language picks the charset and letter (Chinese GB2312/Big5, Japanese ISO-2022-JP, Korean
// EUC-KR, B; others ISO-8859-1, Q). Under a UTF-8 code set the charset is "UTF-8" (the letter
// still follows the language); the Shift_JIS conversion is chosen only under a Shift_JIS code set.
HeaderCharset SelectHeaderCharset(const LocaleInfo& locale);

// The thirteen RFC 822 specials, encoded in display names.
inline constexpr std::string_view kAddressSpecials = "()<>@,;:\\\".[]";

// Words (separated by spaces or TABs) that hold a control byte (CR and LF included), an 8-bit
// byte, a character of `specials` or a "=?" become encoded words; neighbouring ones share one.
// Encoded words are at most 75 characters, never split a character of a multi-byte charset, and
// are separated by CR LF TAB when more than one is needed. `lead` is how many columns stand
// before the text on its line (the field's name and separator): the first encoded word is kept
// short enough to share that line, as a fold right after the name would add a blank in front.
std::string EncodeHeaderText(std::string_view text, std::string_view specials, char letter,
                             HeaderTransfer transfer, std::string_view charset,
                             std::size_t lead = 0);
std::string EncodeHeaderText(std::string_view text, std::string_view specials,
                             const HeaderCharset& charset, std::size_t lead = 0);

// The bare address without a name; otherwise a quoted (or, with non-printable bytes, encoded)
// name followed by " <address>".
// All of `text` as encoded words, blanks included, separated as above: for a place where a plain
// word among them would be read as part of an encoded one, such as a quoted parameter value.
std::string EncodeWholeText(std::string_view text, char letter, std::string_view charset);

// `lead` as for EncodeHeaderText.
std::string EncodeMailbox(const EmailAddress& item, char letter, HeaderTransfer transfer,
                          std::string_view charset, std::size_t lead = 0);
// The mailboxes joined by ", "; empty for an empty list.
std::string EncodeMailboxList(const EmailAddressList& list, char letter, HeaderTransfer transfer,
                              std::string_view charset, std::size_t lead = 0);

// Entries joined by ","; entries that are empty or hold a blank, control byte, quote or comma are
// quoted with inner quotes doubled.
std::string CommaText(const StringList& entries);

// The header fields of `message` in their fixed order (From, Subject, To, Cc, Newsgroups,
// Content-Type, MIME-Version, Content-Transfer-Encoding, Sender, Reply-To, Organization,
// Disposition-Notification-To, References, Date, X-Priority, X-Library), empty ones left out,
// followed by the message's extra headers unchanged. Bcc is never written. Throws
// FailedToRetrieveTimeZoneInfo when the date cannot be made.
HeaderList BuildHeaderList(const Message& message, const LocaleInfo& locale);

// Boundary tokens of the multipart bodies.
inline constexpr const char* kMixedBoundary = "=_NextPart_2jgjjvttfbfuj88oamz1inn";
inline constexpr const char* kRelatedBoundary = "=_NextPart_2relpy45qzirsqdggkgboxh6ay";
inline constexpr const char* kAlternativeBoundary = "=_NextPart_2altjgjjvttfbfuj88oamz1inn";
inline constexpr const char* kLibraryVersion = "TovrelNet 3.31";

}  // namespace tovrel::message
