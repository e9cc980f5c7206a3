// The library path of the benchmarks: one message with its attachments sent with SmtpClient,
// without Qt and without the settings store, as another program would embed the library.
//
// Usage: tovrel_lib_send [--starttls] PORT FROM TO SUBJECT BODY_FILE [ATTACHMENT...]
// BODY_FILE becomes the body, read in blocks while it is sent (as the command line's "-f" does);
// each ATTACHMENT is added as an Attachment part. With --starttls the session goes over TLS after the greeting and
// the server's certificate is checked against the CA store (SSL_CERT_FILE names a test CA).
// Exits with 0 once the server accepted the message.

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "message/message.h"
#include "message/message_part.h"
#include "net/smtp_client.h"

int main(int argc, char** argv) {
  bool starttls = argc > 1 && std::string_view(argv[1]) == "--starttls";
  if (starttls) {
    --argc;
    ++argv;
  }
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: tovrel_lib_send [--starttls] PORT FROM TO SUBJECT BODY_FILE "
                 "[ATTACHMENT...]\n");
    return 2;
  }
  try {
    tovrel::message::Message message;
    message.from().set_address(argv[2]);
    message.recipients().LoadFromText(argv[3]);
    message.set_subject(argv[4]);
    message.set_body_file(argv[5]);
    for (int i = 6; i < argc; ++i) message.parts().AddAttachment(argv[i]);

    tovrel::net::SmtpClient smtp;
    smtp.set_host("127.0.0.1");
    smtp.set_port(std::stoi(argv[1]));
    if (starttls) smtp.set_tls_mode(tovrel::net::TlsMode::tmStartTls);
    smtp.Connect();
    smtp.Send(message);
    smtp.Disconnect();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tovrel_lib_send: %s\n", e.what());
    return 1;
  }
}
