#include "message/message.h"

namespace tovrel::message {

Message::Message(BaseComponent* owner) : BaseComponent(owner) { Clear(); }

void Message::Clear() {
  ClearHeaderFields();
  ClearContent();
}

void Message::ClearHeaderFields() {
  cc_list_.Clear();
  bcc_list_.Clear();
  date_ = 0.0;
  from_.set_text("");
  news_groups_.clear();
  organization_.clear();
  references_.clear();
  reply_to_.Clear();
  subject_.clear();
  recipients_.Clear();
  priority_ = mpNormal;
  receipt_recipient_.set_text("");
  content_type_.clear();
  char_set_.clear();
  content_transfer_encoding_.clear();
  sender_.set_text("");
  received_headers_.Clear();
  extra_headers_.Clear();
}

void Message::ClearContent() {
  parts_.Clear();
  body_.clear();
  body_file_.clear();
}

void Message::set_use_now_for_date(bool use_now) {
  if (use_now) {
    date_ = 0.0;
  } else if (date_ == 0.0) {
    date_ = Now();
  }
}

}  // namespace tovrel::message
