#include "app/unattended_send.h"

#include <exception>
#include <memory>
#include <ostream>

#include "app/command_line.h"
#include "app/outbox.h"
#include "app/password_keyring.h"
#include "app/qt_text.h"
#include "app/send_command.h"
#include "app/sent_copy.h"
#include "app/settings_layout.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "store/read_once_backend.h"
#include "store/reg_file_backend.h"
#include "store/registry_store.h"

namespace tovrel::app {

namespace {

// A box nobody can see, as a line on the stream: its text with line breaks as blanks and
// control characters made visible.
void WriteBox(std::ostream& boxes, const std::string& text) {
  boxes << VisibleText(OneLine(text)) << '\n' << std::flush;
}

// One step of the run; a failure leaving it is written as the error report words it.
template <typename Step>
bool Reported(std::ostream& boxes, Step&& step) {
  try {
    step();
    return true;
  } catch (const std::exception& error) {
    WriteBox(boxes, ErrorReportText(error.what()));
  } catch (...) {
    WriteBox(boxes, ErrorReportText(texts::kUnknownFailure));
  }
  return false;
}

// The From text the window would hold after loading the identities: the main account's entry,
// as its From box gives it back.
std::string MainAccountEntry(store::RegistryStore& registry) {
  return ToText(FromText(ReadIdentities(registry).front().from_entry()));
}

// What becomes of the message once the send is over: a copy in Sent when the account asks for
// one, a place in the outbox when it may go out later. Neither changes the send's outcome;
// `kept` tells whether the message is in the outbox.
SendOutcome KeepWhatWasWritten(const Account& account, const net::SmtpClient& smtp,
                               std::ostream& boxes, bool& kept) {
  return [&account, &smtp, &boxes, &kept](message::Message& mail, const std::exception* failure) {
    if (failure == nullptr && !account.keep_sent_copy) return;
    if (failure != nullptr && !IsTemporarySendFailure(*failure)) return;
    // A copy or a place in the outbox that cannot be had is a line of its own; the send's
    // status stays as it is.
    Reported(boxes, [&] {
      if (failure != nullptr) {
        KeepInOutbox(mail, smtp, failure->what());
        kept = true;
        return;
      }
      StoreSentCopyOf(mail, smtp);
    });
  };
}

}  // namespace

int RunUnattendedSend(const std::vector<std::string>& args, std::ostream& boxes) {
  net::SmtpClient smtp;
  return RunUnattendedSend(args, boxes, smtp);
}

int RunUnattendedSend(const std::vector<std::string>& args, std::ostream& boxes,
                      net::SmtpClient& smtp) {
  // Nothing changes the store during the run but the first start's preparation, after which the
  // next read takes the prepared state.
  store::RegistryStore registry(
      std::make_unique<store::ReadOnceBackend>(std::make_unique<store::RegFileBackend>()));
  if (!Reported(boxes, [&] { PrepareStoreOnFirstStart(registry); })) return 1;

  int status = kExitNotSent;
  bool kept = false;
  Reported(boxes, [&] {
    CommandLine line;
    // No window will show the body: a body file goes to the server as the message is written.
    ReadCommandLine(args, line, BodyFileUse::bfStream);
    if (!line.unattended_send) return;
    line.fields.from = MainAccountEntry(registry);
    if (line.fields.to.empty()) {
      WriteBox(boxes, texts::kNoRecipient);
      return;
    }
    // A piped body is read to its end before the server is dialled, not while it waits.
    if (!line.fields.body_file.empty()) {
      smtp.OpenBodyFile(line.fields.body_file, smtp.data_block_timeout());
    }
    const Account account = ReadAccount(registry, ProgramKeyring());
    try {
      DeliverMail(line.fields, account, smtp, KeepWhatWasWritten(account, smtp, boxes, kept),
                  [&](const std::string& token) {
                    RecordRefreshToken(registry, token,
                                       ChangeKeyringRefreshToken(ProgramKeyring(),
                                                                 RefreshTokenEntry(account), token),
                                       token.empty());
                  });
    } catch (const std::exception& error) {
      status = FailedSendStatus(error);
      throw;
    }
    status = kExitSent;
  });
  if (kept) WriteBox(boxes, texts::kKeptInOutbox);
  return status;
}

int RunSendOutbox(std::ostream& boxes) {
  store::RegistryStore registry(
      std::make_unique<store::ReadOnceBackend>(std::make_unique<store::RegFileBackend>()));
  int status = kExitTryLater;
  Reported(boxes, [&] {
    net::SmtpClient smtp;
    const Account account = ReadAccount(registry, ProgramKeyring());
    status = SendOutbox(account, smtp, boxes, [&](const std::string& token) {
      RecordRefreshToken(
          registry, token,
          ChangeKeyringRefreshToken(ProgramKeyring(), RefreshTokenEntry(account), token),
          token.empty());
    });
  });
  return status;
}

}  // namespace tovrel::app
