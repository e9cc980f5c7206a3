#pragma once

// Message: the in-memory form of one Internet mail message (addresses, header fields, plain body
// and MIME parts). The compose window fills it, the SMTP client takes the envelope from it, the
// message writer turns it into text, and Clear empties it for the next one. No I/O happens here.

#include <string>

#include "message/base_component.h"
#include "message/email_address.h"
#include "message/header_list.h"
#include "message/internet_date.h"
#include "message/message_part.h"
#include "message/string_list.h"

namespace tovrel::message {

// Written as "X-Priority": the value plus one, so mpNormal is "3".
enum MessagePriority { mpHighest = 0, mpHigh = 1, mpNormal = 2, mpLow = 3, mpLowest = 4 };

class Message : public BaseComponent {
 public:
  explicit Message(BaseComponent* owner = nullptr);

  // Empties every header field and then the content.
  void Clear();
  void ClearHeaderFields();
  // Destroys every part, then empties the body (the lines and the body file).
  void ClearContent();

  StringList& body() { return body_; }
  const StringList& body() const { return body_; }
  void set_body(const StringList& lines) { body_ = lines; }
  // The path of a text file whose lines are the body, read only as the message is written (see
  // BodyFile), so that a long body is never held in memory. When one is named it takes the place
  // of the body lines. Empty: none.
  const std::string& body_file() const { return body_file_; }
  void set_body_file(std::string path) { body_file_ = std::move(path); }

  // Blind-copy recipients: envelope only, never written into the text.
  EmailAddressList& bcc_list() { return bcc_list_; }
  const EmailAddressList& bcc_list() const { return bcc_list_; }
  EmailAddressList& cc_list() { return cc_list_; }
  const EmailAddressList& cc_list() const { return cc_list_; }
  EmailAddressList& recipients() { return recipients_; }
  const EmailAddressList& recipients() const { return recipients_; }
  EmailAddressList& reply_to() { return reply_to_; }
  const EmailAddressList& reply_to() const { return reply_to_; }

  // Appended to the top-level content type when the message is written.
  const std::string& char_set() const { return char_set_; }
  void set_char_set(std::string value) { char_set_ = std::move(value); }
  // Replaced by the writer for multipart messages.
  const std::string& content_type() const { return content_type_; }
  void set_content_type(std::string value) { content_type_ = std::move(value); }
  const std::string& content_transfer_encoding() const { return content_transfer_encoding_; }
  void set_content_transfer_encoding(std::string value) {
    content_transfer_encoding_ = std::move(value);
  }

  // 0 means "the current time when the header is built".
  DateTime date() const { return date_; }
  void set_date(DateTime value) { date_ = value; }
  bool use_now_for_date() const { return date_ == 0.0; }
  // true clears the date. false fixes the date at the present moment when none is set, so the
  // flag reads back as written.
  void set_use_now_for_date(bool use_now);

  HeaderList& extra_headers() { return extra_headers_; }
  const HeaderList& extra_headers() const { return extra_headers_; }
  void set_extra_headers(const HeaderList& headers) { extra_headers_.Assign(headers); }
  // Filled only when a message is read; the writer never touches it.
  HeaderList& received_headers() { return received_headers_; }
  const HeaderList& received_headers() const { return received_headers_; }

  // The author; its address is also the SMTP envelope sender.
  EmailAddress& from() { return from_; }
  const EmailAddress& from() const { return from_; }
  EmailAddress& sender() { return sender_; }
  const EmailAddress& sender() const { return sender_; }
  EmailAddress& receipt_recipient() { return receipt_recipient_; }
  const EmailAddress& receipt_recipient() const { return receipt_recipient_; }

  StringList& news_groups() { return news_groups_; }
  const StringList& news_groups() const { return news_groups_; }
  void set_news_groups(const StringList& groups) { news_groups_ = groups; }

  bool no_decode() const { return no_decode_; }
  void set_no_decode(bool on) { no_decode_ = on; }
  const std::string& organization() const { return organization_; }
  void set_organization(std::string value) { organization_ = std::move(value); }
  MessagePriority priority() const { return priority_; }
  void set_priority(MessagePriority value) { priority_ = value; }
  const std::string& references() const { return references_; }
  void set_references(std::string value) { references_ = std::move(value); }
  const std::string& subject() const { return subject_; }
  void set_subject(std::string value) { subject_ = std::move(value); }

  MessageParts& parts() { return parts_; }
  const MessageParts& parts() const { return parts_; }

 private:
  StringList body_;
  std::string body_file_;
  EmailAddressList recipients_{this};
  EmailAddressList bcc_list_{this};
  EmailAddressList cc_list_{this};
  MessageParts parts_;
  StringList news_groups_;
  HeaderList received_headers_;
  EmailAddress from_;
  EmailAddressList reply_to_{this};
  EmailAddress sender_;
  HeaderList extra_headers_;
  EmailAddress receipt_recipient_;
  std::string char_set_;
  std::string content_type_;
  std::string content_transfer_encoding_;
  DateTime date_ = 0.0;
  bool no_decode_ = false;
  std::string organization_;
  MessagePriority priority_ = mpNormal;
  std::string references_;
  std::string subject_;
};

}  // namespace tovrel::message
