#pragma once

// The command line: positional arguments that pre-fill the compose window and may send at once.
//   1  mail link: "mailto:" (in any case) and the To addresses, or the To addresses alone; a
//      mailto: link with escapes or header fields ("?subject=...&cc=...&body=...") fills those
//   2  subject
//   3  body: "-f" and the path of a text file, or one line of text
//   4  "send" (exactly) to send without user interaction
//   5… files to attach

#include <string>
#include <vector>

#include "app/compose_fields.h"

namespace tovrel::app {

struct CommandLine {
  // Everything but the sender: an unattended send takes the main account.
  ComposeFields fields;
  // Send the fields without a person, then end the program.
  bool unattended_send = false;
};

// Whether the arguments ask for an unattended send. Start-up asks before anything else exists,
// so this reads no file.
bool AsksToSend(const std::vector<std::string>& args);

// How many arguments, from the first, are the toolkit's own options with their values
// ("-style fusion", "-reverse", "--stylesheet=x.qss"): those before the first positional
// argument. Everything from there on is positional, however it looks, so that a subject
// "-reverse" or a body "-qwindowtitle" stays what it is.
std::size_t LeadingToolkitOptions(const std::vector<std::string>& args);

// What becomes of a "-f" body file when the arguments ask for an unattended send. Without a send
// its lines are always read, for the window to show.
enum class BodyFileUse {
  bfStream,  // only checked here; the send reads it in blocks as it writes the message
  bfLoad,    // its lines are read into the fields, as for a window that may still show them
};

// Reads the arguments into `line`, position by position. An unreadable body file raises
// FileError (one that is streamed: one that cannot be found or is no file to send), a link that
// is not UTF-8 text once its escapes are undone, or that puts a control character into an
// address, raises LinkError; `line` then holds what the positions before it filled and asks for
// no send. Paths (the body file, the attachments) are kept as the bytes they came as.
void ReadCommandLine(const std::vector<std::string>& args, CommandLine& line,
                     BodyFileUse body_file_use = BodyFileUse::bfStream);

}  // namespace tovrel::app
